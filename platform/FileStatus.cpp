#include "platform/FileStatus.h"

#include <cstring>

namespace spinforge {
namespace {

QString verb(FileAction action) {
    switch (action) {
    case FileAction::open: return QStringLiteral("open");
    case FileAction::read: return QStringLiteral("read");
    case FileAction::write: return QStringLiteral("write");
    case FileAction::createFolder: return QStringLiteral("create the folder");
    case FileAction::remove: return QStringLiteral("remove");
    case FileAction::rename: return QStringLiteral("move into place");
    case FileAction::list: return QStringLiteral("list the folder");
    case FileAction::inspect: return QStringLiteral("look at");
    case FileAction::flush: return QStringLiteral("flush");
    }
    return QStringLiteral("use");
}

}  // namespace

FileStatus::FileStatus(FileAction action, QString path, int errnum)
    : action_(action), path_(std::move(path)), errnum_(errnum) {}

QString FileStatus::description() const {
    if (ok()) return {};
    return QStringLiteral("Could not %1 %2: %3").arg(verb(action_), path_, systemMessage(errnum_));
}

QString FileStatus::systemMessage(int errnum) {
    return QString::fromLocal8Bit(std::strerror(errnum));
}

}  // namespace spinforge
