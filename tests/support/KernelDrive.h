#pragma once
// Drives the kernel really mounts, for tests run as root: a tmpfs, an ext4, exFAT (the kernel's
// driver, else exfat-fuse) or FAT image on a loop device, or a fake stick (spinforge-fake-stick): one
// that keeps less than it is given, or one whose writes stall.
// Elsewhere these tests skip with the reason whyUnavailable gives.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

class QProcess;

namespace testing_support {

// What a test's drives are: folders listed in a mount table of the test's own, or file systems.
enum class Disk { folder, tmpfs, ext4, exfat, vfat, fakeStick, stallingStick };
const char* nameOf(Disk disk);

// Why drives of this kind can't be had here, or nullopt when they can.
std::optional<std::string> whyUnavailable(Disk disk);

// The mount points in the kernel's table now, in table order.
QStringList kernelMountPoints();

// A tool that machines run as root keep in sbin, which a test's PATH may lack; empty when missing.
QString findTool(const QString& name);

class KernelDrive {
public:
    // Mounts a new, empty file system at `mountPoint`, its image (if any) at `image`. Throws
    // std::runtime_error saying what failed.
    KernelDrive(Disk disk, QString mountPoint, QString image, const QString& tmpfsOptions = QStringLiteral("size=4m"));
    ~KernelDrive();  // unmounted (lazily when busy) and removed, however the test ended
    KernelDrive(const KernelDrive&) = delete;
    KernelDrive& operator=(const KernelDrive&) = delete;

    const QString& path() const { return path_; }
    bool isMounted() const { return kernelMountPoints().contains(path_); }

    // tmpfs and ext4: mount options changed in place ("size=256k", MS_RDONLY).
    void remount(unsigned long flags, const char* options = nullptr);
    // What `umount -l` does: the drive leaves the table at once; open files keep its file system.
    void detachLazily();
    void mountAgain();  // an image's file system, after it left
    // A fake stick: from now on it loses every new block, though it still claims plenty of room.
    void keepNothingMore();
    void keepEverything();

private:
    void mountImage();
    void unmountNow();

    Disk disk_;
    QString path_;
    QString image_;
    QString loop_;
    std::unique_ptr<QProcess> fakeStick_;
};

}  // namespace testing_support
