#pragma once
// Raised once on shutdown. Downloads that stall or throttle wait on it instead of sleeping
// blindly, so SIGTERM ends them at once rather than after their full delay.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace spinforge::devserver {

class StopSignal {
public:
    void request();
    bool requested() const;

    // Waits until `deadline`; false when a stop came first (or had already come).
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    bool sleepFor(std::chrono::steady_clock::duration duration);

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;
};

}  // namespace spinforge::devserver
