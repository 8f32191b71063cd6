#include "platform/PosixPaths.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace spinforge::PosixPaths {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// One step down without following a link; ELOOP for a link.
UniqueFd stepDown(int folder, const QByteArray& name) {
    if (!isPlainName(name)) return errno = EINVAL, UniqueFd();
    UniqueFd next(::openat(folder, name.constData(), kFolderFlags | O_NOFOLLOW));
    struct stat info {};
    // With O_DIRECTORY the kernel calls a link "not a folder".
    if (!next.isOpen() && errno == ENOTDIR && ::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode))
        errno = ELOOP;
    return next;
}

UniqueFd walkBeneath(int root, const QByteArray& relative, Walk walk) {
    if (walk == Walk::openat2) {
        open_how how{};
        how.flags = kFolderFlags;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        UniqueFd direct(int(::syscall(SYS_openat2, root, relative.constData(), &how, sizeof how)));
        // Kernels before 5.6, and sandboxes that filter the call, leave the walk to us.
        if (direct.isOpen() || (errno != ENOSYS && errno != EPERM)) return direct;
    }
    UniqueFd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (const QByteArray& part : relative.split('/')) {
        if (!current.isOpen()) break;
        current = stepDown(current.get(), part);
    }
    return current;
}

}  // namespace

bool isPlainName(const QByteArray& name) {
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

UniqueFd openFolderBelow(const Folder& folder, const QByteArray& relative, Walk walk) {
    if (relative.isEmpty()) return UniqueFd(::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0));
    if (folder.reach() == Reach::beneath) return walkBeneath(folder.fd(), relative, walk);
    return UniqueFd(::openat(folder.fd(), relative.constData(), kFolderFlags));
}

Place placeOf(const Folder& folder, const QString& relative, Walk walk) {
    const QByteArray bytes = QFile::encodeName(relative);
    const qsizetype slash = bytes.lastIndexOf('/');
    Place place;
    place.name = slash < 0 ? bytes : bytes.mid(slash + 1);
    if (!isPlainName(place.name)) {
        place.error = EINVAL;
        return place;
    }
    place.folder = openFolderBelow(folder, slash < 0 ? QByteArray() : bytes.left(slash), walk);
    if (!place.folder.isOpen()) place.error = errno;
    return place;
}

int noFollowFor(Reach reach) { return reach == Reach::beneath ? O_NOFOLLOW : 0; }

}  // namespace spinforge::PosixPaths
