#pragma once
// A notification server on the test session's bus, on a connection of its own (calls are recorded
// as the event loop turns): it announces `capabilities` after `capabilitiesDelay`, records each
// Notify, refuses one with the wrong argument types as a real server does, and presses buttons.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <QtCore/qtestsupport_core.h>

#include <chrono>

namespace testing_support {

// A virtual object, not a QObject with slots: it sees the signature, which a real server checks first.
class FakeNotificationServer final : public QDBusVirtualObject {
public:
    struct Call {
        uint replacesId = 0;
        QString icon, title, body;
        QStringList actions;  // key, label, key, label…
        QVariantMap hints;
    };

    FakeNotificationServer() {
        registered_ = bus_.registerVirtualObject(kPath, this) && bus_.registerService(kService);
    }
    ~FakeNotificationServer() override {
        bus_.unregisterService(kService);
        bus_.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(bus_.name());
    }

    // False when the object path or the service name was taken.
    bool isRegistered() const { return registered_; }
    // Turns the event loop until `count` calls are recorded (true), a call is refused or 5 s pass.
    bool waitForCalls(qsizetype count) {
        (void)QTest::qWaitFor([&] { return calls.size() >= count || !refused.isEmpty(); }, 5000);
        return calls.size() >= count;
    }
    // As when the user presses the button `key` of the notification with `id` (the i-th call has id i).
    void press(uint id, const QString& key) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
        signal << id << key;
        bus_.send(signal);
    }

    QStringList capabilities{QStringLiteral("body")};
    std::chrono::milliseconds capabilitiesDelay{0};
    QList<Call> calls;
    QStringList refused;  // signatures of Notify calls with the wrong argument types

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QStringLiteral("GetCapabilities")) {
            QTimer::singleShot(capabilitiesDelay, [connection, reply = message.createReply(QVariant::fromValue(capabilities))] {
                QDBusConnection(connection).send(reply);
            });
            return true;
        }
        if (message.member() != QStringLiteral("Notify")) return false;
        if (message.signature() != QStringLiteral("susssasa{sv}i")) {
            refused.append(message.signature());
            return connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("Wrong arguments")));
        }
        const QVariantList args = message.arguments();
        calls.append({args[1].toUInt(), args[2].toString(), args[3].toString(), args[4].toString(), args[5].toStringList(),
                      qdbus_cast<QVariantMap>(args[6])});
        return connection.send(message.createReply(QVariant::fromValue(uint(calls.size()))));
    }

private:
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
    QDBusConnection bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notification-server"));
    bool registered_ = false;
};

}  // namespace testing_support
