// Whole sync cycles against the development service, seen as the shell sees them: the states
// the listener receives, the notifications, and what the service was told.

#include "engine/EngineFixture.h"

#include <QtCore/qtestsupport_core.h>

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

QStringList caching(int upTo, int of) {
    QStringList texts;
    for (int i = 1; i <= upTo; ++i) texts << QStringLiteral("Caching %1 of %2\u2026").arg(i).arg(of);
    return texts;
}
const QString kChecking = QStringLiteral("Checking cloud library\u2026");

class Cycle : public EngineFixture {
protected:
    nlohmann::json reports() { return server->reports(); }
    nlohmann::json counters() { return server->counters(); }
    void waitForCycleEnd() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !states.isEmpty() && states.last().kind != Kind::working; }, 10000));
    }
};

TEST_F(Cycle, OneNewTrackAmongThreeIsCachedAndCopied) {
    serve({{"1.mp3", "one"}, {"2.mp3", "two"}, {"3.mp3", "three"}});
    preCache("1.mp3");
    preCache("3.mp3");
    const QString drive = addDrive("DJSTICK");
    writeBytes(onDrive(drive, "1.mp3"), "one");
    writeBytes(onDrive(drive, "3.mp3"), "three");

    await(engine().sync("test"));

    EXPECT_EQ(messages(), QStringList{kChecking} + caching(3, 3) + QStringList{"1 tracks copied to USB"});
    EXPECT_EQ(states.last().kind, Kind::success);
    EXPECT_EQ(fileBytes(onDrive(drive, "2.mp3")), QByteArray("two"));
    EXPECT_EQ(counters()["download"], 1);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0]["track_count"], 3);
    EXPECT_EQ(reports()[0]["synced"], true);
    EXPECT_EQ(notifier.posted, (QList<RecordingNotifier::Posted>{{"Spinforge", "1 tracks copied to USB", true}}));
    EXPECT_EQ(settings.displayName(), QStringLiteral("DJ Demo"));
}

TEST_F(Cycle, TheFifthOfEightFailingStopsTheCycleWithoutReport) {
    LibraryFiles tracks;
    for (int i = 1; i <= 8; ++i) tracks.push_back({"t" + std::to_string(i) + ".mp3", std::string(1000 + i, 'x')});
    serve(tracks, {R"({"endpoint": "download", "track": "t5.mp3", "wrong_bytes": true})"});
    addDrive("DJSTICK");

    await(engine().sync("test"));

    const QString failure = QStringLiteral("Integrity check failed for t5.mp3.");
    EXPECT_EQ(messages(), QStringList{kChecking} + caching(5, 8) + QStringList{failure});
    EXPECT_EQ(states.last(), State::failed(failure));
    const nlohmann::json byTrack = counters()["download_by_track"];
    EXPECT_EQ(byTrack.size(), 5u) << byTrack.dump();
    EXPECT_FALSE(byTrack.contains("t6.mp3"));
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(notifier.posted, (QList<RecordingNotifier::Posted>{{"Spinforge needs attention", failure, false}}));
    EXPECT_TRUE(QFile::exists(cached("t4.mp3")));
    EXPECT_FALSE(QFile::exists(cached("t5.mp3")));
    // The manifest of the failed cycle is kept: registering a drive now fetches nothing.
    await(engine().registerUSB(addDrive("SECOND", std::nullopt)));
    EXPECT_EQ(counters()["manifest"], 1);
}

TEST_F(Cycle, FinalMessagesFollowWhatTheCycleDid) {
    serve({{"a.mp3", "a"}, {"b.mp3", "b"}});
    await(engine().sync("downloads, no drive"));
    EXPECT_EQ(messages().last(), QStringLiteral("2 tracks cached \u2014 connect USB"));
    await(engine().sync("nothing to do, no drive"));
    EXPECT_EQ(messages().last(), QStringLiteral("Library ready \u2014 connect USB"));
    EXPECT_EQ(reports()[1]["synced"], false);
    const QString drive = addDrive("DJSTICK");
    await(engine().sync("copies"));
    EXPECT_EQ(messages().last(), QStringLiteral("2 tracks copied to USB"));
    await(engine().sync("up to date"));
    EXPECT_EQ(messages().last(), QStringLiteral("USB is up to date"));
    EXPECT_EQ(reports()[3]["synced"], true);
    // Every successful cycle is announced, the same outcome twice included.
    EXPECT_EQ(notifier.posted.size(), 4);
    EXPECT_EQ(notifier.posted[3], (RecordingNotifier::Posted{"Spinforge", "USB is up to date", true}));
    Q_UNUSED(drive);
}

