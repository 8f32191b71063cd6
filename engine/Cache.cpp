#include "engine/DriveErrors.h"
#include "engine/SyncEngine.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"

#include <stdexcept>

namespace spinforge {

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
    co_await api_.download(track.downloadURL, partial);
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
