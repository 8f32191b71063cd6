#include "engine/SyncEngine.h"

#include "credentials/Keychain.h"
#include "engine/DriveSync.h"
#include "records/SpinforgeError.h"
#include "records/UserText.h"

#include <algorithm>
#include <utility>

namespace spinforge {
namespace {

struct Outcome {
    QString message;
    bool drivesDone;  // filled or found up to date: the notification offers to eject them
};

// What a cycle that ran to its end tells, from what it did and whether registered drives remain.
Outcome outcomeOf(qint64 copied, qint64 downloaded, bool drivesRemain) {
    if (copied > 0) return {QStringLiteral("%1 tracks copied to USB").arg(copied), true};
    if (downloaded > 0) return {QStringLiteral("%1 tracks cached \u2014 connect USB").arg(downloaded), false};
    if (!drivesRemain) return {QStringLiteral("Library ready \u2014 connect USB"), false};
    return {QStringLiteral("USB is up to date"), true};
}

QStringList mountPointsOf(const std::vector<Drive>& drives) {
    QStringList points;
    for (const Drive& drive : drives) points << drive.mountPoint();
    return points;
}

// A drive as a cycle lists it: its mount point, and the file system its held root is on.
using Listing = std::pair<QString, FileInfo>;
Listing listingOf(const Drive& drive) {
    const FileResult<FileInfo> root = drive.root().inspect();
    return {drive.mountPoint(), root.ok() ? *root : FileInfo()};
}

bool sameListing(const Listing& a, const Listing& b) {
    return a.first == b.first && a.second.device == b.second.device && a.second.inode == b.second.inode &&
           a.second.mountId == b.second.mountId;
}

}  // namespace

SyncEngine::SyncEngine(EngineSeams seams)
    : api_(seams.keyring, seams.settings, seams.timeouts),
      seams_(seams),
      library_(seams.files, api_, seams.dataHome),
      drives_(seams.files, seams.volumes) {}

SyncEngine::~SyncEngine() {
    QObject::disconnect(mountSubscription_);
}

void SyncEngine::start() {
    library_.create();
    // Which volume was mounted does not matter: every cycle looks at all of them.
    mountSubscription_ = QObject::connect(&seams_.mountEvents, &MountEvents::volumeMounted, &seams_.mountEvents,
                                          [this] { volumeMounted(); });
    seams_.notifier.requestPermission();
    if (Keychain::load(seams_.keyring)) sync(QStringLiteral("launch"));
}

void SyncEngine::stop() {
    stopping_ = true;
    QObject::disconnect(mountSubscription_);
    api_.abortRequests();
}

bool SyncEngine::isStopping() const { return stopping_ || (seams_.stop && seams_.stop->isRequested()); }

void SyncEngine::volumeMounted() {
    // The running cycle may have chosen its drives already: when it ends, a new one it did not
    // list gets a cycle of its own.
    if (running_) mounted_ = true;
    else sync(QStringLiteral("volume mounted"));
}

QStringList SyncEngine::registeredDrives() const {
    return lastManifest_ ? mountPointsOf(drives_.registeredTo(lastManifest_->profile.id)) : QStringList();
}

std::vector<Drive> SyncEngine::registeredVolumes(qint64 profileId) const {
    std::vector<Drive> drives = drives_.registeredTo(profileId);
    std::erase_if(drives, [&](const Drive& drive) { return ejecting_.contains(drive.mountPoint()); });
    return drives;
}

bool SyncEngine::unlistedDriveMounted() const {
    if (!listed_ || !lastManifest_) return true;  // the cycle ended before it chose its drives
    for (const Drive& drive : registeredVolumes(lastManifest_->profile.id)) {
        const Listing now = listingOf(drive);
        if (std::none_of(listed_->cbegin(), listed_->cend(), [&](const Listing& listed) { return sameListing(listed, now); }))
            return true;
    }
    return false;
}

void SyncEngine::setState(const State& state) {
    if (isStopping()) return;
    state_ = {state.kind, UserText::shown(state.message)};
    if (onStateChange) onStateChange(state_);
}

QCoro::Task<> SyncEngine::sync(QString reason) {
    Q_UNUSED(reason);
    // Test and set with no suspension in between: on the one main thread no second cycle can
    // slip in, and a request that arrives while a cycle runs is dropped, not queued.
    if (running_ || isStopping()) co_return;
    if (!Keychain::load(seams_.keyring)) co_return;
    running_ = true;
    listed_.reset();
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
    if (onCycleEnd && !isStopping()) onCycleEnd();
    // A sign-in came while this cycle ran, or a drive arrived too late for it: their cycle starts
    // now. A drive the cycle listed was synced by it, and is not synced twice.
    const bool signInCame = std::exchange(followUp_, false);
    const bool driveLeftOut = std::exchange(mounted_, false) && unlistedDriveMounted();
    if ((signInCame || driveLeftOut) && !isStopping()) sync(QStringLiteral("follow-up"));
}

QCoro::Task<> SyncEngine::runCycle() {
    // A sign-in while the cycle waits on the service makes what it fetched another account's,
    // maybe: the cycle then does nothing more with it, and the new account's cycle follows at once.
    const quint64 signIn = signIns_;
    const auto superseded = [&] {
        if (signIn == signIns_) return false;
        followUp_ = true;
        return true;
    };
    const Manifest manifest = co_await api_.manifest();
    if (superseded()) co_return;
    lastManifest_ = manifest;
    seams_.settings.setDisplayName(manifest.profile.displayName);

    const qsizetype trackCount = manifest.tracks.size();
    qint64 downloaded = 0;
    for (qsizetype i = 0; i < trackCount; ++i) {
        setState(State::working(QStringLiteral("Caching %1 of %2\u2026").arg(i + 1).arg(trackCount)));
        if (co_await library_.cache(manifest.tracks[i])) ++downloaded;
        if (superseded()) co_return;
    }

    const qint64 profileId = manifest.profile.id;
    qint64 copied = 0;
    const std::vector<Drive> drives = registeredVolumes(profileId);
    listed_.emplace();
    for (const Drive& drive : drives) listed_->push_back(listingOf(drive));
    for (const Drive& drive : drives) copied += DriveSync::syncUSB(drive, manifest, library_);

    // Asked again: a drive pulled out during the copies no longer counts as synced.
    const bool synced = !registeredVolumes(profileId).empty();
    if (isStopping()) co_return;  // the user is leaving: nothing more goes out
    co_await api_.report(trackCount, synced);

    // Asked after the report: a drive pulled out meanwhile is neither up to date nor offered for ejecting.
    tellOutcome(copied, downloaded, registeredVolumes(profileId));
}

void SyncEngine::tellOutcome(qint64 copied, qint64 downloaded, const std::vector<Drive>& remaining) {
    const Outcome outcome = outcomeOf(copied, downloaded, !remaining.empty());
    setState(State::success(outcome.message));
    notify(QStringLiteral("Spinforge"), outcome.message, outcome.drivesDone ? mountPointsOf(remaining) : QStringList());
}

QCoro::Task<Manifest> SyncEngine::currentManifest() {
    while (!lastManifest_) {
        const quint64 signIn = signIns_;
        Manifest fetched = co_await api_.manifest();
        if (signIn == signIns_) lastManifest_ = std::move(fetched);
    }
    // A copy, made here: QCoro moves from a named value it is handed.
    co_return Manifest(*lastManifest_);
}

}  // namespace spinforge
