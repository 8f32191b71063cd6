#include "engine/Drives.h"

#include "records/PlatformError.h"

#include <QDir>
#include <QHash>
#include <QSet>

#include <cerrno>

namespace spinforge {
namespace {

const QString kGone = QStringLiteral("the drive is no longer mounted");
const QString kReadOnly = QStringLiteral("the drive is read-only");

// Whether `root` is the file system mounted as `mount`, rather than the empty folder below it.
bool isTheMount(const FileInfo& root, const Mount& mount) {
    return root.mountId ? root.mountId == mount.id : root.device == mount.device;
}

// The mounts a path leads to, in table order: of the entries for one mount point (a stick mounted
// on top of another) only the last, the one on top, which hides the ones below it.
QList<Mount> visibleMounts(const QList<Mount>& table) {
    QHash<QString, qsizetype> top;  // each point's last entry
    for (qsizetype i = 0; i < table.size(); ++i) top.insert(table[i].point, i);
    QList<Mount> visible;
    for (qsizetype i = 0; i < table.size(); ++i)
        if (top.value(table[i].point) == i) visible << table[i];
    return visible;
}

}  // namespace

Drives::Drives(FileSystem& files, VolumeSource volumes) : files_(files), volumes_(std::move(volumes)) {}

Drives::Opened Drives::openAt(const Mount& mount) const {
    FileResult<Folder> root = files_.openFolder(mount.point, Reach::beneath);
    if (!root.ok()) return {std::nullopt, FileStatus::systemMessage(root.status().errnum())};
    // Checked once the root is held: a drive still mounted now is the one the handle holds.
    const FileResult<FileInfo> identity = root->inspect();
    if (!identity.ok() || !isTheMount(*identity, mount)) return {std::nullopt, kGone};
    if (!root->checkWritable().ok()) return {std::nullopt, kReadOnly};
    return {Drive(std::move(*root), mount.point, *identity), {}, {quint64(identity->device), quint64(identity->inode)}};
}

std::vector<Drive> Drives::candidates() const {
    std::vector<Drive> drives;
    QSet<QPair<quint64, quint64>> roots;  // device and inode of each root taken
    for (const Mount& mount : visibleMounts(MountTable::read(volumes_.mountTable))) {
        // The cheap path test first. A file system mounted at two points counts once: at the first
        // of them.
        if (!MountTable::isCandidate(mount.point, volumes_.prefixes)) continue;
        Opened opened = openAt(mount);
        if (!opened.drive) continue;
        if (roots.contains(opened.root)) continue;
        roots.insert(opened.root);
        drives.push_back(std::move(*opened.drive));
    }
    return drives;
}

QStringList Drives::mounted() const {
    QStringList points;
    for (const Drive& drive : candidates()) points << drive.mountPoint();
    return points;
}

Drive Drives::open(const QString& mountPoint, const QString& action) const {
    const QString point = QDir::cleanPath(mountPoint);
    std::optional<Mount> listed;
    // The last line for a mount point is the mount on top, the one its path leads to.
    for (const Mount& mount : MountTable::read(volumes_.mountTable))
        if (mount.point == point) listed = mount;
    if (!listed) throw PlatformError(PlatformError::Kind::file, action, kGone);
    Opened opened = openAt(*listed);
    if (!opened.drive) throw PlatformError(PlatformError::Kind::file, action, opened.reason);
    return std::move(*opened.drive);
}

std::vector<Drive> Drives::registeredTo(qint64 profileId) const {
    std::vector<Drive> registered;
    for (Drive& drive : candidates()) {
        // Read at every cycle from every drive, whoever made it.
        const std::optional<USBMarker> marker = drive.marker();
        if (marker && marker->profileId == profileId) registered.push_back(std::move(drive));
    }
    return registered;
}

}  // namespace spinforge
