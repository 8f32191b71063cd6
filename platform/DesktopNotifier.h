#pragma once
// Notifications through the desktop's notification server (org.freedesktop.Notifications on the
// session bus). Each post is one message sent without waiting for the server's answer, so a slow
// or missing server never holds up the engine. Main thread.

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QString>

#include <optional>

namespace spinforge {

class DesktopNotifier final : public Notifier {
public:
    // `bus` is where the notification server is looked for; `iconName` is the themed icon shown
    // beside each notification. Asks the server at once, without waiting, whether it reads markup
    // in the body. An unusable bus makes posts do nothing.
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QString iconName = QStringLiteral("spinforge"));

    // Nothing to do: the desktop shows notifications without asking, and the user silences them
    // in the desktop's own settings.
    void requestPermission() override;
    // Sends one Notify call and returns at once. No bus, no server or a refusal: nothing happens.
    // The body is shown as it is, also by servers that read markup in it.
    void post(const QString& title, const QString& body, bool routine) override;

private:
    // Whether the server announced "body-markup". Waits, once, for the answer asked for at
    // construction if it has not come yet; a server that does not answer reads no markup.
    bool readsMarkup();

    QDBusConnection bus_;
    QString iconName_;
    QDBusPendingCall capabilities_;
    std::optional<bool> readsMarkup_;
};

}  // namespace spinforge
