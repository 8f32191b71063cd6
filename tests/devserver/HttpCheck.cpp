#include "HttpCheck.h"

#include <openssl/evp.h>

#include <fstream>
#include <random>
#include <sstream>

namespace devserver_tests {
namespace {

httplib::Headers authorization(const std::string& token) {
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
    return headers;
}

void takeHeaders(Answer& answer, const httplib::Response& response) {
    answer.status = response.status;
    answer.contentLength = response.get_header_value("Content-Length");
    answer.contentType = response.get_header_value("Content-Type");
}

httplib::Client clientFor(const std::string& baseUrl, std::chrono::milliseconds readTimeout) {
    httplib::Client client(baseUrl);
    client.enable_server_certificate_verification(false);
    client.set_read_timeout(readTimeout);
    return client;
}

}  // namespace

Answer get(const std::string& baseUrl, const std::string& path, const std::string& token,
           std::chrono::milliseconds readTimeout) {
    httplib::Client client = clientFor(baseUrl, readTimeout);
    Answer answer;
    const httplib::Result result = client.Get(
        path.c_str(), authorization(token),
        [&](const httplib::Response& response) {
            takeHeaders(answer, response);
            return true;
        },
        [&](const char* data, std::size_t length) {
            answer.body.append(data, length);
            return true;
        });
    answer.error = result.error();
    return answer;
}

Answer post(const std::string& baseUrl, const std::string& path, const std::string& body, const std::string& token) {
    httplib::Client client = clientFor(baseUrl, std::chrono::seconds(5));
    Answer answer;
    const httplib::Result result = client.Post(path.c_str(), authorization(token), body, "application/json");
    answer.error = result.error();
    if (result) {
        takeHeaders(answer, *result);
        answer.body = result->body;
    }
    return answer;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::ostringstream hex;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex << kDigits[digest[i] >> 4] << kDigits[digest[i] & 0x0f];
    }
    return hex.str();
}

std::string patternBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = char(generator() & 0xff);
    return bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace devserver_tests
