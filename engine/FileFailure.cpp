#include "engine/FileFailure.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>

namespace spinforge::FileFailure {
namespace {

const QString kFatRefuses = QStringLiteral(":*?\"<>|\\");

bool holdsWhatFatRefuses(const QString& name) {
    return std::any_of(name.begin(), name.end(), [](QChar c) { return kFatRefuses.contains(c); });
}

// The first leading part of `relativePath` on the drive that `stops` the way there (a link, another
// drive mounted there); the whole path when none is found any more.
QString firstStop(const Drive& drive, const QString& relativePath, int errnum) {
    QString prefix;
    for (const QString& part : relativePath.split(u'/')) {
        prefix += (prefix.isEmpty() ? QString() : QStringLiteral("/")) + part;
        const FileResult<FileInfo> info = drive.root().inspect(prefix);
        const bool stops = errnum == ELOOP ? info.ok() && info->type == FileInfo::Type::link
                                           : !info.ok() && info.status().errnum() == errnum;
        if (stops) return prefix;
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

PlatformError worded(const FileStatus& failed, const Doing& doing) {
    const int errnum = failed.errnum();
    if (doing.action.isEmpty()) return PlatformError(PlatformError::Kind::file, failed.description());
    if (doing.drive && (errnum == ELOOP || errnum == EXDEV)) {
        const QString couldNot = QStringLiteral("Could not %1 %2").arg(doing.task, doing.drive->name());
        const QString stop = firstStop(*doing.drive, doing.below, errnum);
        return PlatformError(PlatformError::Kind::file, couldNot,
                             errnum == ELOOP
                                 ? QStringLiteral("%1 is a link, and Spinforge does not write through links on a drive").arg(stop)
                                 : QStringLiteral("%1 is another drive mounted inside this one, and Spinforge does not "
                                                  "write across drives")
                                       .arg(stop));
    }
    return PlatformError(PlatformError::Kind::file, doing.action, reason(errnum, doing.below));
}

}  // namespace spinforge::FileFailure
