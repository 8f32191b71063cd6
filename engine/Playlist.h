#pragma once
// Where an account's music goes on a drive, and the playlist that lists it. Stateless.

#include "records/Records.h"

#include <QByteArray>
#include <QString>

namespace spinforge::Playlist {

// The account's folder below the drive's root: "DJ-Music/" + the profile's folder.
QString driveFolder(const Profile& profile);
// The playlist's name in the drive's root: "Spinforge — " + the display name + ".m3u8", each "/"
// of the name written as "∕" (U+2215).
QString fileName(const Profile& profile);
// "#EXTM3U", then every track's path from the drive's root, in manifest order, each line ending
// in one line feed. UTF-8 without byte-order mark.
QByteArray text(const Manifest& manifest);

}  // namespace spinforge::Playlist
