#pragma once
// Runs a coroutine to its end on a nested event loop and hands back its result, or rethrows
// what it threw (QCoro::waitFor alone would wait forever on a task that throws).

#include <QCoroTask>

#include <exception>
#include <optional>
#include <type_traits>

namespace testing_support {

template <typename T>
T await(QCoro::Task<T> task) {
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    auto run = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) co_await std::move(task);
            else result = co_await std::move(task);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    QCoro::waitFor(run());
    if (failure) std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>) return std::move(*result);
}

}  // namespace testing_support
