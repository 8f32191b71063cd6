#include "platform/UDisksEjector.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QFile>
#include <QMap>
#include <QVariantMap>
#include <qcorodbuspendingcall.h>

#include <optional>

namespace spinforge {
namespace {

using Outcome = DriveEjector::Outcome;
using Interfaces = QMap<QString, QVariantMap>;  // interface name to its properties
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

const QString kUDisks = QStringLiteral("org.freedesktop.UDisks2");
const QString kUDisksRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kBlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDriveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kNotMountedError = QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted");

// The look-up answers at once. Unmounting writes back what the drive's cache still holds, which
// on a slow stick takes a while.
constexpr int kLookupTimeoutMs = 10'000;
constexpr int kChangeTimeoutMs = 120'000;

Outcome failed(const QString& reason) { return {Outcome::Kind::failed, reason}; }

// What the user reads for a call that was refused or not answered.
Outcome failed(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    if (name == u"org.freedesktop.UDisks2.Error.DeviceBusy") return failed(QStringLiteral("the drive is in use"));
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

// The drive a block device belongs to; "/" (udisks2's "none") or empty when it has none.
QString driveOf(const Interfaces& object) {
    return qvariant_cast<QDBusObjectPath>(property(object, kBlockInterface, QStringLiteral("Drive"))).path();
}

// Where the block device's file system is mounted: bytes, listed by udisks2 with a closing NUL.
QList<QByteArray> mountPointsOf(const Interfaces& object) {
    QList<QByteArray> points = qdbus_cast<QList<QByteArray>>(property(object, kFilesystemInterface, QStringLiteral("MountPoints")));
    for (QByteArray& point : points)
        if (point.endsWith('\0')) point.chop(1);
    return points;
}

std::optional<QDBusObjectPath> blockMountedAt(const ManagedObjects& objects, const QByteArray& mountPoint) {
    for (auto object = objects.cbegin(); object != objects.cend(); ++object)
        if (mountPointsOf(object.value()).contains(mountPoint)) return object.key();
    return std::nullopt;
}

struct Plan {
    QList<QDBusObjectPath> unmount;  // in udisks2's order
    QString powerOff;                // the drive, or empty
};

Plan planFor(const ManagedObjects& objects, const QDBusObjectPath& block) {
    const QString drive = driveOf(objects.value(block));
    const Interfaces driveObject = drive.size() > 1 ? objects.value(QDBusObjectPath(drive)) : Interfaces();
    // Only a drive the user can take away gives up all its file systems. A partition of the
    // computer's own disk that the file manager mounted below /media/ is unmounted alone, and the
    // disk stays on.
    if (!property(driveObject, kDriveInterface, QStringLiteral("Removable")).toBool()) return {{block}, {}};
    Plan plan;
    for (auto object = objects.cbegin(); object != objects.cend(); ++object)
        if (driveOf(object.value()) == drive && !mountPointsOf(object.value()).isEmpty()) plan.unmount << object.key();
    if (property(driveObject, kDriveInterface, QStringLiteral("CanPowerOff")).toBool()) plan.powerOff = drive;
    return plan;
}

// A call that changes something: nothing may ask the user for a password, so a change that
// would need one is refused instead.
QDBusMessage changeCall(const QString& path, const QString& interface, const QString& method) {
    QDBusMessage message = QDBusMessage::createMethodCall(kUDisks, path, interface, method);
    message << QVariantMap{{QStringLiteral("auth.no_user_interaction"), true}};
    return message;
}

// A free function, so that nothing of the ejector is used once the first call is on its way.
QCoro::Task<Outcome> ejectThrough(QDBusConnection bus, QString mountPoint) {
    const QDBusPendingCall lookup = bus.asyncCall(
            QDBusMessage::createMethodCall(kUDisks, kUDisksRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                           QStringLiteral("GetManagedObjects")),
            kLookupTimeoutMs);
    const QDBusMessage listed = co_await lookup;
    if (listed.type() != QDBusMessage::ReplyMessage) co_return failed(listed);
    const auto objects = qdbus_cast<ManagedObjects>(listed.arguments().value(0));

    const std::optional<QDBusObjectPath> block = blockMountedAt(objects, QFile::encodeName(mountPoint));
    if (!block) co_return Outcome{Outcome::Kind::notMounted, {}};
    const Plan plan = planFor(objects, *block);
    // Every file system first: a drive is powered off only once nothing of it is mounted.
    for (const QDBusObjectPath& fileSystem : plan.unmount) {
        const QDBusPendingCall unmount =
                bus.asyncCall(changeCall(fileSystem.path(), kFilesystemInterface, QStringLiteral("Unmount")), kChangeTimeoutMs);
        const QDBusMessage reply = co_await unmount;
        // One the user or the desktop unmounted meanwhile is done as well.
        if (reply.type() != QDBusMessage::ReplyMessage && reply.errorName() != kNotMountedError) co_return failed(reply);
    }
    if (!plan.powerOff.isEmpty()) {
        const QDBusPendingCall powerOff =
                bus.asyncCall(changeCall(plan.powerOff, kDriveInterface, QStringLiteral("PowerOff")), kChangeTimeoutMs);
        const QDBusMessage reply = co_await powerOff;
        if (reply.type() != QDBusMessage::ReplyMessage) co_return failed(reply);
    }
    co_return Outcome{Outcome::Kind::ejected, {}};
}

}  // namespace

UDisksEjector::UDisksEjector(QDBusConnection bus) : bus_(std::move(bus)) {}

QCoro::Task<DriveEjector::Outcome> UDisksEjector::eject(QString mountPoint) {
    return ejectThrough(bus_, std::move(mountPoint));
}

}  // namespace spinforge
