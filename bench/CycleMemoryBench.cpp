// cycle-memory: the memory a whole cycle adds at its peak, set against the manifest's body as the
// service sends it, at 10,000, 50,000 and 200,000 tracks: a cycle with nothing to do (every track
// cached, one registered drive holding them all), in a child process of its own. Two figures per
// size: the launch cycle, above what the process held before it; and the next one, above what the
// agent holds between cycles (the last manifest among it), its peak started again from there.

#include "Benchmarks.h"
#include "Drive.h"
#include "Cycles.h"
#include "Paths.h"
#include "Measure.h"
#include "Processes.h"
#include "TrackData.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace bench {
namespace {

constexpr int kSizes[] = {10'000, 50'000, 200'000};
constexpr std::int64_t kTrackBytes = 64;
constexpr double kMaxAdded = 4.0;  // times the manifest's body

struct EngineRun {
    double seconds = 0;  // of the next cycle
    double idleMiB = 0, peakMiB = 0;
    double launchIdleMiB = 0, launchPeakMiB = 0;
};

// "VmRSS" or "VmHWM" of this process, in MiB.
double residentMiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":")) return std::stod(line.substr(field.size() + 1)) / 1024.0;
    throw std::runtime_error("no " + field + " in /proc/self/status");
}

EngineRun engineCycle(const std::string& work, const std::string& serverURL, const spinforge::VolumeSource& volumes) {
    const ChildResult child = runSelf({"cycle-memory-engine", work, serverURL, volumes.mountTable.toStdString(),
                                       volumes.prefixes.value(0).toStdString()});
    EngineRun run;
    std::istringstream(child.output) >> run.seconds >> run.idleMiB >> run.peakMiB >> run.launchIdleMiB >> run.launchPeakMiB;
    if (run.peakMiB <= 0) throw std::runtime_error("cycle-memory-engine printed: " + child.output);
    return run;
}

std::string nameOf(int tracks) { return "cycle-memory-" + std::to_string(tracks / 1000) + "k"; }

}  // namespace

bool cycleMemory(const Options& options) {
    const std::string work = options.work + "/cycle-memory";
    bool met = true;
    {
        const TrackList all = writeTracks(work + "/tracks", kSizes[std::size(kSizes) - 1], kTrackBytes);
        Drive drive(work + "/drive", options.mediaName);
        for (const int count : kSizes) {
            const TrackList tracks = firstOf(all, std::size_t(count));
            linkTracks(tracks, work + "/tracks", work + "/library");
            const auto server = serveLibrary(work + "/library");
            const double bodyMiB = double(server->manifest(kToken).size()) / double(MiB);
            const std::string engine = work + "/engine";
            {
                testing_support::EngineRig rig(toQt(engine + "/data"), drive.volumes());
                rig.signInTo(server->baseUrl(), QString::fromLatin1(kToken));
                linkTracks(tracks, work + "/tracks", fromQt(rig.cacheRoot()));
                const spinforge::Profile profile = manifestOf(rig).profile;
                copyTracks(tracks, work + "/tracks", drive.musicFolder(profile));
                drive.registerFor(profile);
            }
            std::vector<double> added, launchAdded, seconds;
            for (int i = 0; i < options.runs; ++i) {
                const EngineRun run = engineCycle(engine, server->baseUrl(), drive.volumes());
                added.push_back(run.peakMiB - run.idleMiB);
                launchAdded.push_back(run.launchPeakMiB - run.launchIdleMiB);
                seconds.push_back(run.seconds);
            }
            met &= report({nameOf(count) + "-launch", median(launchAdded), bodyMiB, "MiB", kMaxAdded, 0, medianOf(options.runs)});
            met &= report({nameOf(count), median(added), bodyMiB, "MiB", kMaxAdded, 0, medianOf(options.runs)});
            std::printf("bench %s-time s=%.2f us/track=%.1f (the cycle measured)\n", nameOf(count).c_str(), median(seconds),
                        median(seconds) * 1e6 / count);
            std::fflush(stdout);
            removeTree(work + "/library");
            removeTree(engine);
            drive.empty();
        }
    }
    removeTree(work);
    return met;
}

int cycleMemoryEngine(const std::string& work, const std::string& serverURL, const std::string& mountTable,
                      const std::string& prefix) {
    testing_support::EngineRig rig(toQt(work + "/data"), {QString::fromStdString(mountTable), {QString::fromStdString(prefix)}});
    rig.signInTo(serverURL, QString::fromLatin1(kToken));
    std::ofstream("/proc/self/clear_refs") << "5";
    const double launchIdle = residentMiB("VmRSS");
    syncExpecting(rig, QStringLiteral("USB is up to date"));
    const double launchPeak = residentMiB("VmHWM");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from what is resident now
    const double idle = residentMiB("VmRSS");
    const double seconds = secondsOf([&] { syncExpecting(rig, QStringLiteral("USB is up to date")); });
    std::printf("%.6f %.3f %.3f %.3f %.3f\n", seconds, idle, residentMiB("VmHWM"), launchIdle, launchPeak);
    return 0;
}

}  // namespace bench
