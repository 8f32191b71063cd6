#pragma once
// Ejecting a drive as the desktop's "Safely Remove" does: its file systems unmounted, then the
// drive powered off. The real one is UDisksEjector (udisks2 on the system bus); tests may stand
// in for the service or for this. Main thread; nothing here blocks.
//
// An eject is of a drive as it was when the user was offered it: the offer asks identify() what
// is mounted there, and eject() goes ahead only while the mount point still leads to that drive.
// A stick that took its place (the same USB port, the same mount point) is never touched.

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

namespace spinforge {

class DriveEjector {
public:
    // Which file system of which drive is mounted somewhere, as the disk service knows them.
    struct Identity {
        QString drive;  // the disk service's name for the drive; "/" when there is none (a loop device)
        QString block;  // its name for the block device that holds the file system
        QString uuid;   // the file system's UUID; empty when it has none

        // The same file system on the same drive: a stick plugged in again (even at another
        // device node) still is; a friend's stick at the same port and mount point is not.
        bool sameAs(const Identity& other) const {
            return drive == other.drive && uuid == other.uuid && (!uuid.isEmpty() || block == other.block);
        }
    };

    struct Outcome {
        enum class Kind {
            ejected,     // nothing of the drive is mounted any more, and the drive is off where it can be
            notMounted,  // nothing the disk service knows is mounted there (any more)
            replaced,    // another drive is mounted there now: nothing was done
            failed,      // nothing or only part was done; `reason` says why
        };
        Kind kind = Kind::failed;
        QString reason;  // for failed: a lower-case phrase the user reads after "Could not eject X: "
    };

    // What is mounted at a mount point now, or, when nothing the disk service knows is (or the
    // service can't be asked), the outcome an eject of it would have.
    using Identified = std::variant<Identity, Outcome>;

    virtual ~DriveEjector() = default;

    // One answer per mount point, in order, from one look at the disk service. Never throws; every
    // wait is bounded. The ejector must outlive the task.
    virtual QCoro::Task<QList<Identified>> identify(QStringList mountPoints) = 0;

    // Ejects the drive whose file system is mounted at `mountPoint`, if it is the one `expected`
    // names: every mount of every file system of a removable drive is undone (of any other drive,
    // every mount of that one file system), and only then is the drive powered off. Never throws;
    // every wait on the disk service is bounded. The ejector must outlive the task.
    virtual QCoro::Task<Outcome> eject(QString mountPoint, Identity expected) = 0;
};

}  // namespace spinforge
