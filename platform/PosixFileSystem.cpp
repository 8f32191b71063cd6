#include "platform/PosixFileSystem.h"

#include "platform/FileNames.h"
#include "platform/PosixPaths.h"
#include "platform/StagingName.h"


#include <algorithm>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace spinforge {
namespace {

using PosixPaths::Place;
using PosixPaths::placeOf;

constexpr qint64 kMiB = 1024 * 1024;
// A copy goes in steps of this size: small enough to keep each step, and the flush at the end, short
// on the slowest stick, large enough to cost nothing next to the bytes.
constexpr qint64 kCopyStep = 4 * kMiB;

FileStatus failed(FileAction action, const QString& path, int errnum = errno) { return {action, path, errnum}; }

FileInfo infoOf(const struct statx& status) {
    FileInfo info;
    const mode_t mode = status.stx_mode;
    info.type = S_ISREG(mode) ? FileInfo::Type::file
                : S_ISDIR(mode) ? FileInfo::Type::folder
                : S_ISLNK(mode) ? FileInfo::Type::link
                                : FileInfo::Type::other;
    info.size = qint64(status.stx_size);
    info.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    info.inode = status.stx_ino;
    if (status.stx_mask & STATX_MNT_ID) info.mountId = status.stx_mnt_id;
    return info;
}

FileResult<FileInfo> statxAt(int folder, const char* name, int flags, const QString& path) {
    struct statx status {};
    if (::statx(folder, name, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_MNT_ID, &status) != 0)
        return failed(FileAction::inspect, path);
    return infoOf(status);
}

// Some file systems can't flush a folder; a rename is then as durable as they allow.
int flushFolder(int folder) {
    if (::fsync(folder) != 0 && errno != EINVAL && errno != ENOTSUP) return errno;
    return 0;
}

// The kernel starts writing each MiB to the device as soon as it is complete, so the flush at
// the end waits only for the tail. Only a hint: the flush is what makes the bytes durable.
void startWriteBack(int fd, qint64 before, qint64 after) {
    const qint64 from = before / kMiB * kMiB, to = after / kMiB * kMiB;
    if (to > from) ::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
}

// A copy's step that has just been written goes to the device now, and the one before it is waited
// for: at most two steps are ever waiting in the computer's memory, so neither a stop nor the flush
// at the end waits for a whole large file to reach a slow stick.
void paceWriteBack(int fd, qint64 from, qint64 to) {
    const qint64 previous = std::max<qint64>(0, from - kCopyStep);
    if (from > previous)
        ::sync_file_range(fd, previous, from - previous,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
}

// One step of the kernel's copy; sendfile where copy_file_range can't cross the two file systems.
// A step a signal interrupted fails with EINTR, for the caller to look at the stop request first.
ssize_t copyStep(int from, int to, bool& useSendfile) {
    for (;;) {
        const ssize_t n = useSendfile ? ::sendfile(to, from, nullptr, size_t(kCopyStep))
                                      : ::copy_file_range(from, nullptr, to, nullptr, size_t(kCopyStep), 0);
        if (n >= 0) return n;
        if (useSendfile || (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)) return -1;
        useSendfile = true;
    }
}

}  // namespace

FileResult<Folder> PosixFileSystem::openFolder(const QString& path, Reach reach) {
    if (stopped()) return failed(FileAction::open, path, ECANCELED);
    UniqueFd fd(::open(FileNames::encode(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen()) return failed(FileAction::open, path);
    return Folder(*this, std::move(fd), path, reach);
}

FileResult<FileInfo> PosixFileSystem::inspect(const QString& path) {
    if (stopped()) return failed(FileAction::inspect, path, ECANCELED);
    return statxAt(AT_FDCWD, FileNames::encode(path).constData(), 0, path);
}

FileResult<Folder> PosixFileSystem::openFolder(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::open, folder.pathOf(relative), ECANCELED);
    UniqueFd fd = PosixPaths::openFolderBelow(folder, FileNames::encode(relative), walk_);
    if (!fd.isOpen()) return failed(FileAction::open, folder.pathOf(relative));
    return Folder(folder.files(), std::move(fd), folder.pathOf(relative), folder.reach());
}

FileStatus PosixFileSystem::makeFolders(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::createFolder, folder.pathOf(relative), ECANCELED);
    // Step by step: each folder is made if missing, then entered, on a drive without following a
    // link, so a link anywhere on the way stops the walk.
    UniqueFd current(::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0));
    const int noFollow = PosixPaths::noFollowFor(folder.reach());
    for (const QByteArray& part : FileNames::encode(relative).split('/')) {
        if (!current.isOpen()) break;
        if (part.isEmpty()) continue;
        if (!PosixPaths::isPlainName(part)) return failed(FileAction::createFolder, folder.pathOf(relative), EINVAL);
        if (::mkdirat(current.get(), part.constData(), 0755) != 0 && errno != EEXIST)
            return failed(FileAction::createFolder, folder.pathOf(relative));
        UniqueFd next(::openat(current.get(), part.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
        struct stat info {};
        if (!next.isOpen() && errno == ENOTDIR && noFollow &&
            ::fstatat(current.get(), part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            errno = ELOOP;
        if (next.isOpen())
            if (const int crossed = PosixPaths::crossing(folder.reach(), current.get(), next.get()))
                return failed(FileAction::createFolder, folder.pathOf(relative), crossed);
        current = std::move(next);
    }
    if (!current.isOpen()) return failed(FileAction::createFolder, folder.pathOf(relative));
    return {};
}

FileResult<FileInfo> PosixFileSystem::inspect(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::inspect, folder.pathOf(relative), ECANCELED);
    if (relative.isEmpty()) return statxAt(folder.fd(), "", AT_EMPTY_PATH, folder.path());
    const Place place = placeOf(folder, relative, walk_);
    if (place.error) return failed(FileAction::inspect, folder.pathOf(relative), place.error);
    if (const int crossed = PosixPaths::crossingAt(folder.reach(), place.folder.get(), place.name.constData()))
        return failed(FileAction::inspect, folder.pathOf(relative), crossed);
    const int flags = folder.reach() == Reach::beneath ? AT_SYMLINK_NOFOLLOW : 0;
    return statxAt(place.folder.get(), place.name.constData(), flags, folder.pathOf(relative));
}

FileResult<QStringList> PosixFileSystem::list(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::list, folder.pathOf(relative), ECANCELED);
    UniqueFd listed = PosixPaths::openFolderBelow(folder, FileNames::encode(relative), walk_);
    DIR* entries = listed.isOpen() ? ::fdopendir(listed.get()) : nullptr;
    if (!entries) return failed(FileAction::list, folder.pathOf(relative));
    listed.release();  // closedir closes it
    QStringList names;
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") names << FileNames::decode(name);
    }
    ::closedir(entries);
    return names;
}

FileResult<InputFile> PosixFileSystem::openForReading(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::open, folder.pathOf(relative), ECANCELED);
    const QString path = folder.pathOf(relative);
    const Place place = placeOf(folder, relative, walk_);
    if (place.error) return failed(FileAction::open, path, place.error);
    // Non-blocking, so that a FIFO put where a file should be can't stall the agent; only a
    // regular file is read.
    UniqueFd fd(::openat(place.folder.get(), place.name.constData(),
                         O_RDONLY | O_NONBLOCK | O_CLOEXEC | PosixPaths::noFollowFor(folder.reach())));
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0) return failed(FileAction::open, path);
    if (const int crossed = PosixPaths::crossing(folder.reach(), place.folder.get(), fd.get()))
        return failed(FileAction::open, path, crossed);
    if (!S_ISREG(info.st_mode)) return failed(FileAction::open, path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    return InputFile(folder.files(), std::move(fd), path, qint64(info.st_size));
}

