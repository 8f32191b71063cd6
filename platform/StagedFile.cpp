#include "platform/StagedFile.h"

#include "platform/FileError.h"
#include "platform/FilePlace.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace spinforge {
namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

}  // namespace

StagedFile::StagedFile(const QString& path) : path_(path) {
    ::unlink(native(path_).constData());  // left by an interrupted download, if any
    fd_ = ::open(native(path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) throw FileError(QStringLiteral("Could not write %1").arg(path_), errno);
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(native(path_).constData());
}

void StagedFile::write(const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileError(QStringLiteral("Could not write %1").arg(path_), errno);
        data += n;
        size -= n;
        written_ += n;
    }
    startWriteBack();
}

void StagedFile::startWriteBack() {
    // The device starts on what has arrived while the rest is still coming, so the flush at
    // commit waits only for the tail. Only a hint: commit's fsync is what makes it durable.
    constexpr qint64 stride = 1024 * 1024;
    if (written_ - writeBackFrom_ < stride) return;
    ::sync_file_range(fd_, writeBackFrom_, written_ - writeBackFrom_, SYNC_FILE_RANGE_WRITE);
    writeBackFrom_ = written_;
}

void StagedFile::commit() {
    if (::fsync(fd_) != 0) throw FileError(QStringLiteral("Could not flush %1").arg(path_), errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw FileError(QStringLiteral("Could not write %1").arg(path_), errno);
    committed_ = true;
}

void createFolders(const QString& folder) {
    if (const int error = createFolderPath(folder))
        throw FileError(QStringLiteral("Could not create the folder %1").arg(folder), error);
}

}  // namespace spinforge
