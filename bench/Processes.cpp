#include "Processes.h"

#include "Measure.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {
namespace {

// Resolved before fork: between fork and exec only async-signal-safe calls are allowed, and the
// benchmark has threads (Qt's, the service runner's).
std::string onPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + '/' + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    throw std::runtime_error(program + " is not on PATH");
}

std::string selfPath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) throw std::runtime_error("cannot find this executable");
    return std::string(buffer, std::size_t(length));
}

std::vector<char*> pointersTo(std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void execWithStdout(const std::vector<char*>& argv, int stdoutFd) {
    ::dup2(stdoutFd, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Reaps `pid`, throwing unless it exited with status 0.
rusage reap(pid_t pid, const std::string& what) {
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) throw std::runtime_error("cannot wait for " + what);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(what + " failed (wait status " + std::to_string(status) + ")");
    return usage;
}

pid_t spawn(std::vector<std::string> argv, int stdoutFd) {
    std::vector<char*> pointers = pointersTo(argv);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) execWithStdout(pointers, stdoutFd);
    return pid;
}

}  // namespace

double runProgram(const std::vector<std::string>& argv, const std::string& stdoutPath) {
    std::vector<std::string> resolved = argv;
    resolved[0] = onPath(argv[0]);
    const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) throw std::runtime_error("cannot write " + stdoutPath);
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(resolved, out);
    ::close(out);
    reap(pid, argv[0]);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

ChildResult runSelf(const std::vector<std::string>& args) {
    std::vector<std::string> argv{selfPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
    const pid_t pid = spawn(argv, fds[1]);
    ::close(fds[1]);
    ChildResult result;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) result.output.append(buffer, std::size_t(n));
        else if (errno != EINTR) break;
    }
    ::close(fds[0]);
    const rusage usage = reap(pid, args.empty() ? "child" : args[0]);
    result.peakMiB = double(usage.ru_maxrss) / 1024.0;  // Linux gives kibibytes
    return result;
}

}  // namespace bench
