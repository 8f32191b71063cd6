#include "DataCheck.h"

#include "Digest.h"

#include "engine/Playlist.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace bench::soak {
namespace fs = std::filesystem;
namespace {

constexpr int kErrorsShown = 30;  // later ones are counted, not printed

QByteArray contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    return QByteArray(text.data(), qsizetype(text.size()));
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

struct DataCheck::Walk {
    int cycle = 0;
    bool complete = false;
    Verdict verdict;
    std::size_t tracksSeen = 0;  // each path comes up once in a walk
    bool playlistSeen = false;
    bool markerSeen = false;
};

bool isStagingName(const std::string& fileName) {
    static const std::regex hiddenTemporary(R"(^\..+\.[0-9]+-[0-9]+\.[A-Za-z0-9]{6}$)");
    return endsWith(fileName, ".spinforge-partial") || std::regex_match(fileName, hiddenTemporary);
}

DataCheck::DataCheck(const spinforge::Manifest& manifest, std::vector<Place> places)
    : places_(std::move(places)), playlistText_(spinforge::Playlist::text(manifest)) {
    for (const spinforge::Track& track : manifest.tracks)
        tracks_[track.relativePath.toStdString()] = {track.byteSize, track.sha256.toLower().toStdString()};
    for (const Place& place : places_)
        markers_.push_back(place.marker.empty() ? QByteArray() : contentOf(place.root + '/' + place.marker));
}

Verdict DataCheck::check(int cycle, const std::vector<bool>& complete) {
    Verdict total;
    for (std::size_t i = 0; i < places_.size(); ++i) {
        Walk walk;
        walk.cycle = cycle;
        walk.complete = complete.at(i);
        checkPlace(i, walk);
        total.errors += walk.verdict.errors;
        total.stagingLeftovers += walk.verdict.stagingLeftovers;
    }
    return total;
}

void DataCheck::fail(const Place& place, const std::string& what, Walk& walk) {
    if (++errorsShown_ <= kErrorsShown)
        std::fprintf(stderr, "soak: cycle %d: %s: %s\n", walk.cycle, place.label.c_str(), what.c_str());
    ++walk.verdict.errors;
}

void DataCheck::checkPlace(std::size_t index, Walk& walk) {
    const Place& place = places_[index];
    std::error_code error;
    for (fs::recursive_directory_iterator it(place.root, error), end; !error && it != end; it.increment(error)) {
        const fs::directory_entry& entry = *it;
        if (entry.is_symlink(error) || !(entry.is_directory(error) || entry.is_regular_file(error))) {
            fail(place, entry.path().string() + ": neither a folder nor a plain file", walk);
            continue;
        }
        if (entry.is_directory(error)) continue;
        const std::string relative = entry.path().lexically_relative(place.root).generic_string();
        if (!place.marker.empty() && relative == place.marker) {
            walk.markerSeen = true;
            if (contentOf(entry.path().string()) != markers_[index]) fail(place, "the marker was changed", walk);
            continue;
        }
        checkFile(place, relative, std::int64_t(entry.file_size(error)), walk);
    }
    if (error) fail(place, "cannot list " + place.root + ": " + error.message(), walk);
    if (!place.marker.empty() && !walk.markerSeen) fail(place, "the marker is gone", walk);
    if (walk.complete) checkCompleteness(place, walk);
}

void DataCheck::checkFile(const Place& place, const std::string& relative, std::int64_t size, Walk& walk) {
    if (isStagingName(fs::path(relative).filename().string())) {
        ++walk.verdict.stagingLeftovers;
        if (walk.complete) fail(place, relative + ": a staging file left after a cycle that succeeded", walk);
        return;
    }
    if (!place.playlist.empty() && relative == place.playlist) {
        walk.playlistSeen = true;
        if (walk.complete && contentOf(place.root + '/' + relative) != playlistText_)
            fail(place, "the playlist is not the manifest's", walk);
        return;
    }
    const std::string prefix = place.musicFolder.empty() ? "" : place.musicFolder + '/';
    if (relative.compare(0, prefix.size(), prefix) != 0) {
        fail(place, relative + ": a file the manifest does not name", walk);
        return;
    }
    checkTrack(place, place.root + '/' + relative, relative.substr(prefix.size()), size, walk);
}

void DataCheck::checkTrack(const Place& place, const std::string& path, const std::string& track, std::int64_t size,
                           Walk& walk) {
    const auto expected = tracks_.find(track);
    if (expected == tracks_.end()) {
        fail(place, track + ": a file the manifest does not name", walk);
        return;
    }
    ++walk.tracksSeen;
    if (size != expected->second.size) {
        fail(place, track + ": " + std::to_string(size) + " bytes, not " + std::to_string(expected->second.size), walk);
        return;
    }
    const std::optional<std::string> digest = fileSha256Hex(path);
    if (digest != expected->second.sha256)
        fail(place, track + ": wrong bytes (SHA-256 " + digest.value_or("unreadable") + ")", walk);
}

void DataCheck::checkCompleteness(const Place& place, Walk& walk) {
    if (walk.tracksSeen != tracks_.size())
        fail(place, std::to_string(tracks_.size() - walk.tracksSeen) + " tracks missing after a cycle that succeeded",
             walk);
    if (!place.playlist.empty() && !walk.playlistSeen) fail(place, "no playlist after a cycle that succeeded", walk);
}

bool DataCheck::holdsTrack(const std::string& path, const std::string& relativePath) const {
    const auto expected = tracks_.find(relativePath);
    if (expected == tracks_.end()) return false;
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || std::int64_t(size) != expected->second.size) return false;
    return fileSha256Hex(path) == expected->second.sha256;
}

}  // namespace bench::soak
