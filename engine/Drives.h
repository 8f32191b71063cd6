#pragma once
// Which drives the engine may write to: volumes mounted where desktop automounters put removable
// drives, not hidden, writable by the user. Each is opened, and known from then on, by its root
// (see Drive). Owned by the engine; main thread.

#include "engine/Drive.h"
#include "platform/FileSystem.h"
#include "platform/MountTable.h"
#include "platform/VolumeSource.h"

#include <QPair>
#include <QStringList>

#include <optional>
#include <vector>

namespace spinforge {

class Drives {
public:
    Drives(FileSystem& files, VolumeSource volumes);
    Drives(const Drives&) = delete;
    Drives& operator=(const Drives&) = delete;

    // The mount points of the candidate drives, in the mount table's order. Never fails: an
    // unreadable table gives none.
    QStringList mounted() const;
    // The drive mounted at `mountPoint`, its root held open. Throws a file PlatformError "<action>: the drive
    // is no longer mounted" when no drive is mounted there now, "…: the drive is read-only" when
    // one is that can't be written.
    Drive open(const QString& mountPoint, const QString& action) const;
    // The candidate drives whose marker, read through their held root, names `profileId`, in the
    // mount table's order. Never fails.
    std::vector<Drive> registeredTo(qint64 profileId) const;

private:
    // The drive of one mount table entry, or the words that say why not.
    struct Opened {
        std::optional<Drive> drive;
        QString reason;
        QPair<quint64, quint64> root = {};  // the drive's root: its device and inode
    };
    Opened openAt(const Mount& mount) const;
    std::vector<Drive> candidates() const;

    // Set once at construction.
    FileSystem& files_;
    const VolumeSource volumes_;
};

}  // namespace spinforge
