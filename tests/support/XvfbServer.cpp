#include "support/XvfbServer.h"

#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

// Xvfb takes well under a second here; a loaded machine gets some slack.
constexpr int readyTimeoutMs = 15000;

QString reasonFromErrno(const char* what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(strerror(errno)));
}

// Xvfb writes the display number it took, and a line break, once it accepts clients.
QString readDisplayNumber(int fd) {
    QByteArray text;
    pollfd readable{fd, POLLIN, 0};
    while (!text.endsWith('\n') && poll(&readable, 1, readyTimeoutMs) > 0) {
        char chunk[16];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, got);
    }
    return text.endsWith('\n') ? QString::fromLatin1(text.trimmed()) : QString();
}

QString& unavailableReason() {
    static QString reason;
    return reason;
}

}  // namespace

XvfbServer::XvfbServer() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (program.isEmpty())
        failure_ = QStringLiteral("Xvfb is not installed (Debian package xvfb)");
    else
        start(program);
}

XvfbServer::~XvfbServer() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

void XvfbServer::start(const QString& program) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        failure_ = reasonFromErrno("pipe");
        return;
    }
    const QByteArray path = program.toLocal8Bit();
    const QByteArray readyFd = QByteArray::number(ready[1]);
    const pid_t parent = getpid();
    // Forked before the application starts any thread, so the child may do more than exec.
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        fcntl(ready[1], F_SETFD, 0);
        const int null = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2}) dup2(null, fd);
        execl(path.constData(), "Xvfb", "-displayfd", readyFd.constData(), "-nolisten", "tcp", "-screen", "0",
              "1280x1024x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (child < 0) {
        failure_ = reasonFromErrno("fork");
        close(ready[0]);
        return;
    }
    const QString number = readDisplayNumber(ready[0]);
    close(ready[0]);
    if (number.isEmpty()) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        failure_ = QStringLiteral("Xvfb did not start (%1)").arg(program);
        return;
    }
    pid_ = child;
    display_ = QLatin1Char(':') + number;
}

QString xServerUnavailable() {
    return unavailableReason();
}

void setXServerUnavailable(const QString& reason) {
    unavailableReason() = reason;
}

}  // namespace testing_support
