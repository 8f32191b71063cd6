#include "engine/DriveSync.h"

#include "engine/FileFailure.h"
#include "engine/Integrity.h"
#include "engine/Playlist.h"
#include "engine/TrackFile.h"

#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <optional>
#include <utility>

namespace spinforge::DriveSync {
namespace {

const QString kTask = QStringLiteral("sync");

// The first two tracks whose paths differ only in letter case, in manifest order.
std::optional<std::pair<QString, QString>> firstCaseClash(const Manifest& manifest) {
    QHash<QString, QString> firstOfName;  // a case-folded path, and the first track with it
    for (const Track& track : manifest.tracks) {
        const QString& path = track.relativePath.text();
        const QString folded = path.toCaseFolded();
        const auto earlier = firstOfName.constFind(folded);
        if (earlier == firstOfName.cend())
            firstOfName.insert(folded, path);
        else if (*earlier != path)
            return std::pair(*earlier, path);
    }
    return std::nullopt;
}

// "DJ-Music" as "dj-mUSIC": the same name to a drive that ignores case, another one elsewhere.
QString swappedCase(const QString& path) {
    QString swapped = path;
    for (QChar& c : swapped) c = c.isUpper() ? c.toLower() : c.toUpper();
    return swapped;
}

// Whether the drive finds `path` under `other`, a spelling that differs only in letter case.
bool ignoresCase(const Folder& root, const QString& path, const QString& other) {
    const FileResult<FileInfo> one = root.inspect(path), two = root.inspect(other);
    if (!one.ok() || !two.ok() || one->device != two->device) return false;
    if (one->inode == two->inode) return true;
    // Some drivers (exFAT through FUSE) number a file anew for each spelling of its name. The second
    // spelling then leads to a file although its folder lists no such entry: the drive matched it
    // to another spelling of it.
    const FileResult<QStringList> listed = root.list(QFileInfo(other).path());
    return listed.ok() && !listed->contains(QFileInfo(other).fileName());
}

// Throws when the manifest has tracks whose paths differ only in letter case and the drive does
// not tell them apart, as FAT and exFAT drives don't: copying the one would overwrite the other.
// Checked before anything of the drive is written.
void requireDistinctNames(const Drive& drive, const QString& driveFolder, const Manifest& manifest) {
    const std::optional<std::pair<QString, QString>> clash = firstCaseClash(manifest);
    if (!clash) return;
    // The account's folder exists by now; a drive that ignores case finds it under any spelling.
    if (!ignoresCase(drive.root(), driveFolder, swappedCase(driveFolder))) return;
    throw PlatformError(PlatformError::Kind::file, QStringLiteral("Could not copy %1 to %2").arg(clash->first, drive.name()),
                        QStringLiteral("the drive does not tell capital from small letters, so it can't hold both %1 and %2")
                            .arg(clash->first, clash->second));
}

// What a drive's sync is doing at `below` on the drive, `action` naming the operation.
FileFailure::Doing syncing(const Drive& drive, const QString& action, const QString& below) {
    return {action, &drive, kTask, below};
}

// Puts one track on the drive unless the library lacks it or the drive has it; true when written.
bool copyTrack(const Drive& drive, const QString& driveFolder, const Folder& library, const Track& track) {
    const QString& path = track.relativePath.text();
    const QString onDrive = driveFolder + u'/' + path;
    const QString copying = QStringLiteral("Could not copy %1 to %2").arg(path, drive.name());
    const TrackFile::Doing doing{
        syncing(drive, copying, onDrive),
        syncing(drive, QStringLiteral("Could not move %1 into place on %2").arg(path, drive.name()), onDrive)};
    drive.requireMounted(copying);
    // The drive's copy is checked first: when it is right the track is skipped whatever the
    // library holds, so an up-to-date drive costs one read of each track instead of two.
    const Folder& root = drive.root();
    if (Integrity::validFile(root, onDrive, track.sha256, track.byteSize)) return false;
    // Not cached yet, or damaged: the library fetches it in a later cycle.
    if (!Integrity::validFile(library, path, track.sha256, track.byteSize)) return false;

    const QString parent = QFileInfo(onDrive).path();
    if (FileStatus made = root.makeFolders(parent); !made.ok())
        throw FileFailure::worded(made, syncing(drive, QStringLiteral("Could not create the folder %1 on %2").arg(parent, drive.name()), parent));
    StagedFile staged = TrackFile::stage(root, onDrive, doing);
    FileResult<InputFile> source = library.openForReading(path);
    if (!source.ok()) throw FileFailure::worded(source.status(), doing.writing);
    if (FileStatus copied = staged.copyFrom(*source); !copied.ok()) throw FileFailure::worded(copied, doing.writing);
    // One rename over the old copy, so the drive never lacks the track, not even for a moment.
    TrackFile::commit(staged, track, TrackFile::Check::fromDevice, doing);
    return true;
}

void writePlaylist(const Drive& drive, const Manifest& manifest) {
    const QString playlist = Playlist::fileName(manifest.profile);
    const QString action = QStringLiteral("Could not write the playlist %1 on %2").arg(playlist, drive.name());
    drive.requireMounted(action);
    if (FileStatus written = writeWhole(drive.root(), playlist, Playlist::text(manifest)); !written.ok())
        throw FileFailure::worded(written, syncing(drive, action, playlist));
}

}  // namespace

qint64 syncUSB(const Drive& drive, const Manifest& manifest, LibraryCache& library) {
    const Profile& profile = manifest.profile;
    drive.requireMounted(QStringLiteral("Could not sync %1").arg(drive.name()));

    const QString driveFolder = Playlist::driveFolder(profile);
    if (FileStatus made = drive.root().makeFolders(driveFolder); !made.ok())
        throw FileFailure::worded(
            made, syncing(drive, QStringLiteral("Could not create the folder %1 on %2").arg(driveFolder, drive.name()), driveFolder));
    requireDistinctNames(drive, driveFolder, manifest);
    const Folder libraryFolder = library.open();
    qint64 written = 0;
    for (const Track& track : manifest.tracks)
        if (copyTrack(drive, driveFolder, libraryFolder, track)) ++written;
    writePlaylist(drive, manifest);
    return written;
}

}  // namespace spinforge::DriveSync
