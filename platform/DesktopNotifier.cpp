#include "platform/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace spinforge {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// A server that takes longer than this to say what it shows is taken to show plain text only.
constexpr int kCapabilitiesTimeoutMs = 2000;
constexpr int kNotifyTimeoutMs = 10000;
// Servers send NotificationClosed for every notification; should one not, this many actions at
// most are kept.
constexpr std::size_t kActionsKept = 16;

// Every notification gets its sound; routine ones are kept out of the desktop's history.
QVariantMap hintsFor(bool routine) {
    QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    if (routine) hints.insert(QStringLiteral("transient"), true);
    return hints;
}

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
    : bus_(std::move(bus)), iconName_(std::move(iconName)) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
    askCapabilities();
}

void DesktopNotifier::requestPermission() {}

void DesktopNotifier::post(const QString& title, const QString& body, bool routine) {
    show(Notification{title, body, routine, std::nullopt});
}

void DesktopNotifier::postWithAction(const QString& title, const QString& body, bool routine, NotificationAction action) {
    show(Notification{title, body, routine, std::move(action)});
}

void DesktopNotifier::show(Notification notification) {
    if (capabilities_) return send(notification, *capabilities_);
    waiting_.append(std::move(notification));
    if (!asking_) askCapabilities();
}

void DesktopNotifier::askCapabilities() {
    asking_ = true;
    QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* answer = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kCapabilitiesTimeoutMs), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::capabilitiesAnswered);
}

void DesktopNotifier::capabilitiesAnswered(QDBusPendingCallWatcher* answer) {
    answer->deleteLater();
    asking_ = false;
    const QDBusPendingReply<QStringList> reply = *answer;
    // A server that did not answer (not started yet, or gone) is asked again at the next post.
    if (reply.isValid()) capabilities_ = reply.value();
    const QStringList capabilities = reply.isValid() ? reply.value() : QStringList();
    for (const Notification& notification : std::exchange(waiting_, {})) send(notification, capabilities);
}

void DesktopNotifier::send(const Notification& notification, const QStringList& capabilities) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call.setAutoStartService(true);  // a desktop may start its server only on first use
    const bool withAction = notification.action && capabilities.contains(QStringLiteral("actions"));
    // An action is named by its key, then its label; the label is the key as well.
    const QStringList actions = withAction ? QStringList{notification.action->label, notification.action->label} : QStringList();
    const QString body = capabilities.contains(QStringLiteral("body-markup")) ? escapedForMarkup(notification.body)
                                                                              : notification.body;
    // The server checks the signature (susssasa{sv}i): replaces_id must go out as an unsigned
    // 32-bit value, and 0 asks for a new notification rather than replacing one.
    call << QStringLiteral("Spinforge") << quint32(0) << iconName_ << notification.title << body << actions
         << hintsFor(notification.routine) << qint32(-1);
    // Without an action nothing is expected back: send() waits for no reply and never times out.
    if (!withAction) return void(bus_.send(call));
    // With one, the reply's id is what the server names when the action is pressed.
    auto* shown = new QDBusPendingCallWatcher(bus_.asyncCall(call, kNotifyTimeoutMs), this);
    connect(shown, &QDBusPendingCallWatcher::finished, this, [this, action = *notification.action](QDBusPendingCallWatcher* shown) {
        shown->deleteLater();
        const QDBusPendingReply<uint> id = *shown;
        if (!id.isValid()) return;
        if (shownActions_.size() >= kActionsKept) shownActions_.erase(shownActions_.begin());
        shownActions_.insert_or_assign(id.value(), action);
    });
}

void DesktopNotifier::actionInvoked(uint id, const QString& key) {
    const auto shown = shownActions_.find(id);
    if (shown == shownActions_.end() || shown->second.label != key) return;
    const NotificationAction action = std::move(shown->second);
    shownActions_.erase(shown);
    if (action.invoked) action.invoked();
}

void DesktopNotifier::notificationClosed(uint id, uint) { shownActions_.erase(id); }

}  // namespace spinforge
