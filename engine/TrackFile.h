#pragma once
// How a track's bytes reach their final name, in the library and on a drive alike: written to a
// staging file beside it, flushed, checked against the manifest's size and digest, and only then
// renamed over the final name in one step. A final name therefore never holds a partial or wrong
// track, not even for a moment, and a failure leaves nothing but, at worst, the staging file.

#include "engine/FileFailure.h"
#include "platform/FileSystem.h"
#include "records/Records.h"

namespace spinforge::TrackFile {

// Where the check reads the staged bytes from.
enum class Check {
    asWritten,   // the computer's own disk: what the kernel holds of it is what the disk holds
    fromDevice,  // a drive: its pages are dropped first, so a stick that keeps less than it was
                 // given (fake capacity) is caught here rather than announced as filled
};

// What the agent is doing at each step, for the user to read when one fails: writing (staging,
// writing, flushing) and placing (the rename into place).
struct Doing {
    FileFailure::Doing writing;
    FileFailure::Doing placing;
};

// The staging file for `relative` below `folder`; throws the failure, worded as `doing.writing`,
// when it can't be made.
StagedFile stage(const Folder& folder, const QString& relative, const Doing& doing);

// Flushes `staged`, checks it against `track` and renames it over its final name. Throws the
// checksum error naming the track's file when the bytes are not the track's (the staging file is
// removed as `staged` goes), or the failure of the step that failed, worded as `doing` says.
void commit(StagedFile& staged, const Track& track, Check check, const Doing& doing);

}  // namespace spinforge::TrackFile
