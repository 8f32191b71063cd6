#pragma once
// A private X server for widget tests: Xvfb on the first free display, started before the
// application connects and stopped with this object. It also ends if the test process dies.

#include <QString>

#include <sys/types.h>

namespace testing_support {

class XvfbServer {
public:
    // Starts Xvfb and waits until it accepts clients. Any failure (no Xvfb installed, no free
    // display, no answer) is kept as the reason, for tests to skip with.
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return pid_ > 0; }
    // ":N" while running.
    QString display() const { return display_; }
    // Why the server is not running; empty while it is.
    QString failure() const { return failure_; }

private:
    void start(const QString& program);

    pid_t pid_ = -1;
    QString display_;
    QString failure_;
};

// Why tests that need the X server can't run here, or empty when they can. Set by the test main.
QString xServerUnavailable();
void setXServerUnavailable(const QString& reason);

}  // namespace testing_support
