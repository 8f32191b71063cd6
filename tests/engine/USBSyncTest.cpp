// Bringing a drive up to date: what is written, what is skipped, and the playlist.

#include "engine/USBSyncFixture.h"

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class USBSync : public USBSyncFixture {};

TEST_F(USBSync, CopiesEveryCachedTrackIntoTheDriveFolderAndListsThem) {
    addTrack("House/a.mp3", QByteArray(200000, 'a'));
    addTrack("b.mp3", "bee");
    addTrack("Deep/Sub/Ünï c.flac", QByteArray(3 * 1024 * 1024 + 5, 'c'));
    EXPECT_EQ(sync(), 3);
    EXPECT_EQ(fileBytes(onDrive(volume, "House/a.mp3")), QByteArray(200000, 'a'));
    EXPECT_EQ(fileBytes(onDrive(volume, "b.mp3")), QByteArray("bee"));
    EXPECT_EQ(fileBytes(onDrive(volume, "Deep/Sub/Ünï c.flac")), QByteArray(3 * 1024 * 1024 + 5, 'c'));
    EXPECT_EQ(fileBytes(playlist()).toStdString(),
              "#EXTM3U\nDJ-Music/Demo Set/House/a.mp3\nDJ-Music/Demo Set/b.mp3\nDJ-Music/Demo Set/Deep/Sub/Ünï c.flac\n");
    EXPECT_EQ(filesBelow(volume),
              (QStringList{".dj-sync.json", "DJ-Music/Demo Set/Deep/Sub/Ünï c.flac", "DJ-Music/Demo Set/House/a.mp3",
                           "DJ-Music/Demo Set/b.mp3", "Spinforge \u2014 DJ Demo.m3u8"}));
}

TEST_F(USBSync, AnUpToDateDriveGetsNothingButAFreshPlaylist) {
    addTrack("a.mp3", "one");
    ASSERT_EQ(sync(), 1);
    QFile::remove(playlist());
    const int copies = files.calls(Op::copy);
    EXPECT_EQ(sync(), 0);
    EXPECT_EQ(files.calls(Op::copy), copies);
    EXPECT_TRUE(QFile::exists(playlist()));
}

TEST_F(USBSync, ReplacesDamagedCopiesOnTheDrive) {
    addTrack("same-size.mp3", "correct!");
    addTrack("short.mp3", "the full track");
    writeBytes(onDrive(volume, "same-size.mp3"), "damaged!");
    writeBytes(onDrive(volume, "short.mp3"), "the fu");
    EXPECT_EQ(sync(), 2);
    EXPECT_EQ(fileBytes(onDrive(volume, "same-size.mp3")), QByteArray("correct!"));
    EXPECT_EQ(fileBytes(onDrive(volume, "short.mp3")), QByteArray("the full track"));
}

TEST_F(USBSync, TracksNotValidInTheCacheAreListedButNotCopied) {
    addTrack("missing.mp3", "never cached", false);
    addTrack("damaged.mp3", "cached wrong");
    writeBytes(cached("damaged.mp3"), "cached WRONG");
    writeBytes(onDrive(volume, "damaged.mp3"), "an older copy");
    addTrack("fine.mp3", "fine");
    EXPECT_EQ(sync(), 1);
    EXPECT_FALSE(QFile::exists(onDrive(volume, "missing.mp3")));
    EXPECT_EQ(fileBytes(onDrive(volume, "damaged.mp3")), QByteArray("an older copy"));
    EXPECT_EQ(fileBytes(playlist()).toStdString(),
              "#EXTM3U\nDJ-Music/Demo Set/missing.mp3\nDJ-Music/Demo Set/damaged.mp3\nDJ-Music/Demo Set/fine.mp3\n");
}

TEST_F(USBSync, LeftoverPartialsGoOnlyWhereATrackIsWrittenAgain) {
    addTrack("needed.mp3", "needed");
    addTrack("present.mp3", "present");
    writeBytes(onDrive(volume, "present.mp3"), "present");
    writeBytes(onDrive(volume, "needed.mp3.spinforge-partial"), "interrupted copy");
    writeBytes(onDrive(volume, "present.mp3.spinforge-partial"), "interrupted copy");
    EXPECT_EQ(sync(), 1);
    EXPECT_FALSE(QFile::exists(onDrive(volume, "needed.mp3.spinforge-partial")));
    EXPECT_EQ(fileBytes(onDrive(volume, "needed.mp3")), QByteArray("needed"));
    EXPECT_TRUE(QFile::exists(onDrive(volume, "present.mp3.spinforge-partial")));
}

TEST_F(USBSync, UpperCaseDigestsAreAccepted) {
    addTrack("a.mp3", "loud").sha256 = digestOf("loud").toUpper();
    EXPECT_EQ(sync(), 1);
    EXPECT_EQ(sync(), 0);
}

TEST_F(USBSync, FilesTheManifestDoesNotNameAreLeftExactlyAsTheyWere) {
    const QStringList others{"Music/own.mp3", "DJ-Music/Other Account/x.mp3", "DJ-Music/Demo Set/dropped.mp3",
                             "Spinforge \u2014 Old Name.m3u8", "DJ-Music/Demo Set/a.mp3.bak", ".Trashes/y"};
    for (const QString& other : others) writeBytes(volume + u'/' + other, other.toUtf8());
    addTrack("a.mp3", "new");
    EXPECT_EQ(sync(), 1);
    for (const QString& other : others) EXPECT_EQ(fileBytes(volume + u'/' + other), other.toUtf8()) << other.toStdString();
}

TEST_F(USBSync, AnEmptyManifestMakesTheFolderAndABarePlaylist) {
    EXPECT_EQ(sync(), 0);
    EXPECT_TRUE(QFileInfo(volume + "/DJ-Music/Demo Set").isDir());
    EXPECT_EQ(fileBytes(playlist()), QByteArray("#EXTM3U\n"));
}

TEST_F(USBSync, ThePlaylistIsNamedAfterTheDisplayNameAsItIs) {
    manifest.profile.displayName = QStringLiteral("Zoë  & Co");
    EXPECT_EQ(sync(), 0);
    EXPECT_TRUE(QFile::exists(volume + QStringLiteral("/Spinforge \u2014 Zoë  & Co.m3u8")));
}

TEST_F(USBSync, NamesFromTheServiceThatWouldEscapeAreRefusedBeforeAnyWrite) {
    addTrack("a.mp3", "a");
    const auto refuses = [&](const std::function<void(spinforge::Manifest&)>& spoil) {
        spinforge::Manifest spoiled = manifest;
        spoil(spoiled);
        EXPECT_THROW(engine().syncUSB(volume, spoiled), std::invalid_argument);
    };
    refuses([](spinforge::Manifest& m) { m.profile.folder = QStringLiteral("../../outside"); });
    refuses([](spinforge::Manifest& m) { m.profile.displayName = QStringLiteral("../x"); });
    refuses([](spinforge::Manifest& m) { m.tracks[0].relativePath = QStringLiteral("../../../a.mp3"); });
    EXPECT_EQ(filesBelow(volume), QStringList{".dj-sync.json"});
    EXPECT_EQ(files.calls(Op::copy), 0);
}

}  // namespace
