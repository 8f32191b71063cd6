#pragma once
// A udisks2 on the test session's private system bus (see scripts/test-session), on a connection of
// its own: it lists a test's drives and file systems as udisks2's object manager does, records each
// Unmount and PowerOff, and refuses a busy file system (DeviceBusy) or an unmounted one (NotMounted).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

namespace testing_support {

class FakeUDisks final : public QDBusVirtualObject {
public:
    struct Drive {
        QString name;  // the last component of its object path
        bool removable = true;
        bool canPowerOff = true;
    };
    struct FileSystem {
        QString device;      // the block device's name ("sdb1")
        QString drive;       // the name of its drive, or empty for none
        QString mountPoint;  // empty: not mounted
        bool busy = false;
    };

    FakeUDisks(QList<Drive> drives, QList<FileSystem> fileSystems) : drives_(drives), fileSystems_(fileSystems) {
        qDBusRegisterMetaType<QList<QByteArray>>();
        qDBusRegisterMetaType<Interfaces>();
        qDBusRegisterMetaType<Objects>();
        registered_ = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS") &&
                      bus_.registerVirtualObject(kRoot, this, QDBusConnection::SubPath) && bus_.registerService(kService);
    }
    ~FakeUDisks() override {
        bus_.unregisterService(kService);
        bus_.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(bus_.name());
    }

    // False without a private system bus, or when the name was taken.
    bool isRegistered() const { return registered_; }

    // "Unmount sdb1", "PowerOff STICK"; "… (may ask for a password)" when the call allows udisks2 to.
    QStringList calls;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.path() == kRoot && message.member() == u"GetManagedObjects")
            return connection.send(message.createReply(QVariant::fromValue(objects())));
        if (message.member() != u"Unmount" && message.member() != u"PowerOff") return false;
        const QString name = message.path().section(u'/', -1);
        const bool withoutAsking = qdbus_cast<QVariantMap>(message.arguments().value(0)) ==
                                   QVariantMap{{QStringLiteral("auth.no_user_interaction"), true}};
        calls << message.member() + u' ' + name + (withoutAsking ? "" : " (may ask for a password)");
        for (FileSystem& fileSystem : fileSystems_) {
            if (message.member() != u"Unmount" || fileSystem.device != name) continue;
            if (fileSystem.mountPoint.isEmpty())
                return connection.send(message.createErrorReply(kError + "NotMounted", "Filesystem is not mounted"));
            if (fileSystem.busy)
                return connection.send(message.createErrorReply(kError + "DeviceBusy", "Error unmounting: target is busy"));
            fileSystem.mountPoint.clear();
        }
        return connection.send(message.createReply());
    }

private:
    using Interfaces = QMap<QString, QVariantMap>;
    using Objects = QMap<QDBusObjectPath, Interfaces>;

    Objects objects() const {
        Objects objects;
        const QString drives = kRoot + "/drives/";
        for (const Drive& drive : drives_)
            objects[QDBusObjectPath(drives + drive.name)][kInterface + "Drive"] = {{"Removable", drive.removable},
                                                                                  {"CanPowerOff", drive.canPowerOff}};
        for (const FileSystem& fileSystem : fileSystems_) {
            Interfaces& block = objects[QDBusObjectPath(kRoot + "/block_devices/" + fileSystem.device)];
            const QDBusObjectPath drive(fileSystem.drive.isEmpty() ? QStringLiteral("/") : drives + fileSystem.drive);
            block[kInterface + "Block"] = {{"Drive", QVariant::fromValue(drive)}};
            // Each mount point as bytes with a closing NUL.
            QList<QByteArray> mountPoints;
            if (!fileSystem.mountPoint.isEmpty()) mountPoints << fileSystem.mountPoint.toUtf8().append('\0');
            block[kInterface + "Filesystem"] = {{"MountPoints", QVariant::fromValue(mountPoints)}};
        }
        return objects;
    }

    static inline const QString kService = QStringLiteral("org.freedesktop.UDisks2");
    static inline const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.UDisks2.");
    static inline const QString kError = QStringLiteral("org.freedesktop.UDisks2.Error.");
    const QList<Drive> drives_;
    QList<FileSystem> fileSystems_;
    QDBusConnection bus_ = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")
                                   ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("fake-udisks"))
                                   : QDBusConnection(QStringLiteral("no system bus"));
    bool registered_ = false;
};

}  // namespace testing_support
