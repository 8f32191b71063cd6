#pragma once
// Notifications through the desktop's notification server (org.freedesktop.Notifications on the
// session bus). Nothing here waits on the bus: the server's capabilities are asked for at once,
// without waiting, and a post made before they are known is sent when the answer comes (at most
// a couple of seconds later). Main thread.

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

class QDBusPendingCallWatcher;

namespace spinforge {

class DesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    // `bus` is where the notification server is looked for; `iconName` is the themed icon shown
    // beside each notification. An unusable bus makes posts do nothing.
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QString iconName = QStringLiteral("spinforge"));
    Q_DISABLE_COPY_MOVE(DesktopNotifier)

    // Nothing to do: the desktop shows notifications without asking, and the user silences them
    // in the desktop's own settings.
    void requestPermission() override;
    // Return at once. No bus, no server or a refusal: nothing happens. The body is shown as it
    // is, also by servers that read markup in it; the action is offered where the server
    // announces "actions".
    void post(const QString& title, const QString& body, bool routine) override;
    void postWithAction(const QString& title, const QString& body, bool routine, NotificationAction action) override;

private slots:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    struct Notification {
        QString title, body;
        bool routine = false;
        std::optional<NotificationAction> action;
    };

    // Asks the server what it shows; the posts waiting meanwhile go out with the answer.
    void show(Notification notification);
    void askCapabilities();
    void capabilitiesAnswered(QDBusPendingCallWatcher* answer);
    void send(const Notification& notification, const QStringList& capabilities);

    QDBusConnection bus_;
    QString iconName_;
    std::optional<QStringList> capabilities_;  // none until the server answered
    bool asking_ = false;
    QList<Notification> waiting_;  // posted while the capabilities were being asked for
    std::map<uint, NotificationAction> shownActions_;  // by notification id, until used or closed
};

}  // namespace spinforge
