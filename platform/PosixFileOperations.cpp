#include "platform/PosixFileOperations.h"

#include "platform/FilePlace.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spinforge {
namespace {

const QByteArray kStagingSuffix = ".spinforge-partial";

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

int writeWhole(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        done += n;
    }
    return 0;
}

// Some file systems can't flush a folder; a rename is then as durable as they allow.
int flushFolder(int folder) {
    if (::fsync(folder) != 0 && errno != EINVAL && errno != ENOTSUP) return errno;
    return 0;
}

// On a drive nothing is written through a link: a link where the file would go is refused.
int refuseLink(const FilePlace& place) {
    return place.onDrive() && place.isLink() ? ELOOP : 0;
}

// Writes `bytes` to a new file `name` in `folder`, flushed; removed again when anything fails.
int writeNewFile(int folder, const char* name, const QByteArray& bytes) {
    Descriptor file(::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (file.get() < 0) return errno;
    int error = writeWhole(file.get(), bytes);
    if (error == 0 && ::fsync(file.get()) != 0) error = errno;
    if (error == 0) error = file.close();
    if (error != 0) ::unlinkat(folder, name, 0);
    return error;
}

}  // namespace

std::optional<qint64> PosixFileOperations::fileSize(const QString& path) {
    struct stat status {};
    if (!FilePlace(path).status(status) || !S_ISREG(status.st_mode)) return std::nullopt;
    return qint64(status.st_size);
}

int PosixFileOperations::openForReading(const QString& path) {
    const FilePlace place(path);
    if (!place.isOpen()) return errno = place.error(), -1;
    return ::openat(place.folder(), place.name(), O_RDONLY | O_CLOEXEC | (place.onDrive() ? O_NOFOLLOW : 0));
}

std::optional<QByteArray> PosixFileOperations::readFile(const QString& path, qint64 maxBytes) {
    const FilePlace place(path);
    if (!place.isOpen()) return std::nullopt;
    // Non-blocking, so that a FIFO put where the file should be can't stall the agent.
    Descriptor file(::openat(place.folder(), place.name(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > maxBytes)
        return std::nullopt;
    // The kernel's own tables report no size: the reading decides.
    QByteArray content;
    char block[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(file.get(), block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return content;
        content.append(block, n);
        if (content.size() > maxBytes) return std::nullopt;
    }
}

bool PosixFileOperations::isWritable(const QString& path) {
    const FilePlace place(path);
    return place.isOpen() && !refuseLink(place) && ::faccessat(place.folder(), place.name(), W_OK, 0) == 0;
}

bool PosixFileOperations::isLink(const QString& path) {
    return FilePlace(path).isLink();
}

bool PosixFileOperations::isSameFile(const QString& first, const QString& second) {
    const FilePlace one(first), other(second);
    struct stat oneStatus {}, otherStatus {};
    if (!one.status(oneStatus) || !other.status(otherStatus) || oneStatus.st_dev != otherStatus.st_dev) return false;
    if (oneStatus.st_ino == otherStatus.st_ino) return true;
    // Some drivers (exFAT through FUSE) number a file anew for each spelling of its name. The second
    // name then leads to a file although its folder lists no such entry: the drive matched it to
    // another spelling, which for names that differ only in case is the first file.
    return QString::fromUtf8(one.name()).toCaseFolded() == QString::fromUtf8(other.name()).toCaseFolded() &&
           !other.isListed();
}

int PosixFileOperations::createFolders(const QString& folder) {
    return createFolderPath(folder);
}

int PosixFileOperations::remove(const QString& path) {
    const FilePlace place(path);
    if (!place.isOpen()) return place.error();
    return ::unlinkat(place.folder(), place.name(), 0) == 0 ? 0 : errno;
}

int PosixFileOperations::copy(const QString& source, const QString& target) {
    const FilePlace from(source), to(target);
    if (!from.isOpen()) return from.error();
    if (!to.isOpen()) return to.error();
    Descriptor input(::openat(from.folder(), from.name(), O_RDONLY | O_CLOEXEC | (from.onDrive() ? O_NOFOLLOW : 0)));
    if (input.get() < 0) return errno;
    // O_EXCL: never into an existing file, nor through a link.
    Descriptor output(::openat(to.folder(), to.name(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (output.get() < 0) return errno;
    int error = copyContent(input.get(), output.get());
    // The copy reaches the device before anyone may rename it into place.
    if (error == 0 && ::fsync(output.get()) != 0) error = errno;
    if (error == 0) error = output.close();
    if (error != 0) ::unlinkat(to.folder(), to.name(), 0);
    return error;
}

int PosixFileOperations::move(const QString& source, const QString& target) {
    const FilePlace from(source), to(target);
    if (!from.isOpen()) return from.error();
    if (!to.isOpen()) return to.error();
    if (const int error = refuseLink(to)) return error;
    if (::renameat(from.folder(), from.name(), to.folder(), to.name()) != 0) return errno;
    return flushFolder(to.folder());
}

int PosixFileOperations::writeAtomically(const QString& target, const QByteArray& bytes) {
    const FilePlace place(target);
    if (!place.isOpen()) return place.error();
    if (const int error = refuseLink(place)) return error;
    const QByteArray staging = QByteArray(place.name()) + kStagingSuffix;
    ::unlinkat(place.folder(), staging.constData(), 0);  // left by an interrupted write, if any
    if (const int error = writeNewFile(place.folder(), staging.constData(), bytes)) return error;
    if (::renameat(place.folder(), staging.constData(), place.folder(), place.name()) != 0) {
        const int error = errno;
        ::unlinkat(place.folder(), staging.constData(), 0);
        return error;
    }
    return flushFolder(place.folder());
}

}  // namespace spinforge
