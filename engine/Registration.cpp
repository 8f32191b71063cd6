#include "engine/DriveSync.h"
#include "engine/FileFailure.h"
#include "engine/SyncEngine.h"
#include "engine/USBMarker.h"
#include "platform/MountTable.h"
#include "records/SpinforgeError.h"

#include <QDir>

#include <cerrno>

namespace spinforge {

QCoro::Task<> SyncEngine::registerUSB(QString volume) {
    if (!MountTable::isBelowPrefix(volume, seams_.volumes.prefixes)) throw SpinforgeError::invalidUSB();
    // A copy: a cycle that runs later may replace the stored manifest.
    const Manifest manifest = co_await currentManifest();

    // The marker goes onto the drive mounted there now or nowhere, never into an empty mount
    // folder, and the library follows it through the same handle.
    const QString name = MountTable::volumeName(volume);
    const QString action = QStringLiteral("Could not register %1").arg(name);
    // One being ejected (asked for while the manifest was fetched) is on its way out.
    if (ejecting_.contains(QDir::cleanPath(volume)))
        throw PlatformError(PlatformError::Kind::file, action, QStringLiteral("the drive is being ejected"));
    const Drive drive = drives_.open(volume, action);
    const QByteArray marker = USBMarker::forProfile(manifest.profile).encoded();
    if (FileStatus written = writeWhole(drive.root(), USBMarker::fileName, marker); !written.ok())
        throw FileFailure::worded(written, {QStringLiteral("Could not write the marker %1 on %2").arg(USBMarker::fileName, name),
                                            &drive, QStringLiteral("register"), USBMarker::fileName});
    DriveSync::syncUSB(drive, manifest, library_);
    setState(State::success(QStringLiteral("Registered ") + name));
}

}  // namespace spinforge
