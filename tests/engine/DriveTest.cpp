// The engine's steps one by one: the integrity check, which drives count, a drive sync, drive
// registration and sign-in.

#include "credentials/Keychain.h"
#include "engine/DriveSync.h"
#include "engine/Drives.h"
#include "engine/Integrity.h"
#include "engine/USBMarker.h"
#include "platform/FileNames.h"
#include "support/Await.h"
#include "support/EngineRig.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QtCore/qtestsupport_core.h>

#include <fcntl.h>
#include <unistd.h>

using namespace testing_support;

namespace {

TEST(Integrity, SizeThenTheWholeStreamedDigestDecide) {
    EngineRig rig;
    const spinforge::Folder folder = std::move(*rig.files.openFolder(rig.scratch(""), spinforge::Reach::anywhere));
    const QByteArray block = noise(1024 * 1024, 1);
    struct Check {
        const char* what;
        QByteArray bytes;
        QString sha256;
        qint64 size;
        bool valid;
    };
    const QString empty = QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const Check checks[] = {
        {"the empty file", {}, empty, 0, true},
        {"exactly one block", block, digestOf(block), block.size(), true},
        {"one byte past a block", block + "x", digestOf(block + "x"), block.size() + 1, true},
        {"the last byte changed", block + "x", digestOf(block + "y"), block.size() + 1, false},
        {"an upper-case digest", block, digestOf(block).toUpper(), block.size(), true},
        {"a digest with a space", block, digestOf(block) + u' ', block.size(), false},
        {"the wrong size", block, digestOf(block), block.size() - 1, false},
    };
    for (const Check& check : checks) {
        writeBytes(rig.scratch("file"), check.bytes);
        EXPECT_EQ(spinforge::Integrity::validFile(folder, "file", check.sha256, check.size), check.valid) << check.what;
    }
    EXPECT_FALSE(spinforge::Integrity::validFile(folder, "missing", empty, 0));
}

TEST(Drives, OnlyMountedDrivesRegisteredToTheProfileAreSynced) {
    EngineRig rig;
    const QString ours = rig.addDrive("OURS"), other = rig.addDrive("OTHER", 8), none = rig.addDrive("NONE", std::nullopt);
    writeBytes(none + "/.dj-sync.json", R"({"version":1,"profile_id":"7"})");
    const spinforge::Drives drives(rig.files, rig.seams().volumes);
    const auto registered = [&] {
        QStringList points;
        for (const spinforge::Drive& drive : drives.registeredTo(kProfileId)) points << drive.mountPoint();
        return points;
    };
    EXPECT_EQ(drives.mounted(), (QStringList{ours, other, none}));
    EXPECT_EQ(registered(), QStringList{ours});
    rig.takeDriveAway(ours);
    EXPECT_EQ(registered(), QStringList());

    // A drive is what its held root holds, not a stick of ours mounted there once the root was opened.
    rig.files.onceBefore(FaultyFileSystem::Op::checkWritable, none, [&] {
        rig.takeDriveAway(none);
        rig.mountStrangerAt(none);
        EngineRig::registerDrive(none, kProfileId);
    });
    EXPECT_EQ(registered(), QStringList());
    EXPECT_EQ(registered(), QStringList{none}) << "the stick of ours now there";
}

// Where sticks are stacked at one mount point, the drive is the one on top: the one its path leads to.
TEST(Drives, OfSticksMountedAtOnePointTheOneOnTopIsTheDrive) {
    if (const std::optional<std::string> why = whyUnavailable(Disk::tmpfs)) GTEST_SKIP() << *why;
    EngineRig rig(Disk::tmpfs);
    rig.serve({{"a.mp3", noise(1000, 1)}});
    const QString volume = rig.addDrive("DJSTICK");
    const int below = ::open(QFile::encodeName(volume).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto close = qScopeGuard([below] { ::close(below); });
    rig.addDrive("DJSTICK");  // another stick of the account's, mounted over the first
    rig.runCycle();
    EXPECT_EQ(rig.states.last(), State::success("1 tracks copied to USB"));
    EXPECT_EQ(fileBytes(EngineRig::onDrive(volume, "a.mp3")), noise(1000, 1));
    EXPECT_EQ(filesBelow(QStringLiteral("/proc/self/fd/%1").arg(below)), QStringList{".dj-sync.json"}) << "the hidden stick was written to";
}

// A stick whose label is not UTF-8 is synced like any other, and named readably.
TEST(Drives, ADriveMountedUnderANameThatIsNotTextIsSyncedAndNamedReadably) {
    EngineRig rig;
    rig.serve({{"a.mp3", noise(1000, 1)}});
    const QString volume = rig.scratch("media/") + spinforge::FileNames::decode("DJ\xff");
    ASSERT_EQ(::mkdir(spinforge::FileNames::encode(volume).constData(), 0755), 0);
    writeBytes(rig.scratch("mountinfo"), mountTableListing({volume}));
    const spinforge::Profile demo{kProfileId, QStringLiteral("DJ Demo"), pathOf("Demo Set")};
    const spinforge::Folder drive = std::move(*rig.files.openFolder(volume, spinforge::Reach::beneath));
    ASSERT_TRUE(writeWhole(drive, spinforge::USBMarker::fileName, spinforge::USBMarker::forProfile(demo).encoded()).ok());

    rig.files.failOn(FaultyFileSystem::Op::copy, "a.mp3", EIO, 1);
    rig.runCycle();
    EXPECT_EQ(rig.states.last(), State::failed(QStringLiteral("Could not copy a.mp3 to DJ\ufffd: Input/output error")));
    rig.runCycle();
    EXPECT_EQ(rig.states.last(), State::success("1 tracks copied to USB"));
    EXPECT_TRUE(spinforge::Integrity::validFile(drive, "DJ-Music/Demo Set/a.mp3", digestOf(noise(1000, 1)), 1000));
}

TEST(USBSync, CopiesWhatTheDriveLacksListsEveryTrackAndLeavesTheRestAlone) {
    EngineRig rig;
    const QString volume = rig.addDrive("DJSTICK"), playlist = EngineRig::playlistOn(volume);
    spinforge::Manifest manifest;
    manifest.profile = {kProfileId, QStringLiteral("DJ Demo"), pathOf("Demo Set")};
    for (const char* path : {"House/a.mp3", "b.mp3", "c.mp3"}) {
        const QByteArray bytes = QFileInfo(path).baseName().toUtf8();
        if (bytes != "b") writeBytes(rig.cached(path), bytes);  // b.mp3 is not cached yet: listed, not copied
        manifest.tracks.append(trackOf(path, bytes));
    }
    const auto sync = [&] {
        const spinforge::Drives drives(rig.files, rig.seams().volumes);
        return spinforge::DriveSync::syncUSB(drives.open(volume, "sync"), manifest, rig.library());
    };
    writeBytes(EngineRig::onDrive(volume, "c.mp3.spinforge-partial"), "half of c");
    writeBytes(EngineRig::onDrive(volume, "x.mp3.spinforge-partial"), "not ours to clean");
    writeBytes(EngineRig::onDrive(volume, "mine.mp3"), "the DJ's own");

    EXPECT_EQ(sync(), 2);
    EXPECT_EQ(fileBytes(EngineRig::onDrive(volume, "House/a.mp3")), QByteArray("a"));
    EXPECT_EQ(fileBytes(playlist),
              QByteArray("#EXTM3U\nDJ-Music/Demo Set/House/a.mp3\nDJ-Music/Demo Set/b.mp3\nDJ-Music/Demo Set/c.mp3\n"));
    EXPECT_EQ(filesBelow(volume + "/DJ-Music/Demo Set"),
              (QStringList{"House/a.mp3", "c.mp3", "mine.mp3", "x.mp3.spinforge-partial"}));

    // Up to date: nothing copied, the playlist written afresh.
    QFile::remove(playlist);
    EXPECT_EQ(sync(), 0);
    EXPECT_TRUE(QFile::exists(playlist));
    // A copy of the right size but the wrong bytes is replaced.
    writeBytes(EngineRig::onDrive(volume, "c.mp3"), "C");
    EXPECT_EQ(sync(), 1);
    EXPECT_EQ(fileBytes(EngineRig::onDrive(volume, "c.mp3")), QByteArray("c"));
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        rig.serve({{"House/a.mp3", "track a"}}, {.accounts = {"dj@example.com:secret:7:Demo Set:DJ Demo",
                                                              "ac@example.com:secret:9:Tribute:AC/DC Tribute"}});
        writeBytes(rig.cached("House/a.mp3"), "track a");
    }
    std::string registering(const QString& volume) { return failureOf([&] { await(rig.engine().registerUSB(volume)); }); }
    EngineRig rig;
};

TEST_F(Registration, OnlyDrivesWhereRemovableDrivesAreMountedCanBeRegistered) {
    const QString elsewhere = rig.scratch("mediastick");
    QDir().mkpath(elsewhere);
    for (const QString& volume : {QStringLiteral("/Volumes/DJSTICK"), rig.scratch("media"),
                                  rig.scratch("media/../mediastick"), elsewhere}) {
        EXPECT_EQ(registering(volume), "Choose a removable drive mounted under /Volumes.") << volume.toStdString();
    }
    EXPECT_EQ(filesBelow(elsewhere), QStringList());
    EXPECT_EQ(rig.service().counters()["manifest"], 0);
}

// After a sign-in to another account the held manifest is the old account's: a registration must
// write neither its profile nor its library.
TEST_F(Registration, AfterSigningInToAnotherAccountTheDriveGetsThatAccountsProfile) {
    rig.runCycle();  // holds account 7's manifest now
    rig.service().setFault(R"({"endpoint": "manifest", "status": 500, "times": 1})");  // the new account's first sync fails
    await(rig.engine().login(QString::fromStdString(rig.service().baseUrl()), "ac@example.com", "secret"));
    EXPECT_EQ(rig.states.last(), State::failed("Server request failed (500)."));

    const QString volume = rig.addDrive("DJ STICK", 7);  // registered to the account before until now
    EXPECT_EQ(registering(volume), "no failure");
    EXPECT_EQ(rig.states.last(), State::success("Registered DJ STICK"));
    const QRegularExpression expected(R"(^\{"version":1,"profile_id":9,"profile_name":"AC/DC Tribute",)"
                                      R"("library_folder":"DJ-Music/Tribute","registered_at":"[0-9-]{10}T[0-9:]{8}Z"\}$)");
    EXPECT_TRUE(expected.match(QString::fromUtf8(fileBytes(volume + "/.dj-sync.json"))).hasMatch());
    EXPECT_EQ(fileBytes(volume + "/DJ-Music/Tribute/House/a.mp3"), QByteArray("track a"));
    EXPECT_TRUE(QFile::exists(volume + QStringLiteral("/Spinforge \u2014 AC\u2215DC Tribute.m3u8")));
    EXPECT_FALSE(QFile::exists(volume + "/DJ-Music/Demo Set"));
}

// What was asked for before a sign-in to another account comes back as the old account's: a
// registration waiting for it fetches the new account's instead, and a cycle does nothing with it
// (no report) while the new account's cycle follows.
TEST_F(Registration, RepliesToRequestsMadeBeforeASignInDriveNothing) {
    const auto signInMeanwhile = [&](const char* email, const std::function<QCoro::Task<>()>& start) {
        rig.service().setFault(R"({"endpoint": "manifest", "delay_seconds": 1, "times": 1})");
        QCoro::Task<> before = start();  // its manifest comes a second late
        await(rig.engine().login(QString::fromStdString(rig.service().baseUrl()), email, "secret"));
        return failureOf([&] { await(std::move(before)); });
    };
    const QString volume = rig.addDrive("DJSTICK", std::nullopt);
    EXPECT_EQ(signInMeanwhile("ac@example.com", [&] { return rig.engine().registerUSB(volume); }), "no failure");
    EXPECT_EQ(spinforge::USBMarker::decode(fileBytes(volume + "/.dj-sync.json"))->profileId, 9);

    const std::size_t reports = rig.service().reports().size();
    EXPECT_EQ(signInMeanwhile("dj@example.com", [&] { return rig.engine().sync("before the sign-in"); }), "no failure");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.service().reports().size() > reports; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(rig.service().reports().size(), reports + 1) << "the old account's cycle reported";
    EXPECT_EQ(rig.settings.displayName(), QStringLiteral("DJ Demo"));
}

// A drive unmounted as its root is opened leaves its mount folder on the computer's own disk: the
// root held must be the mount the table lists, or nothing is written.
TEST(RegistrationRace, ADriveGoneAsItsRootIsOpenedIsNotWrittenTo) {
    if (const std::optional<std::string> why = whyUnavailable(Disk::tmpfs)) GTEST_SKIP() << *why;
    EngineRig rig(Disk::tmpfs);
    rig.serve({{"a.mp3", "a"}});
    const QString volume = rig.addDrive("DJSTICK", std::nullopt);
    rig.files.onceBefore(FaultyFileSystem::Op::openFolder, volume, [&] { rig.takeDriveAway(volume); });
    EXPECT_EQ(failureOf([&] { await(rig.engine().registerUSB(volume)); }),
              "Could not register DJSTICK: the drive is no longer mounted");
    EXPECT_EQ(filesBelow(volume), QStringList());
}

TEST(SignIn, StoresWhatItNeedsAndRunsTheFirstSync) {
    EngineRig rig;
    rig.serve({{"a.mp3", "a"}});
    rig.keyring.erase("com.spinforge.mac", "device-token");
    await(rig.engine().login(QStringLiteral(" %1/ ").arg(QString::fromStdString(rig.service().baseUrl())), "dj@example.com", "secret"));
    EXPECT_EQ(rig.messages().mid(0, 3), (QStringList{"Signing in\u2026", "Connected as DJ Demo", "Checking cloud library\u2026"}));
    EXPECT_EQ(rig.states.last(), State::success("1 tracks cached \u2014 connect USB"));
    EXPECT_EQ(rig.settings.serverURL(), QString::fromStdString(rig.service().baseUrl()));
    EXPECT_EQ(rig.settings.deviceId(), 1);
    EXPECT_TRUE(spinforge::Keychain::load(rig.keyring));
    // The agent starts at every login from now on: the entry runs this very program.
    EXPECT_TRUE(fileBytes(rig.scratch("config/autostart/com.spinforge.mac.desktop"))
                    .contains("\nExec=" + QFile::encodeName(QCoreApplication::applicationFilePath()) + '\n'));

    EXPECT_EQ(failureOf([&] { await(rig.engine().login(rig.settings.serverURL().value(), "dj@example.com", "wrong")); }),
              "Invalid e-mail or password.");
    EXPECT_EQ(rig.states.last(), State::working("Signing in\u2026"));
}

// A sign-in still waiting for its reply when another starts ends then, and stores nothing: its
// token would go with the newer one's server address.
TEST(SignIn, TheNewestSignInWins) {
    EngineRig rig;
    rig.serve({{"a.mp3", "a"}});
    DevServer slow({.faults = {R"({"endpoint": "login", "bytes_per_second": 10})"}});
    QCoro::Task<> earlier = rig.engine().login(QString::fromStdString(slow.baseUrl()), "dj@example.com", "secret");
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.counters()["login"] == 1; }, 5000));
    await(rig.engine().login(QString::fromStdString(rig.service().baseUrl()), "dj@example.com", "secret"));
    EXPECT_EQ(failureOf([&] { await(std::move(earlier)); }), "A newer sign-in took the place of this one.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return slow.counters()["run_on_left"] == 1; }, 5000)) << "its reply was read on";
    EXPECT_EQ(rig.settings.serverURL(), QString::fromStdString(rig.service().baseUrl()));
    rig.runCycle();  // with the newer sign-in's token
    EXPECT_EQ(rig.states.last(), State::success("Library ready \u2014 connect USB"));
}

