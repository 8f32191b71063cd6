// Whole sync cycles as the shell sees them: states, notifications, what the service was told, and
// when cycles start at all. What faults do to a cycle is the fault matrix's.

#include "support/EngineRig.h"

#include <QtCore/qtestsupport_core.h>

using namespace testing_support;
using Op = FaultyFileSystem::Op;

namespace {

class Cycle : public ::testing::Test {
protected:
    nlohmann::json reports() { return rig.service().reports(); }
    nlohmann::json counters() { return rig.service().counters(); }
    void waitForCycleEnd(qsizetype before) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig.states.size() > before && rig.states.last().kind != Kind::working; }, 10000));
    }
    EngineRig rig;
};

// The messages, what the service is told, and whether the notification offers to eject the
// cycle's drives: only once they were filled or found up to date.
TEST_F(Cycle, TheFinalMessageSaysWhatTheCycleDid) {
    rig.serve({{"a.mp3", "a"}, {"b.mp3", "b"}});
    QStringList ejected;
    rig.engine().onEjectOffered = [&](const QStringList& drives) { return [&, drives] { ejected << drives; }; };
    struct Step {
        const char* before;  // what changes before the cycle
        const char* message;
        bool synced;
        bool eject;
    };
    const Step steps[] = {{"nothing", "2 tracks cached \u2014 connect USB", false, false},
                          {"nothing", "Library ready \u2014 connect USB", false, false},
                          {"a drive", "2 tracks copied to USB", true, true},
                          {"nothing", "USB is up to date", true, true},
                          {"b.mp3 damaged in the library", "1 tracks cached \u2014 connect USB", true, false}};
    QString drive;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.message);
        if (step.before == std::string("a drive")) drive = rig.addDrive("DJSTICK");
        if (step.before == std::string("b.mp3 damaged in the library")) writeBytes(rig.cached("b.mp3"), "B");
        rig.runCycle();
        EXPECT_EQ(rig.states.last(), State::success(step.message));
        EXPECT_EQ(reports().back()["synced"], step.synced);
        EXPECT_EQ(rig.notifier.posted.last().action, step.eject ? "Eject" : "");
        if (!step.eject) continue;
        ejected.clear();
        rig.notifier.actions.last()();
        EXPECT_EQ(ejected, QStringList{drive});
    }
    // Every outcome is announced, the same one twice included.
    EXPECT_EQ(rig.notifier.posted.size(), 5);
    EXPECT_EQ(rig.messages().mid(0, 4), (QStringList{"Checking cloud library\u2026", "Caching 1 of 2\u2026",
                                                     "Caching 2 of 2\u2026", "2 tracks cached \u2014 connect USB"}));
    EXPECT_EQ(rig.settings.displayName(), QStringLiteral("DJ Demo"));  // the account's, from the manifest
}

TEST_F(Cycle, CyclesStartAtLaunchAndOnEveryDriveButNeverWithoutAToken) {
    rig.serve({{"a.mp3", "a"}});
    rig.engine().start();
    EXPECT_TRUE(QFileInfo(rig.cacheRoot()).isDir());
    waitForCycleEnd(0);
    EXPECT_EQ(rig.states.last(), State::success("1 tracks cached \u2014 connect USB"));

    const QString drive = rig.addDrive("DJSTICK");
    emit rig.mountEvents.volumeMounted();
    waitForCycleEnd(rig.states.size());
    EXPECT_EQ(rig.states.last(), State::success("1 tracks copied to USB"));

    rig.keyring.erase("com.spinforge.mac", "device-token");
    const qsizetype published = rig.states.size();
    emit rig.mountEvents.volumeMounted();
    rig.runCycle();
    QTest::qWait(50);
    EXPECT_EQ(rig.states.size(), published);
    EXPECT_EQ(counters()["manifest"], 2);
}

// The report says whether a registered drive is there once the copies are done, not before.
TEST_F(Cycle, ADriveThatLeavesAfterItsCopiesIsNotReportedSynced) {
    rig.serve({{"a.mp3", "a"}});
    const QString drive = rig.addDrive("DJSTICK");
    rig.files.onceBefore(Op::stage, ".m3u8", [&] { rig.takeDriveAway(drive); });
    rig.runCycle();
    EXPECT_EQ(rig.states.last(), State::success("1 tracks copied to USB"));
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0]["body"], R"({"synced":false,"track_count":1})");
}

