// cold-cycle: a whole cycle that downloads 200 tracks of 5 MiB from the development service on
// loopback into an empty library (no drive), against two baselines: one curl run fetching the same
// URLs over one connection, and the same fetches one at a time, each file flushed to the disk
// (sync FILE) before the next as the engine flushes every track; each followed by one openssl run
// hashing what it fetched. Only the durable baseline does the engine's work, so only it has a
// target. The engine runs in a child process so that its peak memory can be read; that figure is
// set against the same cycle with 20 tracks, which shows whether memory grows with the library.

#include "Benchmarks.h"
#include "Drive.h"
#include "Cycles.h"
#include "Paths.h"
#include "Measure.h"
#include "Processes.h"
#include "TrackData.h"

#include <QUrl>

#include <cstdio>

namespace bench {
namespace {

constexpr int kTracks = 200;
constexpr int kFewTracks = 20;
constexpr double kMaxPeakMiB = 80;
constexpr double kMaxPeakGrowth = 1.10;

struct EngineRun {
    double seconds = 0;
    double peakMiB = 0;
};

EngineRun engineCycle(const std::string& work, const std::string& serverURL, int trackCount) {
    removeTree(work);
    const ChildResult child = runSelf({"cold-cycle-engine", work, serverURL, std::to_string(trackCount)});
    return {std::stod(child.output), child.peakMiB};
}

std::vector<std::string> curlCommand(const spinforge::Manifest& manifest, const std::string& serverURL,
                                     const std::string& folder) {
    std::vector<std::string> argv{"curl", "--silent", "--show-error", "--fail", "--create-dirs",
                                  "-H", std::string("Authorization: Bearer ") + kToken};
    const QUrl base(QString::fromStdString(serverURL));
    for (const spinforge::Track& track : manifest.tracks) {
        argv.push_back("-o");
        argv.push_back(folder + '/' + track.relativePath.text().toStdString());
        argv.push_back(base.resolved(QUrl(track.downloadURL)).toString().toStdString());
    }
    return argv;
}

// Runs every one of `fetches` (flushing each file it wrote when `durable`), then hashes the files.
double toolsFetch(const std::vector<std::vector<std::string>>& fetches, bool durable, const std::string& folder,
                  const TrackList& tracks, const std::string& work) {
    removeTree(folder);
    const std::string output = work + "/dgst.txt";
    double seconds = 0;
    for (const std::vector<std::string>& curl : fetches) {
        seconds += runProgram(curl);
        if (durable) seconds += runProgram({"sync", curl[curl.size() - 2]});
    }
    seconds += runProgram(digestCommand(pathsBelow(folder, tracks)), output);
    checkDigests(output, folder, tracks);
    return seconds;
}

// The peak memory of the engine's cycle over the first `count` tracks, one warming run dropped.
std::vector<double> fewTrackPeaks(const Options& options, const std::string& work, const TrackList& tracks) {
    const std::string library = work + "/library-" + std::to_string(kFewTracks);
    linkTracks(firstOf(tracks, kFewTracks), work + "/library", library);
    const auto server = serveLibrary(library);
    std::vector<double> peaks;
    for (int i = 0; i <= options.runs; ++i) {
        const EngineRun run = engineCycle(work + "/engine", server->baseUrl(), kFewTracks);
        if (i > 0) peaks.push_back(run.peakMiB);
    }
    return peaks;
}

}  // namespace

bool coldCycle(const Options& options) {
    const std::string work = options.work + "/cold-cycle";
    const TrackList tracks = writeTracks(work + "/library", kTracks, 5 * MiB);
    bool met = false;
    {
        const auto server = serveLibrary(work + "/library");
        const std::string url = server->baseUrl();
        testing_support::EngineRig rig(toQt(work + "/client/data"), noDrives(work + "/client"));
        rig.signInTo(url, QString::fromLatin1(kToken));
        const spinforge::Manifest manifest = manifestOf(rig);
        std::vector<std::vector<std::string>> oneByOne;
        for (const spinforge::Track& track : manifest.tracks) {
            spinforge::Manifest single = manifest;
            single.tracks = {track};
            oneByOne.push_back(curlCommand(single, url, work + "/curl"));
        }

        std::vector<double> peaks;
        const Side ours = [&] {
            const EngineRun run = engineCycle(work + "/engine", url, kTracks);
            peaks.push_back(run.peakMiB);
            return run.seconds;
        };
        Samples durable;
        const Side baseline = [&] {
            durable.baseline.push_back(toolsFetch(oneByOne, true, work + "/curl", tracks, work));
            return toolsFetch({curlCommand(manifest, url, work + "/curl")}, false, work + "/curl", tracks, work);
        };
        const Samples samples = alternate(options.runs, ours, baseline);
        reportTimes("cold-cycle", samples, 0);
        durable.ours = samples.ours;
        durable.baseline.erase(durable.baseline.begin());  // the warming run
        met = reportTimes("cold-cycle-durable", durable, 1.15);
        peaks.erase(peaks.begin());  // the warming run
        const double few = median(fewTrackPeaks(options, work, tracks));
        met &= report({"cold-cycle-rss", median(peaks), few, "MiB", kMaxPeakGrowth, kMaxPeakMiB,
                       medianOf(options.runs)});
    }
    removeTree(work);
    return met;
}

int coldCycleEngine(const std::string& work, const std::string& serverURL, int trackCount) {
    testing_support::EngineRig rig(toQt(work + "/data"), noDrives(work));
    rig.signInTo(serverURL, QString::fromLatin1(kToken));
    const QString expected = QStringLiteral("%1 tracks cached \u2014 connect USB").arg(trackCount);
    const double seconds = secondsOf([&] { syncExpecting(rig, expected); });
    std::printf("%.6f\n", seconds);
    return 0;
}

}  // namespace bench
