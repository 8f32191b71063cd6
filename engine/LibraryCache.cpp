#include "engine/LibraryCache.h"

#include "engine/FileFailure.h"
#include "engine/Integrity.h"
#include "records/SpinforgeError.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <optional>

namespace spinforge {
namespace {

// A transfer that failed, told with the track it was for: the network's own texts name only the
// server.
PlatformError namingTrack(const PlatformError& error, const QString& relativePath) {
    QString description = error.description();
    if (!description.isEmpty()) description[0] = description[0].toLower();
    return PlatformError(PlatformError::Kind::network, QStringLiteral("Could not download %1").arg(relativePath), description);
}

}  // namespace

LibraryCache::LibraryCache(FileSystem& files, APIClient& api, QString dataHome)
    : files_(files), api_(api), dataHome_(std::move(dataHome)) {}

QString LibraryCache::root() const {
    const QString base = dataHome_.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                             : dataHome_;
    if (base.isEmpty()) return {};
    return base + QStringLiteral("/Spinforge/Library");
}

void LibraryCache::create() {
    if (const QString path = root(); !path.isEmpty()) {
        const FileResult<Folder> made = openOrMakeFolder(files_, path, Reach::anywhere);
        made.status().ignore();
    }
}

Folder LibraryCache::open() {
    const QString path = root();
    if (path.isEmpty())
        throw PlatformError(PlatformError::Kind::file, QStringLiteral("Could not find a folder for the library"),
                            QStringLiteral("there is no home folder."));
    FileResult<Folder> library = openOrMakeFolder(files_, path, Reach::anywhere);
    if (!library.ok()) throw FileFailure::worded(library.status());
    return std::move(*library);
}

QCoro::Task<bool> LibraryCache::cache(Track track) {
    // A relative path, which stays below the library whatever the service sent.
    const QString& path = track.relativePath.text();
    const Folder library = open();
    if (Integrity::validFile(library, path, track.sha256, track.byteSize)) co_return false;

    // Writing is told in the file system's own words, which name the file by its full path.
    const TrackFile::Doing doing{{}, {QStringLiteral("Could not move %1 into place in the library").arg(path)}};
    // Made once the service answers with the body, so that a refusal leaves the library as it
    // was: not even the track's folder is made for it.
    std::optional<StagedFile> staged;
    const auto stagedFile = [&]() -> StagedFile& {
        if (!staged) {
            if (const QString folder = QFileInfo(path).path(); folder != u".")
                if (FileStatus made = library.makeFolders(folder); !made.ok()) throw FileFailure::worded(made);
            staged.emplace(TrackFile::stage(library, path, doing));
        }
        return *staged;
    };
    try {
        co_await api_.download(track.downloadURL, [&](const char* data, qint64 size) {
            // A body longer than the track can never verify: it ends here, before it fills the disk.
            if (size > track.byteSize - (staged ? staged->bytesWritten() : 0)) throw SpinforgeError::checksum(track.filename);
            if (FileStatus written = stagedFile().write(data, size); !written.ok()) throw FileFailure::worded(written);
        });
    } catch (const PlatformError& error) {
        // The network's own texts name only the server; the file system's name the file already.
        if (error.kind() != PlatformError::Kind::network) throw;
        throw namingTrack(error, path);
    }
    // An empty body still makes its (empty) file.
    TrackFile::commit(stagedFile(), track, TrackFile::Check::asWritten, doing);
    co_return true;
}

}  // namespace spinforge
