// Ejecting a drive from the status menu or a cycle's notification against a stand-in udisks2: what
// udisks2 is asked and in which order, what the user reads, which drive an offer made earlier
// ejects, and that ejects and cycles never overlap. RealUDisksTest.cpp ejects against the real one.
#include "shell/ShellRig.h"
#include "support/Await.h"
#include "support/FakeUDisks.h"

#include <optional>

using namespace testing_support;
using Posted = RecordingNotifier::Posted;
using Drive = FakeUDisks::Drive;
using FileSystem = FakeUDisks::FileSystem;

namespace {

const char* const kNoSystemBus = "no private system bus: run through scripts/test-session";

Posted removable(const QString& label) { return {"Spinforge", label + " can be removed", true}; }
Posted couldNot(const QString& label, const QString& reason) {
    return {"Spinforge needs attention", "Could not eject " + label + ": " + reason, false};
}

class Eject : public ShellRig {
protected:
    void SetUp() override {
        rig.serve({{"a.mp3", noise(100'000, 1)}});
        drive = rig.addDrive(QStringLiteral("DJSTICK"));
    }
    void launch(const QString& status = QStringLiteral("1 tracks copied to USB")) {
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(waitForStatus(status));
    }
    // Opens the status menu as a panel does, and waits until udisks2 has been asked what the eject
    // items stand for now; the first `late` looks list no mount yet.
    void showMenu(FakeUDisks& udisks, int late = 0) {
        QTest::qWait(20);  // looks already on their way (an eject's end looks again) come first
        udisks.late = late;
        const int looks = udisks.looks;
        emit delegate().statusItem()->menu()->aboutToShow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return udisks.looks > looks; }, 5000));
    }
    // The `count` notifications posted after the first `before`, once they are.
    QList<Posted> notificationsAfter(qsizetype before, qsizetype count) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return rig.notifier.posted.size() >= before + count; }, 15000));
        return rig.notifier.posted.mid(before);
    }

    QString drive;
};

TEST_F(Eject, FromTheMenuEachOutcomeIsToldInItsOwnWords) {
    struct Case {
        const char* what;
        QList<Drive> drives;
        QList<FileSystem> fileSystems;  // mounted at "HERE": at the drive; none at all: no udisks2
        QStringList calls;
        Posted told;
        bool pulledOut = false;  // gone from the mount table too
        int late = 0;            // looks at udisks2 that list no mount yet
    };
    const Drive stick{"STICK"}, disk{"DISK", false};
    const Posted ejected = removable("DJSTICK");
    const auto failed = [](const char* reason) { return couldNot("DJSTICK", reason); };
    const Case cases[] = {
        {"a stick", {stick}, {{"sdb1", "STICK", {"HERE"}}}, {"Unmount sdb1", "PowerOff STICK"}, ejected},
        {"a stick udisks2 lists late", {stick}, {{"sdb1", "STICK", {"HERE"}}}, {"Unmount sdb1", "PowerOff STICK"}, ejected, false, 3},
        {"a stick with two file systems, beside the computer's own disk", {disk, stick},
         {{"sda1", "DISK", {"/"}}, {"sdb1", "STICK", {"HERE"}}, {"sdb2", "STICK", {"/media/dj/SECOND"}}},
         {"Unmount sdb1", "Unmount sdb2", "PowerOff STICK"}, ejected},
        {"a stick mounted twice", {stick}, {{"sdb1", "STICK", {"/media/dj/ALSO", "HERE"}}},
         {"Unmount sdb1", "Unmount sdb1", "PowerOff STICK"}, ejected},
        {"a stick that cannot be powered off", {{"STICK", true, false}}, {{"sdb1", "STICK", {"HERE"}}}, {"Unmount sdb1"}, ejected},
        {"a stick left on by its hub once nothing of it is mounted", {{"STICK", true, true, true}},
         {{"sdb1", "STICK", {"HERE"}}}, {"Unmount sdb1", "PowerOff STICK"}, ejected},
        {"a partition of the computer's own disk, mounted twice", {disk},
         {{"sda1", "DISK", {"/"}}, {"sda3", "DISK", {"HERE", "/media/dj/ALSO"}}, {"sda4", "DISK", {"/media/dj/DATA"}}},
         {"Unmount sda3", "Unmount sda3"}, ejected},
        {"a stick in use", {stick}, {{"sdb1", "STICK", {"HERE"}, true}}, {"Unmount sdb1"}, failed("the drive is in use")},
        {"a stick whose second file system is in use", {stick},
         {{"sdb1", "STICK", {"HERE"}}, {"sdb2", "STICK", {"/media/dj/SECOND"}, true}}, {"Unmount sdb1", "Unmount sdb2"},
         failed("the drive is in use at /media/dj/SECOND")},
        {"a drive still mounted that udisks2 does not know", {stick}, {{"sdb1", "STICK", {"/media/dj/OTHER"}}}, {},
         failed("the disk service (udisks2) does not know it")},
        {"no udisks2", {}, {}, {}, failed("the disk service (udisks2) is not running")},
        // Last: the drive leaves the mount table (after the menu was shown), and with the eject its
        // item leaves the menu.
        {"a stick pulled out already", {stick}, {{"sdb1", "STICK", {}}}, {}, ejected, true},
    };
    launch();
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        for (FileSystem& fileSystem : c.fileSystems) fileSystem.mountPoints.replaceInStrings(QStringLiteral("HERE"), drive);
        std::optional<FakeUDisks> udisks;
        if (!c.fileSystems.isEmpty()) {
            ASSERT_TRUE(udisks.emplace(c.drives, c.fileSystems).isRegistered()) << kNoSystemBus;
        }
        if (udisks) udisks->late = c.late;
        emit delegate().statusItem()->menu()->aboutToShow();
        if (c.pulledOut) rig.takeDriveAway(drive);
        QAction* item = menuAction(QStringLiteral("Eject DJSTICK"));
        ASSERT_TRUE(item);
        EXPECT_EQ(told([&] { item->trigger(); }), c.told);
        EXPECT_EQ(udisks ? udisks->calls : QStringList(), c.calls);
    }
}

