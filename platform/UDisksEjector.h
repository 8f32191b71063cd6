#pragma once
// Ejecting through udisks2 (org.freedesktop.UDisks2 on the system bus), with the calls a file
// manager's "Safely Remove" makes: the block device whose file system is mounted at the mount
// point is looked up, every mounted file system of its drive is unmounted, then the drive is
// powered off where udisks2 says it can be. Nothing asks the user for a password: a call that
// would need one fails instead. Main thread; every call is asynchronous and bounded.

#include "platform/DriveEjector.h"

#include <QDBusConnection>

namespace spinforge {

class UDisksEjector final : public DriveEjector {
public:
    // `bus` is where udisks2 is looked for.
    explicit UDisksEjector(QDBusConnection bus = QDBusConnection::systemBus());

    // A drive that is not removable (a partition of the computer's own disk mounted below
    // /media/) only has the file system at `mountPoint` unmounted, and is never powered off.
    QCoro::Task<Outcome> eject(QString mountPoint) override;

private:
    QDBusConnection bus_;
};

}  // namespace spinforge
