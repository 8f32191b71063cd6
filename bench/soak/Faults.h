#pragma once
// What can go wrong around a sync cycle, and what the engine should make of each: the service
// refusing or mangling its answers, the drives and the library folder failing to take a file, a
// drive turning read-only, files damaged behind the engine's back. Each is set up for exactly one
// cycle, through the development service's fault switches or the engine's file-operations seam.

#include "DataCheck.h"
#include "TrackData.h"

#include "support/DevServer.h"
#include "support/FaultyFileOperations.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace bench::soak {

enum class Expect {
    failure,  // the cycle must end in the failed state
    rideOut,  // the cycle must succeed anyway
    repair,   // the cycle must succeed and put the damage right
};

enum class FaultId {
    manifestRefused, manifestTruncated, downloadRefused, downloadWrongBytes, downloadDropped, downloadStalled,
    statusRefused, driveFull, driveCopyError, driveMoveError, libraryMoveError, driveReadOnly, libraryFileDamaged,
    driveFileDamaged,
};

struct FaultKind {
    FaultId id;
    const char* name;  // as the summary prints it
    Expect expect;
};

// Every kind, in a fixed order (the seed picks among them by position).
const std::vector<FaultKind>& faultKinds();

// One drive as the faults reach it.
struct DriveTarget {
    std::string root;         // the mount point
    std::string musicFolder;  // absolute: where the tracks go
    std::size_t place = 0;    // its index among the data check's places
};

struct FaultTargets {
    testing_support::DevServer& server;
    testing_support::FaultyFileOperations& files;
    TrackList tracks;
    std::string library;  // the engine's library folder
    std::vector<DriveTarget> drives;
    std::string manifestText;             // the service's manifest, for cutting short
    std::chrono::milliseconds idleTimeout;  // the engine's: a stall lasts well beyond it
};

// What was done before a cycle, and what the cycle must leave behind.
struct Injection {
    const FaultKind* kind = nullptr;  // none: a cycle without a fault
    std::string description;
    std::optional<std::size_t> unreachablePlace;  // a drive the cycle cannot write to
    std::string mustStayAbsent;                   // a file on that drive the cycle must not create
    std::string damagedPath, damagedTrack;        // what a successful cycle must have repaired
};

class FaultInjector {
public:
    FaultInjector(FaultTargets targets, std::uint64_t seed);

    // About every other cycle none, else one fault of a kind picked at random, set up.
    Injection next();
    // Takes back whatever the last fault left switched on, used or not.
    void clear();

private:
    Injection inject(const FaultKind& kind);
    std::string refuse(const char* endpoint, const std::string& track = {});
    std::string truncateManifest();
    // `action` (wrong_bytes, drop_after, stall_after) on the track's next download.
    std::string damageDownload(const TrackFile& track, const std::string& action);
    std::string failOnDrive(testing_support::FaultyFileOperations::Op op, int errnum);
    // The next `op` at `path` fails with `errnum`.
    std::string failFileOperation(testing_support::FaultyFileOperations::Op op, const std::string& path, int errnum);
    void turnReadOnly(Injection& injection);
    void damageCached(Injection& injection);
    void damageDriveCopy(Injection& injection);

    // A track the engine must fetch again: its library copy removed.
    const TrackFile& missingFromLibrary();
    // A track the engine must copy again to `drive`: its copy there removed.
    const TrackFile& missingFromDrive(const DriveTarget& drive);
    // A track whose file exists below `folder`, and that file's path.
    std::pair<const TrackFile*, std::string> presentBelow(const std::string& folder);
    const TrackFile& anyTrack();
    const DriveTarget& anyDrive();
    std::uint64_t below(std::uint64_t bound) { return random_() % bound; }

    FaultTargets targets_;
    std::mt19937_64 random_;
};

}  // namespace bench::soak
