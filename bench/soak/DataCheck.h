#pragma once
// The data check run after every cycle, whatever the cycle did. In the library folder and on
// each drive, every file under a track's final name is that track byte for byte (the size and
// SHA-256 the service's manifest gives) or is absent; no file the manifest does not name
// appears, apart from a drive's marker (never changed) and its playlist; staging files
// (".spinforge-partial", hidden temporaries) are allowed only after a cycle that failed. After a
// cycle that succeeded, every track is present everywhere the cycle could reach and each such
// drive's playlist is the manifest's.

#include "records/Records.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench::soak {

// One folder the engine fills: the library folder, or a drive.
struct Place {
    std::string label;       // "library", "drive A": how errors name it
    std::string root;        // the library folder, or the drive's mount point
    std::string musicFolder; // below `root`, where the tracks go: "" for the library
    std::string playlist;    // the playlist's name in a drive's root; "" for the library
    std::string marker;      // the marker's name in a drive's root; "" for the library
};

struct Verdict {
    int errors = 0;
    int stagingLeftovers = 0;  // allowed after a failed cycle, counted for the record
};

class DataCheck {
public:
    DataCheck(const spinforge::Manifest& manifest, std::vector<Place> places);

    // Checks every place; `complete[i]` asks place i to hold every track and the right playlist
    // (the cycle succeeded and could reach it). Each error goes to stderr, naming `cycle`.
    Verdict check(int cycle, const std::vector<bool>& complete);
    // Whether `path` holds the track at `relativePath` byte for byte.
    bool holdsTrack(const std::string& path, const std::string& relativePath) const;

    const std::vector<Place>& places() const { return places_; }

private:
    struct Expected {
        std::int64_t size = 0;
        std::string sha256;
    };
    struct Walk;  // what one place's walk found

    void checkPlace(std::size_t index, Walk& walk);
    void checkFile(const Place& place, const std::string& relative, std::int64_t size, Walk& walk);
    void checkTrack(const Place& place, const std::string& path, const std::string& track, std::int64_t size,
                    Walk& walk);
    void checkCompleteness(const Place& place, Walk& walk);
    void fail(const Place& place, const std::string& what, Walk& walk);

    std::map<std::string, Expected> tracks_;
    std::vector<Place> places_;
    std::vector<QByteArray> markers_;  // each drive's marker as it was at the start
    QByteArray playlistText_;
    int errorsShown_ = 0;
};

// A staging name the engine or its staged files use: "<name>.spinforge-partial", or a hidden
// ".<name>.<pid>-<n>.XXXXXX" where the file system has no unnamed temporary files.
bool isStagingName(const std::string& fileName);

}  // namespace bench::soak
