#pragma once
// Plain httplib calls for the devserver tests: they look at the raw answer (status, headers,
// every byte that arrived) rather than going through the agent's client.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

namespace devserver_tests {

struct Answer {
    httplib::Error error = httplib::Error::Success;  // Success when the whole answer arrived
    int status = 0;
    std::string contentLength;
    std::string contentType;
    std::string body;  // whatever arrived, also when the transfer broke off

    nlohmann::json json() const { return nlohmann::json::parse(body); }
};

Answer get(const std::string& baseUrl, const std::string& path, const std::string& token = {},
           std::chrono::milliseconds readTimeout = std::chrono::seconds(5));
Answer post(const std::string& baseUrl, const std::string& path, const std::string& body,
            const std::string& token = {});

// SHA-256 in one call over bytes held in memory: an independent check of the server's
// streamed digests.
std::string sha256Hex(const std::string& bytes);

// `size` bytes that differ with `seed`, so each test file has its own digest.
std::string patternBytes(std::size_t size, unsigned seed);

std::string readFile(const std::string& path);

}  // namespace devserver_tests
