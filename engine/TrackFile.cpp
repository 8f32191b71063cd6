#include "engine/TrackFile.h"

#include "engine/Integrity.h"
#include "records/SpinforgeError.h"

namespace spinforge::TrackFile {

StagedFile stage(const Folder& folder, const QString& relative, const Failures& failures) {
    FileResult<StagedFile> staged = folder.stage(relative);
    if (!staged.ok()) throw failures.writing(staged.status());
    return std::move(*staged);
}

void commit(StagedFile& staged, const Track& track, Check check, const Failures& failures) {
    if (FileStatus flushed = staged.flush(check == Check::fromDevice); !flushed.ok()) throw failures.writing(flushed);
    FileResult<InputFile> written = staged.readBack();
    if (!written.ok()) throw failures.writing(written.status());
    if (staged.bytesWritten() != track.byteSize || !Integrity::isDigest(Integrity::sha256Hex(*written), track.sha256))
        throw SpinforgeError::checksum(track.filename);
    if (FileStatus placed = staged.commit(); !placed.ok()) throw failures.placing(placed);
}

}  // namespace spinforge::TrackFile
