// Ejecting through the agent's menu against the real udisks2 (udisksd), on a bus of the test's own,
// with a systemd-udevd of its own and loop-device sticks: those named UD-* dressed as USB flash
// sticks (udisks2 offers to power them off, then fails to: they are no USB devices), those named
// LOOP-* plain loop devices (no drive at all). EjectTest.cpp keeps the stand-in for what the real
// daemon can't be made to do here (partitions, a real power-off).
//
// Root only, in a mount namespace of the test's own (tests/support/with-own-mounts), so that its
// sticks stay out of sight of other agents; udev's database and rules, udisks2's state and the
// links udevd makes are private folders there. The rules are the test's own: udevd does nothing to
// the machine's other devices. It skips with the reason where any of that can't be had.
#include "platform/MountTable.h"
#include "platform/UDisksEjector.h"
#include "shell/ShellRig.h"
#include "support/Await.h"

#include <QDBusConnectionInterface>
#include <QProcess>

#include <memory>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace testing_support;
using Posted = RecordingNotifier::Posted;
using spinforge::DriveEjector;

namespace {

const QString kUdevd = QStringLiteral("/lib/systemd/systemd-udevd");
const QString kUDisksd = QStringLiteral("/usr/libexec/udisks2/udisksd");

// Every loop device backed by one of the test's images gets its file system's identity; those named
// UD-* also a USB flash stick's, which udisks2 may power off.
const char* const kRules = R"(SUBSYSTEM!="block", GOTO="end"
KERNEL!="loop*", GOTO="end"
ENV{DEVTYPE}!="disk", GOTO="end"
ATTR{loop/backing_file}!="*/UD-*.img|*/LOOP-*.img", GOTO="end"
IMPORT{builtin}="blkid"
ATTR{loop/backing_file}=="*/UD-*.img", ENV{ID_SERIAL}="Spinforge_Test_Stick_%k", ENV{ID_VENDOR}="Spinforge", ENV{ID_MODEL}="Test_Stick", ENV{ID_BUS}="usb", ENV{ID_DRIVE_FLASH}="1", ENV{UDISKS_CAN_POWER_OFF}="1"
LABEL="end"
)";

QByteArray linkTarget(const char* path) {
    char target[256] = {};
    const ssize_t length = ::readlink(path, target, sizeof target - 1);
    return length > 0 ? QByteArray(target, length) : QByteArray();
}

// Whether this process has a mount namespace other than its parent's (ctest's), as
// tests/support/with-own-mounts gives it. (The first process's may not be readable even to root.)
bool inOwnMountNamespace() {
    const QByteArray own = linkTarget("/proc/self/ns/mnt");
    const QByteArray parents = linkTarget(QStringLiteral("/proc/%1/ns/mnt").arg(::getppid()).toLatin1().constData());
    return !own.isEmpty() && !parents.isEmpty() && own != parents;
}

QString runningUdevd() {
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray name = fileBytes("/proc/" + pid + "/comm").trimmed();
        if (name == "systemd-udevd" || name == "udevd") return "process " + pid;
    }
    return {};
}

std::optional<std::string> whyNoDiskService() {
    if (std::optional<std::string> why = whyUnavailable(Disk::ext4)) return why;
    for (const QString& daemon : {kUdevd, kUDisksd})
        if (!QFileInfo(daemon).isExecutable()) return daemon.toStdString() + " is not installed (Debian: udev, udisks2)";
    if (findTool(QStringLiteral("dbus-daemon")).isEmpty()) return "dbus-daemon is not installed";
    if (!inOwnMountNamespace()) return "needs a mount namespace of its own: run it through ctest (tests/support/with-own-mounts)";
    if (const QString other = runningUdevd(); !other.isEmpty())
        return "another udevd runs on this machine (" + other.toStdString() + "): the test starts its own";
    return std::nullopt;
}

// A bus of the suite's own with udisksd on it, and the udevd it needs, for the whole suite.
class DiskService {
public:
    explicit DiskService(const QString& scratch) {
        for (const char* folder : {"/run/udev", "/run/udisks2", "/dev/block", "/usr/lib/udev/rules.d", "/etc/udev/rules.d"})
            makePrivate(QString::fromLatin1(folder));
        writeBytes(QStringLiteral("/run/udev/rules.d/90-spinforge-sticks.rules"), kRules);
        const QString address = "unix:path=" + scratch + "/system-bus";
        start(findTool(QStringLiteral("dbus-daemon")), {"--config-file=" SPINFORGE_SYSTEM_BUS_CONF, "--address=" + address,
                                                        "--nofork", "--nopidfile"});
        waitFor("the bus", [&] { return QFile::exists(scratch + "/system-bus"); });
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("real-udisks")));
        start(kUdevd, {});
        waitFor("systemd-udevd", [] { return QFile::exists(QStringLiteral("/run/udev/control")); });
        start(kUDisksd, {QStringLiteral("--no-sigint")}, address);
        waitFor("udisksd", [&] { return bus_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")); });
    }
    ~DiskService() {
        for (auto process = processes_.rbegin(); process != processes_.rend(); ++process) {
            (*process)->terminate();
            if (!(*process)->waitForFinished(5000)) (*process)->kill();
        }
        bus_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("real-udisks"));
        for (auto folder = private_.rbegin(); folder != private_.rend(); ++folder) {
            ::umount2(QFile::encodeName(folder->first).constData(), MNT_DETACH);
            if (folder->second) ::rmdir(QFile::encodeName(folder->first).constData());
        }
    }
    QDBusConnection bus() const { return *bus_; }

