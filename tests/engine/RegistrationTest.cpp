// Registering a drive: the marker it writes, the first copy of the library, and what is left
// when something fails on the way. The engine here keeps its token in the session's real keyring.

#include "engine/EngineFixture.h"
#include "platform/SecretServiceKeyring.h"
#include "records/SpinforgeError.h"

#include <QRegularExpression>

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class Registration : public EngineFixture {
protected:
    void SetUp() override {
        keyringInUse = &realKeyring;
        serve({{"House/a.mp3", "track a"}});
        preCache("House/a.mp3");
    }
    std::string failureOf(const QString& volume) {
        return testing_support::failureOf([&] { await(engine().registerUSB(volume)); });
    }
    int manifestFetches() { return server->counters()["manifest"].get<int>(); }

    spinforge::SecretServiceKeyring realKeyring;
};

TEST_F(Registration, OnlyDrivesWhereRemovableDrivesAreMountedCanBeRegistered) {
    QDir().mkpath(root.filePath("mediastick"));
    for (const QString& volume : {QStringLiteral("/Volumes/DJSTICK"), root.filePath("media"), root.filePath("media/"),
                                  root.filePath("media/../mediastick"), root.filePath("mediastick")}) {
        EXPECT_EQ(failureOf(volume), "Choose a removable drive mounted under /Volumes.") << volume.toStdString();
    }
    EXPECT_EQ(manifestFetches(), 0);
    EXPECT_TRUE(filesBelow(root.filePath("mediastick")).isEmpty());
    EXPECT_TRUE(states.isEmpty());
}

TEST_F(Registration, WritesTheMarkerForTheCurrentProfileAndCopiesTheLibrary) {
    const QString volume = addDrive("DJ STICK", 3);  // registered to another account until now
    const QString before = spinforge::USBMarker::timestamp(QDateTime::currentDateTimeUtc());
    await(engine().registerUSB(volume));
    const QString after = spinforge::USBMarker::timestamp(QDateTime::currentDateTimeUtc());

    const QByteArray marker = fileBytes(volume + "/.dj-sync.json");
    const QRegularExpression expected(
        R"re(^\{"version":1,"profile_id":7,"profile_name":"DJ Demo","library_folder":"DJ-Music/Demo Set","registered_at":"([0-9T:Z-]{20})"\}$)re");
    const QRegularExpressionMatch match = expected.match(QString::fromUtf8(marker));
    ASSERT_TRUE(match.hasMatch()) << marker.toStdString();
    EXPECT_GE(match.captured(1), before);
    EXPECT_LE(match.captured(1), after);

    EXPECT_EQ(fileBytes(onDrive(volume, "House/a.mp3")), QByteArray("track a"));
    EXPECT_TRUE(QFile::exists(volume + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8")));
    EXPECT_EQ(states, QList<State>{State::success("Registered DJ STICK")});
    EXPECT_EQ(engine().registeredVolumes(kProfileId), QStringList{volume});
}

TEST_F(Registration, FetchesAManifestOnlyWhenNoneIsKept) {
    await(engine().registerUSB(addDrive("ONE", std::nullopt)));
    await(engine().registerUSB(addDrive("TWO", std::nullopt)));
    EXPECT_EQ(manifestFetches(), 1);
}

TEST_F(Registration, SucceedsWhenNothingCouldBeCopied) {
    QFile::remove(cached("House/a.mp3"));
    const QString volume = addDrive("EMPTY", std::nullopt);
    await(engine().registerUSB(volume));
    EXPECT_EQ(states, QList<State>{State::success("Registered EMPTY")});
    EXPECT_FALSE(QFile::exists(onDrive(volume, "House/a.mp3")));
}

TEST_F(Registration, WithoutATokenNothingIsWritten) {
    realKeyring.erase("com.spinforge.mac", "device-token");
    const QString volume = addDrive("DJSTICK", std::nullopt);
    EXPECT_EQ(failureOf(volume), "Sign in to this Mac first.");
    EXPECT_TRUE(filesBelow(volume).isEmpty());
    EXPECT_TRUE(states.isEmpty());
}

TEST_F(Registration, AFailedFirstCopyLeavesTheDriveRegistered) {
    const QString volume = addDrive("DJSTICK", std::nullopt);
    files.failOn(Op::copy, "House/a.mp3", ENOSPC);
    EXPECT_EQ(failureOf(volume), "Could not copy House/a.mp3 to DJSTICK: No space left on device");
    EXPECT_EQ(engine().registeredVolumes(kProfileId), QStringList{volume});
    EXPECT_TRUE(states.isEmpty());
}

TEST_F(Registration, ADriveThatVanishedBeforeRegistrationGetsNothing) {
    const QString volume = addDrive("DJSTICK", std::nullopt);
    unmount(volume);  // its empty mount folder stays behind on the computer's own disk
    EXPECT_EQ(failureOf(volume), "Could not register DJSTICK: the drive is no longer mounted");
    EXPECT_TRUE(filesBelow(volume).isEmpty());
}

TEST_F(Registration, ADriveMadeReadOnlyBeforeRegistrationSaysSo) {
    const QString volume = addDrive("DJSTICK", std::nullopt);
    files.failOn(Op::isWritable, volume, EROFS);
    EXPECT_EQ(failureOf(volume), "Could not register DJSTICK: the drive is read-only");
    EXPECT_TRUE(filesBelow(volume).isEmpty());
}

TEST_F(Registration, AMarkerThatCannotBeWrittenLeavesTheOldOne) {
    const QString volume = addDrive("DJSTICK", 3);
    const QByteArray old = fileBytes(volume + "/.dj-sync.json");
    files.failOn(Op::writeAtomically, ".dj-sync.json", EROFS);
    EXPECT_EQ(failureOf(volume), "Could not write the marker .dj-sync.json on DJSTICK: Read-only file system");
    EXPECT_EQ(fileBytes(volume + "/.dj-sync.json"), old);
    EXPECT_FALSE(QFile::exists(onDrive(volume, "House/a.mp3")));
}

}  // namespace
