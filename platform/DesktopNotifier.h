#pragma once
// Notifications through the desktop's notification server (org.freedesktop.Notifications on the
// session bus). Each post is one message sent without waiting for the server's answer, so a slow
// or missing server never holds up the engine. Main thread.

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QString>

namespace spinforge {

class DesktopNotifier final : public Notifier {
public:
    // `bus` is where the notification server is looked for; `iconName` is the themed icon shown
    // beside each notification. Neither is checked here: an unusable bus makes posts do nothing.
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QString iconName = QStringLiteral("spinforge"));

    // Nothing to do: the desktop shows notifications without asking, and the user silences them
    // in the desktop's own settings.
    void requestPermission() override;
    // Sends one Notify call and returns at once. No bus, no server or a refusal: nothing happens.
    void post(const QString& title, const QString& body, bool routine) override;

private:
    QDBusConnection bus_;
    QString iconName_;
};

}  // namespace spinforge
