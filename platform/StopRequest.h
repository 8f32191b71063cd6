#pragma once
// A request that the agent stop, which a signal handler may make: setting a flag is all that is
// safe there. The file system's long loops (hashing, copying) look at it between blocks and fail
// with ECANCELED once it is made, and the engine publishes and reports nothing more, so a cycle in
// the middle of a large file unwinds at once. One per process; made once, never taken back.

#include <csignal>

namespace spinforge {

class StopRequest {
public:
    bool isRequested() const noexcept { return requested_ != 0; }
    // Async-signal-safe.
    void request() noexcept { requested_ = 1; }

private:
    volatile std::sig_atomic_t requested_ = 0;
};

}  // namespace spinforge
