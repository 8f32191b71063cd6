#include "support/DevServer.h"

#include "sanitizers/Findings.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef SPINFORGE_DEVSERVER_PATH
#error "Define SPINFORGE_DEVSERVER_PATH as the path of the spinforge-devserver executable"
#endif

namespace testing_support {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(5);
constexpr const char* kListeningPrefix = "listening on ";

std::vector<std::string> commandLine(const DevServerOptions& options, const std::string& library,
                                     const std::string& state) {
    std::vector<std::string> args{SPINFORGE_DEVSERVER_PATH, "--port", "0", "--library", library, "--state", state};
    const auto add = [&args](const char* flag, const std::string& value) {
        args.push_back(flag);
        args.push_back(value);
    };
    for (const auto& account : options.accounts) add("--account", account);
    for (const auto& token : options.tokens) add("--token", token);
    for (const auto& fault : options.faults) add("--fault", fault);
    if (!options.downloadBase.empty()) add("--download-base", options.downloadBase);
    if (!options.tlsCert.empty()) add("--tls-cert", options.tlsCert);
    if (!options.tlsKey.empty()) add("--tls-key", options.tlsKey);
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    return args;
}

// Only async-signal-safe calls between fork() and exec(): the test process may have threads.
[[noreturn]] void execServer(const std::vector<char*>& argv, int stdoutFd, int stderrFd, pid_t parent) {
    dup2(stdoutFd, STDOUT_FILENO);
    dup2(stderrFd, STDERR_FILENO);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    // A test that crashes must not leave servers behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    execv(argv[0], argv.data());
    static constexpr char kMessage[] = "cannot execute spinforge-devserver\n";
    (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(127);
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Polls rather than blocks, so a server that ignores SIGTERM cannot hang the test.
std::optional<int> waitForExit(pid_t pid, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    do {
        int waitStatus = 0;
        if (waitpid(pid, &waitStatus, WNOHANG) == pid) return statusOf(waitStatus);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return std::nullopt;
}

// Under scripts/test-sanitized a memory error, a leak or undefined behaviour in the server ends
// it with a report on its stderr; the test that ran it fails with that report.
void failOnSanitizerReport(int exitStatus, const std::string& errors) {
    if (exitStatus == sanitizerExitStatus || holdsSanitizerReport(errors))
        ADD_FAILURE() << "spinforge-devserver ended with status " << exitStatus << " and a sanitizer's report:\n"
                      << errors;
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temp folder from " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

DevServer::DevServer(DevServerOptions options) : work_("spinforge-devserver") {
    // The server may close a connection while a control call still writes; that must not
    // end the test process.
    signal(SIGPIPE, SIG_IGN);
    ownsLibrary_ = options.library.empty();
    library_ = ownsLibrary_ ? work_.path() + "/library" : options.library;
    if (ownsLibrary_) fs::create_directories(library_);
    scheme_ = options.tlsCert.empty() ? "http" : "https";

    const std::vector<std::string> args = commandLine(options, library_, work_.path() + "/state");
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe for the devserver");
    const int stderrFd = open((work_.path() + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) execServer(argv, pipeFds[1], stderrFd, parent);
    close(pipeFds[1]);
    if (stderrFd >= 0) close(stderrFd);
    stdoutFd_ = pipeFds[0];
    if (pid_ < 0) failStart("fork failed");
    waitUntilListening();
}

DevServer::~DevServer() {
    stop();
    if (stdoutFd_ >= 0) close(stdoutFd_);
}

void DevServer::waitUntilListening() {
    const auto deadline = Clock::now() + kStartTimeout;
    std::string output;
    while (output.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{stdoutFd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, int(left.count())) <= 0) failStart("it did not listen within 10 s");
        char buffer[256];
        const ssize_t count = read(stdoutFd_, buffer, sizeof buffer);
        if (count <= 0) failStart("it exited");
        output.append(buffer, std::size_t(count));
    }
    const std::string line = output.substr(0, output.find('\n'));
    const std::size_t colon = line.rfind(':');
    if (!line.starts_with(kListeningPrefix) || colon == std::string::npos) failStart("unexpected output: " + line);
    port_ = std::atoi(line.c_str() + colon + 1);
}

void DevServer::failStart(const std::string& why) {
    stop();
    close(stdoutFd_);  // the destructor does not run for a failed constructor
    stdoutFd_ = -1;
    throw std::runtime_error("spinforge-devserver did not start (" + why + "):\n" + stderrText());
}

int DevServer::stop() {
    if (pid_ <= 0 || exitStatus_ != -1) return exitStatus_;
    kill(pid_, SIGTERM);
    std::optional<int> status = waitForExit(pid_, kStopTimeout);
    if (!status) {
        kill(pid_, SIGKILL);
        status = waitForExit(pid_, kStopTimeout);
    }
    exitStatus_ = status.value_or(-1);
    failOnSanitizerReport(exitStatus_, stderrText());
    return exitStatus_;
}

std::string DevServer::baseUrl() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }
int DevServer::port() const { return port_; }
std::string DevServer::libraryPath() const { return library_; }
std::string DevServer::statePath() const { return work_.path() + "/state"; }

std::string DevServer::stderrText() const {
    std::ifstream in(work_.path() + "/stderr.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DevServer::control(const std::string& method, const std::string& path, const std::string& body) {
    httplib::Client client(baseUrl());
    client.enable_server_certificate_verification(false);  // test certificates are self-signed
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(5));
    const httplib::Result result =
        method == "GET" ? client.Get(path.c_str()) : client.Post(path.c_str(), body, "application/json");
    if (!result) throw std::runtime_error(method + " " + path + " failed: " + httplib::to_string(result.error()));
    if (result->status != 200)
        throw std::runtime_error(method + " " + path + " answered " + std::to_string(result->status) + ": " +
                                 result->body);
    return result->body;
}

void DevServer::setFault(const std::string& json) { control("POST", "/_dev/fault", json); }
void DevServer::reset() { control("POST", "/_dev/reset"); }
nlohmann::json DevServer::counters() { return nlohmann::json::parse(control("GET", "/_dev/counters")); }
nlohmann::json DevServer::reports() { return nlohmann::json::parse(control("GET", "/_dev/reports")); }

std::string DevServer::executablePath() { return SPINFORGE_DEVSERVER_PATH; }

void DevServer::writeFile(const std::string& path, const std::string& bytes) {
    const fs::path file(path);
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace testing_support
