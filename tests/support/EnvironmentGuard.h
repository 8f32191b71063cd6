#pragma once
// Lets a test change environment variables and puts the old values back when it ends.

#include <QByteArray>
#include <QtGlobal>

#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace testing_support {

class EnvironmentGuard {
public:
    explicit EnvironmentGuard(std::initializer_list<const char*> names) {
        for (const char* name : names)
            saved_.push_back({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
    }
    ~EnvironmentGuard() {
        for (const auto& [name, value] : saved_) value ? qputenv(name, *value) : qunsetenv(name);
    }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

}  // namespace testing_support
