#pragma once
// Ejecting through udisks2 (org.freedesktop.UDisks2 on the system bus), with the calls a file
// manager's "Safely Remove" makes: the block device whose file system is mounted at the mount
// point is looked up, every mount of every file system of its drive is undone, then the drive is
// powered off where udisks2 says it can be. Nothing asks the user for a password: a call that
// would need one fails instead. Main thread; every call is asynchronous and bounded.

#include "platform/DriveEjector.h"

#include <QDBusConnection>

namespace spinforge {

class UDisksEjector final : public DriveEjector {
public:
    // `bus` is where udisks2 is looked for; `mountTable` where the kernel lists its mounts (a test's
    // own in its format), which udisks2 follows a moment behind.
    explicit UDisksEjector(QDBusConnection bus = QDBusConnection::systemBus(),
                           QString mountTable = QStringLiteral("/proc/self/mountinfo"));

    // A drive is known by udisks2's object for it and the file system's UUID. A mount point the
    // mount table lists and udisks2 does not yet is looked for again for up to a second.
    QCoro::Task<QList<Identified>> identify(QStringList mountPoints) override;
    // udisks2 undoes one mount per call, so the drive is looked at again after each until nothing
    // of it is mounted. A drive that is not removable (a partition of the computer's own disk
    // mounted below /media/) only has the file system at `mountPoint` unmounted, and is never
    // powered off. Once nothing of the drive is mounted it is safe to pull: a power-off that fails
    // then (a card reader, a hub that keeps the power on) still counts as ejected.
    QCoro::Task<Outcome> eject(QString mountPoint, Identity expected) override;

private:
    QDBusConnection bus_;
    QString mountTable_;
};

}  // namespace spinforge
