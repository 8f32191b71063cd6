#pragma once
// Watches the kernel's mount table and says when a drive appears: a new mount point where removable
// drives are mounted (see MountTable::isCandidate). libmount's monitor wakes it on every change of
// the table; each change re-reads the table and compares its mount points with the previous read.
// Container overlays, snap images and portal mounts come and go elsewhere and are no drive
// arriving. Main thread only.

#include "platform/MountEvents.h"
#include "platform/VolumeSource.h"

#include <QSet>
#include <QString>

#include <memory>

class QSocketNotifier;
struct libmnt_monitor;

namespace spinforge {

class MountWatcher : public MountEvents {
    Q_OBJECT
public:
    // Reads the source's mount table now (those mount points never count as new) and starts
    // watching the kernel's. Where the monitor can't be had the watcher never fires, without a
    // word: the agent still syncs the drives it finds at other times.
    explicit MountWatcher(VolumeSource volumes = {}, QObject* parent = nullptr);
    ~MountWatcher() override;
    MountWatcher(const MountWatcher&) = delete;
    MountWatcher& operator=(const MountWatcher&) = delete;

private:
    struct MonitorUnref {
        void operator()(libmnt_monitor* monitor) const;
    };

    void tableChanged();
    QSet<QString> readMountPoints() const;

    const VolumeSource volumes_;
    std::unique_ptr<libmnt_monitor, MonitorUnref> monitor_;
    QSocketNotifier* notifier_ = nullptr;  // a child, but deleted before the monitor
    QSet<QString> mounted_;
};

}  // namespace spinforge