TEST_F(Cycle, AnEmptyLibraryGoesStraightToTheDrives) {
    serve({});
    await(engine().sync("no drive"));
    EXPECT_EQ(messages(), (QStringList{kChecking, QStringLiteral("Library ready \u2014 connect USB")}));
    const QString drive = addDrive("DJSTICK");
    await(engine().sync("a drive"));
    EXPECT_EQ(messages().last(), QStringLiteral("USB is up to date"));
    EXPECT_EQ(fileBytes(drive + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8")), QByteArray("#EXTM3U\n"));
    EXPECT_EQ(reports()[0]["track_count"], 0);
    EXPECT_EQ(reports()[1]["track_count"], 0);
}

TEST_F(Cycle, ASecondSyncWhileOneIsUnderWayIsDropped) {
    serve({{"a.mp3", "a"}});
    QCoro::Task<> first = engine().sync("first");  // now waiting for the manifest
    ASSERT_EQ(messages(), QStringList{kChecking});
    QCoro::Task<> second = engine().sync("second");
    EXPECT_TRUE(second.isReady());
    EXPECT_EQ(messages(), QStringList{kChecking});
    await(std::move(first));
    await(std::move(second));
    EXPECT_EQ(messages(), QStringList{kChecking} + caching(1, 1) + QStringList{"1 tracks cached \u2014 connect USB"});
    EXPECT_EQ(counters()["manifest"], 1);
}

TEST_F(Cycle, AFailedManifestFetchReportsNothingAndTheNextCycleStartsAfresh) {
    serve({{"a.mp3", "a"}}, {R"({"endpoint": "manifest", "status": 500, "times": 1})"});
    await(engine().sync("fails"));
    EXPECT_EQ(states, (QList<State>{State::working(kChecking), State::failed("Server request failed (500).")}));
    EXPECT_TRUE(reports().empty());
    await(engine().sync("works"));
    EXPECT_EQ(states.last(), State::success("1 tracks cached \u2014 connect USB"));
    EXPECT_EQ(reports().size(), 1u);
}

TEST_F(Cycle, WithoutATokenNothingHappens) {
    serve({{"a.mp3", "a"}});
    keyring.erase("com.spinforge.mac", "device-token");
    addDrive("DJSTICK");
    engine().start();
    emit mountEvents.volumeMounted();
    await(engine().sync("timer"));
    QTest::qWait(50);
    EXPECT_TRUE(states.isEmpty());
    EXPECT_EQ(engine().state(), State{});
    EXPECT_EQ(counters()["manifest"], 0);
    EXPECT_TRUE(notifier.posted.isEmpty());
}

TEST_F(Cycle, StartPreparesTheLibraryAndSyncsAtLaunchAndOnEveryMount) {
    serve({{"a.mp3", "a"}});
    engine().start();
    EXPECT_TRUE(QFileInfo(cacheRoot()).isDir());
    EXPECT_EQ(notifier.permissionRequests, 1);
    waitForCycleEnd();
    EXPECT_EQ(states.last(), State::success("1 tracks cached \u2014 connect USB"));

    const QString drive = addDrive("DJSTICK");
    emit mountEvents.volumeMounted();
    waitForCycleEnd();
    EXPECT_EQ(states.last(), State::success("1 tracks copied to USB"));
    EXPECT_EQ(fileBytes(onDrive(drive, "a.mp3")), QByteArray("a"));
    EXPECT_EQ(counters()["manifest"], 2);
}

TEST_F(Cycle, ADriveThatLeavesDuringTheCopiesFailsTheCycle) {
    serve({{"a.mp3", "a"}});
    const QString drive = addDrive("DJSTICK");
    files.beforeEach = [&](Op op, const QString& path) {
        if (op == Op::copy && path.contains("a.mp3")) unmount(drive);
    };
    await(engine().sync("test"));
    EXPECT_EQ(states.last(), State::failed(QStringLiteral(
                                 "Could not write the playlist Spinforge \u2014 DJ Demo.m3u8 on DJSTICK: the drive is no longer mounted")));
    EXPECT_TRUE(reports().empty());
}

TEST_F(Cycle, EveryStateReachesTheListenerEvenWhenItRepeats) {
    serve({{"a.mp3", "a"}});
    await(engine().sync("one"));
    await(engine().sync("two"));
    EXPECT_EQ(messages(), (QStringList{kChecking, caching(1, 1)[0], "1 tracks cached \u2014 connect USB", kChecking,
                                       caching(1, 1)[0], "Library ready \u2014 connect USB"}));
    EXPECT_EQ(engine().state(), states.last());
}

// The agent quitting mid-download: the cycle must end there and then, not stay suspended for
// good holding its staged file, and it ends unseen.
TEST_F(Cycle, StopEndsACycleMidDownloadQuietlyAndForGood) {
    serve({{"slow.mp3", std::string(600000, 's')}}, {R"({"endpoint": "download", "bytes_per_second": 100000})"});
    QCoro::Task<> cycle = engine().sync("test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counters()["download"] == 1; }, 10000));
    const QList<State> publishedBefore = states;

    engine().stop();

    EXPECT_TRUE(cycle.isReady()) << "the cycle still awaits its download";
    EXPECT_EQ(states, publishedBefore);
    EXPECT_TRUE(notifier.posted.isEmpty());
    EXPECT_EQ(QDir(cacheRoot()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    QCoro::Task<> later = engine().sync("after stop");
    EXPECT_TRUE(later.isReady());
    EXPECT_EQ(counters()["manifest"], 1) << "a cycle started after stop()";
}

}  // namespace
