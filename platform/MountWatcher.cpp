#include "platform/MountWatcher.h"

#include "platform/MountTable.h"

#include <QSocketNotifier>

#include <libmount/libmount.h>

#include <algorithm>

namespace spinforge {

void MountWatcher::MonitorUnref::operator()(libmnt_monitor* monitor) const { mnt_unref_monitor(monitor); }

MountWatcher::MountWatcher(VolumeSource volumes, QObject* parent)
    : MountEvents(parent), volumes_(std::move(volumes)), monitor_(mnt_new_monitor()) {
    mounted_ = readMountPoints();
    if (!monitor_ || mnt_monitor_enable_kernel(monitor_.get(), 1) != 0) return;
    const int fd = mnt_monitor_get_fd(monitor_.get());
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MountWatcher::tableChanged);
}

MountWatcher::~MountWatcher() {
    delete notifier_;  // stops polling the monitor's descriptor before the monitor closes it
}

QSet<QString> MountWatcher::readMountPoints() const {
    QSet<QString> points;
    for (const Mount& mount : MountTable::read(volumes_.mountTable)) points.insert(mount.point);
    return points;
}

void MountWatcher::tableChanged() {
    // Taking the changes re-arms the monitor; what changed is read from the table itself.
    while (mnt_monitor_next_change(monitor_.get(), nullptr, nullptr) == 0) {}
    QSet<QString> now = readMountPoints();
    if (now.isEmpty()) return;  // unreadable just now (a table always has "/"): the next change reads it again
    const QSet<QString> added = QSet<QString>(now).subtract(mounted_);
    mounted_ = std::move(now);
    const bool driveArrived = std::any_of(added.begin(), added.end(), [this](const QString& point) {
        return MountTable::isCandidate(point, volumes_.prefixes);
    });
    if (driveArrived) emit volumeMounted();
}

}  // namespace spinforge
