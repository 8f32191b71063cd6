// Sync cycles onto drives the kernel really mounted: which mounts count as drives, what reaches
// the device and is still there after an unmount, and what is left when a drive fills up, turns
// read-only, refuses a name or goes away in the middle of a copy.

#include "engine/RealDriveFixture.h"

#include <gmock/gmock.h>

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

const QString kLibraryReady = QStringLiteral("Library ready \u2014 connect USB");
const QString kPlaylistName = QStringLiteral("Spinforge \u2014 DJ Demo.m3u8");

// Drives that take everything they are given.
class RealDriveSync : public RealDriveFixture {};

TEST_F(RealDriveSync, ARegisteredTmpfsUnderMediaReceivesTheWholeLibraryAndAnUnregisteredOneNothing) {
    serve({{"House/1 - Opening.mp3", noise(30000, 1)},
           {"House/2 - Peak.mp3", noise(30001, 2)},
           {"Outro.mp3", noise(20000, 3)}});
    RealDrive& stick = tmpfsDrive("DJSTICK");
    RealDrive& blank = tmpfsDrive("BLANK");
    EXPECT_EQ(ourVolumes(), (QStringList{stick.path(), blank.path()}));

    await(engine().registerUSB(stick.path()));
    const std::optional<spinforge::USBMarker> marker =
        spinforge::USBMarker::decode(fileBytes(stick.path() + u'/' + spinforge::USBMarker::fileName));
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(marker->profileId, kProfileId);

    await(engine().sync("test"));

    EXPECT_EQ(states.last(), State::success("3 tracks copied to USB"));
    expectEveryTrackOn(stick);
    EXPECT_EQ(fileBytes(playlistOn(stick)), playlistOfServed());
    // Nothing else: no partial copy, no staging file of the playlist or marker.
    EXPECT_EQ(filesBelow(stick.path()),
              (QStringList{".dj-sync.json", "DJ-Music/Demo Set/House/1 - Opening.mp3",
                           "DJ-Music/Demo Set/House/2 - Peak.mp3", "DJ-Music/Demo Set/Outro.mp3", kPlaylistName}));
    EXPECT_EQ(entriesOf(blank.path()), QStringList());
    const nlohmann::json reports = server->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["track_count"], 3);
    EXPECT_EQ(reports[0]["synced"], true);
}

TEST_F(RealDriveSync, TracksOnAnExt4DriveAreStillThereAfterItIsUnmountedAndMountedAgain) {
    if (!canUseImages("mkfs.ext4")) GTEST_SKIP() << "needs loop devices, losetup and mkfs.ext4";
    serve({{"A/one.mp3", noise(40000, 4)}, {"B/two.mp3", noise(40000, 5)}});
    RealDrive& stick = ext4Drive("DJSTICK");
    await(engine().registerUSB(stick.path()));
    await(engine().sync("fills the drive"));
    ASSERT_EQ(states.last(), State::success("2 tracks copied to USB"));
    const QMap<QString, QByteArray> written = contentsOf(stick.path());

    // A new loop device, so what is read next comes from the image, not from the old mount.
    stick.eject();
    stick.mountImage("ext4");

    EXPECT_EQ(contentsOf(stick.path()), written);
    expectEveryTrackOn(stick);
    EXPECT_EQ(fileBytes(playlistOn(stick)), playlistOfServed());
    // The tracks verify as they lie on the device, so nothing is copied again.
    await(engine().sync("again"));
    EXPECT_EQ(states.last(), State::success("USB is up to date"));
    ASSERT_EQ(server->reports().size(), 2u);
    EXPECT_EQ(server->reports()[1]["synced"], true);
}

// A drive the kernel mounted read-only: write-protected sticks, or a file system the kernel
// turned read-only after an error.
class RealDriveReadOnly : public RealDriveFixture {};

TEST_F(RealDriveReadOnly, OnlyWritableMountsAreDrives) {
    RealDrive& locked = mountFolder("LOCKED");
    locked.mountTmpfs("size=1m", MS_RDONLY);
    RealDrive& stick = tmpfsDrive("DJSTICK");
    EXPECT_EQ(ourVolumes(), QStringList{stick.path()});
    stick.remount(MS_RDONLY);
    EXPECT_EQ(ourVolumes(), QStringList());
    stick.remount(0);
    EXPECT_EQ(ourVolumes(), QStringList{stick.path()});
}

