#include "devserver/StopSignal.h"

namespace spinforge::devserver {

void StopSignal::request() {
    {
        std::lock_guard lock(mutex_);
        requested_ = true;
    }
    wake_.notify_all();
}

bool StopSignal::requested() const {
    std::lock_guard lock(mutex_);
    return requested_;
}

bool StopSignal::sleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, deadline, [this] { return requested_; });
}

bool StopSignal::sleepFor(std::chrono::steady_clock::duration duration) {
    return sleepUntil(std::chrono::steady_clock::now() + duration);
}

}  // namespace spinforge::devserver
