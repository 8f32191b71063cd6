#include "engine/Drive.h"

#include "records/PlatformError.h"
#include "platform/MountTable.h"

#include <cerrno>

namespace spinforge {
namespace {

// A marker is a few hundred bytes: anything past this is not one of ours.
constexpr qint64 kLargestMarker = 64 << 10;

}  // namespace

Drive::Drive(Folder root, QString mountPoint, FileInfo identity)
    : root_(std::move(root)), mountPoint_(std::move(mountPoint)), identity_(identity) {}

QString Drive::name() const { return MountTable::volumeName(mountPoint_); }

bool Drive::isStillMounted() const {
    const FileResult<FileInfo> now = root_.files().inspect(mountPoint_);
    return now.ok() && now->device == identity_.device && now->inode == identity_.inode;
}

void Drive::requireMounted(const QString& action) const {
    if (!isStillMounted())
        throw PlatformError(PlatformError::Kind::file, action, QStringLiteral("the drive is no longer mounted"));
}

std::optional<USBMarker> Drive::marker() const {
    const FileResult<QByteArray> bytes = root_.readSmallFile(USBMarker::fileName, kLargestMarker);
    return bytes.ok() ? USBMarker::decode(*bytes) : std::nullopt;
}

}  // namespace spinforge
