#pragma once
// A udisks2 on the test session's private system bus (see scripts/test-session), on a connection of
// its own, for what the real daemon can't be made to do here (partitions, a stick that really
// powers off): it lists a test's drives and file systems as udisks2's object manager does, records
// each Unmount and PowerOff, and answers as udisks2 does: one mount undone per Unmount, a busy file
// system (DeviceBusy) or an unmounted one (NotMounted) refused, and no PowerOff while anything of
// the drive is mounted.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace testing_support {

class FakeUDisks final : public QDBusVirtualObject {
public:
    struct Drive {
        QString name;  // the last component of its object path
        bool removable = true, canPowerOff = true;
        bool powerOffFails = false;  // as a stick behind a hub that keeps the power on
    };
    struct FileSystem {
        QString device, drive;    // the block device's name ("sdb1"), its drive's or empty for none
        QStringList mountPoints;  // where it is mounted; an Unmount undoes the first
        bool busy = false;
        QString uuid = {};        // empty: one made from the device's name
        quint64 number = 0;       // its device number; 0: not listed
    };

    FakeUDisks(QList<Drive> drives, QList<FileSystem> fileSystems) : fileSystems(fileSystems), drives_(drives) {
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
    // Each Unmount and PowerOff from now on is done and answered only at release(), as by a daemon
    // busy writing back a slow stick's cache.
    void hold() { holding_ = true; }
    void release() {
        holding_ = false;
        for (const auto& answer : std::exchange(held_, {})) answer();
    }

    // "Unmount sdb1", "PowerOff STICK"; "… (may ask for a password)" when the call allows udisks2 to.
    QStringList calls;
    // What it lists; a test may change it (a stick taken away, another in its place).
    QList<FileSystem> fileSystems;
    int looks = 0;  // how often it was asked for everything it lists
    int late = 0;   // so many looks from now list no mount point, as udisks2 for a moment after a mount

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.path() == kRoot && message.member() == u"GetManagedObjects") {
            ++looks;
            return connection.send(message.createReply(QVariant::fromValue(objects(late-- > 0))));
        }
        if (message.member() != u"Unmount" && message.member() != u"PowerOff") return false;
        const QString name = message.path().section(u'/', -1);
        const bool withoutAsking = qdbus_cast<QVariantMap>(message.arguments().value(0)) ==
                                   QVariantMap{{QStringLiteral("auth.no_user_interaction"), true}};
        calls << message.member() + u' ' + name + (withoutAsking ? "" : " (may ask for a password)");
        message.setDelayedReply(true);
        held_.push_back([this, message, connection, name] { connection.send(answerTo(message, name)); });
        if (!holding_) release();
        return true;
    }

private:
    using Interfaces = QMap<QString, QVariantMap>;
    using Objects = QMap<QDBusObjectPath, Interfaces>;

    QDBusMessage answerTo(const QDBusMessage& message, const QString& name) {
        const auto refuse = [&](const char* error, const QString& text) { return message.createErrorReply(kError + error, text); };
        if (message.member() == u"PowerOff") {
            for (const FileSystem& fileSystem : fileSystems)
                if (fileSystem.drive == name && !fileSystem.mountPoints.isEmpty())
                    return refuse("DeviceBusy", "The drive in use: Device /dev/" + fileSystem.device + " is mounted");
            for (const Drive& drive : drives_)
                if (drive.name == name && drive.powerOffFails) return refuse("Failed", "No usb device");
            return message.createReply();
        }
        for (FileSystem& fileSystem : fileSystems) {
            if (fileSystem.device != name) continue;
            if (fileSystem.mountPoints.isEmpty()) return refuse("NotMounted", "Filesystem is not mounted");
            if (fileSystem.busy) return refuse("DeviceBusy", "Error unmounting /dev/" + name + ": target is busy");
            fileSystem.mountPoints.removeFirst();
        }
        return message.createReply();
    }

    Objects objects(bool withoutMounts) const {
        Objects objects;
        const QString drives = kRoot + "/drives/";
        for (const Drive& drive : drives_)
            objects[QDBusObjectPath(drives + drive.name)][kInterface + "Drive"] = {{"Removable", drive.removable},
                                                                                  {"CanPowerOff", drive.canPowerOff}};
        for (const FileSystem& fileSystem : fileSystems) {
            Interfaces& block = objects[QDBusObjectPath(kRoot + "/block_devices/" + fileSystem.device)];
            const QDBusObjectPath drive(fileSystem.drive.isEmpty() ? QStringLiteral("/") : drives + fileSystem.drive);
            const QString uuid = fileSystem.uuid.isEmpty() ? "uuid-of-" + fileSystem.device : fileSystem.uuid;
            block[kInterface + "Block"] = {{"Drive", QVariant::fromValue(drive)}, {"IdUUID", uuid}};
            if (fileSystem.number) block[kInterface + "Block"]["DeviceNumber"] = QVariant::fromValue(fileSystem.number);
            QList<QByteArray> mountPoints;  // each as bytes with a closing NUL
            for (const QString& point : withoutMounts ? QStringList() : fileSystem.mountPoints) mountPoints << point.toUtf8().append('\0');
            block[kInterface + "Filesystem"] = {{"MountPoints", QVariant::fromValue(mountPoints)}};
        }
        return objects;
    }

    static inline const QString kService = QStringLiteral("org.freedesktop.UDisks2");
    static inline const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.UDisks2.");
    static inline const QString kError = QStringLiteral("org.freedesktop.UDisks2.Error.");
    const QList<Drive> drives_;
    QDBusConnection bus_ = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")
                                   ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("fake-udisks"))
                                   : QDBusConnection(QStringLiteral("no system bus"));
    bool registered_ = false;
    bool holding_ = false;
    std::vector<std::function<void()>> held_;
};

}  // namespace testing_support
