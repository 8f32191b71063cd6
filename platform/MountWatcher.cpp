#include "platform/MountWatcher.h"

#include "platform/MountTable.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace spinforge {
namespace {

// The whole file from its start, read to its end: the table is generated as it is read, so its
// size is known only then. Nullopt when reading fails; a half table would fake mounts later.
std::optional<QByteArray> readFromStart(int fd) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
    QByteArray text;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) return text;
        text.append(buffer, count);
    }
}

}  // namespace

MountWatcher::MountWatcher(VolumeSource volumes, QObject* parent)
    : MountEvents(parent), prefixes_(std::move(volumes.prefixes)) {
    fd_ = ::open(QFile::encodeName(volumes.mountTable).constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    mounted_ = readMountPoints().value_or(QSet<QString>());
    // Mount table changes show as an exceptional condition; the table is always "readable".
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MountWatcher::tableChanged);
}

MountWatcher::~MountWatcher() {
    delete notifier_;  // stops polling the descriptor before it is closed
    if (fd_ >= 0) ::close(fd_);
}

std::optional<QSet<QString>> MountWatcher::readMountPoints() const {
    const std::optional<QByteArray> text = readFromStart(fd_);
    if (!text) return std::nullopt;
    const QStringList points = MountTable::mountPoints(*text);
    return QSet<QString>(points.begin(), points.end());
}

void MountWatcher::tableChanged() {
    std::optional<QSet<QString>> now = readMountPoints();
    if (!now) return;  // the next change reads the table again
    const QSet<QString> added = QSet<QString>(*now).subtract(mounted_);
    mounted_ = std::move(*now);
    const bool driveArrived = std::any_of(added.begin(), added.end(), [this](const QString& point) {
        return MountTable::isCandidate(point, prefixes_);
    });
    if (driveArrived) emit volumeMounted();
}

}  // namespace spinforge
