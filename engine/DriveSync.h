#pragma once
// One drive brought up to date with a manifest: every track whose verified copy is in the library
// and whose copy on the drive is missing or wrong is staged on the drive, verified from the drive
// and renamed into place; then the playlist is rewritten whole. Files the manifest does not name
// are never touched. Every path on the drive goes through the drive's held root. Synchronous; main
// thread.

#include "engine/Drive.h"
#include "engine/LibraryCache.h"
#include "records/Records.h"

namespace spinforge::DriveSync {

// The number of tracks written. Throws on the first failure, leaving the playlist as it was: a
// file PlatformError naming the drive (also when it is no longer mounted), or the checksum error.
qint64 syncUSB(const Drive& drive, const Manifest& manifest, LibraryCache& library);

}  // namespace spinforge::DriveSync