// An Eject made for one stick never ejects another that took its place (the same USB port, the
// same mount point), but does eject the same stick plugged in again.
TEST_F(Eject, AnOfferEjectsOnlyTheDriveItWasMadeFor) {
    const FileSystem mine{"sdb1", "STICK", {drive}};
    FakeUDisks udisks({{"STICK"}, {"FRIEND"}}, {mine});
    ASSERT_TRUE(udisks.isRegistered()) << kNoSystemBus;
    launch();
    const std::function<void()> fromNotification = rig.notifier.actions.last();
    struct Case {
        const char* what;
        FileSystem now;
        QStringList calls;
        Posted told;
        int late = 0;  // looks at udisks2, from the menu's on, that list no mount yet
    };
    const Posted gone{"Spinforge", "DJSTICK is no longer there; nothing was ejected", true};
    const Case cases[] = {
        {"a friend's stick", {"sdb1", "FRIEND", {drive}, false, "friend's"}, {}, gone},
        {"a friend's copy of the stick, down to its UUID", {"sdb1", "FRIEND", {drive}, false, "uuid-of-sdb1"}, {}, gone},
        {"the same stick at another device node", {"sdc1", "STICK", {drive}, false, "uuid-of-sdb1"},
         {"Unmount sdc1", "PowerOff STICK"}, removable("DJSTICK")},
        // udisks2 catching up with the mount only once the friend's stick (another device than the
        // one mounted there when the menu was shown) took the place.
        {"a friend's stick, udisks2 late", {"sdb1", "FRIEND", {drive}, false, "friend's", 99}, {}, gone, 2},
    };
    for (const Case& c : cases) {
        for (const bool fromMenu : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (fromMenu ? ", from the menu" : ", from the notification"));
            udisks.fileSystems = {mine};
            showMenu(udisks, c.late);
            QAction* item = menuAction(QStringLiteral("Eject DJSTICK"));
            ASSERT_TRUE(item);
            udisks.fileSystems = {c.now};
            udisks.calls.clear();
            EXPECT_EQ(told(fromMenu ? std::function<void()>([&] { item->trigger(); }) : fromNotification), c.told);
            EXPECT_EQ(udisks.calls, c.calls);
        }
    }
    // Shown again, the menu stands for the stick that is there now.
    udisks.fileSystems = {cases[0].now};
    showMenu(udisks);
    udisks.calls.clear();
    EXPECT_EQ(told([&] { menuAction(QStringLiteral("Eject DJSTICK"))->trigger(); }), removable("DJSTICK"));
    EXPECT_EQ(udisks.calls, (QStringList{"Unmount sdb1", "PowerOff FRIEND"}));
}

TEST_F(Eject, SameNamedDrivesAreToldApartByWhereTheyAreMounted) {
    const QString kims = rig.addDrive(QStringLiteral("kim/DJ")), lees = rig.addDrive(QStringLiteral("lee/DJ"));
    FakeUDisks udisks({{"KIMS"}, {"LEES"}}, {{"sdb1", "KIMS", {kims}}, {"sdc1", "LEES", {lees}}});
    ASSERT_TRUE(udisks.isRegistered()) << kNoSystemBus;
    launch(QStringLiteral("3 tracks copied to USB"));
    const QString kim = "DJ (" + QFileInfo(kims).path() + ")", lee = "DJ (" + QFileInfo(lees).path() + ")";
    ASSERT_TRUE(menuAction("Eject " + lee));
    EXPECT_EQ(told([&] { menuAction("Eject " + kim)->trigger(); }), removable(kim));
    EXPECT_EQ(udisks.calls, (QStringList{"Unmount sdb1", "PowerOff KIMS"}));
}