// A sign-in ends within bounds: a reply that trickles at its deadline, one that never ends past what
// a sign-in reply can hold, neither read on; a blank token is no sign-in. Nothing is stored.
TEST(SignIn, EndsWithinBoundsAndStoresNoBlankToken) {
    EngineRig rig;
    rig.timeouts.login = std::chrono::seconds(1);
    rig.serve({});
    const std::string server = "127.0.0.1:" + std::to_string(rig.service().port());
    const auto reply = [](const char* token) {
        const nlohmann::json body{{"token", token}, {"device_id", 9}, {"display_name", "DJ"}};
        return nlohmann::json{{"endpoint", "login"}, {"status", 200}, {"body", body.dump()}, {"content_type", "application/json"}}.dump();
    };
    struct Case {
        std::string fault, failure;
        bool runsOn;
    };
    const Case cases[] = {
        {R"({"endpoint": "login", "bytes_per_second": 10})", "The sign-in reply from " + server + " took more than 1 second", true},
        {R"({"endpoint": "login", "trailing_bytes": 4611686018427387904})",
         "The server's sign-in reply is too large: more than 64 KiB", true},
        {reply(""), "The server returned an invalid response.", false},
        {reply(" \u3000\t "), "The server returned an invalid response.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        rig.service().reset();
        rig.service().setFault(c.fault);
        std::string failure;
        const Cost cost = costOf([&] {
            failure = failureOf([&] { await(rig.engine().login(QString::fromStdString(rig.service().baseUrl()), "dj@example.com", "secret")); });
        });
        EXPECT_EQ(failure, c.failure);
        EXPECT_LT(cost.seconds, 5);
        EXPECT_EQ(spinforge::Keychain::load(rig.keyring), QString::fromLatin1(kToken));
        if (!c.runsOn) continue;
        EXPECT_TRUE(QTest::qWaitFor([&] { return rig.service().counters()["run_on_left"] == 1; }, 5000)) << "it was read on";
        EXPECT_LT(rig.service().counters()["run_on_bytes"].get<double>(), 16 << 20);
    }
}

}  // namespace
