#include "engine/SyncEngine.h"
#include "engine/USBMarker.h"
#include "platform/MountTable.h"

namespace spinforge {
namespace {

// Far more than any machine's mount table; a marker is a few hundred bytes, so anything past
// this is not one of ours.
constexpr qint64 kLargestMountTable = 64 << 20;
constexpr qint64 kLargestMarker = 64 << 10;

}  // namespace

QStringList SyncEngine::mountPoints() {
    const std::optional<QByteArray> table = fileManager_.readFile(seams_.volumes.mountTable, kLargestMountTable);
    return table ? MountTable::mountPoints(*table) : QStringList();
}

QStringList SyncEngine::mountedVolumes() {
    QStringList volumes;
    for (const QString& mountPoint : mountPoints()) {
        // The cheap path test first; a read-only mount fails the writable test.
        if (MountTable::isCandidate(mountPoint, seams_.volumes.prefixes) && fileManager_.isWritable(mountPoint))
            volumes.append(mountPoint);
    }
    return volumes;
}

QStringList SyncEngine::registeredVolumes(qint64 profileId) {
    QStringList registered;
    for (const QString& volume : mountedVolumes()) {
        // Read at every cycle from every drive, whoever made it: only a small regular file counts.
        const std::optional<QByteArray> bytes = fileManager_.readFile(volume + u'/' + USBMarker::fileName, kLargestMarker);
        if (!bytes) continue;
        const std::optional<USBMarker> marker = USBMarker::decode(*bytes);
        if (marker && marker->profileId == profileId) registered.append(volume);
    }
    return registered;
}

}  // namespace spinforge
