#pragma once
// The desktop's notification service as the engine needs it. The real one is DesktopNotifier
// (org.freedesktop.Notifications over D-Bus); tests may record what would be shown.
// Main thread. Neither call blocks, fails or reports anything.

#include <QString>

namespace spinforge {

class Notifier {
public:
    virtual ~Notifier() = default;

    // Asks once, at start-up, to show notifications with sound. The answer is not needed.
    virtual void requestPermission() = 0;
    // Shows one new notification at once, never replacing an earlier one. `routine` marks an
    // everyday outcome that need not stay in the desktop's notification history.
    virtual void post(const QString& title, const QString& body, bool routine) = 0;
};

}  // namespace spinforge
