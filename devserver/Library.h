#pragma once
// The tracks the service offers: every visible regular file below one folder, hashed once at
// start so that manifests are cheap however often the agent asks.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace spinforge::devserver {

struct Track {
    long long id = 0;
    std::string relativePath;  // '/'-separated, below the library folder
    std::string filename;
    std::string artist;
    std::string title;
    std::string sha256;
    std::uint64_t byteSize = 0;
    std::filesystem::path file;
};

struct TrackName {
    std::string artist;
    std::string title;
};

// "Artist - Title" gives both; any other stem is the title of an unknown artist.
TrackName trackNameFromStem(const std::string& stem);

using Warning = std::function<void(const std::string&)>;

// Relative paths of the library's files in byte order, skipping hidden files and folders.
// Names that are not UTF-8 cannot travel in JSON, so they are reported through `warn` and left out.
std::vector<std::string> listLibraryFiles(const std::filesystem::path& root, const Warning& warn);

class Library {
public:
    using Progress = std::function<void(std::size_t hashed, std::size_t total)>;

    // Throws std::runtime_error when the folder or one of its files cannot be read.
    static Library load(const std::filesystem::path& root, const Progress& progress, const Warning& warn);

    const std::vector<Track>& tracks() const { return tracks_; }
    const Track* find(long long id) const;

private:
    std::vector<Track> tracks_;  // track i has id i + 1
};

}  // namespace spinforge::devserver
