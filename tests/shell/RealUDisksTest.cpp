// Ejecting through the agent's menu against the real udisks2 (udisksd), which tests/support/
// real-udisks starts with a udevd of its own in a mount namespace of its own. The sticks are ext4
// images on loop devices: UD-* dressed as USB flash sticks (udisks2 offers to power them off, then
// fails to: they are no USB devices), LOOP-* plain loop devices with no drive at all. EjectTest.cpp
// keeps the stand-in for what the real daemon can't be made to do here (partitions, a power-off).
#include "platform/MountTable.h"
#include "platform/UDisksEjector.h"
#include "shell/ShellRig.h"
#include "support/Await.h"

#include <QProcess>

#include <sys/mount.h>
#include <sys/sysmacros.h>

using namespace testing_support;
using Posted = RecordingNotifier::Posted;

namespace {

// Why the real udisks2 is not there to test against, or nullopt.
std::optional<std::string> whyNoUDisks() {
    if (const char* missing = std::getenv("SPINFORGE_UDISKS_MISSING")) return missing;
    if (!std::getenv("SPINFORGE_UDISKS_BUS")) return "run through tests/support/real-udisks (ctest does)";
    return whyUnavailable(Disk::ext4);
}

class RealUDisks : public ShellRig {
protected:
    RealUDisks() : ShellRig(whyNoUDisks() ? Disk::folder : Disk::ext4) {}
    void SetUp() override {
        if (const std::optional<std::string> why = whyNoUDisks()) GTEST_SKIP() << *why;
        const QString bus = QString::fromLocal8Bit(std::getenv("SPINFORGE_UDISKS_BUS"));
        udisks.emplace(QDBusConnection::connectToBus(bus, QStringLiteral("real-udisks")));
        ejector = &*udisks;
        rig.serve({{"a.mp3", noise(50'000, 1)}});
    }

    // A stick mounted and registered, once udisks2 knows it for what it is.
    QString stick(const QString& label) { return plugIn(rig.addDrive(label)); }
    // Attaching an image to a loop device is a "change" of a device that was there before, and
    // udisks2 makes a drive only of one that is added: the stick is announced as plugged in, and
    // udisks2 waited for until it tells the file system's UUID that udev read.
    QString plugIn(const QString& volume) {
        QString device;
        for (const spinforge::Mount& mount : spinforge::MountTable::read(QStringLiteral("/proc/self/mountinfo")))
            if (mount.point == volume) device = QStringLiteral("%1:%2").arg(major(mount.device)).arg(minor(mount.device));
        const auto settle = [] { QProcess::execute(findTool(QStringLiteral("udevadm")), {QStringLiteral("settle")}); };
        settle();  // a loop device used before has events of its own still on the way
        writeBytes("/sys/dev/block/" + device + "/uevent", "add");
        settle();
        const QByteArray udevs = fileBytes("/run/udev/data/b" + device);
        const QString uuid = QString::fromUtf8(udevs.mid(udevs.indexOf("E:ID_FS_UUID=") + 13).split('\n').value(0));
        const bool flash = QFileInfo(volume).fileName().startsWith(QStringLiteral("UD-"));
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const auto found = await(udisks->identify({volume})).value(0);
            const auto* identity = std::get_if<spinforge::DriveEjector::Identity>(&found);
            return identity && identity->uuid == uuid && (identity->drive != u"/") == flash;
        }, 10000)) << "udisks2 does not know " << volume.toStdString() << " as " << uuid.toStdString();
        return volume;
    }
    Posted toldFromMenu(const QString& volume) {
        emit delegate().statusItem()->menu()->aboutToShow();
        QAction* item = menuAction("Eject " + QFileInfo(volume).fileName());
        return item ? told([item] { item->trigger(); }) : Posted();
    }

    std::optional<spinforge::UDisksEjector> udisks;
};

TEST_F(RealUDisks, EachStickIsEjectedUntilNothingOfItIsMounted) {
    const QString plain = stick(QStringLiteral("LOOP-PLAIN")), flash = stick(QStringLiteral("UD-STICK")),
                  twice = stick(QStringLiteral("UD-TWICE")), busy = stick(QStringLiteral("UD-BUSY"));
    const QString also = rig.scratch(QStringLiteral("also"));
    QDir().mkpath(also);
    ASSERT_EQ(::mount(QFile::encodeName(twice).constData(), QFile::encodeName(also).constData(), nullptr, MS_BIND, nullptr), 0);
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitForStatus(QStringLiteral("4 tracks copied to USB")));

    // In use: nothing is powered off, and it stays mounted.
    QFile open(EngineRig::onDrive(busy, QStringLiteral("a.mp3")));
    ASSERT_TRUE(open.open(QIODevice::ReadOnly));
    EXPECT_EQ(toldFromMenu(busy), (Posted{"Spinforge needs attention", "Could not eject UD-BUSY: the drive is in use", false}));
    EXPECT_TRUE(kernelMountPoints().contains(busy));
    open.close();

    // Each ends with nothing of the stick mounted. A flash stick's power-off fails then ("No usb
    // device"), and it is safe to pull all the same; a plain loop device has no drive to power off.
    for (const QString& volume : {busy, flash, twice, plain}) {
        SCOPED_TRACE(volume.toStdString());
        EXPECT_EQ(toldFromMenu(volume), (Posted{"Spinforge", QFileInfo(volume).fileName() + " can be removed", true}));
        EXPECT_FALSE(kernelMountPoints().contains(volume));
    }
    EXPECT_FALSE(kernelMountPoints().contains(also)) << "a stick mounted twice was left mounted at its second place";
}

// A notification's Eject pressed after the stick was pulled out and another took its mount point.
TEST_F(RealUDisks, AnOldOfferLeavesTheStickThatTookItsPlaceAlone) {
    const QString volume = stick(QStringLiteral("UD-MINE"));
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitForStatus(QStringLiteral("1 tracks copied to USB")));
    const std::function<void()> fromNotification = rig.notifier.actions.last();

    rig.takeDriveAway(volume);
    KernelDrive friends(Disk::ext4, volume, rig.scratch(QStringLiteral("UD-FRIEND.img")));
    plugIn(volume);
    EXPECT_EQ(told(fromNotification), (Posted{"Spinforge", "UD-MINE is no longer there; nothing was ejected", true}));
    EXPECT_TRUE(friends.isMounted());
}

}  // namespace
