#pragma once
// A udisks2 for tests. It owns org.freedesktop.UDisks2 on the test session's system bus (a private
// bus: see scripts/test-session) and lists, as udisks2's object manager does, the drives and the
// block devices with a file system that a test gives it. It records each Unmount and PowerOff in
// the order they come with their options, and answers as udisks2 does: a busy file system refuses
// with DeviceBusy, one not mounted with NotMounted, and an unmounted one forgets its mount point.
// Calls come through the bus daemon on a connection of its own, so they are answered only while
// the event loop turns. Main thread; one at a time.

#include <QDBusConnection>
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

    FakeUDisks();
    ~FakeUDisks() override;

    // False when there is no private system bus or the name was taken.
    bool isRegistered() const { return registered_; }

    QList<Drive> drives;
    QList<FileSystem> fileSystems;
    QStringList calls;           // "Unmount sdb1", "PowerOff STICK", in the order they came
    QList<QVariantMap> options;  // each call's options

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QDBusMessage managedObjects(const QDBusMessage& message) const;
    QDBusMessage unmount(const QDBusMessage& message, const QString& device);

    QDBusConnection bus_;
    bool registered_ = false;
};

}  // namespace testing_support
