#include "platform/StagedFile.h"

#include "platform/FileError.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spinforge {
namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

void syncFolder(const QString& folder) {
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw FileError(QStringLiteral("Could not open the folder %1").arg(folder), errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems can't flush a folder; the rename is as durable as they allow.
    if (result != 0 && error != EINVAL && error != ENOTSUP)
        throw FileError(QStringLiteral("Could not flush the folder %1").arg(folder), error);
}

}  // namespace

StagedFile::StagedFile(const QString& target)
    : target_(target), folder_(QFileInfo(target).absolutePath()) {
    fd_ = ::open(native(folder_).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd_ >= 0) return;
    // No unnamed files here (FAT, older kernels): fall back to a hidden named one.
    QByteArray pattern = native(nameForLink());
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) throw FileError(QStringLiteral("Could not create a file in %1").arg(folder_), errno);
    ::fchmod(fd_, 0644);
    tempPath_ = QFile::decodeName(pattern);
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !tempPath_.isEmpty()) ::unlink(native(tempPath_).constData());
}

QString StagedFile::nameForLink() const {
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("%1/.%2.%3-%4.XXXXXX")
        .arg(folder_, QFileInfo(target_).fileName())
        .arg(::getpid())
        .arg(counter++);
}

void StagedFile::write(const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileError(QStringLiteral("Could not write %1").arg(target_), errno);
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
    if (::fsync(fd_) != 0) throw FileError(QStringLiteral("Could not flush %1").arg(target_), errno);
    if (tempPath_.isEmpty()) {
        // Give the unnamed file a temporary name, then move that over the target in one step.
        QByteArray name = native(nameForLink());
        const int reserved = ::mkostemp(name.data(), O_CLOEXEC);  // reserve a unique name ...
        if (reserved < 0) throw FileError(QStringLiteral("Could not create a file in %1").arg(folder_), errno);
        ::close(reserved);
        ::unlink(name.constData());  // ... that linkat may then take
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd_);
        if (::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) != 0)
            throw FileError(QStringLiteral("Could not write %1").arg(target_), errno);
        tempPath_ = QFile::decodeName(name);
    }
    if (::rename(native(tempPath_).constData(), native(target_).constData()) != 0)
        throw FileError(QStringLiteral("Could not move the new %1 into place").arg(target_), errno);
    committed_ = true;
    syncFolder(folder_);
}

void StagedFile::writeAtomically(const QString& target, const QByteArray& bytes) {
    StagedFile file(target);
    file.write(bytes);
    file.commit();
}

void createFolders(const QString& folder) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(native(folder).toStdString()), error);
    if (error) throw FileError(QStringLiteral("Could not create the folder %1").arg(folder), error.value());
}

}  // namespace spinforge
