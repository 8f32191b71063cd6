#include "engine/SyncEngine.h"
#include "records/UserText.h"

namespace spinforge {

void SyncEngine::notify(const QString& title, const QString& rawBody, const QStringList& drives) {
    if (isStopping()) return;  // the user quit: a cancelled cycle is no news
    const QString body = UserText::shown(rawBody);
    // A successful cycle every fifteen minutes is routine; a problem is not.
    const bool routine = title == QStringLiteral("Spinforge");
    // What the button does is the shell's, made now: it may be pressed at any time.
    std::function<void()> eject = drives.isEmpty() || !onEjectOffered ? nullptr : onEjectOffered(drives);
    if (!eject) return seams_.notifier.post(title, body, routine);
    seams_.notifier.postWithAction(title, body, routine, {QStringLiteral("Eject"), std::move(eject)});
}

}  // namespace spinforge
