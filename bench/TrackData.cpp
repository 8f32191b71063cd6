#include "TrackData.h"

#include "Digest.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

namespace bench {
namespace fs = std::filesystem;
namespace {

constexpr int kTracksPerCrate = 50;

// splitmix64: fast enough that writing the data, not making it, sets the pace.
void fillRandom(std::vector<char>& buffer, std::uint64_t& state) {
    for (std::size_t i = 0; i + 8 <= buffer.size(); i += 8) {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        std::memcpy(&buffer[i], &z, 8);
    }
}

std::string trackName(int index) {
    char name[64];
    std::snprintf(name, sizeof name, "Crate %02d/Track %04d.mp3", index / kTracksPerCrate + 1, index + 1);
    return name;
}

void writeFile(const std::string& path, const std::vector<char>& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// "SHA2-256(PATH)= HEX" (OpenSSL 3) or "SHA256(PATH)= HEX", by path.
std::map<std::string, std::string> parseDigests(const std::string& dgstOutput) {
    std::ifstream in(dgstOutput);
    std::map<std::string, std::string> digests;
    for (std::string line; std::getline(in, line);) {
        const std::size_t open = line.find('('), close = line.rfind(")= ");
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        digests[line.substr(open + 1, close - open - 1)] = line.substr(close + 3);
    }
    return digests;
}

}  // namespace

TrackList writeTracks(const std::string& root, int count, std::int64_t size) {
    std::vector<char> bytes(static_cast<std::size_t>(size));
    std::uint64_t state = 0x5eed0000ULL + std::uint64_t(size);
    TrackList tracks;
    for (int i = 0; i < count; ++i) {
        fillRandom(bytes, state);
        TrackFile track{trackName(i), sha256Hex(bytes.data(), bytes.size()), size};
        writeFile(root + '/' + track.relativePath, bytes);
        tracks.push_back(track);
    }
    return tracks;
}

TrackList firstOf(const TrackList& tracks, std::size_t count) {
    return TrackList(tracks.begin(), tracks.begin() + std::ptrdiff_t(std::min(count, tracks.size())));
}

void linkTracks(const TrackList& tracks, const std::string& from, const std::string& to) {
    for (const TrackFile& track : tracks) {
        const fs::path target = to + '/' + track.relativePath;
        fs::create_directories(target.parent_path());
        fs::create_hard_link(from + '/' + track.relativePath, target);
    }
}

void copyTracks(const TrackList& tracks, const std::string& from, const std::string& to) {
    for (const TrackFile& track : tracks) {
        const fs::path target = to + '/' + track.relativePath;
        fs::create_directories(target.parent_path());
        fs::copy_file(from + '/' + track.relativePath, target, fs::copy_options::overwrite_existing);
    }
}

std::vector<std::string> pathsBelow(const std::string& root, const TrackList& tracks) {
    std::vector<std::string> paths;
    for (const TrackFile& track : tracks) paths.push_back(root + '/' + track.relativePath);
    return paths;
}

std::vector<std::string> digestCommand(const std::vector<std::string>& paths) {
    std::vector<std::string> argv{"openssl", "dgst", "-sha256"};
    argv.insert(argv.end(), paths.begin(), paths.end());
    return argv;
}

void checkDigests(const std::string& dgstOutput, const std::string& root, const TrackList& tracks) {
    const std::map<std::string, std::string> digests = parseDigests(dgstOutput);
    for (const TrackFile& track : tracks) {
        const std::string path = root + '/' + track.relativePath;
        const auto found = digests.find(path);
        if (found == digests.end() || found->second != track.sha256)
            throw std::runtime_error("the baseline's digest of " + path + " is missing or wrong");
    }
}

void makeFolder(const std::string& path) {
    fs::create_directories(path);
}

void removeTree(const std::string& path) {
    fs::remove_all(path);
}

}  // namespace bench
