// usb-copy: the engine putting 200 verified 5 MiB tracks on an empty drive against the same work
// done by the standard tools: openssl hashing the sources, cp copying them, openssl hashing the
// copies. Both write to the same drive, emptied before every run.

#include "Benchmarks.h"
#include "Drive.h"
#include "Cycles.h"
#include "Paths.h"
#include "Measure.h"
#include "Processes.h"
#include "TrackData.h"

#include "engine/DriveSync.h"

#include <filesystem>
#include <stdexcept>

namespace bench {
namespace {

constexpr int kTracks = 200;

double toolsCopy(const std::string& cache, const std::string& music, const TrackList& tracks,
                 const std::string& work) {
    const std::string sources = work + "/sources.txt", copies = work + "/copies.txt";
    makeFolder(std::filesystem::path(music).parent_path());
    double seconds = runProgram(digestCommand(pathsBelow(cache, tracks)), sources);
    seconds += runProgram({"cp", "-R", cache, music});
    seconds += runProgram(digestCommand(pathsBelow(music, tracks)), copies);
    checkDigests(sources, cache, tracks);
    checkDigests(copies, music, tracks);
    return seconds;
}

}  // namespace

bool usbCopy(const Options& options) {
    const std::string work = options.work + "/usb-copy";
    bool met = false;
    {
        Drive drive(work, options.mediaName);
        testing_support::EngineRig rig(toQt(work + "/data"), drive.volumes());
        const std::string cache = fromQt(rig.cacheRoot());
        const TrackList tracks = writeTracks(cache, kTracks, 5 * MiB);
        linkTracks(tracks, cache, work + "/library");
        const auto server = serveLibrary(work + "/library");
        rig.signInTo(server->baseUrl(), QString::fromLatin1(kToken));
        const spinforge::Manifest manifest = manifestOf(rig);
        drive.registerFor(manifest.profile);
        const std::string music = drive.musicFolder(manifest.profile);
        const QString volume = QString::fromStdString(drive.path());

        const Side ours = [&] {
            drive.empty();
            qint64 written = 0;
            const double seconds = secondsOf([&] {
                written = spinforge::DriveSync::syncUSB(spinforge::Drives(rig.files, rig.seams().volumes).open(volume, "sync"), manifest, rig.library());
            });
            if (written != kTracks) throw std::runtime_error("syncUSB wrote " + std::to_string(written) + " tracks");
            return seconds;
        };
        const Side baseline = [&] {
            drive.empty();
            return toolsCopy(cache, music, tracks, work);
        };
        const Samples samples = alternate(options.runs, ours, baseline);
        met = reportTimes("usb-copy", samples, 1.15);
        reportHold("usb-copy", median(samples.ours), double(kTracks) * 5 * MiB,
                   "filling an empty drive: each track read, copied, read back");
    }
    removeTree(work);
    return met;
}

}  // namespace bench
