// Ejecting a drive as the user does it, from its item in the status menu or from the button of a
// cycle's notification, against a stand-in udisks2 on the test session's system bus: what
// udisks2 is asked and in which order, what the user reads, and that no eject lands in a cycle.
#include "shell/ShellRig.h"
#include "support/FakeUDisks.h"

#include <optional>

using namespace testing_support;
using Posted = RecordingNotifier::Posted;

namespace {

const QVariantMap kWithoutAsking{{QStringLiteral("auth.no_user_interaction"), true}};

class Eject : public ShellRig {
protected:
    void SetUp() override {
        rig.serve({{"a.mp3", noise(100'000, 1)}});
        drive = rig.addDrive(QStringLiteral("DJSTICK"));
    }
    void launch(const QString& outcome = QStringLiteral("1 tracks copied to USB")) {
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(waitForStatus(outcome));
    }
    // The drive mounted at `mountPoint` as udisks2 lists a USB stick: one partition.
    static void stick(FakeUDisks& udisks, const QString& mountPoint, const QString& device = QStringLiteral("sdb1"),
                      const QString& name = QStringLiteral("STICK")) {
        udisks.drives << FakeUDisks::Drive{name};
        udisks.fileSystems << FakeUDisks::FileSystem{device, name, mountPoint};
    }
    // What the next `count` notifications say, once they are posted.
    QList<Posted> nextNotifications(qsizetype count) {
        const qsizetype before = rig.notifier.posted.size();
        EXPECT_TRUE(QTest::qWaitFor([&] { return rig.notifier.posted.size() >= before + count; }, 15000));
        return rig.notifier.posted.mid(before);
    }

    QString drive;
};

TEST_F(Eject, FromTheMenuEachOutcomeIsToldInItsOwnWords) {
    struct Case {
        const char* what;
        std::function<void(FakeUDisks&, const QString& drive, EngineRig&)> setUp;
        QStringList calls;
        Posted told;
    };
    const Posted removable{"Spinforge", "DJSTICK can be removed", true};
    const auto couldNot = [](const char* reason) {
        return Posted{"Spinforge needs attention", QStringLiteral("Could not eject DJSTICK: ") + reason, false};
    };
    const Case cases[] = {
        {"a stick", [](FakeUDisks& u, const QString& drive, EngineRig& rig) { stick(u, drive); }, {"Unmount sdb1", "PowerOff STICK"}, removable},
        {"a stick with a second file system, beside the computer's own disk",
         [](FakeUDisks& u, const QString& drive, EngineRig& rig) {
             stick(u, drive);
             u.fileSystems << FakeUDisks::FileSystem{"sdb2", "STICK", "/media/dj/SECOND"};
             u.drives << FakeUDisks::Drive{"DISK", false, true};
             u.fileSystems << FakeUDisks::FileSystem{"sda1", "DISK", "/"};
         },
         {"Unmount sdb1", "Unmount sdb2", "PowerOff STICK"}, removable},
        {"a stick that cannot be powered off",
         [](FakeUDisks& u, const QString& drive, EngineRig& rig) {
             stick(u, drive);
             u.drives.last().canPowerOff = false;
         },
         {"Unmount sdb1"}, removable},
        {"a partition of the computer's own disk",
         [](FakeUDisks& u, const QString& drive, EngineRig& rig) {
             u.drives << FakeUDisks::Drive{"DISK", false, true};
             u.fileSystems << FakeUDisks::FileSystem{"sda1", "DISK", "/"} << FakeUDisks::FileSystem{"sda3", "DISK", drive};
         },
         {"Unmount sda3"}, removable},
        {"a stick in use",
         [](FakeUDisks& u, const QString& drive, EngineRig& rig) {
             stick(u, drive);
             u.fileSystems.last().busy = true;
         },
         {"Unmount sdb1"}, couldNot("the drive is in use")},
        {"a drive still mounted that udisks2 does not know", [](FakeUDisks& u, const QString&, EngineRig&) { stick(u, "/media/dj/OTHER"); },
         {}, couldNot("the disk service (udisks2) does not know it")},
        {"no udisks2 at all", nullptr, {}, couldNot("the disk service (udisks2) is not running")},
        {"a stick unmounted already",
         [](FakeUDisks& u, const QString& drive, EngineRig& rig) {
             stick(u, QString());
             rig.takeDriveAway(drive);
         },
         {}, removable},
    };
    launch();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<FakeUDisks> udisks;
        if (c.setUp) {
            udisks.emplace();
            ASSERT_TRUE(udisks->isRegistered()) << "no private system bus: run through scripts/test-session";
            c.setUp(*udisks, drive, rig);
        }
        QAction* item = menuAction(QStringLiteral("Eject DJSTICK"));
        ASSERT_TRUE(item);
        item->trigger();
        EXPECT_EQ(nextNotifications(1), QList<Posted>{c.told});
        if (!udisks) continue;
        EXPECT_EQ(udisks->calls, c.calls);
        for (const QVariantMap& options : udisks->options) EXPECT_EQ(options, kWithoutAsking);
    }
}

TEST_F(Eject, TheNotificationsButtonEjectsEveryDriveOfItsCycle) {
    FakeUDisks udisks;
    ASSERT_TRUE(udisks.isRegistered()) << "no private system bus: run through scripts/test-session";
    const QString backup = rig.addDrive(QStringLiteral("BACKUP"));
    rig.addDrive(QStringLiteral("NOT OURS"), std::nullopt);
    stick(udisks, drive);
    stick(udisks, backup, QStringLiteral("sdc1"), QStringLiteral("BACKUP"));
    launch(QStringLiteral("2 tracks copied to USB"));
    ASSERT_EQ(rig.notifier.posted.last(), (Posted{"Spinforge", "2 tracks copied to USB", true, "Eject"}));

    rig.notifier.actions.last()();
    EXPECT_EQ(nextNotifications(2), (QList<Posted>{{"Spinforge", "DJSTICK can be removed", true},
                                                   {"Spinforge", "BACKUP can be removed", true}}));
    EXPECT_EQ(udisks.calls, (QStringList{"Unmount sdb1", "PowerOff STICK", "Unmount sdc1", "PowerOff BACKUP"}));
}

// The items are locked while a cycle runs, and a notification's button pressed meanwhile ejects
// only once the cycle has ended.
TEST_F(Eject, NoEjectLandsInTheMiddleOfACycle) {
    FakeUDisks udisks;
    ASSERT_TRUE(udisks.isRegistered()) << "no private system bus: run through scripts/test-session";
    stick(udisks, drive);
    launch();
    const std::function<void()> ejectFromNotification = rig.notifier.actions.last();
    QAction* item = menuAction(QStringLiteral("Eject DJSTICK"));
    ASSERT_TRUE(item && item->isEnabled());

    // The next cycle downloads the track again, for half a second.
    writeBytes(rig.cached("a.mp3"), "damaged");
    rig.service().setFault(R"({"endpoint": "download", "bytes_per_second": 200000})");
    menuAction(QStringLiteral("Sync Now"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate().statusMenuItem().text().startsWith("Caching"); }, 10000));
    EXPECT_FALSE(item->isEnabled());
    ejectFromNotification();
    bool ejectedInCycle = false;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const bool cycle = delegate().statusMenuItem().text().startsWith("Caching");
        ejectedInCycle |= cycle && !udisks.calls.isEmpty();
        return !cycle;
    }, 15000));
    EXPECT_FALSE(ejectedInCycle);

    EXPECT_EQ(nextNotifications(1), (QList<Posted>{{"Spinforge", "DJSTICK can be removed", true}}));
    EXPECT_EQ(udisks.calls, (QStringList{"Unmount sdb1", "PowerOff STICK"}));
    EXPECT_TRUE(item->isEnabled());
}

}  // namespace
