#include "platform/PosixPaths.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace spinforge::PosixPaths {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// The longest path the kernel takes in one call, its closing NUL included.
constexpr qsizetype kLongestCall = PATH_MAX - 1;

// Which mount a descriptor's file is on: the kernel's mount number where statx gives it, else the
// file system's device (two mounts of one file system then look alike).
struct MountOf {
    bool known = false;
    bool hasId = false;
    quint64 id = 0;
    dev_t device = 0;
};

MountOf mountOf(int fd, const char* name = "", int flags = AT_EMPTY_PATH) {
    struct statx status {};
    if (::statx(fd, name, flags | AT_STATX_SYNC_AS_STAT, STATX_MNT_ID, &status) != 0) return {};
    return {true, (status.stx_mask & STATX_MNT_ID) != 0, status.stx_mnt_id,
            dev_t(makedev(status.stx_dev_major, status.stx_dev_minor))};
}

bool sameMount(const MountOf& a, const MountOf& b) {
    if (!a.known || !b.known) return false;
    return a.hasId && b.hasId ? a.id == b.id : a.device == b.device;
}

// One step down without following a link or leaving `mount`; ELOOP for a link, EXDEV for a mount.
UniqueFd stepDown(int folder, const QByteArray& name, const MountOf& mount) {
    if (!isPlainName(name)) return errno = EINVAL, UniqueFd();
    UniqueFd next(::openat(folder, name.constData(), kFolderFlags | O_NOFOLLOW));
    struct stat info {};
    // With O_DIRECTORY the kernel calls a link "not a folder".
    if (!next.isOpen() && errno == ENOTDIR && ::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode))
        errno = ELOOP;
    if (next.isOpen() && !sameMount(mountOf(next.get()), mount)) return errno = EXDEV, UniqueFd();
    return next;
}

// The components of `relative` in parts that each fit one call.
QList<QByteArray> partsOf(const QByteArray& relative) {
    QList<QByteArray> parts;
    for (const QByteArray& component : relative.split('/')) {
        if (!parts.isEmpty() && parts.last().size() + 1 + component.size() <= kLongestCall)
            parts.last() += '/' + component;
        else
            parts << component;
    }
    return parts;
}

// openat2 beneath `root`, part by part; ENOSYS or EPERM when the kernel or a sandbox refuses it.
UniqueFd openat2Beneath(int root, const QByteArray& relative) {
    UniqueFd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (const QByteArray& part : partsOf(relative)) {
        if (!current.isOpen()) break;
        open_how how{};
        how.flags = kFolderFlags;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
        current = UniqueFd(int(::syscall(SYS_openat2, current.get(), part.constData(), &how, sizeof how)));
    }
    return current;
}

UniqueFd walkBeneath(int root, const QByteArray& relative, Walk walk) {
    if (walk == Walk::openat2) {
        UniqueFd direct = openat2Beneath(root, relative);
        // Kernels before 5.6, and sandboxes that filter the call, leave the walk to us.
        if (direct.isOpen() || (errno != ENOSYS && errno != EPERM)) return direct;
    }
    const MountOf mount = mountOf(root);
    UniqueFd current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (const QByteArray& part : relative.split('/')) {
        if (!current.isOpen()) break;
        current = stepDown(current.get(), part, mount);
    }
    return current;
}

}  // namespace

bool isPlainName(const QByteArray& name) {
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

UniqueFd openFolderBelow(int folder, Reach reach, const QByteArray& relative, Walk walk) {
    if (relative.isEmpty()) return UniqueFd(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (reach == Reach::beneath) return walkBeneath(folder, relative, walk);
    return UniqueFd(::openat(folder, relative.constData(), kFolderFlags));
}

Place placeOf(int folder, Reach reach, const QString& relative, Walk walk) {
    const QByteArray bytes = FileNames::encode(relative);
    const qsizetype slash = bytes.lastIndexOf('/');
    Place place;
    place.name = slash < 0 ? bytes : bytes.mid(slash + 1);
    if (!isPlainName(place.name)) {
        place.error = EINVAL;
        return place;
    }
    place.folder = openFolderBelow(folder, reach, slash < 0 ? QByteArray() : bytes.left(slash), walk);
    if (!place.folder.isOpen()) place.error = errno;
    return place;
}

int noFollowFor(Reach reach) { return reach == Reach::beneath ? O_NOFOLLOW : 0; }

int crossing(Reach reach, int folder, int opened) {
    if (reach != Reach::beneath) return 0;
    return sameMount(mountOf(folder), mountOf(opened)) ? 0 : EXDEV;
}

int crossingAt(Reach reach, int folder, const char* name) {
    if (reach != Reach::beneath) return 0;
    const MountOf there = mountOf(folder, name, AT_SYMLINK_NOFOLLOW);
    // Nothing there: nothing is crossed by looking.
    if (!there.known) return 0;
    return sameMount(mountOf(folder), there) ? 0 : EXDEV;
}

}  // namespace spinforge::PosixPaths
