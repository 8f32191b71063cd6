// integrity: the engine's check of 200 tracks of 5 MiB against openssl hashing the same files in
// one run. Both read through the page cache, warmed by the first run of each side.

#include "Benchmarks.h"
#include "Drive.h"
#include "Cycles.h"
#include "Measure.h"
#include "Paths.h"
#include "Processes.h"
#include "TrackData.h"

#include "engine/Integrity.h"

#include <stdexcept>

namespace bench {
namespace {

struct Check {
    QString relativePath;
    QString sha256;
    qint64 size;
};

std::vector<Check> checksOf(const TrackList& tracks) {
    std::vector<Check> checks;
    for (const TrackFile& track : tracks)
        checks.push_back({toQt(track.relativePath), QString::fromStdString(track.sha256),
                          track.size});
    return checks;
}

}  // namespace

bool integrity(const Options& options) {
    const std::string work = options.work + "/integrity";
    const std::string root = work + "/tracks";
    const TrackList tracks = writeTracks(root, 200, 5 * MiB);
    testing_support::EngineRig rig(toQt(work + "/data"), noDrives(work));
    const std::vector<Check> checks = checksOf(tracks);

    const spinforge::Folder folder = openFolder(rig, root);
    const Side ours = [&] {
        return secondsOf([&] {
            for (const Check& check : checks)
                if (!spinforge::Integrity::validFile(folder, check.relativePath, check.sha256, check.size))
                    throw std::runtime_error("validFile refused " + check.relativePath.toStdString());
        });
    };
    const std::string output = work + "/dgst.txt";
    const Side baseline = [&] {
        const double seconds = runProgram(digestCommand(pathsBelow(root, tracks)), output);
        checkDigests(output, root, tracks);
        return seconds;
    };
    const bool met = reportTimes("integrity", alternate(options.runs, ours, baseline), 1.10);
    removeTree(work);
    return met;
}

}  // namespace bench
