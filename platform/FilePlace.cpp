#include "platform/FilePlace.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/openat2.h>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace spinforge {
namespace {

const QByteArray kHandlePrefix = "/proc/self/fd/";

// The held descriptor and the path below it, for a path through a FolderHandle.
std::optional<std::pair<int, QByteArray>> throughHandle(const QByteArray& path) {
    if (!path.startsWith(kHandlePrefix)) return std::nullopt;
    const qsizetype slash = path.indexOf('/', kHandlePrefix.size());
    bool ok = false;
    const int fd = path.mid(kHandlePrefix.size(), slash < 0 ? -1 : slash - kHandlePrefix.size()).toInt(&ok);
    if (!ok || fd < 0) return std::nullopt;
    return std::pair(fd, slash < 0 ? QByteArray() : path.mid(slash + 1));
}

bool isPlainName(const QByteArray& part) { return !part.isEmpty() && part != "." && part != ".."; }

// One folder step down without following a link; -1 with errno set, ELOOP for a link.
int folderBelow(int folder, const QByteArray& part) {
    if (!isPlainName(part)) return errno = EXDEV, -1;
    const int fd = ::openat(folder, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    // With O_DIRECTORY the kernel calls a link "not a folder".
    if (fd < 0 && errno == ENOTDIR && ::fstatat(folder, part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode))
        errno = ELOOP;
    return fd;
}

// The folder at `relative` below `root`, with no link followed and nothing above `root` reached.
int folderBeneath(int root, const QByteArray& relative) {
    if (relative.isEmpty()) return ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, root, relative.constData(), &how, sizeof how);
    // Kernels before 5.6, and sandboxes that filter the call, leave the walk to us.
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return int(fd);
    int current = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (const QByteArray& part : relative.split('/')) {
        if (current < 0) break;
        const int next = folderBelow(current, part);
        const int error = errno;
        ::close(current);
        current = next;
        errno = error;
    }
    return current;
}

}  // namespace

FilePlace::FilePlace(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    if (const auto handle = throughHandle(bytes)) {
        onDrive_ = true;
        const qsizetype slash = handle->second.lastIndexOf('/');
        name_ = slash < 0 ? handle->second : handle->second.mid(slash + 1);
        folder_ = isPlainName(name_) ? folderBeneath(handle->first, slash < 0 ? QByteArray() : handle->second.left(slash))
                                     : (errno = EXDEV, -1);
    } else {
        const qsizetype slash = bytes.lastIndexOf('/');
        name_ = slash < 0 ? bytes : bytes.mid(slash + 1);
        const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : bytes.left(slash);
        folder_ = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (folder_ < 0) error_ = errno;
}

FilePlace::~FilePlace() {
    if (folder_ >= 0) ::close(folder_);
}

bool FilePlace::status(struct stat& result) const {
    return isOpen() && ::fstatat(folder_, name(), &result, onDrive_ ? AT_SYMLINK_NOFOLLOW : 0) == 0;
}

bool FilePlace::isLink() const {
    struct stat info {};
    return isOpen() && ::fstatat(folder_, name(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

bool FilePlace::isListed() const {
    const int listing = isOpen() ? ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR* folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!folder) {
        if (listing >= 0) ::close(listing);
        return false;
    }
    bool listed = false;
    while (const dirent* entry = ::readdir(folder))
        if (name_ == entry->d_name) listed = true;
    ::closedir(folder);
    return listed;
}

int createFolderPath(const QString& folder) {
    const QByteArray bytes = QFile::encodeName(folder);
    const auto handle = throughHandle(bytes);
    if (!handle) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(bytes.toStdString()), error);
        return error.value();
    }
    // Step by step from the handle: each folder is made if missing, then entered without
    // following a link, so a link anywhere on the way stops the walk.
    int current = ::fcntl(handle->first, F_DUPFD_CLOEXEC, 0);
    for (const QByteArray& part : handle->second.split('/')) {
        if (current < 0) return errno;
        if (isPlainName(part) && ::mkdirat(current, part.constData(), 0755) != 0 && errno != EEXIST) {
            const int error = errno;
            ::close(current);
            return error;
        }
        const int next = folderBelow(current, part);
        const int error = errno;
        ::close(current);
        if (next < 0) return error;
        current = next;
    }
    ::close(current);
    return 0;
}

}  // namespace spinforge
