#pragma once
// "Start a task and let it run on its own." A QCoro task runs at once up to its first suspension;
// once its handle is dropped it finishes by itself, resumed on the main thread's event loop.
// Whatever the task needs must outlive it: in this application that is the delegate and the
// engine, which live until the process ends.

#include <QCoroTask>

#include <utility>

namespace spinforge {

inline void detach(QCoro::Task<>&& task) {
    [[maybe_unused]] QCoro::Task<> dropped = std::move(task);
}

}  // namespace spinforge
