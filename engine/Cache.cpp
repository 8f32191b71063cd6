#include "engine/DriveErrors.h"
#include "engine/SyncEngine.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"
#include "platform/FileError.h"
#include "platform/StagedFile.h"
#include "service/TransportError.h"

#include <QFileInfo>

#include <optional>
#include <stdexcept>

namespace spinforge {
namespace {

// A failed download, told with the track it was for: the network's own texts name only the
// server, and a write failure names the staging file the user never sees. The service's own
// refusals (SpinforgeError) are the system's texts and pass unchanged.
[[noreturn]] void rethrowNamingTrack(const std::exception& error, const QString& relativePath, const QString& path) {
    QString description = QString::fromUtf8(error.what());
    if (!description.isEmpty()) description[0] = description[0].toLower();
    if (dynamic_cast<const TransportError*>(&error))
        throw TransportError(QStringLiteral("Could not download %1: %2").arg(relativePath, description));
    if (const auto* failure = dynamic_cast<const FileError*>(&error))
        throw FileError(QStringLiteral("Could not write %1").arg(path), failure->errnum());
    throw;
}

}  // namespace

QCoro::Task<bool> SyncEngine::cache(Track track) {
    // The manifest was checked when it arrived; checked again here so that no caller can reach
    // the file system with a path that leaves the library.
    PathSafety::requireSafeRelativePath(track.relativePath);
    const QString root = cacheRoot();
    if (root.isEmpty()) throw std::runtime_error("Could not find a folder for the library: there is no home folder.");

    const QString path = root + u'/' + track.relativePath;
    if (validFile(path, track.sha256, track.byteSize)) co_return false;

    const QString partial = path + QStringLiteral(".spinforge-partial");
    fileManager_.remove(partial);  // a leftover of an interrupted run, if any
    // Made once the service has answered with the body, so that a refusal leaves the library
    // as it was: not even the track's folder is made for it.
    std::optional<StagedFile> staged;
    const auto stagedFile = [&]() -> StagedFile& {
        if (!staged) {
            createFolders(QFileInfo(partial).absolutePath());
            staged.emplace(partial);
        }
        return *staged;
    };
    try {
        co_await api_.download(track.downloadURL, [&](const char* data, qint64 size) {
            // A body longer than the track can never verify: it ends here, before it fills the disk.
            if (size > track.byteSize - (staged ? staged->bytesWritten() : 0)) throw SpinforgeError::checksum(track.filename);
            stagedFile().write(data, size);
        });
        stagedFile().commit();  // an empty body still makes its (empty) file
    } catch (const std::exception& error) {
        staged.reset();  // removes what was written
        rethrowNamingTrack(error, track.relativePath, path);
    }
    if (!validFile(partial, track.sha256, track.byteSize)) {
        fileManager_.remove(partial);
        throw SpinforgeError::checksum(track.filename);
    }
    // One rename over the old copy: the library never lacks the track, not even for a moment.
    if (const int error = fileManager_.move(partial, path))
        throw DriveErrors::failure(QStringLiteral("Could not move %1 into place in the library").arg(track.relativePath),
                                   error);
    co_return true;
}

}  // namespace spinforge
