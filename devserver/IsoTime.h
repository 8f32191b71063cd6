#pragma once

#include <chrono>
#include <string>

namespace spinforge::devserver {

// "2024-05-01T09:30:00Z": ISO 8601 in UTC, to the second.
std::string isoUtc(std::chrono::system_clock::time_point when);

}  // namespace spinforge::devserver
