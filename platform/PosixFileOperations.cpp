#include "platform/PosixFileOperations.h"

#include "platform/FileError.h"
#include "platform/StagedFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spinforge {
namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { if (fd_ >= 0) ::close(fd_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, so that a failure of close (a late write error on some file systems) is seen.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Copies the whole of `from` into `to` with the kernel's copy; sendfile where copy_file_range
// can't cross the two file systems. Returns 0 or errno.
int copyContent(int from, int to) {
    bool useSendfile = false;
    for (;;) {
        const ssize_t n = useSendfile ? ::sendfile(to, from, nullptr, 1 << 30)
                                      : ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n > 0) continue;
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (!useSendfile && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            useSendfile = true;
            continue;
        }
        return errno;
    }
}

int flushFolderOf(const QString& path) {
    Descriptor folder(::open(native(QFileInfo(path).absolutePath()).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return errno;
    // Some file systems can't flush a folder; the rename is then as durable as they allow.
    if (::fsync(folder.get()) != 0 && errno != EINVAL && errno != ENOTSUP) return errno;
    return 0;
}

}  // namespace

std::optional<qint64> PosixFileOperations::fileSize(const QString& path) {
    struct stat status {};
    if (::stat(native(path).constData(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return qint64(status.st_size);
}

int PosixFileOperations::openForReading(const QString& path) {
    return ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
}

std::optional<QByteArray> PosixFileOperations::readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    return content;
}

bool PosixFileOperations::isWritable(const QString& path) {
    return ::access(native(path).constData(), W_OK) == 0;
}

bool PosixFileOperations::isSameFile(const QString& first, const QString& second) {
    struct stat one {}, other {};
    return ::stat(native(first).constData(), &one) == 0 && ::stat(native(second).constData(), &other) == 0 &&
           one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

int PosixFileOperations::createFolders(const QString& folder) {
    try {
        spinforge::createFolders(folder);
        return 0;
    } catch (const FileError& error) {
        return error.errnum();
    }
}

int PosixFileOperations::remove(const QString& path) {
    return ::unlink(native(path).constData()) == 0 ? 0 : errno;
}

int PosixFileOperations::copy(const QString& source, const QString& target) {
    Descriptor from(::open(native(source).constData(), O_RDONLY | O_CLOEXEC));
    if (from.get() < 0) return errno;
    Descriptor to(::open(native(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (to.get() < 0) return errno;
    int error = copyContent(from.get(), to.get());
    // The copy reaches the device before anyone may rename it into place.
    if (error == 0 && ::fsync(to.get()) != 0) error = errno;
    if (error == 0) error = to.close();
    if (error != 0) ::unlink(native(target).constData());
    return error;
}

int PosixFileOperations::move(const QString& source, const QString& target) {
    if (::rename(native(source).constData(), native(target).constData()) != 0) return errno;
    return flushFolderOf(target);
}

int PosixFileOperations::writeAtomically(const QString& target, const QByteArray& bytes) {
    try {
        StagedFile::writeAtomically(target, bytes);
        return 0;
    } catch (const FileError& error) {
        return error.errnum();
    }
}

}  // namespace spinforge
