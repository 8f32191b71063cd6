#pragma once
// The one integrity check: a file is a correct copy of a track when its size and its SHA-256
// digest are those the manifest gives. Stateless; synchronous on the caller's thread.

#include "platform/FileOperations.h"

#include <QByteArray>
#include <QString>

namespace spinforge::Integrity {

// Bytes read and hashed per step; memory use stays at one such block whatever the file size.
inline constexpr qint64 blockSize = 1024 * 1024;

// The lower-case hexadecimal SHA-256 of what can be read from `fd`, from its current offset
// until the end or the first failed read, whichever comes first.
QByteArray sha256Hex(int fd);

// True when `path` holds exactly `size` bytes whose digest is `sha256` (hexadecimal in either
// letter case, nothing else around it). Every problem reads as false; no content is read when
// the size differs, and nothing is ever changed.
bool validFile(FileOperations& files, const QString& path, const QString& sha256, qint64 size);

}  // namespace spinforge::Integrity
