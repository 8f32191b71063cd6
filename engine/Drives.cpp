#include "engine/SyncEngine.h"
#include "engine/USBMarker.h"
#include "platform/MountTable.h"

namespace spinforge {

QStringList SyncEngine::mountPoints() {
    const std::optional<QByteArray> table = fileManager_.readAll(seams_.volumes.mountTable);
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
        const std::optional<QByteArray> bytes = fileManager_.readAll(volume + u'/' + USBMarker::fileName);
        if (!bytes) continue;
        const std::optional<USBMarker> marker = USBMarker::decode(*bytes);
        if (marker && marker->profileId == profileId) registered.append(volume);
    }
    return registered;
}

}  // namespace spinforge
