#include "engine/TrackFile.h"

#include "engine/Integrity.h"
#include "records/SpinforgeError.h"

namespace spinforge::TrackFile {

StagedFile stage(const Folder& folder, const QString& relative, const Doing& doing) {
    FileResult<StagedFile> staged = folder.stage(relative);
    if (!staged.ok()) throw FileFailure::worded(staged.status(), doing.writing);
    return std::move(*staged);
}

void commit(StagedFile& staged, const Track& track, Check check, const Doing& doing) {
    if (FileStatus flushed = staged.flush(check == Check::fromDevice); !flushed.ok())
        throw FileFailure::worded(flushed, doing.writing);
    FileResult<InputFile> written = staged.readBack();
    if (!written.ok()) throw FileFailure::worded(written.status(), doing.writing);
    if (staged.bytesWritten() != track.byteSize || !Integrity::isDigest(Integrity::sha256Hex(*written), track.sha256))
        throw SpinforgeError::checksum(track.filename);
    if (FileStatus placed = staged.commit(); !placed.ok()) throw FileFailure::worded(placed, doing.placing);
}

}  // namespace spinforge::TrackFile
