#pragma once
// The kernel's mount table, read with libmount, and which of its mount points may be a drive the
// user plugged in: those below the folders where desktop automounters put removable volumes.

#include <QList>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace spinforge {

// One line of the table.
struct Mount {
    QString point;     // where it is mounted, escapes decoded ("/media/kim/DJ USB")
    quint64 id = 0;    // the kernel's number for this mount; a new mount at the same point gets another
    dev_t device = 0;  // the file system's device number
};

namespace MountTable {

// The mounts listed in the table file at `path` (/proc/self/mountinfo, or a test's own in its
// format), in table order. Lines that are no mount entry, and mount points that are not absolute
// paths, are left out; a table that can't be read gives none.
QList<Mount> read(const QString& path);

// Whether `path`, once cleaned, lies strictly below one of `prefixes` ("/media/"): the prefix
// folder itself is not below it, and neither is "/media/../etc". Any thread.
bool isBelowPrefix(const QString& path, const QStringList& prefixes);

// isBelowPrefix, and no folder on the way is hidden (starts with "."), which is where sandboxes
// and tools mount things the user never plugged in. Any thread.
bool isCandidate(const QString& mountPoint, const QStringList& prefixes);

// The name a volume is shown by: the last component of its mount point ("DJ STICK"), bytes that
// are not UTF-8 shown as U+FFFD.
QString volumeName(const QString& mountPoint);

}  // namespace MountTable
}  // namespace spinforge
