// warm-cycle: a whole cycle when nothing has changed (1,000 cached 1 MiB tracks, one registered
// drive holding them all) against openssl hashing the cache's and the drive's 2,000 files in one
// run: the reading and hashing a cycle cannot avoid.

#include "Benchmarks.h"
#include "Drive.h"
#include "Cycles.h"
#include "Paths.h"
#include "Measure.h"
#include "Processes.h"
#include "TrackData.h"

namespace bench {

bool warmCycle(const Options& options) {
    const std::string work = options.work + "/warm-cycle";
    bool met = false;
    {
        Drive drive(work, options.mediaName);
        testing_support::EngineRig rig(toQt(work + "/data"), drive.volumes());
        const std::string cache = fromQt(rig.cacheRoot());
        const TrackList tracks = writeTracks(cache, 1000, MiB);
        linkTracks(tracks, cache, work + "/library");
        const auto server = serveLibrary(work + "/library");
        rig.signInTo(server->baseUrl(), QString::fromLatin1(kToken));
        const spinforge::Profile profile = manifestOf(rig).profile;
        const std::string music = drive.musicFolder(profile);
        copyTracks(tracks, cache, music);
        drive.registerFor(profile);

        const Side ours = [&] { return secondsOf([&] { syncExpecting(rig, QStringLiteral("USB is up to date")); }); };
        std::vector<std::string> paths = pathsBelow(cache, tracks);
        for (const std::string& path : pathsBelow(music, tracks)) paths.push_back(path);
        const std::string output = work + "/dgst.txt";
        const Side baseline = [&] {
            const double seconds = runProgram(digestCommand(paths), output);
            checkDigests(output, cache, tracks);
            checkDigests(output, music, tracks);
            return seconds;
        };
        const Samples samples = alternate(options.runs, ours, baseline);
        met = reportTimes("warm-cycle", samples, 1.15);
        reportHold("warm-cycle", median(samples.ours), double(tracks.size()) * MiB,
                   "a cycle with nothing to do, per GiB of library: the drive's copies read too");
    }
    removeTree(work);
    return met;
}

}  // namespace bench
