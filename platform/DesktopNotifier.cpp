#include "platform/DesktopNotifier.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace spinforge {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Every notification gets its sound; routine ones are kept out of the desktop's history.
QVariantMap hintsFor(bool routine) {
    QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    if (routine) hints.insert(QStringLiteral("transient"), true);
    return hints;
}

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QString iconName)
    : bus_(std::move(bus)), iconName_(std::move(iconName)) {}

void DesktopNotifier::requestPermission() {}

void DesktopNotifier::post(const QString& title, const QString& body, bool routine) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call.setAutoStartService(true);  // a desktop may start its server only on first use
    // The server checks the signature (susssasa{sv}i): replaces_id must go out as an unsigned
    // 32-bit value, and 0 asks for a new notification rather than replacing one.
    call << QStringLiteral("Spinforge") << quint32(0) << iconName_ << title << body << QStringList()
         << hintsFor(routine) << qint32(-1);
    // send() expects no reply, so nothing waits for one or times out; the notification's id is
    // of no use because notifications are never replaced.
    bus_.send(call);
}

}  // namespace spinforge
