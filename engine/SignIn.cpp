#include "credentials/Keychain.h"
#include "engine/SyncEngine.h"
#include "shell/LoginAgent.h"

namespace spinforge {

QCoro::Task<> SyncEngine::login(QString server, QString email, QString password) {
    setState(State::working(QStringLiteral("Signing in\u2026")));
    const LoginResponse reply = co_await api_.login(server, email, password);
    Keychain::save(seams_.keyring, reply.token);
    seams_.settings.setDisplayName(reply.displayName);
    seams_.settings.setDeviceId(reply.deviceId);
    LoginAgent::install();
    setState(State::success(QStringLiteral("Connected as ") + reply.displayName));
    co_await sync(QStringLiteral("signed in"));
}

}  // namespace spinforge
