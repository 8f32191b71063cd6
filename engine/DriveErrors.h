#pragma once
// Failures of file operations on a drive or in the library, worded for the DJ who reads them in
// the tray and in a notification: the operation, the file as the DJ knows it (its path in the
// library), the drive's name, then the reason. "Could not copy House/a.mp3 to DJSTICK: No space
// left on device".

#include "platform/FileError.h"

#include <QString>

namespace spinforge::DriveErrors {

// The reason in plain words. FAT drives refuse some names and large files with errno values
// whose system messages ("Invalid argument", "File too large") would only puzzle.
QString reason(int errnum);

// A FileError whose text is `action` and the reason, e.g. action "Could not copy House/a.mp3 to DJSTICK".
FileError failure(const QString& action, int errnum);

}  // namespace spinforge::DriveErrors
