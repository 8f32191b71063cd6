#pragma once
// SIGINT and SIGTERM handled on one thread of our own, where stopping the server is safe
// (nothing of httplib may be called from a signal handler).

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace spinforge::devserver {

class TerminationSignals {
public:
    // Blocks both signals for this thread and every thread it starts later, so only the
    // watcher receives them. Construct before the server starts its worker threads.
    TerminationSignals();
    ~TerminationSignals();  // releases a watcher that is still waiting

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Runs `onSignal` on the watcher thread when the first signal arrives.
    void watch(std::function<void()> onSignal);

private:
    sigset_t signals_{};
    std::thread watcher_;
    std::atomic<bool> released_{false};
};

}  // namespace spinforge::devserver
