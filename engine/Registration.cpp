#include "engine/DriveErrors.h"
#include "engine/SyncEngine.h"
#include "engine/USBMarker.h"
#include "platform/FolderHandle.h"
#include "platform/MountTable.h"
#include "records/SpinforgeError.h"


namespace spinforge {

QCoro::Task<> SyncEngine::registerUSB(QString volume) {
    if (!MountTable::isBelowPrefix(volume, seams_.volumes.prefixes)) throw SpinforgeError::invalidUSB();
    if (!lastManifest_) lastManifest_ = co_await api_.manifest();
    // A copy: a cycle that runs later may replace the stored manifest.
    const Manifest manifest = *lastManifest_;

    const QString name = MountTable::volumeName(volume);
    // The marker goes onto the drive or nowhere, never into an empty mount folder.
    const std::unique_ptr<FolderHandle> handle = openMountedDrive(volume, QStringLiteral("Could not register %1").arg(name));
    const DriveErrors::Drive drive{fileManager_, handle->path(), name, QStringLiteral("register")};
    const QByteArray marker = USBMarker::forProfile(manifest.profile).encoded();
    if (const int error = fileManager_.writeAtomically(drive.root + u'/' + USBMarker::fileName, marker))
        throw DriveErrors::failure(drive, QStringLiteral("Could not write the marker %1 on %2").arg(USBMarker::fileName, name),
                                   USBMarker::fileName, error);
    syncUSB(volume, manifest);
    setState(State::success(QStringLiteral("Registered ") + name));
}

}  // namespace spinforge
