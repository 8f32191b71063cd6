#pragma once
// What the sanitizers leave behind in a program a test starts (the development service, the
// agent, helpers), so that a memory error, a leak or undefined behaviour there fails the test
// rather than going by in a child's output. scripts/test-sanitized makes each sanitizer end the
// program it finds at fault with sanitizerExitStatus, a status none of our programs uses.

#include <array>
#include <string_view>

namespace testing_support {

inline constexpr int sanitizerExitStatus = 86;

// True when `output` (a program's stderr) holds a sanitizer's report.
inline bool holdsSanitizerReport(std::string_view output) {
    constexpr std::array<std::string_view, 3> markers{
        "ERROR: AddressSanitizer",
        "ERROR: LeakSanitizer",
        ": runtime error: ",  // UndefinedBehaviorSanitizer
    };
    for (const std::string_view marker : markers)
        if (output.find(marker) != std::string_view::npos) return true;
    return false;
}

}  // namespace testing_support
