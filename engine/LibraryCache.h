#pragma once
// The local library: one verified copy of every track of the account's manifest, in
// "Spinforge/Library" below the user's data folder, each at its relative path. A track counts as
// cached only when its file passes the integrity check; there is no index. Files that no manifest
// names are left alone. Owned by the engine; main thread.

#include "engine/TrackFile.h"
#include "platform/FileSystem.h"
#include "records/Records.h"
#include "service/APIClient.h"

#include <QCoroTask>
#include <QString>

namespace spinforge {

class LibraryCache {
public:
    // `dataHome` empty: $XDG_DATA_HOME or ~/.local/share, asked at every use.
    LibraryCache(FileSystem& files, APIClient& api, QString dataHome);
    LibraryCache(const LibraryCache&) = delete;
    LibraryCache& operator=(const LibraryCache&) = delete;

    // The library folder, asked afresh at each use; empty when the user has no data folder.
    QString root() const;
    // Makes the library folder with its missing parents. A failure changes nothing: each download
    // makes what it needs.
    void create();
    // The library folder, held open (made first when missing). Throws naming it.
    Folder open();

    // Downloads `track` unless its cached copy is valid: true when it did. The download is staged,
    // flushed and verified before it replaces the old copy; a failure leaves the library as it
    // was. Throws the download's error, naming the track, or the checksum error.
    QCoro::Task<bool> cache(Track track);

private:
    // Set once at construction.
    FileSystem& files_;
    APIClient& api_;
    const QString dataHome_;
};

}  // namespace spinforge