FileResult<QByteArray> PosixFileSystem::readSmallFile(const Folder& folder, const QString& relative, qint64 maxBytes) {
    if (stopped()) return failed(FileAction::open, folder.pathOf(relative), ECANCELED);
    const QString path = folder.pathOf(relative);
    const Place place = placeOf(folder, relative, walk_);
    if (place.error) return failed(FileAction::open, path, place.error);
    // Small files come from outside (a drive's marker): never through a link, never waiting.
    UniqueFd fd(::openat(place.folder.get(), place.name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0) return failed(FileAction::open, path);
    if (const int crossed = PosixPaths::crossing(folder.reach(), place.folder.get(), fd.get()))
        return failed(FileAction::open, path, crossed);
    if (!S_ISREG(info.st_mode)) return failed(FileAction::open, path, EINVAL);
    if (info.st_size > maxBytes) return failed(FileAction::read, path, EFBIG);
    QByteArray content;
    char block[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), block, sizeof block);
        if (n < 0 && errno == EINTR && !stopped()) continue;
        if (n < 0 && errno == EINTR) return failed(FileAction::read, path, ECANCELED);
        if (n < 0) return failed(FileAction::read, path);
        if (n == 0) return content;
        content.append(block, n);
        // The size the file system reports is a claim; what reading gives decides.
        if (content.size() > maxBytes) return failed(FileAction::read, path, EFBIG);
    }
}

FileStatus PosixFileSystem::checkWritable(const Folder& folder) {
    if (stopped()) return failed(FileAction::write, folder.path(), ECANCELED);
    if (::faccessat(folder.fd(), ".", W_OK, 0) != 0) return failed(FileAction::write, folder.path());
    return {};
}

