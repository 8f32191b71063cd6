#pragma once
// The real spinforge-devserver on loopback for a test or a benchmark, and its /_dev/ switches. It
// hashes its library as it starts (fill the folder first); made and destroyed on one thread.

#include <QProcess>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace testing_support {

struct DevServerOptions {
    std::vector<std::string> accounts{"dj@example.com:secret:7:Demo Set:DJ Demo"};
    std::vector<std::string> tokens{};  // pre-issued tokens for the first account
    std::string library{};              // empty: an empty folder of its own
    std::string tlsCert{}, tlsKey{};    // both set: HTTPS
    std::vector<std::string> faults{};  // JSON texts, as for --fault
    bool preferHttp2 = false;           // with TLS: choose HTTP/2 whenever a client offers it
    int startSeconds = 10;              // how long it may take to hash its library and listen
};

class DevServer {
public:
    // On a free port, once it listens; std::runtime_error with what it said when not within
    // options.startSeconds.
    explicit DevServer(DevServerOptions options = {});
    // SIGTERM, and SIGKILL after 5 s.
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    std::string baseUrl() const;  // "http://127.0.0.1:PORT" or "https://..."
    int port() const { return port_; }

    void setFault(const std::string& json);  // throws std::runtime_error unless the server takes it
    void reset();                            // no faults, counters at zero
    nlohmann::json counters();               // requests per endpoint, "faults_used", ...
    nlohmann::json reports();                // the status reports received
    std::string manifest(const std::string& token);  // what the manifest request answers

private:
    std::string control(const std::string& method, const std::string& path, const std::string& body = {},
                        const std::string& token = {});

    std::string standardError() const;  // what the server wrote to stderr so far

    QTemporaryDir work_;
    QProcess process_;
    std::string scheme_;
    int port_ = 0;
};

}  // namespace testing_support
