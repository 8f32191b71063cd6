#include "devserver/SampleLibrary.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace spinforge::devserver {
namespace fs = std::filesystem;
namespace {

// The accented folder comes first so that even a two-track library has a non-ASCII path.
constexpr std::array<const char*, 3> kFolders{"Café Sessions", "House", "Techno"};

constexpr std::size_t kWriteBlockBytes = 1024 * 1024;

std::uint64_t splitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t seedFor(int index) { return 0x5350494e464f5247ULL ^ (std::uint64_t(index) * 0x100000001b3ULL); }

std::string numbered(int number, int width) {
    std::string digits = std::to_string(number);
    return std::string(std::size_t(std::max(0, width - int(digits.size()))), '0') + digits;
}

void fillBlock(std::vector<char>& block, std::size_t count, std::uint64_t& state) {
    for (std::size_t i = 0; i < count; i += 8) {
        const std::uint64_t word = splitMix64(state);
        std::memcpy(block.data() + i, &word, std::min<std::size_t>(8, count - i));
    }
}

void writeSampleTrack(const fs::path& root, const SampleTrack& track) {
    const fs::path file = root / fs::path(track.relativePath);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::uint64_t state = seedFor(track.index) + 1;
    std::vector<char> block(kWriteBlockBytes);
    for (std::uint64_t left = track.byteSize; left > 0 && out;) {
        const std::size_t count = std::size_t(std::min<std::uint64_t>(left, block.size()));
        fillBlock(block, count, state);
        out.write(block.data(), std::streamsize(count));
        left -= count;
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

std::vector<SampleTrack> planSampleLibrary(int count) {
    const int width = std::max(2, int(std::to_string(count).size()));
    std::vector<SampleTrack> plan;
    for (int index = 0; index < count; ++index) {
        std::uint64_t state = seedFor(index);
        const std::string number = numbered(index + 1, width);
        SampleTrack track;
        track.index = index;
        track.relativePath = std::string(kFolders[std::size_t(index) % kFolders.size()]) + "/Artist " + number +
                             " - Track " + number + ".mp3";
        track.byteSize = kSampleMinBytes + splitMix64(state) % (kSampleMaxBytes - kSampleMinBytes + 1);
        plan.push_back(std::move(track));
    }
    return plan;
}

bool isEmptyOrMissing(const fs::path& folder) {
    std::error_code error;
    if (!fs::exists(folder, error)) return true;
    return fs::is_directory(folder, error) && fs::is_empty(folder, error);
}

void writeSampleLibrary(const fs::path& root, const std::vector<SampleTrack>& plan) {
    for (const SampleTrack& track : plan) writeSampleTrack(root, track);
}

}  // namespace spinforge::devserver
