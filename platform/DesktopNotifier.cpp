#include "platform/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
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

// A server that asks for it waits this long at most, once, at the first notification.
constexpr int kCapabilitiesTimeoutMs = 2000;

// Servers that read markup take "<", ">" and "&" in the body for tags and entities.
QString escapedForMarkup(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&') escaped += QStringLiteral("&amp;");
        else if (c == u'<') escaped += QStringLiteral("&lt;");
        else if (c == u'>') escaped += QStringLiteral("&gt;");
        else escaped += c;
    }
    return escaped;
}

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QString iconName)
    : bus_(std::move(bus)),
      iconName_(std::move(iconName)),
      capabilities_(bus_.asyncCall(
          QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities")),
          kCapabilitiesTimeoutMs)) {}

bool DesktopNotifier::readsMarkup() {
    if (!readsMarkup_) {
        QDBusPendingReply<QStringList> reply = capabilities_;
        reply.waitForFinished();
        readsMarkup_ = reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
    }
    return *readsMarkup_;
}

void DesktopNotifier::requestPermission() {}

void DesktopNotifier::post(const QString& title, const QString& body, bool routine) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call.setAutoStartService(true);  // a desktop may start its server only on first use
    // The server checks the signature (susssasa{sv}i): replaces_id must go out as an unsigned
    // 32-bit value, and 0 asks for a new notification rather than replacing one.
    const QString shown = readsMarkup() ? escapedForMarkup(body) : body;
    call << QStringLiteral("Spinforge") << quint32(0) << iconName_ << title << shown << QStringList()
         << hintsFor(routine) << qint32(-1);
    // send() expects no reply, so nothing waits for one or times out; the notification's id is
    // of no use because notifications are never replaced.
    bus_.send(call);
}

}  // namespace spinforge
