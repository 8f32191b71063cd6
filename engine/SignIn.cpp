#include "credentials/Keychain.h"
#include "engine/SyncEngine.h"
#include "platform/LoginAgent.h"

namespace spinforge {

QCoro::Task<> SyncEngine::login(QString server, QString email, QString password) {
    setState(State::working(QStringLiteral("Signing in\u2026")));
    const LoginResponse reply = co_await api_.login(server, email, password);
    Keychain::save(seams_.keyring, reply.token);
    ++signIns_;
    // The held manifest may be another account's: a registration before the next successful
    // fetch must fetch this account's instead of writing the old profile onto a drive.
    lastManifest_.reset();
    seams_.settings.setDisplayName(reply.displayName);
    seams_.settings.setDeviceId(reply.deviceId);
    LoginAgent::Locations locations = LoginAgent::currentLocations();
    if (!seams_.configHome.isEmpty()) locations.configHome = seams_.configHome;
    LoginAgent::install(seams_.files, locations);
    setState(State::success(QStringLiteral("Connected as ") + reply.displayName));
    co_await sync(QStringLiteral("signed in"));
}

}  // namespace spinforge