TEST_F(RealDriveReadOnly, ARegisteredDriveRemountedReadOnlyBetweenCyclesIsLeftAlone) {
    serve({{"a.mp3", noise(5000, 6)}, {"b.mp3", noise(5000, 7)}});
    RealDrive& stick = tmpfsDrive("DJSTICK");
    await(engine().registerUSB(stick.path()));
    await(engine().sync("fills the drive"));
    ASSERT_EQ(states.last(), State::success("2 tracks copied to USB"));
    // Were it writable, the next cycle would put the track back and rewrite the playlist.
    ASSERT_TRUE(QFile::remove(onDrive(stick, "b.mp3")));
    writeBytes(playlistOn(stick), "an edited playlist");
    const QMap<QString, QByteArray> before = contentsOf(stick.path());
    stick.remount(MS_RDONLY);

    await(engine().sync("read-only"));

    EXPECT_EQ(states.last(), State::success(kLibraryReady));
    EXPECT_EQ(contentsOf(stick.path()), before);
    ASSERT_EQ(server->reports().size(), 2u);
    EXPECT_EQ(server->reports()[1]["synced"], false);
}

class RealDriveFull : public RealDriveFixture {};

TEST_F(RealDriveFull, AFullDriveStopsAtTheTrackThatDoesNotFitAndTheNextCycleFinishesOnceThereIsRoom) {
    // 256 KiB hold the marker, the playlist, two tracks and part of the third.
    serve({{"Set/1.mp3", noise(100000, 8)}, {"Set/2.mp3", noise(100000, 9)}, {"Set/3.mp3", noise(100000, 10)}});
    RealDrive& stick = tmpfsDrive("DJSTICK", "size=256k,mode=0755");
    await(engine().registerUSB(stick.path()));
    writeBytes(playlistOn(stick), "the old playlist");
    const QByteArray marker = fileBytes(stick.path() + u'/' + spinforge::USBMarker::fileName);

    await(engine().sync("fills up"));

    EXPECT_EQ(states.last(), State::failed("Could not copy Set/3.mp3 to DJSTICK: No space left on device"));
    // The copy that failed is gone, partial file and all; what was finished before is whole.
    EXPECT_EQ(filesBelow(stick.path()), (QStringList{".dj-sync.json", "DJ-Music/Demo Set/Set/1.mp3",
                                                      "DJ-Music/Demo Set/Set/2.mp3", kPlaylistName}));
    EXPECT_EQ(fileBytes(onDrive(stick, "Set/1.mp3")), served[0].second);
    EXPECT_EQ(fileBytes(onDrive(stick, "Set/2.mp3")), served[1].second);
    EXPECT_EQ(fileBytes(playlistOn(stick)), QByteArray("the old playlist"));
    EXPECT_EQ(fileBytes(stick.path() + u'/' + spinforge::USBMarker::fileName), marker);
    EXPECT_TRUE(server->reports().empty());

    stick.remount(0, "size=1m");
    await(engine().sync("room again"));

    EXPECT_EQ(states.last(), State::success("1 tracks copied to USB"));
    expectEveryTrackOn(stick);
    EXPECT_EQ(fileBytes(playlistOn(stick)), playlistOfServed());
    ASSERT_EQ(server->reports().size(), 1u);
    EXPECT_EQ(server->reports()[0]["synced"], true);
}

// A drive pulled out: its mount leaves the table and its mount folder, now empty, lies on the
// computer's own disk, where nothing may be written.
class RealDriveGone : public RealDriveFixture {};

TEST_F(RealDriveGone, ADriveUnmountedDuringACopyGetsThatTrackWholeAndItsEmptyFolderNothing) {
    serve({{"Set/1.mp3", noise(20000, 11)}, {"Set/2.mp3", noise(20000, 12)}, {"Set/3.mp3", noise(20000, 13)}});
    RealDrive& stick = tmpfsDrive("DJSTICK");
    await(engine().registerUSB(stick.path()));
    writeBytes(playlistOn(stick), "the old playlist");
    const HeldFolder device(stick.path());
    ASSERT_TRUE(device.isOpen());
    int detached = -1;
    files.beforeEach = [&](Op op, const QString& path) {
        if (op == Op::copy && path.contains("Set/2.mp3") && detached < 0) detached = stick.detachLazily();
    };

    await(engine().sync("pulled out"));

    ASSERT_EQ(detached, 0) << std::strerror(detached);
    EXPECT_EQ(states.last(), State::failed("Could not copy Set/3.mp3 to DJSTICK: the drive is no longer mounted"));
    EXPECT_EQ(entriesOf(stick.path()), QStringList());
    EXPECT_FALSE(stick.isMounted());
    // On the drive itself: the copy under way when it left finished whole, nothing after it.
    EXPECT_EQ(filesBelow(device.path()), (QStringList{".dj-sync.json", "DJ-Music/Demo Set/Set/1.mp3",
                                                       "DJ-Music/Demo Set/Set/2.mp3", kPlaylistName}));
    EXPECT_EQ(fileBytes(device.path() + "/DJ-Music/Demo Set/Set/1.mp3"), served[0].second);
    EXPECT_EQ(fileBytes(device.path() + "/DJ-Music/Demo Set/Set/2.mp3"), served[1].second);
    EXPECT_EQ(fileBytes(device.path() + u'/' + kPlaylistName), QByteArray("the old playlist"));
    EXPECT_TRUE(server->reports().empty());
}

