#include "Faults.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace bench::soak {
namespace fs = std::filesystem;
using Op = testing_support::FaultyFileOperations::Op;
namespace {

constexpr std::array<int, 3> kRefusalStatuses{401, 403, 500};
constexpr std::size_t kLongestManifestCut = 64 * 1024;
constexpr int kSearchTries = 1000;

void removeFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

const std::vector<FaultKind>& faultKinds() {
    using enum FaultId;
    static const std::vector<FaultKind> kinds{
        {manifestRefused, "manifest-refused", Expect::failure},
        {manifestTruncated, "manifest-truncated", Expect::failure},
        {downloadRefused, "download-refused", Expect::failure},
        {downloadWrongBytes, "download-wrong-bytes", Expect::failure},
        {downloadDropped, "download-dropped", Expect::failure},
        {downloadStalled, "download-stalled", Expect::failure},
        {statusRefused, "status-refused", Expect::rideOut},
        {driveFull, "drive-full", Expect::failure},
        {driveCopyError, "drive-copy-eio", Expect::failure},
        {driveMoveError, "drive-move-eio", Expect::failure},
        {libraryMoveError, "library-move-eio", Expect::failure},
        {driveReadOnly, "drive-read-only", Expect::rideOut},
        {libraryFileDamaged, "library-file-damaged", Expect::repair},
        {driveFileDamaged, "drive-file-damaged", Expect::repair},
    };
    return kinds;
}

FaultInjector::FaultInjector(FaultTargets targets, std::uint64_t seed)
    : targets_(std::move(targets)), random_(seed) {}

Injection FaultInjector::next() {
    if (below(2) == 0) return {};
    return inject(faultKinds()[below(faultKinds().size())]);
}

void FaultInjector::clear() {
    targets_.server.reset();
    targets_.files.clearFaults();
}

Injection FaultInjector::inject(const FaultKind& kind) {
    using enum FaultId;
    Injection injection;
    injection.kind = &kind;
    switch (kind.id) {
    case manifestRefused: injection.description = refuse("manifest"); break;
    case manifestTruncated: injection.description = truncateManifest(); break;
    case downloadRefused: injection.description = refuse("download", missingFromLibrary().relativePath); break;
    case downloadWrongBytes: injection.description = damageDownload(missingFromLibrary(), "wrong_bytes"); break;
    case downloadDropped: injection.description = damageDownload(missingFromLibrary(), "drop_after"); break;
    case downloadStalled: injection.description = damageDownload(missingFromLibrary(), "stall_after"); break;
    case statusRefused: injection.description = refuse("status"); break;
    case driveFull: injection.description = failOnDrive(Op::copy, ENOSPC); break;
    case driveCopyError: injection.description = failOnDrive(Op::copy, EIO); break;
    case driveMoveError: injection.description = failOnDrive(Op::move, EIO); break;
    case libraryMoveError:
        injection.description =
            failFileOperation(Op::move, targets_.library + '/' + missingFromLibrary().relativePath, EIO);
        break;
    case driveReadOnly: turnReadOnly(injection); break;
    case libraryFileDamaged: damageCached(injection); break;
    case driveFileDamaged: damageDriveCopy(injection); break;
    }
    return injection;
}

std::string FaultInjector::refuse(const char* endpoint, const std::string& track) {
    nlohmann::json fault{{"endpoint", endpoint}, {"times", 1}, {"status", kRefusalStatuses[below(kRefusalStatuses.size())]}};
    if (!track.empty()) fault["track"] = track;
    std::string body = "an empty body";
    switch (below(3)) {
    case 0: break;
    case 1:
        fault["body"] = "<html><body><h1>Service unavailable</h1></body></html>";
        body = "an HTML page";
        break;
    default:
        fault["error"] = "The service refused the request.";
        body = "a JSON error";
    }
    targets_.server.setFault(fault.dump());
    return std::string(endpoint) + " answered " + std::to_string(fault["status"].get<int>()) + " with " + body +
           (track.empty() ? "" : " for " + track);
}

std::string FaultInjector::truncateManifest() {
    const std::string& whole = targets_.manifestText;
    const std::size_t cut = 1 + below(std::min(whole.size() - 1, kLongestManifestCut));
    const nlohmann::json fault{{"endpoint", "manifest"}, {"times", 1}, {"status", 200},
                               {"body", whole.substr(0, cut)}, {"content_type", "application/json"}};
    targets_.server.setFault(fault.dump());
    return "manifest cut short after " + std::to_string(cut) + " of " + std::to_string(whole.size()) + " bytes";
}

std::string FaultInjector::damageDownload(const TrackFile& track, const std::string& action) {
    nlohmann::json fault{{"endpoint", "download"}, {"times", 1}, {"track", track.relativePath}};
    std::string what = action;
    if (action == "wrong_bytes") {
        fault[action] = true;
    } else {  // drop_after, stall_after: the body breaks off halfway
        fault[action] = track.size / 2;
        what += " " + std::to_string(track.size / 2);
    }
    if (action == "stall_after") fault["stall_seconds"] = 3 * double(targets_.idleTimeout.count()) / 1000.0;
    targets_.server.setFault(fault.dump());
    return "download " + what + " for " + track.relativePath;
}

std::string FaultInjector::failOnDrive(Op op, int errnum) {
    const DriveTarget& drive = anyDrive();
    return failFileOperation(op, drive.musicFolder + '/' + missingFromDrive(drive).relativePath, errnum);
}

std::string FaultInjector::failFileOperation(Op op, const std::string& path, int errnum) {
    targets_.files.failOn(op, QString::fromStdString(path), errnum, 1);
    return std::string(op == Op::move ? "move" : "copy") + " fails with " + (errnum == ENOSPC ? "ENOSPC" : "EIO") +
           " at " + path;
}

void FaultInjector::turnReadOnly(Injection& injection) {
    const DriveTarget& drive = anyDrive();
    // A track the drive lacks: had the engine written to the drive anyway, it would be back.
    injection.mustStayAbsent = drive.musicFolder + '/' + missingFromDrive(drive).relativePath;
    injection.unreachablePlace = drive.place;
    targets_.files.failOn(Op::isWritable, QString::fromStdString(drive.root), EROFS);
    injection.description = drive.root + " is read-only, lacking " + injection.mustStayAbsent;
}

void FaultInjector::damageCached(Injection& injection) {
    const auto [track, path] = presentBelow(targets_.library);
    // A few bytes changed in place, the size kept: only the digest can tell.
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::streamoff offset = std::streamoff(below(std::uint64_t(track->size - 16)));
    char bytes[16];
    file.seekg(offset);
    file.read(bytes, sizeof bytes);
    for (char& byte : bytes) byte = char(byte ^ char(1 + below(255)));
    file.seekp(offset);
    file.write(bytes, sizeof bytes);
    if (!file.flush()) throw std::runtime_error("cannot damage " + path);
    injection.damagedPath = path;
    injection.damagedTrack = track->relativePath;
    injection.description = "16 bytes changed at " + std::to_string(offset) + " in " + path;
}

void FaultInjector::damageDriveCopy(Injection& injection) {
    const auto [track, path] = presentBelow(anyDrive().musicFolder);
    // Rewritten whole with other bytes of the same length, as a faulty stick might return them.
    std::string bytes(std::size_t(track->size), '\0');
    for (char& byte : bytes) byte = char(random_());
    std::ofstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file.flush()) throw std::runtime_error("cannot damage " + path);
    injection.damagedPath = path;
    injection.damagedTrack = track->relativePath;
    injection.description = path + " rewritten with other bytes";
}

const TrackFile& FaultInjector::missingFromLibrary() {
    const TrackFile& track = anyTrack();
    removeFile(targets_.library + '/' + track.relativePath);
    return track;
}

const TrackFile& FaultInjector::missingFromDrive(const DriveTarget& drive) {
    const TrackFile& track = anyTrack();
    removeFile(drive.musicFolder + '/' + track.relativePath);
    return track;
}

std::pair<const TrackFile*, std::string> FaultInjector::presentBelow(const std::string& folder) {
    for (int i = 0; i < kSearchTries; ++i) {
        const TrackFile& track = anyTrack();
        const std::string path = folder + '/' + track.relativePath;
        if (fs::is_regular_file(path)) return {&track, path};
    }
    throw std::runtime_error("no track found below " + folder + " to damage");
}

const TrackFile& FaultInjector::anyTrack() { return targets_.tracks[below(targets_.tracks.size())]; }

const DriveTarget& FaultInjector::anyDrive() { return targets_.drives[below(targets_.drives.size())]; }

}  // namespace bench::soak
