// The drive misbehaving: full, turned read-only, pulled out mid-copy, left with a killed run's
// partial files, failing with I/O errors, and FAT's own refusals.

#include "faults/FaultMatrix.h"

#include <QFile>

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class DriveFaults : public FaultMatrix {};

constexpr const char* kDrive = "Drive";

TEST_F(DriveFaults, FullMidTrack) {
    FaultCase faultCase{.group = kDrive, .order = 1, .fault = "The drive fills up in the middle of b.mp3 (ENOSPC)",
                        .message = "Could not copy House/b.mp3 to DJSTICK: No space left on device"};
    if (realDrives()) {
        // Room for what is there and part of the new b.mp3, which is staged beside the old one.
        faultCase.inject = [&] { realDrive()->remount(0, "size=256k"); };
        faultCase.clear = [&] { realDrive()->remount(0, "size=4m"); };
    } else {
        faultCase.inject = [&] { files.failOn(Op::copy, "House/b.mp3", ENOSPC); };
    }
    runCase(faultCase);
}

TEST_F(DriveFaults, ReadOnlyBetweenCycles) {
    FaultCase faultCase{.group = kDrive, .order = 2, .fault = "The drive is remounted read-only between cycles",
                        .outcome = Kind::success, .message = "3 tracks cached \u2014 connect USB"};
    if (realDrives()) {
        faultCase.inject = [&] { realDrive()->remount(MS_RDONLY); };
        faultCase.clear = [&] { realDrive()->remount(0); };
    } else {
        faultCase.inject = [&] { files.failOn(Op::isWritable, volume, EROFS); };
    }
    runCase(faultCase);
}

TEST_F(DriveFaults, UnmountedLazilyMidCopy) {
    useExt4Drive();  // its files outlive the mount, so the next cycle finds what reached it
    bool pulled = false;
    runCase({.group = kDrive, .order = 3, .fault = "The drive is unmounted (lazily) while c.mp3 is copied",
             .inject = [&] {
                 files.beforeEach = [&](Op op, const QString& path) {
                     if (op == Op::copy && path.contains("Techno/c.mp3") && !std::exchange(pulled, true)) takeDriveAway();
                 };
             },
             .clear = [&] {
                 files.beforeEach = nullptr;
                 bringDriveBack();
             },
             .message = "Could not copy Techno/d.mp3 to DJSTICK: the drive is no longer mounted"});
}

TEST_F(DriveFaults, LeftoversOfAKilledRun) {
    runCase({.group = kDrive, .order = 4, .fault = "Half-written .spinforge-partial files of a killed run, on the drive and in the library",
             .inject = [&] {
                 writeBytes(onDrive("House/b.mp3") + ".spinforge-partial", kTrackB.left(70000));
                 writeBytes(cached("Techno/c.mp3") + ".spinforge-partial", kTrackC.left(30000));
             },
             .outcome = Kind::success, .message = "3 tracks copied to USB"});
}

TEST_F(DriveFaults, IoErrorOnWrite) {
    runCase({.group = kDrive, .order = 5, .fault = "I/O error (EIO) writing c.mp3",
             .inject = [&] { files.failOn(Op::copy, "Techno/c.mp3", EIO, 1); }, .message = "Could not copy Techno/c.mp3 to DJSTICK: Input/output error"});
}

TEST_F(DriveFaults, IoErrorOnFlush) {
    runCase({.group = kDrive, .order = 6, .fault = "I/O error (EIO) from fsync after c.mp3's bytes were written",
             .inject = [&] { files.failAfterDoing(Op::copy, "Techno/c.mp3", EIO, 1); }, .message = "Could not copy Techno/c.mp3 to DJSTICK: Input/output error"});
}

TEST_F(DriveFaults, IoErrorFlushingTheRename) {
    runCase({.group = kDrive, .order = 7, .fault = "I/O error (EIO) flushing the folder after b.mp3 was renamed into place",
             .inject = [&] { files.failAfterDoing(Op::move, "Demo Set/House/b.mp3", EIO, 1); }, .message = "Could not move House/b.mp3 into place on DJSTICK: Input/output error"});
}

TEST_F(DriveFaults, FatRefusesAName) {
    runCase({.group = kDrive, .order = 8, .fault = "FAT refuses a name with ':' and '?' (EINVAL, through the seam)",
             .inject = [&] { files.emulateFat(volume); }, .clear = [&] { files.emulateFat({}); }, .message = "Could not copy Live/Intro: Berlin?.mp3 to DJSTICK: the drive does not accept this file name (FAT drives refuse the characters : * ? \" < > | \\)",
             .extraTracks = {{"Live/Intro: Berlin?.mp3", noise(20 * 1024, 6).toStdString()}}});
}

TEST_F(DriveFaults, FatFileTooLarge) {
    runCase({.group = kDrive, .order = 9,
             .fault = "A file past FAT's size limit (EFBIG, through the seam; the limit scaled from 4 GiB \u2212 1 to 100 KiB)",
             .inject = [&] { files.emulateFat(volume, 100 * 1024); }, .clear = [&] { files.emulateFat({}); },
             .message = "Could not copy House/b.mp3 to DJSTICK: the file is too large for the drive (FAT drives hold files of at most 4 GiB \u2212 1 byte)"});
}

TEST_F(DriveFaults, FatCaseOnlyNames) {
    runCase({.group = kDrive, .order = 10, .fault = "Two tracks differing only in letter case, House/A.mp3 and House/a.mp3, on FAT (through the seam)",
             .inject = [&] { files.emulateFat(volume); }, .clear = [&] { files.emulateFat({}); }, .message = "Could not copy House/A.mp3 to DJSTICK: the drive does not tell capital from small letters, so it can't hold both House/A.mp3 and House/a.mp3",
             .extraTracks = {{"House/A.mp3", noise(24 * 1024, 7).toStdString()}}});
}

// The same refusals from the kernel's own FAT driver, where it has one.
TEST_F(DriveFaults, RealFatImage) {
    const FaultCase faultCase{.group = kDrive, .order = 11, .fault = "A real FAT image: the name with ':' and the case-only pair"};
    QFile filesystems("/proc/filesystems");
    const bool kernelHasVfat = filesystems.open(QIODevice::ReadOnly) && filesystems.readAll().contains("\tvfat\n");
    if (!realDrives()) return skipCase(faultCase, *whyFolderDrives());
    if (!kernelHasVfat) return skipCase(faultCase, "this kernel has no vfat driver");
    if (findTool("mkfs.vfat").isEmpty()) return skipCase(faultCase, "mkfs.vfat (dosfstools) is not installed");
    GTEST_FAIL() << "a kernel with vfat: extend this case to mount a FAT image";
}

}  // namespace
