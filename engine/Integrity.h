#pragma once
// The one integrity check: a file is a correct copy of a track when its size and its SHA-256
// digest are those the manifest gives. Stateless; synchronous on the caller's thread.

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QString>

namespace spinforge::Integrity {

// Bytes read and hashed per step; memory use stays at one such block whatever the file size.
inline constexpr qint64 blockSize = 1024 * 1024;

// The lower-case hexadecimal SHA-256 of what can be read from `file`, from where it stands until
// its end or the first failed read, whichever comes first.
QByteArray sha256Hex(InputFile& file);

// Whether `digest` (lower-case hexadecimal) is the manifest's `sha256`, which may be written in
// either letter case but with nothing else around it.
bool isDigest(const QByteArray& digest, const QString& sha256);

// True when `relative` below `folder` is a regular file of exactly `size` bytes whose digest is
// `sha256`. Every problem reads as false; no content is read when the size differs, and nothing
// is ever changed.
bool validFile(const Folder& folder, const QString& relative, const QString& sha256, qint64 size);

}  // namespace spinforge::Integrity
