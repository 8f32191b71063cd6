#include "SoakRun.h"

#include "DataCheck.h"
#include "Faults.h"
#include "ProcessStats.h"
#include "SoakLibrary.h"

#include "Drive.h"
#include "EngineRig.h"
#include "Paths.h"

#include "engine/Playlist.h"
#include "engine/USBMarker.h"
#include "support/Await.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace bench::soak {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;
using State = spinforge::SyncEngine::State;

// Short, so that a stalled download fails within seconds; long enough for a loaded machine to
// answer every normal request well within it.
constexpr std::chrono::milliseconds kIdleTimeout{3000};
// Peak memory is compared with its value after this cycle, once the first cycle's downloads and
// the first faults have had their say.
constexpr int kMemoryBaselineCycle = 10;
constexpr double kMaxPeakGrowthPercent = 5.0;
constexpr int kProgressEvery = 50;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> linesOf(const QString& path) {
    std::ifstream in(fromQt(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// One mount table listing both drives. As root both are in the kernel's; otherwise each drive
// listed itself in a table of its own, and the engine reads just one.
spinforge::VolumeSource bothDrives(const Drive& first, const Drive& second, const std::string& work) {
    spinforge::VolumeSource one = first.volumes(), other = second.volumes();
    spinforge::VolumeSource both{one.mountTable, one.prefixes + other.prefixes};
    if (one.mountTable == other.mountTable) return both;
    std::vector<std::string> lines = linesOf(one.mountTable);
    for (const std::string& line : linesOf(other.mountTable))
        if (std::find(lines.begin(), lines.end(), line) == lines.end()) lines.push_back(line);
    const std::string table = work + "/mountinfo";
    std::ofstream out(table, std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    if (!out.flush()) throw std::runtime_error("cannot write the mount table " + table);
    both.mountTable = toQt(table);
    return both;
}

// The manifest exactly as the service sends it, for the faults that cut it short.
std::string manifestText(const std::string& baseUrl) {
    httplib::Client client(baseUrl);
    const httplib::Result result =
        client.Get("/api/client/manifest", {{"Authorization", std::string("Bearer ") + kToken}});
    if (!result || result->status != 200) throw std::runtime_error("cannot fetch the manifest from " + baseUrl);
    return result->body;
}

// The service must announce what was written, or every later check would be against the wrong
// digests.
void requireManifestOf(const spinforge::Manifest& manifest, const TrackList& tracks) {
    std::map<std::string, const TrackFile*> written;
    for (const TrackFile& track : tracks) written[track.relativePath] = &track;
    for (const spinforge::Track& track : manifest.tracks) {
        const auto found = written.find(track.relativePath.toStdString());
        if (found == written.end() || found->second->size != track.byteSize ||
            found->second->sha256 != track.sha256.toLower().toStdString())
            throw std::runtime_error("the service's manifest misdescribes " + track.relativePath.toStdString());
    }
    if (std::size_t(manifest.tracks.size()) != tracks.size())
        throw std::runtime_error("the service's manifest lists " + std::to_string(manifest.tracks.size()) + " of " +
                                 std::to_string(tracks.size()) + " tracks");
}

struct Tally {
    int injected = 0;
    int failed = 0;
};

struct Figures {
    int cycles = 0;
    int faultFree = 0;
    int failuresInjected = 0;
    int failuresReported = 0;
    int repaired = 0;
    int riddenOut = 0;
    int unexpected = 0;
    int dataErrors = 0;
    int stagingAfterFailures = 0;
    int baselineCycle = 0;
    double peakAtBaseline = 0;
    double residentAtBaseline = 0;
    int fdsBeforeFirst = 0;
    int fdsAtStart = 0;
    double firstCycleSeconds = 0;
    double laterCyclesSeconds = 0;
    double slowestLaterCycleSeconds = 0;  // a stalled download's cycle waits out the idle timeout
    std::map<std::string, Tally> byKind;
};

class Soak {
public:
    explicit Soak(const SoakOptions& options);
    void cycle(int number);
    // Prints the figures; returns the exit status.
    int summary(double wallSeconds, double setupSeconds) const;

private:
    Place placeOf(const Drive& drive, const std::string& label) const;
    DriveTarget targetOf(const Drive& drive, std::size_t place) const;
    void judge(int number, const Injection& injection, const State& state);
    void checkData(int number, const Injection& injection, bool succeeded);
    void watchProcess(int number);

    SoakOptions options_;
    TrackList tracks_;
    Drive driveA_, driveB_;  // destroyed last: they unmount
    testing_support::FaultyFileOperations files_;
    EngineRig rig_;
    std::unique_ptr<testing_support::DevServer> server_;
    spinforge::Manifest manifest_;
    std::unique_ptr<DataCheck> check_;
    std::unique_ptr<FaultInjector> faults_;
    Figures figures_;
};

Soak::Soak(const SoakOptions& options)
    : options_(options),
      tracks_(writeLibrary(options.work + "/library",
                           {options.tracks, std::int64_t(options.minKiB) * 1024, std::int64_t(options.maxKiB) * 1024,
                            options.seed})),
      driveA_(options.work + "/drive-a", options.mediaName + "/a"),
      driveB_(options.work + "/drive-b", options.mediaName + "/b"),
      rig_(options.work + "/engine", bothDrives(driveA_, driveB_, options.work), files_,
           spinforge::APITimeouts{std::chrono::seconds(60), kIdleTimeout}) {
    server_ = serveLibrary(options.work + "/library");
    rig_.signIn(server_->baseUrl());
    manifest_ = rig_.manifest();
    requireManifestOf(manifest_, tracks_);
    driveA_.registerFor(manifest_.profile);
    driveB_.registerFor(manifest_.profile);
    makeFolder(rig_.cacheRoot());
    check_ = std::make_unique<DataCheck>(
        manifest_, std::vector<Place>{{"library", rig_.cacheRoot(), "", "", ""}, placeOf(driveA_, "drive A"),
                                      placeOf(driveB_, "drive B")});
    faults_ = std::make_unique<FaultInjector>(
        FaultTargets{*server_, files_, tracks_, rig_.cacheRoot(), {targetOf(driveA_, 1), targetOf(driveB_, 2)},
                     manifestText(server_->baseUrl()), kIdleTimeout},
        options.seed + 1);
}

Place Soak::placeOf(const Drive& drive, const std::string& label) const {
    return {label, drive.path(), fromQt(spinforge::Playlist::driveFolder(manifest_.profile)),
            fromQt(spinforge::Playlist::fileName(manifest_.profile)), fromQt(spinforge::USBMarker::fileName)};
}

DriveTarget Soak::targetOf(const Drive& drive, std::size_t place) const {
    return {drive.path(), drive.musicFolder(manifest_.profile), place};
}

void Soak::cycle(int number) {
    // The first cycle fills the library and both drives; faults start with the second.
    const Injection injection = number == 1 ? Injection{} : faults_->next();
    if (number == 1) figures_.fdsBeforeFirst = openFileDescriptors();
    const Clock::time_point start = Clock::now();
    testing_support::await(rig_.engine().sync(QStringLiteral("soak")));
    const double seconds = secondsSince(start);
    faults_->clear();

    ++figures_.cycles;
    if (number == 1) {
        figures_.firstCycleSeconds = seconds;
    } else {
        figures_.laterCyclesSeconds += seconds;
        figures_.slowestLaterCycleSeconds = std::max(figures_.slowestLaterCycleSeconds, seconds);
    }
    const State state = rig_.engine().state();
    judge(number, injection, state);
    checkData(number, injection, state.kind == State::Kind::success);
    watchProcess(number);
}

void Soak::judge(int number, const Injection& injection, const State& state) {
    const bool failed = state.kind == State::Kind::failed;
    const Expect expect = injection.kind ? injection.kind->expect : Expect::rideOut;
    if (injection.kind) {
        Tally& tally = figures_.byKind[injection.kind->name];
        ++tally.injected;
        tally.failed += failed;
    } else {
        ++figures_.faultFree;
    }
    if (expect == Expect::failure) {
        ++figures_.failuresInjected;
        figures_.failuresReported += failed;
    }
    const bool wanted = expect == Expect::failure ? failed : state.kind == State::Kind::success;
    if (wanted) {
        if (injection.kind && expect == Expect::rideOut) ++figures_.riddenOut;
        return;
    }
    ++figures_.unexpected;
    std::fprintf(stderr, "soak: cycle %d (%s): ended %s \"%s\"\n", number,
                 injection.kind ? injection.description.c_str() : "no fault", failed ? "failed" : "without failing",
                 state.message.toStdString().c_str());
}

void Soak::checkData(int number, const Injection& injection, bool succeeded) {
    std::vector<bool> complete;
    for (std::size_t place = 0; place < check_->places().size(); ++place)
        complete.push_back(succeeded && injection.unreachablePlace != place);
    const Verdict verdict = check_->check(number, complete);
    figures_.dataErrors += verdict.errors;
    figures_.stagingAfterFailures += verdict.stagingLeftovers;
    if (!injection.mustStayAbsent.empty() && fs::exists(injection.mustStayAbsent)) {
        ++figures_.dataErrors;
        std::fprintf(stderr, "soak: cycle %d: %s was written to a drive that is read-only\n", number,
                     injection.mustStayAbsent.c_str());
    }
    if (injection.kind && injection.kind->expect == Expect::repair && succeeded &&
        check_->holdsTrack(injection.damagedPath, injection.damagedTrack))
        ++figures_.repaired;
}

void Soak::watchProcess(int number) {
    if (number == 1) figures_.fdsAtStart = openFileDescriptors();
    if (number == std::min(kMemoryBaselineCycle, options_.cycles)) {
        figures_.baselineCycle = number;
        figures_.peakAtBaseline = peakResidentMiB();
        figures_.residentAtBaseline = residentMiB();
    }
    if (number % kProgressEvery == 0)
        std::fprintf(stderr, "soak: cycle %d of %d, %d data errors, %d unexpected outcomes, peak RSS %.1f MiB\n",
                     number, options_.cycles, figures_.dataErrors, figures_.unexpected, peakResidentMiB());
}

int Soak::summary(double wallSeconds, double setupSeconds) const {
    const Figures& f = figures_;
    const double peak = peakResidentMiB(), resident = residentMiB();
    const double growth = 100.0 * (peak - f.peakAtBaseline) / f.peakAtBaseline;
    const int fdsAtEnd = openFileDescriptors();
    std::printf("soak cycles: %d (%d without a fault; %d tracks of %d-%d KiB, two drives, seed %llu)\n", f.cycles,
                f.faultFree, options_.tracks, options_.minKiB, options_.maxKiB, (unsigned long long)options_.seed);
    for (const FaultKind& kind : faultKinds()) {
        const Tally tally = f.byKind.count(kind.name) ? f.byKind.at(kind.name) : Tally{};
        std::printf("soak fault %s: injected %d, cycle failed %d\n", kind.name, tally.injected, tally.failed);
    }
    std::printf("soak failures injected: %d\n", f.failuresInjected);
    std::printf("soak failures reported: %d\n", f.failuresReported);
    std::printf("soak repaired: %d\n", f.repaired);
    std::printf("soak ridden out: %d\n", f.riddenOut);
    std::printf("soak unexpected outcomes: %d\n", f.unexpected);
    std::printf("soak data errors: %d\n", f.dataErrors);
    std::printf("soak staging leftovers after failed cycles (summed over checks): %d\n", f.stagingAfterFailures);
    std::printf("soak peak RSS at cycle %d: %.1f MiB\n", f.baselineCycle, f.peakAtBaseline);
    std::printf("soak peak RSS at cycle %d: %.1f MiB\n", f.cycles, peak);
    std::printf("soak peak RSS growth: %.2f%% (limit %.0f%%)\n", growth, kMaxPeakGrowthPercent);
    std::printf("soak current RSS at cycle %d: %.1f MiB\n", f.baselineCycle, f.residentAtBaseline);
    std::printf("soak current RSS at cycle %d: %.1f MiB\n", f.cycles, resident);
    std::printf("soak open fds at start: %d (after cycle 1; %d before it)\n", f.fdsAtStart, f.fdsBeforeFirst);
    std::printf("soak open fds at end: %d\n", fdsAtEnd);
    std::printf("soak cycle time: first (filling everything) %.2f s, later mean %.3f s, slowest later %.2f s\n",
                f.firstCycleSeconds, f.cycles > 1 ? f.laterCyclesSeconds / (f.cycles - 1) : 0.0,
                f.slowestLaterCycleSeconds);
    std::printf("soak wall time: %.1f s (setup %.1f s)\n", wallSeconds, setupSeconds);
    const bool passed = f.dataErrors == 0 && f.unexpected == 0 && growth <= kMaxPeakGrowthPercent &&
                        fdsAtEnd <= f.fdsAtStart;
    std::printf("soak result: %s\n", passed ? "PASS" : "FAIL");
    return passed ? 0 : 1;
}

}  // namespace

int runSoak(const SoakOptions& options) {
    const Clock::time_point start = Clock::now();
    int status = 1;
    {
        Soak soak(options);
        const double setupSeconds = secondsSince(start);
        for (int number = 1; number <= options.cycles; ++number) soak.cycle(number);
        status = soak.summary(secondsSince(start), setupSeconds);
    }
    // The drives removed their own folders; this is the one they shared below /media.
    if (::geteuid() == 0) ::rmdir(("/media/" + options.mediaName).c_str());
    std::fflush(stdout);
    return status;
}

}  // namespace bench::soak