private:
    // A tmpfs at `folder`, in this mount namespace only; the folder made first where it was missing.
    void makePrivate(const QString& folder) {
        const bool made = !QFileInfo::exists(folder) && QDir().mkpath(folder);
        if (::mount("spinforge-test", QFile::encodeName(folder).constData(), "tmpfs", 0, "mode=0755,size=16m") != 0)
            throw std::runtime_error("could not mount a tmpfs on " + folder.toStdString());
        private_.emplace_back(folder, made);
    }
    // A daemon that ends with the test, however the test ends.
    void start(const QString& program, const QStringList& arguments, const QString& systemBus = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!systemBus.isEmpty()) environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus);
        process->setProcessEnvironment(environment);
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(program, arguments);
        if (!process->waitForStarted(5000)) throw std::runtime_error("could not start " + program.toStdString());
        processes_.push_back(std::move(process));
    }
    void waitFor(const char* what, const std::function<bool()>& ready) {
        if (QTest::qWaitFor(ready, 10000)) return;
        QByteArray output;
        for (const auto& process : processes_) output += process->readAll();
        throw std::runtime_error(std::string(what) + " did not come up:\n" + output.toStdString());
    }

    std::vector<std::pair<QString, bool>> private_;  // each folder, and whether the test made it
    std::vector<std::unique_ptr<QProcess>> processes_;
    std::unique_ptr<QDBusConnection> bus_;
};

class RealUDisks : public ShellRig {
protected:
    RealUDisks() : ShellRig(whyNotHere ? Disk::folder : Disk::ext4) {}
    static void SetUpTestSuite() {
        whyNotHere = whyNoDiskService();
        if (whyNotHere) return;
        scratch = std::make_unique<QTemporaryDir>();
        try {
            service = std::make_unique<DiskService>(scratch->path());
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }
    static void TearDownTestSuite() {
        service.reset();
        scratch.reset();
    }
    void SetUp() override {
        if (whyNotHere) GTEST_SKIP() << *whyNotHere;
        ASSERT_TRUE(service) << failure;
        udisks.emplace(service->bus());
        ejector = &*udisks;
        rig.serve({{"a.mp3", noise(50'000, 1)}});
    }
    void TearDown() override {
        ShellRig::TearDown();
        ejector = nullptr;
    }

    // A stick mounted and registered, once udisks2 knows it for what it is.
    QString stick(const QString& label) {
        const QString volume = rig.addDrive(label);
        plugIn(volume);
        return volume;
    }
    // Attaching an image to a loop device is a "change" of a device that was there before, and
    // udisks2 makes a drive only of one that is added: it is announced as plugged in, as a stick is.
    void plugIn(const QString& volume) {
        for (const spinforge::Mount& mount : spinforge::MountTable::read(QStringLiteral("/proc/self/mountinfo")))
            if (mount.point == volume)
                writeBytes(QStringLiteral("/sys/dev/block/%1:%2/uevent").arg(major(mount.device)).arg(minor(mount.device)), "add");
        const bool flash = QFileInfo(volume).fileName().startsWith(QStringLiteral("UD-"));
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const DriveEjector::Identified found = await(udisks->identify({volume})).value(0);
            const auto* identity = std::get_if<DriveEjector::Identity>(&found);
            return identity && !identity->uuid.isEmpty() && (identity->drive != u"/") == flash;
        }, 10000)) << "udisks2 does not know " << volume.toStdString();
    }
    // What pressing `eject` makes the user read, once it is told.
    Posted told(const std::function<void()>& eject) {
        const qsizetype before = rig.notifier.posted.size();
        eject();
        EXPECT_TRUE(QTest::qWaitFor([&] { return rig.notifier.posted.size() > before; }, 30000));
        return rig.notifier.posted.value(before);
    }
    Posted toldFromMenu(const QString& volume) {
        emit delegate().statusItem()->menu()->aboutToShow();
        QAction* item = menuAction("Eject " + QFileInfo(volume).fileName());
        if (!item) return {};
        return told([item] { item->trigger(); });
    }

    inline static std::optional<std::string> whyNotHere;
    inline static std::unique_ptr<QTemporaryDir> scratch;
    inline static std::unique_ptr<DiskService> service;
    inline static std::string failure;
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
    const auto removable = [](const QString& volume) {
        return Posted{"Spinforge", QFileInfo(volume).fileName() + " can be removed", true};
    };

    // In use: nothing is powered off, and it stays mounted.
    QFile open(EngineRig::onDrive(busy, QStringLiteral("a.mp3")));
    ASSERT_TRUE(open.open(QIODevice::ReadOnly));
    EXPECT_EQ(toldFromMenu(busy), (Posted{"Spinforge needs attention", "Could not eject UD-BUSY: the drive is in use", false}));
    EXPECT_TRUE(kernelMountPoints().contains(busy));
    open.close();

    // Each of these ends with nothing of the stick mounted. The flash sticks' power-off fails once
    // they are unmounted ("No usb device"), and they are safe to pull all the same; the plain loop
    // device has no drive to power off.
    for (const QString& volume : {busy, flash, twice, plain}) {
        SCOPED_TRACE(volume.toStdString());
        EXPECT_EQ(toldFromMenu(volume), removable(volume));
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
