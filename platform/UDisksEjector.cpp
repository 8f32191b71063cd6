#include "platform/UDisksEjector.h"

#include "platform/FileNames.h"
#include "platform/MountTable.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QMap>
#include <QVariantMap>
#include <qcorodbuspendingcall.h>
#include <qcorotimer.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <sys/sysmacros.h>

namespace spinforge {
namespace {

using Outcome = DriveEjector::Outcome;
using Identity = DriveEjector::Identity;
using Interfaces = QMap<QString, QVariantMap>;  // interface name to its properties
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

const QString kUDisks = QStringLiteral("org.freedesktop.UDisks2");
const QString kUDisksRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kBlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDriveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kNotMountedError = QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted");
const QString kBusyError = QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy");

// The look-up answers at once. Unmounting writes back what the drive's cache still holds, which
// on a slow stick takes a while.
constexpr int kLookupTimeoutMs = 10'000;
constexpr int kChangeTimeoutMs = 120'000;
// udisks2 lists a mount a moment after the kernel does, and is busy for a moment after a stick
// arrives: a mount point the kernel lists and udisks2 does not is looked for again, this often and
// this far apart, before udisks2's word is taken.
constexpr int kLooksAgain = 5;
constexpr std::chrono::milliseconds kLookAgainAfter(200);
// A stick has a few file systems, each mounted once or twice: past this many unmounts the eject
// gives up rather than going round for ever with a disk service that never lets go.
constexpr int kMostUnmounts = 32;

Outcome failed(const QString& reason) { return {Outcome::Kind::failed, reason}; }

// What the user reads for a call that was refused or not answered.
Outcome failed(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    if (name == kBusyError) return failed(QStringLiteral("the drive is in use"));
    if (name == u"org.freedesktop.DBus.Error.ServiceUnknown" || name == u"org.freedesktop.DBus.Error.NameHasNoOwner" ||
        name == u"org.freedesktop.DBus.Error.Disconnected")
        return failed(QStringLiteral("the disk service (udisks2) is not running"));
    if (name == u"org.freedesktop.DBus.Error.NoReply" || name == u"org.freedesktop.DBus.Error.Timeout")
        return failed(QStringLiteral("the disk service (udisks2) did not answer in time"));
    return failed(reply.errorMessage().isEmpty() ? name : reply.errorMessage());
}

QVariant property(const Interfaces& object, const QString& interface, const QString& name) {
    return object.value(interface).value(name);
}

// The drive a block device belongs to; "/" (udisks2's "none") when it has none.
QString driveOf(const Interfaces& object) {
    const QString drive = qvariant_cast<QDBusObjectPath>(property(object, kBlockInterface, QStringLiteral("Drive"))).path();
    return drive.isEmpty() ? QStringLiteral("/") : drive;
}

// Where the block device's file system is mounted: bytes, listed by udisks2 with a closing NUL.
QList<QByteArray> mountPointsOf(const Interfaces& object) {
    QList<QByteArray> points = qdbus_cast<QList<QByteArray>>(property(object, kFilesystemInterface, QStringLiteral("MountPoints")));
    for (QByteArray& point : points)
        if (point.endsWith('\0')) point.chop(1);
    return points;
}

QStringList namesOf(const QList<QByteArray>& mountPoints) {
    QStringList names;
    for (const QByteArray& point : mountPoints) names << FileNames::decode(point);
    return names;
}

std::optional<QDBusObjectPath> blockMountedAt(const ManagedObjects& objects, const QByteArray& mountPoint) {
    for (auto object = objects.cbegin(); object != objects.cend(); ++object)
        if (mountPointsOf(object.value()).contains(mountPoint)) return object.key();
    return std::nullopt;
}

Identity identityOf(const ManagedObjects& objects, const QDBusObjectPath& block) {
    const Interfaces& object = objects.value(block);
    return {driveOf(object), block.path(), property(object, kBlockInterface, QStringLiteral("IdUUID")).toString()};
}

bool driveSays(const ManagedObjects& objects, const QString& drive, const QString& name) {
    return drive != u"/" && property(objects.value(QDBusObjectPath(drive)), kDriveInterface, name).toBool();
}

// Whether the mount at `mountPoint` in `mounts` can be of `block`'s file system: a file system on
// a block device is mounted from that device, unless it goes through FUSE (an anonymous device).
bool isMountedFrom(const QList<Mount>& mounts, const QString& mountPoint, const Interfaces& block) {
    const quint64 number = property(block, kBlockInterface, QStringLiteral("DeviceNumber")).toULongLong();
    dev_t mounted = 0;
    for (const Mount& mount : mounts)
        if (mount.point == mountPoint) mounted = mount.device;  // the last: the one on top
    return number == 0 || mounted == 0 || major(mounted) == 0 || dev_t(number) == mounted;
}

// The first block device of those `mine` picks whose file system is still mounted somewhere.
using Mine = std::function<bool(const QDBusObjectPath&, const Interfaces&)>;
std::optional<QDBusObjectPath> firstMounted(const ManagedObjects& objects, const Mine& mine) {
    for (auto object = objects.cbegin(); object != objects.cend(); ++object)
        if (mine(object.key(), object.value()) && !mountPointsOf(object.value()).isEmpty()) return object.key();
    return std::nullopt;
}

// One look at everything udisks2 knows, or the reply that says why it could not be had.
struct Look {
    ManagedObjects objects;
    std::optional<QDBusMessage> refusal;
};

QCoro::Task<Look> look(QDBusConnection bus) {
    const QDBusPendingCall call = bus.asyncCall(
            QDBusMessage::createMethodCall(kUDisks, kUDisksRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                           QStringLiteral("GetManagedObjects")),
            kLookupTimeoutMs);
    const QDBusMessage reply = co_await call;
    if (reply.type() != QDBusMessage::ReplyMessage) co_return Look{{}, reply};
    co_return Look{qdbus_cast<ManagedObjects>(reply.arguments().value(0)), std::nullopt};
}

// A look in which udisks2 has caught up with the mounts at `mountPoints` in the mount table at
// `mountTable`, or the last one.
QCoro::Task<Look> lookFor(QDBusConnection bus, QStringList mountPoints, QString mountTable) {
    for (int again = 0;; ++again) {
        Look seen = co_await look(bus);
        if (seen.refusal || again == kLooksAgain) co_return seen;
        QStringList mounted;
        for (const Mount& mount : MountTable::read(mountTable)) mounted << mount.point;
        const bool behind = std::any_of(mountPoints.cbegin(), mountPoints.cend(), [&](const QString& point) {
            return mounted.contains(point) && !blockMountedAt(seen.objects, FileNames::encode(point));
        });
        if (!behind) co_return seen;
        co_await QCoro::sleepFor(kLookAgainAfter);
    }
}

// A call that changes something: nothing may ask the user for a password, so a change that
// would need one is refused instead.
QCoro::Task<QDBusMessage> change(QDBusConnection bus, QString path, QString interface, QString method) {
    QDBusMessage message = QDBusMessage::createMethodCall(kUDisks, path, interface, method);
    message << QVariantMap{{QStringLiteral("auth.no_user_interaction"), true}};
    const QDBusPendingCall call = bus.asyncCall(message, kChangeTimeoutMs);
    co_return co_await call;
}

// An unmount refused while the file system was mounted at `places`. A busy one is named when it
// is not the one the user asked about: with a stick's second file system in use, the first is
// not to blame.
Outcome unmountRefused(const QDBusMessage& reply, const QStringList& places, const QString& asked) {
    if (reply.errorName() != kBusyError || places.contains(asked)) return failed(reply);
    return failed(QStringLiteral("the drive is in use at ") + places.join(QStringLiteral(", ")));
}

// Free functions, so that nothing of the ejector is used once the first call is on its way.
QCoro::Task<QList<DriveEjector::Identified>> identifyThrough(QDBusConnection bus, QStringList mountPoints, QString mountTable) {
    // What is mounted where as the drives are offered: udisks2 may answer only once another stick
    // has taken a mount point, and then its answer is not about the drive offered.
    const QList<Mount> offered = MountTable::read(mountTable);
    const Look seen = co_await lookFor(bus, mountPoints, mountTable);
    QList<DriveEjector::Identified> found;
    for (const QString& mountPoint : mountPoints) {
        const auto block = seen.refusal ? std::nullopt : blockMountedAt(seen.objects, FileNames::encode(mountPoint));
        if (seen.refusal) found << failed(*seen.refusal);
        else if (!block) found << Outcome{Outcome::Kind::notMounted, {}};
        else if (!isMountedFrom(offered, mountPoint, seen.objects.value(*block))) found << Outcome{Outcome::Kind::replaced, {}};
        else found << identityOf(seen.objects, *block);
    }
    co_return found;
}

QCoro::Task<Outcome> ejectThrough(QDBusConnection bus, QString mountTable, QString mountPoint, Identity expected) {
    const QStringList asked = {mountPoint};
    Look seen = co_await lookFor(bus, asked, mountTable);
    if (seen.refusal) co_return failed(*seen.refusal);
    const std::optional<QDBusObjectPath> block = blockMountedAt(seen.objects, FileNames::encode(mountPoint));
    if (!block) co_return Outcome{Outcome::Kind::notMounted, {}};
    const Identity found = identityOf(seen.objects, *block);
    if (!found.sameAs(expected)) co_return Outcome{Outcome::Kind::replaced, {}};

    // Only a drive the user can take away gives up all its file systems. A partition of the
    // computer's own disk that the file manager mounted below /media/ is unmounted alone, and the
    // disk stays on.
    const bool wholeDrive = driveSays(seen.objects, found.drive, QStringLiteral("Removable"));
    const Mine mine = [&](const QDBusObjectPath& path, const Interfaces& object) {
        return wholeDrive ? driveOf(object) == found.drive : path == *block;
    };
    // One mount after the other, looking again after each: a file system mounted at two places
    // is still mounted at the second once the first call returns.
    for (int unmounts = 0;; ++unmounts) {
        const std::optional<QDBusObjectPath> next = firstMounted(seen.objects, mine);
        if (!next) break;
        const QStringList places = namesOf(mountPointsOf(seen.objects.value(*next)));
        if (unmounts == kMostUnmounts) co_return failed(QStringLiteral("it stays mounted at ") + places.join(QStringLiteral(", ")));
        const QDBusMessage reply = co_await change(bus, next->path(), kFilesystemInterface, QStringLiteral("Unmount"));
        // One the user or the desktop unmounted meanwhile is done as well.
        if (reply.type() != QDBusMessage::ReplyMessage && reply.errorName() != kNotMountedError)
            co_return unmountRefused(reply, places, mountPoint);
        seen = co_await look(bus);
        if (seen.refusal) co_return failed(*seen.refusal);
    }
    // A drive is powered off only once nothing of it is mounted; from then on it is safe to pull,
    // whether or not it could be switched off, unless something of it was mounted meanwhile.
    if (wholeDrive && driveSays(seen.objects, found.drive, QStringLiteral("CanPowerOff"))) {
        const QDBusMessage reply = co_await change(bus, found.drive, kDriveInterface, QStringLiteral("PowerOff"));
        if (reply.type() != QDBusMessage::ReplyMessage) {
            seen = co_await look(bus);
            if (seen.refusal || firstMounted(seen.objects, mine)) co_return failed(reply);
        }
    }
    co_return Outcome{Outcome::Kind::ejected, {}};
}

}  // namespace

UDisksEjector::UDisksEjector(QDBusConnection bus, QString mountTable) : bus_(std::move(bus)), mountTable_(std::move(mountTable)) {}

QCoro::Task<QList<DriveEjector::Identified>> UDisksEjector::identify(QStringList mountPoints) {
    return identifyThrough(bus_, std::move(mountPoints), mountTable_);
}

QCoro::Task<DriveEjector::Outcome> UDisksEjector::eject(QString mountPoint, Identity expected) {
    return ejectThrough(bus_, mountTable_, std::move(mountPoint), std::move(expected));
}

}  // namespace spinforge
