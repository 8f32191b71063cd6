#include "credentials/Keychain.h"
#include "engine/SyncEngine.h"
#include "platform/LoginAgent.h"
#include "records/PlatformError.h"

namespace spinforge {

QCoro::Task<> SyncEngine::login(QString server, QString email, QString password) {
    const quint64 attempt = ++signInsStarted_;
    setState(State::working(QStringLiteral("Signing in\u2026")));
    LoginResponse reply;
    try {
        reply = co_await api_.login(server, email, password);
    } catch (const std::exception&) {
        // A newer sign-in ended this one's request: what it says is no news of this one.
        if (attempt == signInsStarted_) throw;
    }
    // The server address is the newer sign-in's by now: this token must not be stored with it.
    if (attempt != signInsStarted_)
        throw PlatformError(PlatformError::Kind::network, QStringLiteral("A newer sign-in took the place of this one."));
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
