#include "engine/SyncEngine.h"
#include "records/UserText.h"

namespace spinforge {

void SyncEngine::notify(const QString& title, const QString& rawBody, const QStringList& drives) {
    if (isStopping()) return;  // the user quit: a cancelled cycle is no news
    const QString body = UserText::shown(rawBody);
    // A successful cycle every fifteen minutes is routine; a problem is not.
    const bool routine = title == QStringLiteral("Spinforge");
    if (drives.isEmpty() || !onEjectRequested) return seams_.notifier.post(title, body, routine);
    // The action holds a copy of the listener, not the engine: it may be pressed at any time.
    seams_.notifier.postWithAction(title, body, routine, {QStringLiteral("Eject"), [listener = onEjectRequested, drives] {
                                                              listener(drives);
                                                          }});
}

}  // namespace spinforge
