#include "engine/SyncEngine.h"

namespace spinforge {

void SyncEngine::notify(const QString& title, const QString& body) {
    if (isStopping()) return;  // the user quit: a cancelled cycle is no news
    // A successful cycle every fifteen minutes is routine; a problem is not.
    seams_.notifier.post(title, body, title == QStringLiteral("Spinforge"));
}

}  // namespace spinforge
