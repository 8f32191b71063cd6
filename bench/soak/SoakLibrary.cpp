#include "SoakLibrary.h"

#include "Digest.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace bench::soak {
namespace fs = std::filesystem;
namespace {

constexpr std::array<const char*, 8> kGenres{"House", "Techno", "Drum & Bass", "Café Lounge",
                                              "Hip-Hop", "Disco", "Ambient", "Électro"};

// One to three folders deep: "Genre/Track", "Genre/Crate/Track", "Genre/Crate/Set/Track".
std::string trackPath(int index) {
    const char* genre = kGenres[std::size_t(index) % kGenres.size()];
    const int crate = index / int(kGenres.size()) % 12 + 1;
    const int set = index / 96 % 4 + 1;
    char path[160];
    if (index % 3 == 0) std::snprintf(path, sizeof path, "%s/Track %04d.mp3", genre, index + 1);
    else if (index % 3 == 1) std::snprintf(path, sizeof path, "%s/Crate %02d/Track %04d.mp3", genre, crate, index + 1);
    else std::snprintf(path, sizeof path, "%s/Crate %02d/Set %d/Track %04d.mp3", genre, crate, set, index + 1);
    return path;
}

void fillRandom(std::vector<char>& bytes, std::mt19937_64& random) {
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(&bytes[i], &word, std::min<std::size_t>(8, bytes.size() - i));
    }
}

void writeFile(const std::string& path, const std::vector<char>& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write the library track " + path);
}

}  // namespace

TrackList writeLibrary(const std::string& root, const LibraryShape& shape) {
    std::mt19937_64 random(shape.seed);
    std::uniform_int_distribution<std::int64_t> size(shape.minBytes, shape.maxBytes);
    std::vector<char> bytes;
    TrackList tracks;
    for (int i = 0; i < shape.tracks; ++i) {
        bytes.resize(std::size_t(size(random)));
        fillRandom(bytes, random);
        TrackFile track{trackPath(i), sha256Hex(bytes.data(), bytes.size()), std::int64_t(bytes.size())};
        writeFile(root + '/' + track.relativePath, bytes);
        tracks.push_back(std::move(track));
    }
    return tracks;
}

}  // namespace bench::soak
