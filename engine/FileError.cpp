#include "engine/FileError.h"

namespace spinforge {

FileError::FileError(const QString& action, int errnum) : FileError(action, errnum, FileStatus::systemMessage(errnum)) {}

FileError::FileError(const FileStatus& status)
    : std::runtime_error(status.description().toStdString()), errnum_(status.errnum()) {}

FileError::FileError(const QString& action, int errnum, const QString& reason)
    : std::runtime_error((action + QStringLiteral(": ") + reason).toStdString()), errnum_(errnum) {}

}  // namespace spinforge
