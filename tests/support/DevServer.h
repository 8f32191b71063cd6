#pragma once
// Runs the real spinforge-devserver on loopback for a test, and drives its /_dev/ switches.
// Plain C++ (no Qt), so both GoogleTest and Qt tests can use it. Construct and destroy it on
// the same, long-lived thread: the server is told to stop when that thread ends, so that a
// crashed test leaves no server behind.
//
//   testing_support::TempDir library;
//   testing_support::DevServer::writeFile(library.path() + "/House/A - B.mp3", "bytes");
//   testing_support::DevServer server({.library = library.path()});
//   server.setFault(R"({"endpoint": "download", "drop_after": 100, "times": 1})");
//
// The server hashes its library when it starts, so fill the folder before constructing.

#include <nlohmann/json.hpp>

#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

// A fresh folder below the system temp folder, removed with everything in it on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "spinforge-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Every member has an initializer, so designated initializers may name any subset of them
// without -Wmissing-field-initializers complaining.
struct DevServerOptions {
    std::vector<std::string> accounts{"dj@example.com:secret:7:Demo Set:DJ Demo"};
    std::vector<std::string> tokens{};  // pre-issued tokens for the first account
    std::string library{};              // empty: a fresh empty temp folder (see --sample-library)
    std::string downloadBase{};
    std::string tlsCert{}, tlsKey{};    // both set: HTTPS
    std::vector<std::string> faults{};  // JSON texts, as for --fault
    std::vector<std::string> extraArgs{};
};

class DevServer {
public:
    // Starts the server with --port 0 and a temp --state folder and waits up to 10 s for it to
    // listen. Throws std::runtime_error carrying the server's stderr when it does not.
    explicit DevServer(DevServerOptions options = {});
    ~DevServer();  // stop(), then removes the temp folders it made
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    std::string baseUrl() const;  // "http://127.0.0.1:PORT" or "https://..."
    int port() const;
    std::string libraryPath() const;
    std::string statePath() const;

    void setFault(const std::string& json);  // throws std::runtime_error unless the server accepts it
    void reset();
    nlohmann::json counters();
    nlohmann::json reports();

    std::string stderrText() const;

    // SIGTERM, and SIGKILL if it has not exited within 5 s. Returns the exit status, or
    // 128 + signal number when killed. Later calls return the same status. A sanitizer's report
    // from the server (see sanitizers/Findings.h) fails the running test.
    int stop();

    // Writes `bytes` to `path`, creating parent folders. Throws std::runtime_error.
    static void writeFile(const std::string& path, const std::string& bytes);

    // Where the spinforge-devserver executable is, for tests that run it by hand.
    static std::string executablePath();

private:
    void waitUntilListening();
    [[noreturn]] void failStart(const std::string& why);
    std::string control(const std::string& method, const std::string& path, const std::string& body = {});

    TempDir work_;
    std::string library_;
    bool ownsLibrary_ = false;
    std::string scheme_;
    int port_ = 0;
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int exitStatus_ = -1;
};

}  // namespace testing_support
