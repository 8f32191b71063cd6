#pragma once
// The desktop's notification service as the engine needs it. The real one is DesktopNotifier
// (org.freedesktop.Notifications over D-Bus); tests may record what would be shown.
// Main thread. Neither call blocks, fails or reports anything.

#include <QString>

#include <functional>

namespace spinforge {

// A button on a notification: its label, and what pressing it does (on the main thread, at most
// once). Desktops that show no buttons drop it.
struct NotificationAction {
    QString label;
    std::function<void()> invoked;
};

class Notifier {
public:
    virtual ~Notifier() = default;

    // Asks once, at start-up, to show notifications with sound. The answer is not needed.
    virtual void requestPermission() = 0;
    // Shows one new notification at once, never replacing an earlier one. `routine` marks an
    // everyday outcome that need not stay in the desktop's notification history.
    virtual void post(const QString& title, const QString& body, bool routine) = 0;
    // As post(), with a button that does `action` where the desktop shows buttons; a notifier
    // that shows none posts without it.
    virtual void postWithAction(const QString& title, const QString& body, bool routine, NotificationAction /*action*/) {
        post(title, body, routine);
    }
};

}  // namespace spinforge
