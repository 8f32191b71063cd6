#include "engine/DriveSync.h"

#include "engine/DriveErrors.h"
#include "engine/Integrity.h"
#include "engine/Playlist.h"
#include "engine/TrackFile.h"
#include "records/PathSafety.h"

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
    throw FileError(QStringLiteral("Could not copy %1 to %2").arg(clash->first, drive.name()), EEXIST,
                    QStringLiteral("the drive does not tell capital from small letters, so it can't hold both %1 and %2")
                        .arg(clash->first, clash->second));
}

TrackFile::Failures failuresOf(const Drive& drive, const QString& relativePath, const QString& onDrive) {
    const auto worded = [&drive, onDrive](QString action) {
        return [&drive, onDrive, action](const FileStatus& status) {
            return DriveErrors::failure(drive, kTask, action, onDrive, status.errnum());
        };
    };
    return {worded(QStringLiteral("Could not copy %1 to %2").arg(relativePath, drive.name())),
            worded(QStringLiteral("Could not move %1 into place on %2").arg(relativePath, drive.name()))};
}

// Puts one track on the drive unless the library lacks it or the drive has it; true when written.
bool copyTrack(const Drive& drive, const QString& driveFolder, const Folder& library, const Track& track) {
    PathSafety::requireSafeRelativePath(track.relativePath);
    const QString onDrive = driveFolder + u'/' + track.relativePath;
    const TrackFile::Failures failures = failuresOf(drive, track.relativePath, onDrive);
    drive.requireMounted(QStringLiteral("Could not copy %1 to %2").arg(track.relativePath, drive.name()));
    // The drive's copy is checked first: when it is right the track is skipped whatever the
    // library holds, so an up-to-date drive costs one read of each track instead of two.
    const Folder& root = drive.root();
    if (Integrity::validFile(root, onDrive, track.sha256, track.byteSize)) return false;
    // Not cached yet, or damaged: the library fetches it in a later cycle.
    if (!Integrity::validFile(library, track.relativePath, track.sha256, track.byteSize)) return false;

    const QString parent = QFileInfo(onDrive).path();
    if (FileStatus made = root.makeFolders(parent); !made.ok())
        throw DriveErrors::failure(drive, kTask, QStringLiteral("Could not create the folder %1 on %2").arg(parent, drive.name()),
                                   parent, made.errnum());
    StagedFile staged = TrackFile::stage(root, onDrive, failures);
    FileResult<InputFile> source = library.openForReading(track.relativePath);
    if (!source.ok()) throw failures.writing(source.status());
    if (FileStatus copied = staged.copyFrom(*source); !copied.ok()) throw failures.writing(copied);
    // One rename over the old copy, so the drive never lacks the track, not even for a moment.
    TrackFile::commit(staged, track, TrackFile::Check::fromDevice, failures);
    return true;
}

void writePlaylist(const Drive& drive, const Manifest& manifest) {
    const QString playlist = Playlist::fileName(manifest.profile);
    const QString action = QStringLiteral("Could not write the playlist %1 on %2").arg(playlist, drive.name());
    drive.requireMounted(action);
    if (FileStatus written = writeWhole(drive.root(), playlist, Playlist::text(manifest)); !written.ok())
        throw DriveErrors::failure(drive, kTask, action, playlist, written.errnum());
}

}  // namespace

qint64 run(const Drive& drive, const Manifest& manifest, LibraryCache& library) {
    const Profile& profile = manifest.profile;
    // Checked again at the point of use: nothing from the service may leave the drive folder.
    PathSafety::requireSafeRelativePath(profile.folder);
    PathSafety::requireSafeDisplayName(profile.displayName);
    drive.requireMounted(QStringLiteral("Could not sync %1").arg(drive.name()));

    const QString driveFolder = Playlist::driveFolder(profile);
    if (FileStatus made = drive.root().makeFolders(driveFolder); !made.ok())
        throw DriveErrors::failure(drive, kTask,
                                   QStringLiteral("Could not create the folder %1 on %2").arg(driveFolder, drive.name()),
                                   driveFolder, made.errnum());
    requireDistinctNames(drive, driveFolder, manifest);
    const Folder libraryFolder = library.open();
    qint64 written = 0;
    for (const Track& track : manifest.tracks)
        if (copyTrack(drive, driveFolder, libraryFolder, track)) ++written;
    writePlaylist(drive, manifest);
    return written;
}

}  // namespace spinforge::DriveSync
