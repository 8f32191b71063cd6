#include "support/FakeUDisks.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

namespace testing_support {
namespace {

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kBlocks = kRoot + QStringLiteral("/block_devices/");
const QString kDrives = kRoot + QStringLiteral("/drives/");

}  // namespace

// Never the machine's own system bus: only the one the test session names.
FakeUDisks::FakeUDisks()
    : bus_(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")
                   ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("spinforge-fake-udisks"))
                   : QDBusConnection(QStringLiteral("no system bus"))) {
    qDBusRegisterMetaType<QList<QByteArray>>();
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ManagedObjects>();
    registered_ = bus_.registerVirtualObject(kRoot, this, QDBusConnection::SubPath) && bus_.registerService(kService);
}

FakeUDisks::~FakeUDisks() {
    bus_.unregisterService(kService);
    bus_.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(bus_.name());
}

bool FakeUDisks::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString path = message.path();
    if (path == kRoot && message.member() == u"GetManagedObjects") return connection.send(managedObjects(message));
    if (message.member() != u"Unmount" && message.member() != u"PowerOff") return false;
    const QString name = path.section(u'/', -1);
    calls << message.member() + u' ' + name;
    options << qdbus_cast<QVariantMap>(message.arguments().value(0));
    if (path.startsWith(kBlocks) && message.member() == u"Unmount") return connection.send(unmount(message, name));
    return connection.send(message.createReply());
}

QDBusMessage FakeUDisks::managedObjects(const QDBusMessage& message) const {
    ManagedObjects objects;
    for (const Drive& drive : drives)
        objects[QDBusObjectPath(kDrives + drive.name)][QStringLiteral("org.freedesktop.UDisks2.Drive")] = {
                {QStringLiteral("Removable"), drive.removable}, {QStringLiteral("CanPowerOff"), drive.canPowerOff}};
    for (const FileSystem& fileSystem : fileSystems) {
        Interfaces& block = objects[QDBusObjectPath(kBlocks + fileSystem.device)];
        const QString drive = fileSystem.drive.isEmpty() ? QStringLiteral("/") : kDrives + fileSystem.drive;
        block[QStringLiteral("org.freedesktop.UDisks2.Block")] = {{QStringLiteral("Drive"), QVariant::fromValue(QDBusObjectPath(drive))}};
        // udisks2 lists each mount point as bytes with a closing NUL.
        QList<QByteArray> mountPoints;
        if (!fileSystem.mountPoint.isEmpty()) mountPoints << fileSystem.mountPoint.toUtf8().append('\0');
        block[QStringLiteral("org.freedesktop.UDisks2.Filesystem")] = {{QStringLiteral("MountPoints"), QVariant::fromValue(mountPoints)}};
    }
    return message.createReply(QVariant::fromValue(objects));
}

QDBusMessage FakeUDisks::unmount(const QDBusMessage& message, const QString& device) {
    for (FileSystem& fileSystem : fileSystems) {
        if (fileSystem.device != device) continue;
        if (fileSystem.mountPoint.isEmpty())
            return message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted"),
                                            QStringLiteral("Filesystem is not mounted"));
        if (fileSystem.busy)
            return message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"),
                                            QStringLiteral("Error unmounting /dev/%1: target is busy").arg(device));
        fileSystem.mountPoint.clear();
        return message.createReply();
    }
    return message.createErrorReply(QDBusError::UnknownObject, device);
}

}  // namespace testing_support
