#include "engine/SyncEngine.h"

#include "credentials/Keychain.h"
#include "records/SpinforgeError.h"

#include <QStandardPaths>

namespace spinforge {

SyncEngine::SyncEngine(EngineSeams seams)
    : api_(seams.keyring, seams.settings, seams.timeouts), fileManager_(seams.files), seams_(seams) {}

SyncEngine::~SyncEngine() {
    QObject::disconnect(mountSubscription_);
}

QString SyncEngine::cacheRoot() const {
    const QString base = seams_.dataHome.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                             : seams_.dataHome;
    if (base.isEmpty()) return {};
    return base + QStringLiteral("/Spinforge/Library");
}

void SyncEngine::start() {
    if (const QString root = cacheRoot(); !root.isEmpty()) fileManager_.createFolders(root);
    // Which volume was mounted does not matter: every cycle looks at all of them.
    mountSubscription_ = QObject::connect(&seams_.mountEvents, &MountEvents::volumeMounted,
                                          &seams_.mountEvents, [this] { sync(QStringLiteral("volume mounted")); });
    seams_.notifier.requestPermission();
    if (Keychain::load(seams_.keyring)) sync(QStringLiteral("launch"));
}

void SyncEngine::stop() {
    stopping_ = true;
    QObject::disconnect(mountSubscription_);
    api_.abortRequests();
}

QStringList SyncEngine::registeredDrives() {
    return lastManifest_ ? registeredVolumes(lastManifest_->profile.id) : QStringList();
}

void SyncEngine::setState(const State& state) {
    if (stopping_) return;
    state_ = state;
    if (onStateChange) onStateChange(state_);
}

QCoro::Task<> SyncEngine::sync(QString reason) {
    Q_UNUSED(reason);
    // Test and set with no suspension in between: on the one main thread no second cycle can
    // slip in, and a request that arrives while a cycle runs is dropped, not queued.
    if (running_ || stopping_) co_return;
    if (!Keychain::load(seams_.keyring)) co_return;
    running_ = true;
    setState(State::working(QStringLiteral("Checking cloud library\u2026")));

    std::optional<QString> failure;
    try {
        co_await runCycle();
    } catch (const std::exception& error) {
        failure = userDescription(error);
    } catch (...) {
        failure = QStringLiteral("The sync stopped on an unexpected error.");
    }
    if (failure) {
        // Nothing is reported to the service: the next trigger starts a whole new cycle.
        setState(State::failed(*failure));
        notify(QStringLiteral("Spinforge needs attention"), *failure);
    }
    running_ = false;
}

QCoro::Task<> SyncEngine::runCycle() {
    const Manifest manifest = co_await api_.manifest();
    lastManifest_ = manifest;
    seams_.settings.setDisplayName(manifest.profile.displayName);

    const qsizetype trackCount = manifest.tracks.size();
    qint64 downloaded = 0;
    for (qsizetype i = 0; i < trackCount; ++i) {
        setState(State::working(QStringLiteral("Caching %1 of %2\u2026").arg(i + 1).arg(trackCount)));
        if (co_await cache(manifest.tracks[i])) ++downloaded;
    }

    const qint64 profileId = manifest.profile.id;
    qint64 copied = 0;
    for (const QString& volume : registeredVolumes(profileId)) copied += syncUSB(volume, manifest);

    // Asked again: a drive pulled out during the copies no longer counts as synced.
    const bool synced = !registeredVolumes(profileId).isEmpty();
    co_await api_.report(trackCount, synced);

    QString message;
    if (copied > 0)
        message = QStringLiteral("%1 tracks copied to USB").arg(copied);
    else if (downloaded > 0)
        message = QStringLiteral("%1 tracks cached \u2014 connect USB").arg(downloaded);
    else if (registeredVolumes(profileId).isEmpty())
        message = QStringLiteral("Library ready \u2014 connect USB");
    else
        message = QStringLiteral("USB is up to date");
    setState(State::success(message));
    // Drives that were filled or found up to date may be ejected from the notification.
    const bool drivesDone = copied > 0 || message == u"USB is up to date";
    notify(QStringLiteral("Spinforge"), message, drivesDone ? registeredVolumes(profileId) : QStringList());
}

}  // namespace spinforge
