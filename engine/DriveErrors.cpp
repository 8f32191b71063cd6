#include "engine/DriveErrors.h"

#include <cerrno>

namespace spinforge::DriveErrors {

QString reason(int errnum) {
    switch (errnum) {
    case EINVAL:
        return QStringLiteral("the drive does not accept this file name "
                              "(FAT drives refuse the characters : * ? \" < > | \\)");
    case EFBIG:
        return QStringLiteral("the file is too large for the drive "
                              "(FAT drives hold files of at most 4 GiB \u2212 1 byte)");
    default:
        return FileError::systemMessage(errnum);
    }
}

FileError failure(const QString& action, int errnum) {
    return FileError(action, errnum, reason(errnum));
}

}  // namespace spinforge::DriveErrors
