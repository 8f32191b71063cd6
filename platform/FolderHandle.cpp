#include "platform/FolderHandle.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace spinforge {

FolderHandle::FolderHandle(const QString& folder)
    : fd_(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      error_(fd_ < 0 ? errno : 0) {}

FolderHandle::~FolderHandle() {
    if (fd_ >= 0) ::close(fd_);
}

QString FolderHandle::path() const {
    return QStringLiteral("/proc/self/fd/%1").arg(fd_);
}

}  // namespace spinforge
