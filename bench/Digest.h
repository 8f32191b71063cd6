#pragma once
// SHA-256 for the benchmarks' and the soak run's own checks, straight from OpenSSL rather than
// through the engine's integrity code, so that a fault there cannot hide itself.

#include <cstddef>
#include <optional>
#include <string>

namespace bench {

// Lower-case hexadecimal SHA-256 of `size` bytes at `data`.
std::string sha256Hex(const char* data, std::size_t size);
// The same of the file at `path`, or nullopt when it can't be read to its end.
std::optional<std::string> fileSha256Hex(const std::string& path);

}  // namespace bench
