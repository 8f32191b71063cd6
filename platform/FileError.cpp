#include "platform/FileError.h"

#include <cstring>

namespace spinforge {

FileError::FileError(const QString& action, int errnum)
    : std::runtime_error((action + QStringLiteral(": ") + systemMessage(errnum)).toStdString()),
      errnum_(errnum) {}

FileError::FileError(const QString& action, int errnum, const QString& reason)
    : std::runtime_error((action + QStringLiteral(": ") + reason).toStdString()), errnum_(errnum) {}

QString FileError::systemMessage(int errnum) {
    return QString::fromLocal8Bit(std::strerror(errnum));
}

}  // namespace spinforge
