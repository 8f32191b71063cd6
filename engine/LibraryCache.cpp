#include "engine/LibraryCache.h"

#include "engine/DriveErrors.h"
#include "engine/Integrity.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"
#include "service/TransportError.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <optional>
#include <stdexcept>

namespace spinforge {
namespace {

// A transfer that failed, told with the track it was for: the network's own texts name only the
// server.
TransportError namingTrack(const TransportError& error, const QString& relativePath) {
    QString description = QString::fromUtf8(error.what());
    if (!description.isEmpty()) description[0] = description[0].toLower();
    return TransportError(QStringLiteral("Could not download %1: %2").arg(relativePath, description));
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
    if (path.isEmpty()) throw std::runtime_error("Could not find a folder for the library: there is no home folder.");
    FileResult<Folder> library = openOrMakeFolder(files_, path, Reach::anywhere);
    if (!library.ok()) throw FileError(library.status());
    return std::move(*library);
}

TrackFile::Failures LibraryCache::failuresFor(const QString& relativePath) const {
    return {[](const FileStatus& status) { return FileError(status); },
            [relativePath](const FileStatus& status) {
                return DriveErrors::failure(QStringLiteral("Could not move %1 into place in the library").arg(relativePath),
                                            status.errnum());
            }};
}

QCoro::Task<bool> LibraryCache::cache(Track track) {
    // The manifest was checked when it arrived; checked again here so that no caller can reach
    // the file system with a path that leaves the library.
    PathSafety::requireSafeRelativePath(track.relativePath);
    const Folder library = open();
    if (Integrity::validFile(library, track.relativePath, track.sha256, track.byteSize)) co_return false;

    const TrackFile::Failures failures = failuresFor(track.relativePath);
    // Made once the service answers with the body, so that a refusal leaves the library as it
    // was: not even the track's folder is made for it.
    std::optional<StagedFile> staged;
    const auto stagedFile = [&]() -> StagedFile& {
        if (!staged) {
            if (const QString folder = QFileInfo(track.relativePath).path(); folder != u".")
                if (FileStatus made = library.makeFolders(folder); !made.ok()) throw failures.writing(made);
            staged.emplace(TrackFile::stage(library, track.relativePath, failures));
        }
        return *staged;
    };
    try {
        co_await api_.download(track.downloadURL, [&](const char* data, qint64 size) {
            // A body longer than the track can never verify: it ends here, before it fills the disk.
            if (size > track.byteSize - (staged ? staged->bytesWritten() : 0)) throw SpinforgeError::checksum(track.filename);
            if (FileStatus written = stagedFile().write(data, size); !written.ok()) throw failures.writing(written);
        });
    } catch (const TransportError& error) {
        throw namingTrack(error, track.relativePath);
    }
    // An empty body still makes its (empty) file.
    TrackFile::commit(stagedFile(), track, TrackFile::Check::asWritten, failures);
    co_return true;
}

}  // namespace spinforge
