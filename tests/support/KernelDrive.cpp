#include "support/KernelDrive.h"

#include "platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {
namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

bool kernelHas(const char* fileSystem) {
    QFile known(QStringLiteral("/proc/filesystems"));
    return known.open(QIODevice::ReadOnly) && known.readAll().contains(QByteArray("\t") + fileSystem + '\n');
}

// Runs a tool to its end; its standard output, or a std::runtime_error with its standard error.
QByteArray runTool(const QString& name, const QStringList& arguments) {
    const QString program = findTool(name);
    if (program.isEmpty()) throw std::runtime_error(name.toStdString() + " is not installed");
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error((name + u' ' + arguments.join(u' ') + QStringLiteral(" failed: ")).toStdString() +
                                 process.readAllStandardError().toStdString());
    return process.readAllStandardOutput();
}

[[noreturn]] void fail(const QString& what, int errnum) {
    throw std::runtime_error((what + QStringLiteral(": ")).toStdString() + std::strerror(errnum));
}

std::optional<std::string> whyNoMounts() {
    if (::geteuid() != 0) return "needs root to mount drives";
    // Root in a container may still be refused every mount.
    QTemporaryDir probe;
    const bool canMount = ::mount("spinforge-test", native(probe.path()).constData(), "tmpfs", 0, "size=4k") == 0;
    const int error = errno;
    if (canMount) ::umount2(native(probe.path()).constData(), 0);
    if (!canMount) return std::string("this machine refuses mounts even to root: ") + std::strerror(error);
    return std::nullopt;
}

std::optional<std::string> whyNoImages(const char* mkfs) {
    if (!QFile::exists("/dev/loop-control") || findTool("losetup").isEmpty()) return "needs loop devices and losetup";
    if (findTool(mkfs).isEmpty()) return std::string(mkfs) + " is not installed";
    return std::nullopt;
}

}  // namespace

const char* nameOf(Disk disk) {
    static const char* const names[] = {"folder", "tmpfs", "ext4", "exFAT", "FAT32", "a fake stick", "a stalling stick"};
    return names[int(disk)];
}

std::optional<std::string> whyUnavailable(Disk disk) {
    if (disk == Disk::folder) return std::nullopt;
    if (auto why = whyNoMounts()) return why;
    switch (disk) {
    case Disk::ext4: return whyNoImages("mkfs.ext4");
    case Disk::exfat:
        if (!kernelHas("exfat") && (findTool("mount.exfat-fuse").isEmpty() || !QFile::exists("/dev/fuse")))
            return "this kernel has no exfat driver and exfat-fuse is not installed";
        return whyNoImages("mkfs.exfat");
    case Disk::vfat:
        if (!kernelHas("vfat")) return "this kernel has no vfat driver";
        return whyNoImages("mkfs.vfat");
    case Disk::fakeStick:
    case Disk::stallingStick:
        if (!kernelHas("fuse") || !QFile::exists("/dev/fuse")) return "this kernel has no FUSE";
        return std::nullopt;
    default: return std::nullopt;
    }
}

QStringList kernelMountPoints() {
    QStringList points;
    for (const spinforge::Mount& mount : spinforge::MountTable::read(QStringLiteral("/proc/self/mountinfo"))) points << mount.point;
    return points;
}

QString findTool(const QString& name) {
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) found = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    return found;
}

KernelDrive::KernelDrive(Disk disk, QString mountPoint, QString image, const QString& tmpfsOptions)
    : disk_(disk), path_(std::move(mountPoint)), image_(std::move(image)) {
    if (::mkdir(native(path_).constData(), 0755) != 0 && errno != EEXIST) fail("could not create " + path_, errno);
    if (disk_ == Disk::tmpfs) {
        const QByteArray options = native(tmpfsOptions + QStringLiteral(",mode=0755"));
        if (::mount("spinforge-test", native(path_).constData(), "tmpfs", 0, options.constData()) != 0)
            fail("could not mount a tmpfs on " + path_, errno);
        return;
    }
    if (disk_ == Disk::fakeStick || disk_ == Disk::stallingStick) {
        fakeStick_ = std::make_unique<QProcess>();
        fakeStick_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList arguments = disk_ == Disk::stallingStick ? QStringList{"--stall-writes", path_} : QStringList{path_};
        fakeStick_->start(QStringLiteral(SPINFORGE_FAKE_STICK_PATH), arguments);
        if (!fakeStick_->waitForReadyRead(10000) || !fakeStick_->readLine().startsWith("mounted"))
            throw std::runtime_error("spinforge-fake-stick did not mount " + path_.toStdString());
        return;
    }
    QFile file(image_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(qint64(16) << 20))
        throw std::runtime_error("could not create the image " + image_.toStdString());
    file.close();
    if (disk_ == Disk::ext4) runTool("mkfs.ext4", {"-q", "-F", image_});
    if (disk_ == Disk::exfat) runTool("mkfs.exfat", {image_});
    if (disk_ == Disk::vfat) runTool("mkfs.vfat", {image_});
    loop_ = QString::fromLocal8Bit(runTool("losetup", {"--find", "--show", image_}).trimmed());
    mountImage();
}

KernelDrive::~KernelDrive() {
    for (int attempt = 0; attempt < 8 && isMounted(); ++attempt) unmountNow();
    if (fakeStick_ && !fakeStick_->waitForFinished(10000)) fakeStick_->kill();
    if (!loop_.isEmpty()) QProcess::execute(findTool("losetup"), {"-d", loop_});
    if (!image_.isEmpty()) QFile::remove(image_);
    if (!isMounted()) ::rmdir(native(path_).constData());
}

void KernelDrive::mountImage() {
    const QByteArray device = native(loop_), point = native(path_);
    ::mkdir(point.constData(), 0755);  // gone when another drive mounted here meanwhile left
    const char* type = disk_ == Disk::ext4 ? "ext4" : disk_ == Disk::vfat ? "vfat" : "exfat";
    if (disk_ == Disk::exfat && !kernelHas("exfat")) {
        runTool("mount.exfat-fuse", {loop_, path_});  // it needs the block device, not the image
        return;
    }
    const int result = ::mount(device.constData(), point.constData(), type, 0, nullptr);
    if (result != 0) fail("could not mount " + loop_ + " on " + path_, errno);
}

void KernelDrive::unmountNow() {
    if (::umount2(native(path_).constData(), 0) != 0) ::umount2(native(path_).constData(), MNT_DETACH);
}

void KernelDrive::remount(unsigned long flags, const char* options) {
    if (::mount(nullptr, native(path_).constData(), nullptr, MS_REMOUNT | flags, options) != 0)
        fail("could not remount " + path_, errno);
}

void KernelDrive::detachLazily() {
    if (::umount2(native(path_).constData(), MNT_DETACH) != 0) fail("could not unmount " + path_, errno);
}

void KernelDrive::mountAgain() { mountImage(); }

void KernelDrive::keepNothingMore() { ::kill(pid_t(fakeStick_->processId()), SIGUSR2); }

void KernelDrive::keepEverything() { ::kill(pid_t(fakeStick_->processId()), SIGUSR1); }

}  // namespace testing_support
