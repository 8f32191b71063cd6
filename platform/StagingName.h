#pragma once
// The name a file is written under before it is renamed into place: "<name>.spinforge-partial"
// beside it. When that would pass the 255 bytes a file system allows for one name, the name is cut
// at a character boundary and a short digest of the whole name is added, so that every final name
// has exactly one staging name, derived from it alone: the next write of the same name finds and
// removes what a killed one left, and a kill never leaves a growing set of files.

#include <QByteArray>

namespace spinforge::StagingName {

// The longest name, in bytes, that the file systems of drives and home folders take.
inline constexpr qsizetype maxBytes = 255;

// The staging name of `finalName` (one name, UTF-8, no "/").
QByteArray of(const QByteArray& finalName);

}  // namespace spinforge::StagingName
