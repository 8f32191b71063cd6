#include "engine/DriveErrors.h"
#include "engine/Playlist.h"
#include "engine/SyncEngine.h"
#include "platform/FolderHandle.h"
#include "platform/MountTable.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"

#include <QDir>
#include <QHash>
#include <QFileInfo>

#include <cerrno>
#include <optional>
#include <utility>

namespace spinforge {
namespace {

// The first two tracks whose paths differ only in letter case, in manifest order.
std::optional<std::pair<QString, QString>> firstCaseClash(const Manifest& manifest) {
    QHash<QString, QString> firstOfName;  // a case-folded path, and the first track with it
    for (const Track& track : manifest.tracks) {
        const QString folded = track.relativePath.toCaseFolded();
        const auto earlier = firstOfName.constFind(folded);
        if (earlier == firstOfName.cend())
            firstOfName.insert(folded, track.relativePath);
        else if (*earlier != track.relativePath)
            return std::pair(*earlier, track.relativePath);
    }
    return std::nullopt;
}

// "DJ-Music" as "dj-mUSIC": the same name to a drive that ignores case, another one elsewhere.
QString swappedCase(const QString& path) {
    QString swapped = path;
    for (QChar& c : swapped) c = c.isUpper() ? c.toLower() : c.toUpper();
    return swapped;
}

}  // namespace

qint64 SyncEngine::syncUSB(const QString& volume, const Manifest& manifest) {
    const Profile& profile = manifest.profile;
    // Checked again at the point of use: nothing from the service may leave the drive folder.
    PathSafety::requireSafeRelativePath(profile.folder);
    PathSafety::requireSafeDisplayName(profile.displayName);
    const QString name = MountTable::volumeName(volume);
    // Every write goes through this handle, so none can land in an empty mount folder.
    const std::unique_ptr<FolderHandle> handle = openMountedDrive(volume, QStringLiteral("Could not sync %1").arg(name));
    const DriveErrors::Drive drive{fileManager_, handle->path(), name, QStringLiteral("sync")};

    const QString driveFolder = Playlist::driveFolder(profile);
    if (const int error = fileManager_.createFolders(drive.root + u'/' + driveFolder))
        throw DriveErrors::failure(drive, QStringLiteral("Could not create the folder %1 on %2").arg(driveFolder, name),
                                   driveFolder, error);

    requireDistinctNames(drive, driveFolder, manifest);
    qint64 written = 0;
    for (const Track& track : manifest.tracks)
        if (copyTrack(volume, drive, driveFolder, track)) ++written;

    const QString playlist = Playlist::fileName(profile);
    const QString action = QStringLiteral("Could not write the playlist %1 on %2").arg(playlist, name);
    requireMounted(volume, action);
    if (const int error = fileManager_.writeAtomically(drive.root + u'/' + playlist, Playlist::text(manifest)))
        throw DriveErrors::failure(drive, action, playlist, error);
    return written;
}

std::unique_ptr<FolderHandle> SyncEngine::openMountedDrive(const QString& volume, const QString& action) {
    auto drive = std::make_unique<FolderHandle>(volume);
    requireMounted(volume, action);
    if (!drive->isOpen()) throw DriveErrors::failure(action, drive->error());
    return drive;
}

void SyncEngine::requireMounted(const QString& volume, const QString& action) {
    const QString path = QDir::cleanPath(volume);
    if (mountedVolumes().contains(path)) return;
    if (mountPoints().contains(path)) throw FileError(action, EROFS, QStringLiteral("the drive is read-only"));
    throw FileError(action, ENODEV, QStringLiteral("the drive is no longer mounted"));
}

void SyncEngine::requireDistinctNames(const DriveErrors::Drive& drive, const QString& driveFolder,
                                      const Manifest& manifest) {
    const std::optional<std::pair<QString, QString>> clash = firstCaseClash(manifest);
    if (!clash) return;
    // The account's folder exists by now; a drive that ignores case finds it under any spelling.
    if (!fileManager_.isSameFile(drive.root + u'/' + driveFolder, drive.root + u'/' + swappedCase(driveFolder))) return;
    throw FileError(QStringLiteral("Could not copy %1 to %2").arg(clash->first, drive.name), EEXIST,
                    QStringLiteral("the drive does not tell capital from small letters, so it can't hold both %1 and %2")
                        .arg(clash->first, clash->second));
}

bool SyncEngine::copyTrack(const QString& volume, const DriveErrors::Drive& drive, const QString& driveFolder,
                           const Track& track) {
    PathSafety::requireSafeRelativePath(track.relativePath);
    // The drive's copy is checked first: when it is right the track is skipped whatever the
    // cache holds, so an up-to-date drive costs one read of each track instead of two.
    const QString onDrive = driveFolder + u'/' + track.relativePath;
    const QString target = drive.root + u'/' + onDrive;
    if (validFile(target, track.sha256, track.byteSize)) return false;
    const QString library = cacheRoot();
    if (library.isEmpty()) return false;  // no library folder, so nothing is cached
    const QString source = library + u'/' + track.relativePath;
    // Not cached yet, or damaged: the cache fetches it in a later cycle.
    if (!validFile(source, track.sha256, track.byteSize)) return false;

    const QString copyAction = QStringLiteral("Could not copy %1 to %2").arg(track.relativePath, drive.name);
    requireMounted(volume, copyAction);
    const QString parent = QFileInfo(onDrive).path();
    if (const int error = fileManager_.createFolders(drive.root + u'/' + parent))
        throw DriveErrors::failure(drive, QStringLiteral("Could not create the folder %1 on %2").arg(parent, drive.name),
                                   parent, error);
    const QString partial = target + QStringLiteral(".spinforge-partial");
    fileManager_.remove(partial);  // a leftover of an interrupted copy, if any
    if (const int error = fileManager_.copy(source, partial))
        throw DriveErrors::failure(drive, copyAction, onDrive, error);
    if (!validFile(partial, track.sha256, track.byteSize)) {
        fileManager_.remove(partial);
        throw SpinforgeError::checksum(track.filename);
    }
    // One rename over the old copy, so the drive never lacks the track, not even for a moment.
    if (const int error = fileManager_.move(partial, target))
        throw DriveErrors::failure(drive, QStringLiteral("Could not move %1 into place on %2").arg(track.relativePath, drive.name),
                                   onDrive, error);
    return true;
}

}  // namespace spinforge