// A stick plugged in during a cycle is filled by that cycle when it came before the cycle chose
// its drives, else by one cycle right after (any number of mounts: one cycle), never by both.
TEST_F(Cycle, ADriveMountedDuringACycleIsFilledOnce) {
    rig.serve({{"a.mp3", "a"}, {"Set/b.mp3", "b"}});
    rig.addDrive("FIRST");
    rig.engine().start();
    waitForCycleEnd(0);
    // Mounted before a download, or before the first drive's playlist: one cycle, or two.
    for (const auto& [when, cycles] : {std::pair("Set/b.mp3", 1), std::pair(".m3u8", 2)}) {
        SCOPED_TRACE(when);
        const qsizetype before = rig.notifier.posted.size();
        const int manifests = counters()["manifest"];
        QDir(rig.cacheRoot()).removeRecursively();
        QString late;
        rig.files.onceBefore(Op::stage, when, [&] {
            late = rig.addDrive(QStringLiteral("LATE ") + when);
            emit rig.mountEvents.volumeMounted();
            emit rig.mountEvents.volumeMounted();
        });
        const QCoro::Task<> cycle = rig.engine().sync("test");
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig.notifier.posted.size() == before + cycles; }, 10000));
        QTest::qWait(100);
        EXPECT_EQ(counters()["manifest"], manifests + cycles) << "a drive synced by the cycle, and again";
        EXPECT_EQ(rig.offFromServed({late}, true), QStringList());
    }
}

// One file system at two mount points is one drive: synced once, listed once.
TEST_F(Cycle, ADriveMountedTwiceIsSyncedOnce) {
    rig.serve({{"a.mp3", "a"}});
    const QString drive = rig.addDrive("DJSTICK");
    rig.mountAlsoAt(drive, "DJSTICK ALSO");
    int reads = 0;
    rig.files.beforeEach = [&](Op op, const QString& path) { reads += op == Op::openForReading && path.contains("DJ-Music"); };
    rig.runCycle();
    EXPECT_EQ(rig.states.last(), State::success("1 tracks copied to USB"));
    reads = 0;
    rig.runCycle();
    EXPECT_EQ(reads, 1) << "the drive's copy was read once per mount point";
    EXPECT_EQ(rig.engine().mountedVolumes(), QStringList{drive});
}

// A refused download leaves the library as it was: not even the folder it would have gone into.
TEST_F(Cycle, ARefusedDownloadLeavesNoFolderBehind) {
    rig.serve({{"New Folder/x.mp3", "x"}}, {.faults = {R"({"endpoint": "download", "status": 404})"}});
    rig.runCycle();
    EXPECT_EQ(rig.states.last(), State::failed("Server request failed (404)."));
    EXPECT_FALSE(QFileInfo::exists(rig.cached("New Folder")));
}

// The agent quitting mid-download: the cycle ends there and then, unseen, not suspended for good.
TEST_F(Cycle, StopEndsACycleMidDownloadQuietlyAndForGood) {
    rig.serve({{"slow.mp3", QByteArray(600000, 's')}}, {.faults = {R"({"endpoint": "download", "bytes_per_second": 100000})"}});
    QCoro::Task<> cycle = rig.engine().sync("test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counters()["download"] == 1; }, 10000));
    const QList<State> publishedBefore = rig.states;

    rig.engine().stop();

    EXPECT_TRUE(cycle.isReady()) << "the cycle still awaits its download";
    EXPECT_EQ(rig.states, publishedBefore);
    EXPECT_TRUE(rig.notifier.posted.isEmpty());
    EXPECT_EQ(filesBelow(rig.cacheRoot()), QStringList());
    EXPECT_TRUE(rig.engine().sync("after stop").isReady());
    EXPECT_EQ(counters()["manifest"], 1) << "a cycle started after stop()";
}

}  // namespace
