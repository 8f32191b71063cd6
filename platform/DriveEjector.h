#pragma once
// Ejecting a drive as the desktop's "Safely Remove" does: its file systems unmounted, then the
// drive powered off. The real one is UDisksEjector (udisks2 on the system bus); tests may stand
// in for the service or for this. Main thread; nothing here blocks.

#include <QCoroTask>
#include <QString>

namespace spinforge {

class DriveEjector {
public:
    struct Outcome {
        enum class Kind {
            ejected,     // every file system of the drive unmounted, and the drive off where it can be
            notMounted,  // nothing the disk service knows is mounted there (any more)
            failed,      // nothing or only part was done; `reason` says why
        };
        Kind kind = Kind::failed;
        QString reason;  // for failed: a lower-case phrase the user reads after "Could not eject X: "
    };

    virtual ~DriveEjector() = default;

    // Ejects the drive whose file system is mounted at `mountPoint`. Never throws; every wait on
    // the disk service is bounded. The ejector must outlive the task.
    virtual QCoro::Task<Outcome> eject(QString mountPoint) = 0;
};

}  // namespace spinforge