// Ejects and cycles never overlap: the items are locked while a cycle runs, an earlier cycle's Eject
// pressed meanwhile ejects once it has ended, and a cycle that starts while udisks2 still unmounts
// a drive leaves that drive alone. The gate is the engine's cycle, not the state shown: after a
// failed sign-in "Signing in…" stays in the menu for good, and ejecting still works.
TEST_F(Eject, EjectsAndCyclesNeverOverlap) {
    const QString backup = rig.addDrive(QStringLiteral("BACKUP"));
    rig.addDrive(QStringLiteral("NOT OURS"), std::nullopt);
    const QList<FileSystem> mounted{{"sdb1", "STICK", {drive}}, {"sdc1", "BACKUP", {backup}}};
    FakeUDisks udisks({{"STICK"}, {"BACKUP"}}, mounted);
    ASSERT_TRUE(udisks.isRegistered()) << kNoSystemBus;
    launch(QStringLiteral("2 tracks copied to USB"));
    ASSERT_EQ(rig.notifier.posted.last(), (Posted{"Spinforge", "2 tracks copied to USB", true, "Eject"}));
    const std::function<void()> ejectFromNotification = rig.notifier.actions.last();
    QAction* item = menuAction(QStringLiteral("Eject DJSTICK"));
    ASSERT_TRUE(item && item->isEnabled());

    // The next cycle downloads the track again, for half a second.
    writeBytes(rig.cached("a.mp3"), "damaged");
    rig.service().setFault(R"({"endpoint": "download", "bytes_per_second": 200000})");
    menuAction(QStringLiteral("Sync Now"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return statusLine().startsWith("Caching"); }, 10000));
    EXPECT_FALSE(item->isEnabled());
    ejectFromNotification();
    const qsizetype before = rig.notifier.posted.size() + 1;  // the running cycle's own comes first
    bool ejectedInCycle = false;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const bool cycle = rig.engine().isRunning();
        ejectedInCycle |= cycle && !udisks.calls.isEmpty();
        return !cycle;
    }, 15000));
    EXPECT_FALSE(ejectedInCycle);
    EXPECT_EQ(notificationsAfter(before, 2), (QList<Posted>{removable("DJSTICK"), removable("BACKUP")}));
    EXPECT_EQ(udisks.calls, (QStringList{"Unmount sdb1", "PowerOff STICK", "Unmount sdc1", "PowerOff BACKUP"}));
    EXPECT_TRUE(item->isEnabled());

    // Mounted again, DJSTICK is being unmounted while a cycle runs: the cycle repairs BACKUP only,
    // and registering DJSTICK is refused.
    udisks.fileSystems = mounted;
    udisks.hold();
    showMenu(udisks);
    const qsizetype held = rig.notifier.posted.size();
    menuAction(QStringLiteral("Eject DJSTICK"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return udisks.calls.size() == 5; }, 5000));
    for (const QString& volume : {drive, backup}) writeBytes(EngineRig::onDrive(volume, "a.mp3"), "damaged");
    menuAction(QStringLiteral("Sync Now"))->trigger();
    ASSERT_TRUE(waitForStatus(QStringLiteral("1 tracks copied to USB")));
    EXPECT_EQ(failureOf([&] { await(rig.engine().registerUSB(drive)); }),
              "Could not register DJSTICK: the drive is being ejected");
    EXPECT_EQ(fileBytes(EngineRig::onDrive(drive, "a.mp3")), "damaged");
    EXPECT_EQ(fileBytes(EngineRig::onDrive(backup, "a.mp3")), rig.served().first().second);
    udisks.release();
    EXPECT_EQ(notificationsAfter(held, 2).last(), removable("DJSTICK"));

    signInWith(QString::fromStdString(rig.service().baseUrl()), QStringLiteral("dj@example.com"), QStringLiteral("wrong"));
    alerts.thenPress(QStringLiteral("OK"));
    menuAction(QStringLiteral("Reconnect\u2026"))->trigger();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(statusLine(), "Signing in\u2026");
    QAction* backupItem = menuAction(QStringLiteral("Eject BACKUP"));
    ASSERT_TRUE(backupItem && backupItem->isEnabled());
    EXPECT_EQ(told([&] { backupItem->trigger(); }), removable("BACKUP"));
}

}  // namespace
