// A drive sync that fails: the words the DJ reads, and what is left on the drive. Every failure
// stops the sync, keeps what was finished before it, and leaves nothing half-written under a
// track's own name.

#include "engine/USBSyncFixture.h"
#include "records/SpinforgeError.h"

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class USBSyncFailure : public USBSyncFixture {
protected:
    void SetUp() override {
        USBSyncFixture::SetUp();
        addTrack("House/a.mp3", "first track");
        addTrack("House/b.mp3", "second track");
        addTrack("c.mp3", "third track");
        writeBytes(playlist(), "the old playlist");
    }
    // Nothing below the drive folder but finished tracks with their exact bytes.
    void expectOnlyWholeTracks(const QStringList& expected) {
        QStringList present;
        for (const QString& path : filesBelow(volume + "/DJ-Music/Demo Set")) {
            present << path;
            for (const spinforge::Track& track : manifest.tracks) {
                if (track.relativePath == path) {
                    EXPECT_EQ(digestOf(fileBytes(onDrive(volume, path))), track.sha256) << path.toStdString();
                }
            }
        }
        EXPECT_EQ(present, expected);
    }
};

TEST_F(USBSyncFailure, AFullDriveNamesTheTrackAndTheDrive) {
    files.failOn(Op::copy, "House/b.mp3", ENOSPC);
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not copy House/b.mp3 to DJSTICK: No space left on device");
    expectOnlyWholeTracks({"House/a.mp3"});
    EXPECT_EQ(fileBytes(playlist()), QByteArray("the old playlist"));
}

TEST_F(USBSyncFailure, FatRefusalsAreExplainedInPlainWords) {
    files.emulateFat(volume);
    addTrack("Live: Berlin?.mp3", "colon");
    const std::string text = failureOf([&] { sync(); });
    EXPECT_EQ(text, "Could not copy Live: Berlin?.mp3 to DJSTICK: the drive does not accept this file name "
                    "(FAT drives refuse the characters : * ? \" < > | \\)");
    expectOnlyWholeTracks({"House/a.mp3", "House/b.mp3", "c.mp3"});
}

// On FAT "Intro.mp3" and "INTRO.mp3" are one file: copying the one overwrote the other, and every
// cycle swapped them back while reporting success. Nothing of the pair is written there now, not
// even the first, which could overwrite a copy of the second put there by an earlier cycle.
TEST_F(USBSyncFailure, TracksWhoseNamesDifferOnlyInCaseNeverOverwriteEachOtherOnFat) {
    files.emulateFat(volume);
    addTrack("Sets/Intro.mp3", "capital");
    addTrack("sets/INTRO.mp3", "small");
    writeBytes(onDrive(volume, "sets/INTRO.mp3"), "small");
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not copy Sets/Intro.mp3 to DJSTICK: the drive does not tell capital "
                                          "from small letters, so it can't hold both Sets/Intro.mp3 and sets/INTRO.mp3");
    EXPECT_EQ(fileBytes(onDrive(volume, "sets/INTRO.mp3")), QByteArray("small"));
    EXPECT_FALSE(QFile::exists(onDrive(volume, "Sets/Intro.mp3")));
    // A drive that tells them apart takes both.
    files.emulateFat({});
    EXPECT_EQ(sync(), 4);
    EXPECT_EQ(fileBytes(onDrive(volume, "Sets/Intro.mp3")), QByteArray("capital"));
}

TEST_F(USBSyncFailure, AFileTooLargeForFatIsExplained) {
    // One byte past what FAT can hold, as a sparse file so the test costs no disk.
    const qint64 size = qint64(1) << 32;
    {
        QDir().mkpath(cached("Long"));
        QFile big(cached("Long/set.wav"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(size));
    }
    spinforge::Track track = trackOf("Long/set.wav", {});
    track.sha256 = QStringLiteral("8479e43911dc45e89f934fe48d01297e16f51d17aa561d4d1c216b1ae0fcddca");  // 4 GiB of zeros
    track.byteSize = size;
    manifest.tracks = {track};
    files.emulateFat(volume);
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not copy Long/set.wav to DJSTICK: the file is too large for the drive "
                                          "(FAT drives hold files of at most 4 GiB \u2212 1 byte)");
    EXPECT_FALSE(QFile::exists(onDrive(volume, "Long/set.wav")));
}

TEST_F(USBSyncFailure, ACopyThatDoesNotVerifyIsRemovedAndTheOldTrackKept) {
    writeBytes(onDrive(volume, "House/b.mp3"), "an older b");
    // The cached file changes between its check and the copy, as if another program wrote it.
    files.beforeEach = [&](Op op, const QString& path) {
        if (op == Op::copy && path.contains("House/b.mp3")) writeBytes(cached("House/b.mp3"), "SECOND TRACK");
    };
    try {
        sync();
        FAIL() << "expected a checksum failure";
    } catch (const spinforge::SpinforgeError& error) {
        EXPECT_STREQ(error.what(), "Integrity check failed for b.mp3.");
    }
    EXPECT_EQ(fileBytes(onDrive(volume, "House/b.mp3")), QByteArray("an older b"));
    EXPECT_FALSE(QFile::exists(onDrive(volume, "House/b.mp3.spinforge-partial")));
}

TEST_F(USBSyncFailure, AMoveThatFailsKeepsTheOldTrack) {
    writeBytes(onDrive(volume, "House/b.mp3"), "an older b");
    files.failOn(Op::move, "House/b.mp3", EIO);
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not move House/b.mp3 into place on DJSTICK: Input/output error");
    EXPECT_EQ(fileBytes(onDrive(volume, "House/b.mp3")), QByteArray("an older b"));
    EXPECT_EQ(fileBytes(onDrive(volume, "House/a.mp3")), QByteArray("first track"));
}

TEST_F(USBSyncFailure, FoldersThatCannotBeMadeAreNamed) {
    files.failOn(Op::createFolders, "Demo Set/House", EROFS);
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not create the folder DJ-Music/Demo Set/House on DJSTICK: Read-only file system");
    files.failOn(Op::createFolders, "Demo Set", EROFS);
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not create the folder DJ-Music/Demo Set on DJSTICK: Read-only file system");
}

TEST_F(USBSyncFailure, APlaylistThatCannotBeWrittenFailsAfterTheTracks) {
    files.failOn(Op::writeAtomically, "Spinforge", ENOSPC);
    EXPECT_EQ(failureOf([&] { sync(); }),
              "Could not write the playlist Spinforge \u2014 DJ Demo.m3u8 on DJSTICK: No space left on device");
    expectOnlyWholeTracks({"House/a.mp3", "House/b.mp3", "c.mp3"});
    EXPECT_EQ(fileBytes(playlist()), QByteArray("the old playlist"));
}

TEST_F(USBSyncFailure, ADriveThatIsGoneGetsNothingMoreWritten) {
    // The drive is pulled out while the first track is copied; its empty mount folder stays.
    files.beforeEach = [&](Op op, const QString& path) {
        if (op == Op::copy && path.contains("House/a.mp3")) unmount(volume);
    };
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not copy House/b.mp3 to DJSTICK: the drive is no longer mounted");
    expectOnlyWholeTracks({"House/a.mp3"});
    EXPECT_EQ(fileBytes(playlist()), QByteArray("the old playlist"));
    EXPECT_EQ(failureOf([&] { sync(); }), "Could not sync DJSTICK: the drive is no longer mounted");
}

}  // namespace
