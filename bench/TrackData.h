#pragma once
// The benchmarks' own music: files of random bytes (nothing compresses or deduplicates), laid
// out as a DJ's library is, with the digests the service would announce for them.

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

inline constexpr std::int64_t MiB = 1024 * 1024;

struct TrackFile {
    std::string relativePath;  // "Crate 03/Track 0142.mp3"
    std::string sha256;        // lower-case hexadecimal
    std::int64_t size = 0;
};
using TrackList = std::vector<TrackFile>;

// Writes `count` tracks of `size` bytes below `root`, fifty to a crate folder.
TrackList writeTracks(const std::string& root, int count, std::int64_t size);
// The first `count` tracks of `tracks`.
TrackList firstOf(const TrackList& tracks, std::size_t count);

// Puts every track below `to` as a hard link to its file below `from` (same file system).
void linkTracks(const TrackList& tracks, const std::string& from, const std::string& to);
// Puts an independent copy of every track below `to`.
void copyTracks(const TrackList& tracks, const std::string& from, const std::string& to);

std::vector<std::string> pathsBelow(const std::string& root, const TrackList& tracks);

// openssl dgst -sha256 over `paths`.
std::vector<std::string> digestCommand(const std::vector<std::string>& paths);
// Throws unless `dgstOutput`, what digestCommand printed, gives each track below `root` its digest.
void checkDigests(const std::string& dgstOutput, const std::string& root, const TrackList& tracks);

void makeFolder(const std::string& path);
void removeTree(const std::string& path);

}  // namespace bench
