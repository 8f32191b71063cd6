#pragma once
// Failures of file operations on a drive or in the library, worded for the DJ who reads them in
// the tray and in a notification: the operation, the file as the DJ knows it (its path in the
// library), the drive's name, then the reason. "Could not copy House/a.mp3 to DJSTICK: No space
// left on device".

#include "engine/Drive.h"
#include "engine/FileError.h"

#include <QString>

namespace spinforge::DriveErrors {

// The reason in plain words. FAT drives refuse some names and large files with errno values
// whose system messages ("Invalid argument", "File too large", "No such file or directory")
// would only puzzle; `name` is the file's name as the DJ knows it.
QString reason(int errnum, const QString& name = {});

// A FileError whose text is `action` and the reason, e.g. action "Could not copy House/a.mp3 to DJSTICK".
FileError failure(const QString& action, int errnum, const QString& name = {});

// The failure of an operation at `relativePath` below the drive's root while the engine does
// `task` there ("sync", "register"). A link met on the way (ELOOP), or another drive mounted on the
// way (EXDEV), is named instead of the operation: "Could not sync DJSTICK: DJ-Music is a link, and
// Spinforge does not write through links on a drive".
FileError failure(const Drive& drive, const QString& task, const QString& action, const QString& relativePath, int errnum);

}  // namespace spinforge::DriveErrors
