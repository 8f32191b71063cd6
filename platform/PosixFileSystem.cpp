#include "platform/PosixFileSystem.h"

#include "platform/FileHandles.h"
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

class PosixFileSystem::InputImpl final : public InputFile::Impl {
public:
    InputImpl(const PosixFileSystem& files, UniqueFd fd, QString path, qint64 size)
        : files_(files), fd_(std::move(fd)), path_(std::move(path)), size_(size) {}

    int fd() const { return fd_.get(); }
    qint64 size() const override { return size_; }
    FileResult<qint64> read(char* buffer, qint64 capacity) override;

private:
    bool stopped() const { return files_.stopped(); }

    const PosixFileSystem& files_;
    UniqueFd fd_;
    const QString path_;
    const qint64 size_;
};

class PosixFileSystem::StagedImpl final : public StagedFile::Impl {
public:
    StagedImpl(const PosixFileSystem& files, UniqueFd file, UniqueFd folder, QByteArray stagingName,
               QByteArray finalName, QString path, Reach reach)
        : files_(files),
          file_(std::move(file)),
          folder_(std::move(folder)),
          stagingName_(std::move(stagingName)),
          finalName_(std::move(finalName)),
          path_(std::move(path)),
          reach_(reach) {}

    qint64 bytesWritten() const override { return written_; }
    FileStatus write(const char* data, qint64 size) override;
    FileStatus copyFrom(InputFile::Impl& source) override;
    FileStatus flush(bool dropCache) override;
    Opened<InputFile::Impl> readBack() override;
    FileStatus commit() override;
    FileStatus discard() override;

private:
    bool stopped() const { return files_.stopped(); }

    const PosixFileSystem& files_;
    UniqueFd file_;
    const UniqueFd folder_;
    const QByteArray stagingName_;
    const QByteArray finalName_;
    const QString path_;  // the final name's, as failures name it
    const Reach reach_;
    qint64 written_ = 0;
    bool committed_ = false;
};

class PosixFileSystem::FolderImpl final : public Folder::Impl {
public:
    FolderImpl(const PosixFileSystem& files, UniqueFd fd, QString path, Reach reach)
        : files_(files), fd_(std::move(fd)), path_(std::move(path)), reach_(reach) {}

    Opened<Folder::Impl> openFolder(const QString& relative) const override;
    FileStatus makeFolders(const QString& relative) const override;
    FileResult<FileInfo> inspect(const QString& relative) const override;
    FileResult<QStringList> list(const QString& relative) const override;
    Opened<InputFile::Impl> openForReading(const QString& relative) const override;
    FileResult<QByteArray> readSmallFile(const QString& relative, qint64 maxBytes) const override;
    FileStatus checkWritable() const override;
    Opened<StagedFile::Impl> stage(const QString& relative) const override;
    FileStatus remove(const QString& relative) const override;

private:
    bool stopped() const { return files_.stopped(); }
    QString pathOf(const QString& relative) const { return pathBelow(path_, relative); }
    Place placeOf(const QString& relative) const {
        return PosixPaths::placeOf(fd_.get(), reach_, relative, files_.walk_);
    }
    UniqueFd openFolderBelow(const QString& relative) const {
        return PosixPaths::openFolderBelow(fd_.get(), reach_, FileNames::encode(relative), files_.walk_);
    }

    const PosixFileSystem& files_;
    const UniqueFd fd_;
    const QString path_;
    const Reach reach_;
};

FileResult<FileInfo> PosixFileSystem::inspect(const QString& path) {
    if (stopped()) return failed(FileAction::inspect, path, ECANCELED);
    return statxAt(AT_FDCWD, FileNames::encode(path).constData(), 0, path);
}