FileResult<StagedFile> PosixFileSystem::stage(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::write, folder.pathOf(relative), ECANCELED);
    const QString path = folder.pathOf(relative);
    Place place = placeOf(folder, relative, walk_);
    if (place.error) return failed(FileAction::write, path, place.error);
    // Fails now rather than at the rename, after the whole file was written.
    if (place.name.size() > StagingName::maxBytes) return failed(FileAction::write, path, ENAMETOOLONG);
    const QByteArray staging = StagingName::of(place.name);
    ::unlinkat(place.folder.get(), staging.constData(), 0);  // left by an interrupted write, if any
    // O_EXCL: never into an existing file, nor through a link.
    UniqueFd fd(::openat(place.folder.get(), staging.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.isOpen()) return failed(FileAction::write, path);
    return StagedFile(folder.files(), std::move(fd), std::move(place.folder), staging, place.name, path, folder.reach());
}

FileStatus PosixFileSystem::remove(const Folder& folder, const QString& relative) {
    if (stopped()) return failed(FileAction::remove, folder.pathOf(relative), ECANCELED);
    const Place place = placeOf(folder, relative, walk_);
    if (place.error) return failed(FileAction::remove, folder.pathOf(relative), place.error);
    if (::unlinkat(place.folder.get(), place.name.constData(), 0) != 0)
        return failed(FileAction::remove, folder.pathOf(relative));
    return {};
}

FileResult<qint64> PosixFileSystem::read(InputFile& file, char* buffer, qint64 capacity) {
    if (stopped()) return failed(FileAction::read, file.path(), ECANCELED);
    for (;;) {
        const ssize_t n = ::read(file.fd(), buffer, size_t(capacity));
        if (n >= 0) return qint64(n);
        if (errno != EINTR) return failed(FileAction::read, file.path());
        if (stopped()) return failed(FileAction::read, file.path(), ECANCELED);
    }
}

FileStatus PosixFileSystem::write(StagedFile& file, const char* data, qint64 size) {
    if (stopped()) return failed(FileAction::write, file.path(), ECANCELED);
    const qint64 before = file.bytesWritten();
    while (size > 0) {
        const ssize_t n = ::write(file.fd(), data, size_t(size));
        if (n < 0 && errno == EINTR && !stopped()) continue;
        if (n < 0 && errno == EINTR) return failed(FileAction::write, file.path(), ECANCELED);
        if (n < 0) return failed(FileAction::write, file.path());
        data += n;
        size -= n;
        file.countWritten(n);
    }
    startWriteBack(file.fd(), before, file.bytesWritten());
    return {};
}

FileStatus PosixFileSystem::copy(InputFile& source, StagedFile& target) {
    bool useSendfile = false;
    for (;;) {
        // Between steps: a stop waits for one step at most.
        if (stopped()) return failed(FileAction::write, target.path(), ECANCELED);
        const qint64 before = target.bytesWritten();
        const ssize_t n = copyStep(source.fd(), target.fd(), useSendfile);
        if (n < 0 && errno == EINTR) continue;  // the stop request is looked at first
        if (n < 0) return failed(FileAction::write, target.path());
        if (n == 0) return {};
        target.countWritten(n);
        paceWriteBack(target.fd(), before, target.bytesWritten());
    }
}

FileStatus PosixFileSystem::flush(StagedFile& file, bool dropCache) {
    if (stopped()) return failed(FileAction::flush, file.path(), ECANCELED);
    if (::fsync(file.fd()) != 0) return failed(FileAction::flush, file.path());
    // Clean pages only go once they are on the device, hence after the flush.
    if (dropCache) ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_DONTNEED);
    return {};
}

FileResult<InputFile> PosixFileSystem::readBack(StagedFile& file) {
    if (stopped()) return failed(FileAction::read, file.path(), ECANCELED);
    UniqueFd fd(::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0));
    if (!fd.isOpen() || ::lseek(fd.get(), 0, SEEK_SET) != 0) return failed(FileAction::read, file.path());
    return InputFile(file.files(), std::move(fd), file.path(), file.bytesWritten());
}

FileStatus PosixFileSystem::commit(StagedFile& file) {
    if (stopped()) return failed(FileAction::rename, file.path(), ECANCELED);
    const int folder = file.folderFd();
    struct stat info {};
    // On a drive nothing is written through a link, not even by replacing it.
    if (file.reach() == Reach::beneath && ::fstatat(folder, file.finalName().constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode))
        return failed(FileAction::rename, file.path(), ELOOP);
    // Nor over another drive mounted where the file goes.
    if (const int crossed = PosixPaths::crossingAt(file.reach(), folder, file.finalName().constData()))
        return failed(FileAction::rename, file.path(), crossed);
    if (::renameat(folder, file.stagingName().constData(), folder, file.finalName().constData()) != 0)
        return failed(FileAction::rename, file.path());
    file.markCommitted();
    if (const int error = flushFolder(folder)) return failed(FileAction::flush, file.path(), error);
    return {};
}

}  // namespace spinforge
