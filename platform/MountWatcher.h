#pragma once
// Watches the kernel's mount table and says when a drive appears: a new mount point where removable
// drives are mounted (see MountTable::isCandidate). The kernel flags the open table file (POLLPRI)
// on every mount and unmount; each flag re-reads the whole table and compares its mount points with
// the previous read. Container overlays, snap images and portal mounts come and go elsewhere and
// are no drive arriving. Main thread only.

#include "platform/MountEvents.h"
#include "platform/VolumeSource.h"

#include <QSet>
#include <QString>

#include <optional>

class QSocketNotifier;

namespace spinforge {

class MountWatcher : public MountEvents {
    Q_OBJECT
public:
    // Opens the source's mount table and reads the mount points there now; those never count as
    // new. A table that cannot be opened or read leaves a watcher that never fires, without a
    // word: the agent still syncs the drives it finds at other times.
    explicit MountWatcher(VolumeSource volumes = {}, QObject* parent = nullptr);
    ~MountWatcher() override;  // closes the table
    MountWatcher(const MountWatcher&) = delete;
    MountWatcher& operator=(const MountWatcher&) = delete;

private:
    void tableChanged();
    std::optional<QSet<QString>> readMountPoints() const;

    const QStringList prefixes_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;  // a child, but deleted before the descriptor is closed
    QSet<QString> mounted_;
};

}  // namespace spinforge