Opened<Folder::Impl> PosixFileSystem::openImpl(const QString& path, Reach reach) {
    if (stopped()) return failed(FileAction::open, path, ECANCELED);
    UniqueFd fd(::open(FileNames::encode(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen()) return failed(FileAction::open, path);
    return Opened<Folder::Impl>(std::make_unique<FolderImpl>(*this, std::move(fd), path, reach));
}

Opened<Folder::Impl> PosixFileSystem::FolderImpl::openFolder(const QString& relative) const {
    if (stopped()) return failed(FileAction::open, pathOf(relative), ECANCELED);
    UniqueFd fd = openFolderBelow(relative);
    if (!fd.isOpen()) return failed(FileAction::open, pathOf(relative));
    return Opened<Folder::Impl>(std::make_unique<FolderImpl>(files_, std::move(fd), pathOf(relative), reach_));
}

FileStatus PosixFileSystem::FolderImpl::makeFolders(const QString& relative) const {
    if (stopped()) return failed(FileAction::createFolder, pathOf(relative), ECANCELED);
    // Step by step: each folder is made if missing, then entered, on a drive without following a
    // link, so a link anywhere on the way stops the walk.
    UniqueFd current(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
    const int noFollow = PosixPaths::noFollowFor(reach_);
    for (const QByteArray& part : FileNames::encode(relative).split('/')) {
        if (!current.isOpen()) break;
        if (part.isEmpty()) continue;
        if (!PosixPaths::isPlainName(part)) return failed(FileAction::createFolder, pathOf(relative), EINVAL);
        if (::mkdirat(current.get(), part.constData(), 0755) != 0 && errno != EEXIST)
            return failed(FileAction::createFolder, pathOf(relative));
        UniqueFd next(::openat(current.get(), part.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
        struct stat info {};
        if (!next.isOpen() && errno == ENOTDIR && noFollow &&
            ::fstatat(current.get(), part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            errno = ELOOP;
        if (next.isOpen())
            if (const int crossed = PosixPaths::crossing(reach_, current.get(), next.get()))
                return failed(FileAction::createFolder, pathOf(relative), crossed);
        current = std::move(next);
    }
    if (!current.isOpen()) return failed(FileAction::createFolder, pathOf(relative));
    return {};
}

FileResult<FileInfo> PosixFileSystem::FolderImpl::inspect(const QString& relative) const {
    if (stopped()) return failed(FileAction::inspect, pathOf(relative), ECANCELED);
    if (relative.isEmpty()) return statxAt(fd_.get(), "", AT_EMPTY_PATH, path_);
    const Place place = placeOf(relative);
    if (place.error) return failed(FileAction::inspect, pathOf(relative), place.error);
    if (const int crossed = PosixPaths::crossingAt(reach_, place.folder.get(), place.name.constData()))
        return failed(FileAction::inspect, pathOf(relative), crossed);
    const int flags = reach_ == Reach::beneath ? AT_SYMLINK_NOFOLLOW : 0;
    return statxAt(place.folder.get(), place.name.constData(), flags, pathOf(relative));
}

FileResult<QStringList> PosixFileSystem::FolderImpl::list(const QString& relative) const {
    if (stopped()) return failed(FileAction::list, pathOf(relative), ECANCELED);
    UniqueFd listed = openFolderBelow(relative);
    DIR* entries = listed.isOpen() ? ::fdopendir(listed.get()) : nullptr;
    if (!entries) return failed(FileAction::list, pathOf(relative));
    listed.release();  // closedir closes it
    QStringList names;
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") names << FileNames::decode(name);
    }
    ::closedir(entries);
    return names;
}

Opened<InputFile::Impl> PosixFileSystem::FolderImpl::openForReading(const QString& relative) const {
    if (stopped()) return failed(FileAction::open, pathOf(relative), ECANCELED);
    const QString path = pathOf(relative);
    const Place place = placeOf(relative);
    if (place.error) return failed(FileAction::open, path, place.error);
    // Non-blocking, so that a FIFO put where a file should be can't stall the agent; only a
    // regular file is read.
    UniqueFd fd(::openat(place.folder.get(), place.name.constData(),
                         O_RDONLY | O_NONBLOCK | O_CLOEXEC | PosixPaths::noFollowFor(reach_)));
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0) return failed(FileAction::open, path);
    if (const int crossed = PosixPaths::crossing(reach_, place.folder.get(), fd.get()))
        return failed(FileAction::open, path, crossed);
    if (!S_ISREG(info.st_mode)) return failed(FileAction::open, path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    return Opened<InputFile::Impl>(std::make_unique<InputImpl>(files_, std::move(fd), path, qint64(info.st_size)));
}

FileResult<QByteArray> PosixFileSystem::FolderImpl::readSmallFile(const QString& relative, qint64 maxBytes) const {
    if (stopped()) return failed(FileAction::open, pathOf(relative), ECANCELED);
    const QString path = pathOf(relative);
    const Place place = placeOf(relative);
    if (place.error) return failed(FileAction::open, path, place.error);
    // Small files come from outside (a drive's marker): never through a link, never waiting.
    UniqueFd fd(::openat(place.folder.get(), place.name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0) return failed(FileAction::open, path);
    if (const int crossed = PosixPaths::crossing(reach_, place.folder.get(), fd.get()))
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

FileStatus PosixFileSystem::FolderImpl::checkWritable() const {
    if (stopped()) return failed(FileAction::write, path_, ECANCELED);
    if (::faccessat(fd_.get(), ".", W_OK, 0) != 0) return failed(FileAction::write, path_);
    return {};
}

Opened<StagedFile::Impl> PosixFileSystem::FolderImpl::stage(const QString& relative) const {
    if (stopped()) return failed(FileAction::write, pathOf(relative), ECANCELED);
    const QString path = pathOf(relative);
    Place place = placeOf(relative);
    if (place.error) return failed(FileAction::write, path, place.error);
    // Fails now rather than at the rename, after the whole file was written.
    if (place.name.size() > StagingName::maxBytes) return failed(FileAction::write, path, ENAMETOOLONG);
    const QByteArray staging = StagingName::of(place.name);
    ::unlinkat(place.folder.get(), staging.constData(), 0);  // left by an interrupted write, if any
    // O_EXCL: never into an existing file, nor through a link.
    UniqueFd fd(::openat(place.folder.get(), staging.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.isOpen()) return failed(FileAction::write, path);
    return Opened<StagedFile::Impl>(std::make_unique<StagedImpl>(files_, std::move(fd), std::move(place.folder), staging,
                                                                 place.name, path, reach_));
}

FileStatus PosixFileSystem::FolderImpl::remove(const QString& relative) const {
    if (stopped()) return failed(FileAction::remove, pathOf(relative), ECANCELED);
    const Place place = placeOf(relative);
    if (place.error) return failed(FileAction::remove, pathOf(relative), place.error);
    if (::unlinkat(place.folder.get(), place.name.constData(), 0) != 0)
        return failed(FileAction::remove, pathOf(relative));
    return {};
}

FileResult<qint64> PosixFileSystem::InputImpl::read(char* buffer, qint64 capacity) {
    if (stopped()) return failed(FileAction::read, path_, ECANCELED);
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer, size_t(capacity));
        if (n >= 0) return qint64(n);
        if (errno != EINTR) return failed(FileAction::read, path_);
        if (stopped()) return failed(FileAction::read, path_, ECANCELED);
    }
}

FileStatus PosixFileSystem::StagedImpl::write(const char* data, qint64 size) {
    if (stopped()) return failed(FileAction::write, path_, ECANCELED);
    const qint64 before = written_;
    while (size > 0) {
        const ssize_t n = ::write(file_.get(), data, size_t(size));
        if (n < 0 && errno == EINTR && !stopped()) continue;
        if (n < 0 && errno == EINTR) return failed(FileAction::write, path_, ECANCELED);
        if (n < 0) return failed(FileAction::write, path_);
        data += n;
        size -= n;
        written_ += n;
    }
    startWriteBack(file_.get(), before, written_);
    return {};
}

FileStatus PosixFileSystem::StagedImpl::copyFrom(InputFile::Impl& source) {
    // The kernel's copy runs between two descriptors: both files must be this file system's.
    const auto* input = dynamic_cast<const InputImpl*>(&source);
    if (!input) return failed(FileAction::write, path_, EXDEV);
    bool useSendfile = false;
    for (;;) {
        // Between steps: a stop waits for one step at most.
        if (stopped()) return failed(FileAction::write, path_, ECANCELED);
        const qint64 before = written_;
        const ssize_t n = copyStep(input->fd(), file_.get(), useSendfile);
        if (n < 0 && errno == EINTR) continue;  // the stop request is looked at first
        if (n < 0) return failed(FileAction::write, path_);
        if (n == 0) return {};
        written_ += n;
        paceWriteBack(file_.get(), before, written_);
    }
}

FileStatus PosixFileSystem::StagedImpl::flush(bool dropCache) {
    if (stopped()) return failed(FileAction::flush, path_, ECANCELED);
    if (::fsync(file_.get()) != 0) return failed(FileAction::flush, path_);
    // Clean pages only go once they are on the device, hence after the flush.
    if (dropCache) ::posix_fadvise(file_.get(), 0, 0, POSIX_FADV_DONTNEED);
    return {};
}

Opened<InputFile::Impl> PosixFileSystem::StagedImpl::readBack() {
    if (stopped()) return failed(FileAction::read, path_, ECANCELED);
    UniqueFd fd(::fcntl(file_.get(), F_DUPFD_CLOEXEC, 0));
    if (!fd.isOpen() || ::lseek(fd.get(), 0, SEEK_SET) != 0) return failed(FileAction::read, path_);
    return Opened<InputFile::Impl>(std::make_unique<InputImpl>(files_, std::move(fd), path_, written_));
}

FileStatus PosixFileSystem::StagedImpl::commit() {
    if (stopped()) return failed(FileAction::rename, path_, ECANCELED);
    const int folder = folder_.get();
    struct stat info {};
    // On a drive nothing is written through a link, not even by replacing it.
    if (reach_ == Reach::beneath && ::fstatat(folder, finalName_.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode))
        return failed(FileAction::rename, path_, ELOOP);
    // Nor over another drive mounted where the file goes.
    if (const int crossed = PosixPaths::crossingAt(reach_, folder, finalName_.constData()))
        return failed(FileAction::rename, path_, crossed);
    if (::renameat(folder, stagingName_.constData(), folder, finalName_.constData()) != 0)
        return failed(FileAction::rename, path_);
    committed_ = true;
    if (const int error = flushFolder(folder)) return failed(FileAction::flush, path_, error);
    return {};
}

FileStatus PosixFileSystem::StagedImpl::discard() {
    // Closed first: some FUSE drives keep a file removed while open as a hidden one.
    file_.reset();
    // Not stopped by a stop request: what a stop leaves half-written goes too.
    if (committed_ || ::unlinkat(folder_.get(), stagingName_.constData(), 0) == 0) return {};
    return failed(FileAction::remove, pathBelow(path_.left(path_.lastIndexOf(u'/')), FileNames::decode(stagingName_)));
}

}  // namespace spinforge
