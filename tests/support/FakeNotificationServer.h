#pragma once
// A desktop notification server for tests: it owns org.freedesktop.Notifications on the test
// session's bus, records every Notify call and answers with increasing ids. Calls come through
// the bus daemon, so one is recorded only once the event loop turns. Like a real server it
// refuses a Notify whose arguments have the wrong types (an int replaces_id, say), and records
// the signature in `refused` instead. Main thread; one at a time per bus.
//
//   testing_support::FakeNotificationServer server;
//   ASSERT_TRUE(server.isRegistered());
//   notifier.post("Title", "Body", false);
//   ASSERT_TRUE(server.waitForCalls(1));
//   EXPECT_EQ(server.calls[0].title, "Title");

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QStringList>
#include <QVariantMap>
#include <QtCore/qtestsupport_core.h>

namespace testing_support {

// A plain virtual object rather than a QObject with slots: it needs no moc run, and it sees the
// message's signature, which is what a real server checks first.
class FakeNotificationServer final : public QDBusVirtualObject {
public:
    struct Call {
        QString appName;
        uint replacesId = 0;
        QString icon;
        QString title;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
    };

    explicit FakeNotificationServer(QDBusConnection bus = QDBusConnection::sessionBus()) : bus_(std::move(bus)) {
        registered_ = bus_.registerVirtualObject(path(), this) && bus_.registerService(service());
    }
    ~FakeNotificationServer() override {
        bus_.unregisterService(service());
        bus_.unregisterObject(path());
    }
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    static QString service() { return QStringLiteral("org.freedesktop.Notifications"); }
    static QString path() { return QStringLiteral("/org/freedesktop/Notifications"); }
    static QString signature() { return QStringLiteral("susssasa{sv}i"); }

    // False when the object path or the service name was taken.
    bool isRegistered() const { return registered_; }

    // Turns the event loop until `count` calls are recorded (true), a call is refused or
    // `timeoutMs` passes (false).
    bool waitForCalls(qsizetype count, int timeoutMs = 5000) {
        (void)QTest::qWaitFor([&] { return calls.size() >= count || !refused.isEmpty(); }, timeoutMs);
        return calls.size() >= count;
    }

    QList<Call> calls;
    QStringList refused;  // signatures of Notify calls with the wrong argument types

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.Notifications\">"
            "<method name=\"Notify\"><arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/>"
            "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"as\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"in\"/>"
            "<arg type=\"i\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/></method>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != service() || message.member() != QStringLiteral("Notify")) return false;
        if (message.signature() != signature()) {
            refused.append(message.signature());
            if (message.isReplyRequired())
                connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("Wrong arguments")));
            return true;
        }
        calls.append(callOf(message.arguments()));
        if (message.isReplyRequired()) connection.send(message.createReply(QVariant::fromValue(uint(calls.size()))));
        return true;
    }

private:
    static Call callOf(const QVariantList& args) {
        return Call{args[0].toString(), args[1].toUInt(), args[2].toString(), args[3].toString(),
                    args[4].toString(), args[5].toStringList(), qdbus_cast<QVariantMap>(args[6]),
                    args[7].toInt()};
    }

    QDBusConnection bus_;
    bool registered_ = false;
};

}  // namespace testing_support