// The engine asks the mount table before each write, but the drive can leave between the answer
// and the write. The write goes through the handle the engine holds on the drive, so it lands on
// the drive, never in the empty mount folder; and the report no longer counts the drive.
TEST_F(RealDriveGone, ADriveUnmountedJustBeforeThePlaylistIsWrittenStillGetsItAndItsEmptyFolderNothing) {
    serve({{"a.mp3", noise(1000, 14)}});
    RealDrive& stick = tmpfsDrive("DJSTICK");
    writeMarker(stick.path());
    const HeldFolder device(stick.path());
    ASSERT_TRUE(device.isOpen());
    int detached = -1;
    files.beforeEach = [&](Op op, const QString& path) {
        if (op == Op::writeAtomically && path.endsWith(".m3u8") && detached < 0) detached = stick.detachLazily();
    };

    await(engine().sync("pulled out"));

    ASSERT_EQ(detached, 0) << std::strerror(detached);
    EXPECT_EQ(entriesOf(stick.path()), QStringList());
    EXPECT_EQ(states.last(), State::success("1 tracks copied to USB"));
    EXPECT_EQ(fileBytes(device.path() + u'/' + kPlaylistName), playlistOfServed());
    ASSERT_EQ(server->reports().size(), 1u);
    EXPECT_EQ(server->reports()[0]["synced"], false);
}

class RealDriveMountEvent : public RealDriveFixture {};

TEST_F(RealDriveMountEvent, MountingARegisteredDriveStartsACycleThatFillsIt) {
    if (!canUseImages("mkfs.ext4")) GTEST_SKIP() << "needs loop devices, losetup and mkfs.ext4";
    serve({{"a.mp3", noise(10000, 15)}, {"b.mp3", noise(10000, 16)}});
    // Registered in an earlier session: the cycle that the mount starts reads the marker, so it
    // must be on the drive before the mount appears, which only a drive with a device allows.
    RealDrive& stick = ext4Drive("DJSTICK");
    writeMarker(stick.path());
    stick.eject();

    watchMounts();
    engine().start();
    ASSERT_TRUE(waitForCycleAfter(0));
    ASSERT_EQ(states.last(), State::success("2 tracks cached \u2014 connect USB"));

    qsizetype before = states.size();
    RealDrive& blank = tmpfsDrive("BLANK");
    ASSERT_TRUE(waitForCycleAfter(before));
    EXPECT_EQ(states.last(), State::success(kLibraryReady));
    EXPECT_EQ(entriesOf(blank.path()), QStringList());

    before = states.size();
    stick.mountImage("ext4");
    ASSERT_TRUE(waitForCycleAfter(before));
    EXPECT_EQ(states.last(), State::success("2 tracks copied to USB"));
    expectEveryTrackOn(stick);
    EXPECT_EQ(fileBytes(playlistOn(stick)), playlistOfServed());
    const nlohmann::json reports = server->reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2]["synced"], true);
}

class RealDriveFat : public RealDriveFixture {
protected:
    void SetUp() override {
        RealDriveFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        bool hasDriver = false;
        for (const QByteArray& line : fileBytes("/proc/filesystems").split('\n'))
            hasDriver = hasDriver || line.trimmed().endsWith("\tvfat") || line.trimmed() == "vfat";
        if (!hasDriver) GTEST_SKIP() << "this kernel has no vfat driver";
        if (!canUseImages("mkfs.vfat")) GTEST_SKIP() << "needs loop devices, losetup and mkfs.vfat (dosfstools)";
    }
};

TEST_F(RealDriveFat, ANameFatRefusesStopsTheCycleInPlainWordsAndKeepsWhatWasCopied) {
    serve({{"1.mp3", noise(3000, 17)}, {"Live: Berlin.mp3", noise(3000, 18)}});
    RealDrive& stick = mountFolder("DJSTICK");
    stick.format("mkfs.vfat", {}, 8);
    // As desktop automounters mount FAT: names in UTF-8 (the playlist's name has a dash that
    // needs it), their case kept as given.
    stick.mountImage("vfat", 0, "utf8=1,shortname=mixed");
    await(engine().registerUSB(stick.path()));
    writeBytes(playlistOn(stick), "the old playlist");

    await(engine().sync("fat"));

    EXPECT_EQ(states.last(), State::failed(QStringLiteral(
                                 "Could not copy Live: Berlin.mp3 to DJSTICK: the drive does not accept this file name "
                                 "(FAT drives refuse the characters : * ? \" < > | \\)")));
    EXPECT_EQ(filesBelow(stick.path()), (QStringList{".dj-sync.json", "DJ-Music/Demo Set/1.mp3", kPlaylistName}));
    EXPECT_EQ(fileBytes(onDrive(stick, "1.mp3")), served[0].second);
    EXPECT_EQ(fileBytes(playlistOn(stick)), QByteArray("the old playlist"));
}

}  // namespace
