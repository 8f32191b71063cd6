#pragma once
// Generated stand-in tracks, so the server can be tried without a music collection. The bytes
// are pseudo-random but fixed by the track's index: runs, hosts and tests see the same digests.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace spinforge::devserver {

struct SampleTrack {
    int index = 0;             // seeds the size and the bytes
    std::string relativePath;  // e.g. "House/Artist 02 - Track 02.mp3"
    std::uint64_t byteSize = 0;
};

constexpr std::uint64_t kSampleMinBytes = 256 * 1024;
constexpr std::uint64_t kSampleMaxBytes = 3 * 1024 * 1024;

std::vector<SampleTrack> planSampleLibrary(int count);

// True when the folder is missing or has no entries at all.
bool isEmptyOrMissing(const std::filesystem::path& folder);

// Writes the planned tracks below `root`, creating folders as needed. Throws std::runtime_error.
void writeSampleLibrary(const std::filesystem::path& root, const std::vector<SampleTrack>& plan);

}  // namespace spinforge::devserver
