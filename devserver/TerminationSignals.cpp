#include "devserver/TerminationSignals.h"

#include <pthread.h>
#include <unistd.h>

namespace spinforge::devserver {

TerminationSignals::TerminationSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (!watcher_.joinable()) return;
    // A signal to ourselves is the only way to end a sigwait(); the flag tells the watcher it
    // is not a real request.
    released_ = true;
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
}

void TerminationSignals::watch(std::function<void()> onSignal) {
    watcher_ = std::thread([this, onSignal = std::move(onSignal)] {
        int received = 0;
        sigwait(&signals_, &received);
        if (!released_) onSignal();
    });
}

}  // namespace spinforge::devserver
