// Ejecting a drive from the status menu or a cycle's notification against a stand-in udisks2: what
// udisks2 is asked and in which order, what the user reads, and that no eject lands in a cycle.
#include "shell/ShellRig.h"
#include "support/FakeUDisks.h"

#include <optional>

using namespace testing_support;
using Posted = RecordingNotifier::Posted;
using Drive = FakeUDisks::Drive;
using FileSystem = FakeUDisks::FileSystem;

namespace {

const char* const kNoSystemBus = "no private system bus: run through scripts/test-session";

class Eject : public ShellRig {
protected:
    void SetUp() override {
        rig.serve({{"a.mp3", noise(100'000, 1)}});
        drive = rig.addDrive(QStringLiteral("DJSTICK"));
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
    };
    const Drive stick{"STICK"}, disk{"DISK", false};
    const Posted removable{"Spinforge", "DJSTICK can be removed", true};
    const auto couldNot = [](const char* reason) {
        return Posted{"Spinforge needs attention", QStringLiteral("Could not eject DJSTICK: ") + reason, false};
    };
    const Case cases[] = {
        {"a stick", {stick}, {{"sdb1", "STICK", "HERE"}}, {"Unmount sdb1", "PowerOff STICK"}, removable},
        {"a stick with two file systems, beside the computer's own disk", {disk, stick},
         {{"sda1", "DISK", "/"}, {"sdb1", "STICK", "HERE"}, {"sdb2", "STICK", "/media/dj/SECOND"}},
         {"Unmount sdb1", "Unmount sdb2", "PowerOff STICK"}, removable},
        {"a stick that cannot be powered off", {{"STICK", true, false}}, {{"sdb1", "STICK", "HERE"}}, {"Unmount sdb1"}, removable},
        {"a partition of the computer's own disk", {disk}, {{"sda1", "DISK", "/"}, {"sda3", "DISK", "HERE"}}, {"Unmount sda3"}, removable},
        {"a stick in use", {stick}, {{"sdb1", "STICK", "HERE", true}}, {"Unmount sdb1"}, couldNot("the drive is in use")},
        {"a drive still mounted that udisks2 does not know", {stick}, {{"sdb1", "STICK", "/media/dj/OTHER"}}, {},
         couldNot("the disk service (udisks2) does not know it")},
        {"no udisks2", {}, {}, {}, couldNot("the disk service (udisks2) is not running")},
        // Last: the drive leaves the mount table, and with the eject its item leaves the menu.
        {"a stick pulled out already", {stick}, {{"sdb1", "STICK", ""}}, {}, removable, true},
    };
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitForStatus(QStringLiteral("1 tracks copied to USB")));
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        for (FileSystem& fileSystem : c.fileSystems)
            if (fileSystem.mountPoint == u"HERE") fileSystem.mountPoint = drive;
        std::optional<FakeUDisks> udisks;
        if (!c.fileSystems.isEmpty()) ASSERT_TRUE(udisks.emplace(c.drives, c.fileSystems).isRegistered()) << kNoSystemBus;
        if (c.pulledOut) rig.takeDriveAway(drive);
        QAction* item = menuAction(QStringLiteral("Eject DJSTICK"));
        ASSERT_TRUE(item);
        const qsizetype before = rig.notifier.posted.size();
        item->trigger();
        EXPECT_EQ(notificationsAfter(before, 1), QList<Posted>{c.told});
        EXPECT_EQ(udisks ? udisks->calls : QStringList(), c.calls);
    }
}

// The items are locked while a cycle runs; an earlier cycle's Eject button pressed meanwhile ejects
// that cycle's drives once the running one has ended.
TEST_F(Eject, NoEjectLandsInTheMiddleOfACycle) {
    const QString backup = rig.addDrive(QStringLiteral("BACKUP"));
    rig.addDrive(QStringLiteral("NOT OURS"), std::nullopt);
    FakeUDisks udisks({{"STICK"}, {"BACKUP"}}, {{"sdb1", "STICK", drive}, {"sdc1", "BACKUP", backup}});
    ASSERT_TRUE(udisks.isRegistered()) << kNoSystemBus;
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitForStatus(QStringLiteral("2 tracks copied to USB")));
    ASSERT_EQ(rig.notifier.posted.last(), (Posted{"Spinforge", "2 tracks copied to USB", true, "Eject"}));
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
    const qsizetype before = rig.notifier.posted.size() + 1;  // the running cycle's own comes first
    bool ejectedInCycle = false;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const bool cycle = delegate().statusMenuItem().text().startsWith("Caching");
        ejectedInCycle |= cycle && !udisks.calls.isEmpty();
        return !cycle;
    }, 15000));
    EXPECT_FALSE(ejectedInCycle);

    EXPECT_EQ(notificationsAfter(before, 2), (QList<Posted>{{"Spinforge", "DJSTICK can be removed", true},
                                                   {"Spinforge", "BACKUP can be removed", true}}));
    EXPECT_EQ(udisks.calls, (QStringList{"Unmount sdb1", "PowerOff STICK", "Unmount sdc1", "PowerOff BACKUP"}));
    EXPECT_TRUE(item->isEnabled());
}

}  // namespace
