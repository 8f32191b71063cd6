// The computer's own disk misbehaving: the library's disk full, a cached file that can't be read,
// and cached files changed behind the agent's back.

#include "faults/FaultMatrix.h"

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class LocalFaults : public FaultMatrix {};

constexpr const char* kLocal = "Local";

TEST_F(LocalFaults, LibraryDiskFull) {
    const FaultCase faultCase{.group = kLocal, .order = 1, .fault = "The library's disk fills up while b.mp3 downloads",
                              .message = "Could not write ~/.local/share/Spinforge/Library/House/b.mp3: No space left on device"};
    // Downloads are written by the service client, not through the file-operations seam.
    if (!realDrives()) return skipCase(faultCase, *whyFolderDrives());
    RealDrive* disk = nullptr;
    FaultCase full = faultCase;
    full.inject = [&] {
        // Room for the library as it is (a.mp3, the old b.mp3, one file not ours) and a little more.
        const QMap<QString, QByteArray> before = contentsOf(cacheRoot());
        disk = &mountLibraryDisk(QStringLiteral("size=256k,mode=0755"));
        for (auto file = before.begin(); file != before.end(); ++file) writeBytes(cached(file.key()), file.value());
    };
    full.clear = [&] { disk->remount(0, "size=4m"); };
    runCase(full);
}

TEST_F(LocalFaults, UnreadableCachedFile) {
    runCase({.group = kLocal, .order = 2, .fault = "A cached file that can't be read (EACCES opening a.mp3)",
             .inject = [&] { files.failOn(Op::openForReading, "Library/House/a.mp3", EACCES, 1); },
             .outcome = Kind::success, .message = "3 tracks copied to USB"});
}

TEST_F(LocalFaults, CachedFileChangedBeforeTheCycle) {
    runCase({.group = kLocal, .order = 3, .fault = "A cached file changed behind our back before the cycle (a.mp3, same size)",
             .inject = [&] {
                 QByteArray damaged = kTrackA;
                 damaged[100] = char(damaged[100] ^ 0x5a);
                 writeBytes(cached("House/a.mp3"), damaged);
             },
             .outcome = Kind::success, .message = "3 tracks copied to USB"});
}

TEST_F(LocalFaults, CachedFileChangedBetweenCheckAndCopy) {
    runCase({.group = kLocal, .order = 4, .fault = "A cached file changed between its check and its copy to the drive (c.mp3)",
             .inject = [&] {
                 files.beforeEach = [&](Op op, const QString& path) {
                     if (op != Op::copy || !path.contains("Techno/c.mp3")) return;
                     files.beforeEach = nullptr;
                     QByteArray damaged = kTrackC;
                     damaged[5] = char(damaged[5] ^ 0x5a);
                     writeBytes(cached("Techno/c.mp3"), damaged);
                 };
             },
             .message = "Integrity check failed for c.mp3.", .tampered = {"Techno/c.mp3"}});
}

TEST_F(LocalFaults, IoErrorFlushingTheLibraryRename) {
    runCase({.group = kLocal, .order = 5, .fault = "I/O error (EIO) flushing the library's folder after b.mp3 was renamed into place",
             .inject = [&] { files.failAfterDoing(Op::move, "Library/House/b.mp3", EIO, 1); },
             .message = "Could not move House/b.mp3 into place in the library: Input/output error"});
}

}  // namespace
