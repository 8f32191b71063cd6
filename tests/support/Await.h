#pragma once
// Runs a coroutine to its end on a nested event loop and hands back its result, or rethrows
// what it threw (QCoro::waitFor alone would wait forever on a task that throws).

#include <QCoroTask>

#include <exception>
#include <optional>

namespace testing_support {

template <typename T>
T await(QCoro::Task<T> task) {
    std::exception_ptr failure;
    auto run = [&]() -> QCoro::Task<std::optional<T>> {
        try {
            co_return co_await std::move(task);
        } catch (...) {
            failure = std::current_exception();
            co_return std::nullopt;
        }
    };
    std::optional<T> result = QCoro::waitFor(run());
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

inline void await(QCoro::Task<> task) {
    std::exception_ptr failure;
    auto run = [&]() -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    QCoro::waitFor(run());
    if (failure) std::rethrow_exception(failure);
}

}  // namespace testing_support
