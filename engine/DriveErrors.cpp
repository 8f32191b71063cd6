#include "engine/DriveErrors.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>

namespace spinforge::DriveErrors {
namespace {

const QString kFatRefuses = QStringLiteral(":*?\"<>|\\");

bool holdsWhatFatRefuses(const QString& name) {
    return std::any_of(name.begin(), name.end(), [](QChar c) { return kFatRefuses.contains(c); });
}

// The first component of `relativePath` that is a link on the drive; the whole path when none is
// found any more.
QString firstLink(const Drive& drive, const QString& relativePath) {
    QString prefix;
    for (const QString& part : relativePath.split(u'/')) {
        prefix += (prefix.isEmpty() ? QString() : QStringLiteral("/")) + part;
        const FileResult<FileInfo> info = drive.root().inspect(prefix);
        if (info.ok() && info->type == FileInfo::Type::link) return prefix;
    }
    return relativePath;
}

}  // namespace

QString reason(int errnum, const QString& name) {
    // The kernel's FAT drivers refuse such a name with EINVAL, exFAT through FUSE with ENOENT.
    if (errnum == EINVAL || (errnum == ENOENT && holdsWhatFatRefuses(name)))
        return QStringLiteral("the drive does not accept this file name "
                              "(FAT drives refuse the characters : * ? \" < > | \\)");
    if (errnum == EROFS) return QStringLiteral("the drive is read-only");
    if (errnum == EFBIG)
        return QStringLiteral("the file is too large for the drive "
                              "(FAT drives hold files of at most 4 GiB \u2212 1 byte)");
    return FileStatus::systemMessage(errnum);
}

FileError failure(const QString& action, int errnum, const QString& name) {
    return FileError(action, errnum, reason(errnum, name));
}

FileError failure(const Drive& drive, const QString& task, const QString& action, const QString& relativePath, int errnum) {
    if (errnum != ELOOP) return failure(action, errnum, relativePath);
    return FileError(QStringLiteral("Could not %1 %2").arg(task, drive.name()), errnum,
                     QStringLiteral("%1 is a link, and Spinforge does not write through links on a drive")
                         .arg(firstLink(drive, relativePath)));
}

}  // namespace spinforge::DriveErrors
