#pragma once
// Reading the kernel's mount table (/proc/self/mountinfo) and telling which of its mount points
// may be a drive the user plugged in: those below the folders where desktop automounters put
// removable volumes. Pure functions of their arguments; any thread.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace spinforge::MountTable {

// The mount points of the table text, in table order, octal escapes decoded (the kernel writes
// a space as \040) and the bytes decoded as file names. Lines that are not a mount entry are
// skipped: the text comes from outside and any bytes must be survived.
QStringList mountPoints(const QByteArray& mountinfo);

// Whether `path`, once cleaned, lies strictly below one of `prefixes` ("/media/"): the prefix
// folder itself is not below it, and neither is "/media/../etc".
bool isBelowPrefix(const QString& path, const QStringList& prefixes);

// isBelowPrefix, and no folder on the way is hidden (starts with "."), which is where sandboxes
// and tools mount things the user never plugged in.
bool isCandidate(const QString& mountPoint, const QStringList& prefixes);

// The name a volume is shown by: the last component of its mount point ("DJ STICK").
QString volumeName(const QString& mountPoint);

}  // namespace spinforge::MountTable
