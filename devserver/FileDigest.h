#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace spinforge::devserver {

struct FileDigest {
    std::string sha256;  // lower-case hex
    std::uint64_t byteSize = 0;
};

// Lower-case hex of `count` bytes.
std::string toHex(const unsigned char* bytes, std::size_t count);

// Reads the file in 1 MiB blocks, so library files of any size hash in constant memory.
// Throws std::runtime_error when the file cannot be read.
FileDigest digestFile(const std::filesystem::path& file);

}  // namespace spinforge::devserver
