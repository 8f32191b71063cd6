#pragma once
// What the DJ reads when a file operation fails, in the tray and in a notification: what the agent
// was doing and on which file as the DJ knows it (its path in the library, the drive's name), then
// why. "Could not copy House/a.mp3 to DJSTICK: No space left on device". On a drive, a link or
// another drive met on the way is named instead of the operation: "Could not sync DJSTICK:
// DJ-Music is a link, and Spinforge does not write through links on a drive". Stateless.

#include "engine/Drive.h"
#include "platform/FileStatus.h"
#include "records/PlatformError.h"

#include <QString>

namespace spinforge::FileFailure {

// Where and what the agent was doing when an operation failed.
struct Doing {
    // "Could not copy House/a.mp3 to DJSTICK"; empty: the file system's own words, which name the
    // file by its full path ("Could not write /home/kim/.local/share/…/a.mp3").
    QString action = {};
    // On a drive: the drive, what the agent does there ("sync", "register") and the path below its
    // root where the operation was, which also names the file for FAT's refusals.
    const Drive* drive = nullptr;
    QString task = {};
    QString below = {};
};

// The one way a failed operation's status becomes what the user reads.
PlatformError worded(const FileStatus& failed, const Doing& doing = {});

// The reason for `errnum` in plain words. FAT drives refuse some names and large files with errno
// values whose system messages ("Invalid argument", "File too large", "No such file or directory")
// would only puzzle; `name` is the file's name as the DJ knows it.
QString reason(int errnum, const QString& name = {});

}  // namespace spinforge::FileFailure
