#pragma once
// The agent's engine: it keeps the local library and every registered drive in step with the
// account's manifest, one cycle at a time, and tells the shell how things stand.
//
// One instance, owned by the application for the life of the process. Main thread only: every
// operation runs on the Qt event loop and suspends only while it awaits the service (sign-in,
// manifest, a download, the status report); hashing and copying run synchronously in between, so
// two drive syncs never interleave. Cycles never throw: their outcome is the state, the listener
// and a notification. Sign-in and registration throw to their caller, the dialogs.

#include "credentials/Settings.h"
#include "platform/FileOperations.h"
#include "platform/Keyring.h"
#include "platform/MountEvents.h"
#include "platform/Notifier.h"
#include "platform/VolumeSource.h"
#include "records/Records.h"
#include "service/APIClient.h"

#include <QCoroTask>
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace spinforge {

class FolderHandle;
namespace DriveErrors { struct Drive; }

// What the engine works with, passed in so that tests can stand in for the desktop.
struct EngineSeams {
    Keyring& keyring;
    Settings& settings;
    FileOperations& files;
    Notifier& notifier;
    MountEvents& mountEvents;
    VolumeSource volumes = {};
    QString dataHome = {};  // empty: $XDG_DATA_HOME or ~/.local/share, asked at every use
    APITimeouts timeouts = {};
};

class SyncEngine {
public:
    struct State {
        enum class Kind { working, success, failed, idle };
        Kind kind = Kind::idle;
        QString message;  // empty for idle

        static State working(const QString& message) { return {Kind::working, message}; }
        static State success(const QString& message) { return {Kind::success, message}; }
        static State failed(const QString& message) { return {Kind::failed, message}; }
        friend bool operator==(const State&, const State&) = default;
    };
    using Listener = std::function<void(const State&)>;
    using EjectListener = std::function<void(const QStringList& mountPoints)>;

    explicit SyncEngine(EngineSeams seams);
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    const State& state() const { return state_; }

    // Creates the library folder, syncs on every mount, asks to show notifications and, when
    // signed in, starts the launch sync. Returns at once; call once.
    void start();
    // Runs one whole cycle, or returns at once when one is running or no token is stored.
    // `reason` names the trigger and changes nothing. Never throws.
    QCoro::Task<> sync(QString reason);
    // For the end of the process, while the engine's owner is still whole: aborts every request
    // in flight, so that a cycle, sign-in or registration awaiting one unwinds now (its staged
    // download removed, its memory freed) instead of staying suspended for good. From then on no
    // cycle starts, and no state or notification is published.
    void stop();
    // The local library folder, asked afresh at each use; empty when the user has no data folder.
    QString cacheRoot() const;
    // Mount points of writable, non-hidden volumes where removable drives get mounted, in the
    // mount table's order. Never fails: an unreadable table gives none.
    QStringList mountedVolumes();
    // Mount points of the mounted drives registered to the held manifest's profile, in the mount
    // table's order; none while no manifest is held. Never fails.
    QStringList registeredDrives();
    // Registers `volume` for the current manifest's profile and copies the library onto it.
    // Throws invalidUSB, the manifest fetch's error, or a FileError naming the drive.
    QCoro::Task<> registerUSB(QString volume);
    // Signs this computer in, stores what it needs, installs the login agent, then awaits the
    // first sync. Throws the sign-in's or the keyring's error.
    QCoro::Task<> login(QString server, QString email, QString password);

    // The steps of a cycle, public so that tests can drive each one on its own.
    // Downloads the track into the library unless its cached copy is valid; true when it did.
    QCoro::Task<bool> cache(Track track);
    bool validFile(const QString& path, const QString& sha256, qint64 size);
    QStringList registeredVolumes(qint64 profileId);
    // Copies every verified cached track that the drive lacks, then rewrites the playlist.
    // Returns the number of tracks written; throws on the first failure.
    qint64 syncUSB(const QString& volume, const Manifest& manifest);
    // Posts one notification; with `drives`, and a listener set, it offers to eject them.
    void notify(const QString& title, const QString& body, const QStringList& drives = {});

private:
    QCoro::Task<> runCycle();
    void setState(const State& state);
    // Every mount point of the mount table, in its order; none when it can't be read.
    QStringList mountPoints();
    // Throws unless `volume` is still mounted: once a drive is gone its empty mount folder lies
    // on the computer's own disk, and nothing must be written there.
    void requireMounted(const QString& volume, const QString& action);
    // A handle on the drive's root, opened before the mount check so that a drive still mounted
    // at the check is the one the handle holds. Throws a FileError starting with `action`.
    std::unique_ptr<FolderHandle> openMountedDrive(const QString& volume, const QString& action);
    // Puts one track on the drive unless the cache lacks it or the drive has it; true when written.
    // Every path on the drive goes through the handle held on its root (`drive.root`).
    bool copyTrack(const QString& volume, const DriveErrors::Drive& drive, const QString& driveFolder,
                   const Track& track);
    // Throws when the manifest has tracks whose paths differ only in letter case and the drive
    // does not tell them apart, as FAT and exFAT drives don't: copying the one would overwrite
    // the other. Checked before anything of the drive is written.
    void requireDistinctNames(const DriveErrors::Drive& drive, const QString& driveFolder, const Manifest& manifest);

    // The engine's fields, in the order the rest of the system knows them. Main thread only.
    APIClient api_;

public:
    // Set by the shell before start(). Receives every state assignment at once, synchronously,
    // also when the new state equals the old one.
    Listener onStateChange;
    // Set by the shell before start(). Receives the drives of a successful cycle when the user
    // asks, from its notification, to eject them: possibly long after the cycle, through the
    // listener as it was then, which must check that its receiver is still there.
    EjectListener onEjectRequested;

private:
    State state_;
    bool running_ = false;  // from a cycle's entry checks to its end
    bool stopping_ = false;  // from stop() on, for good
    std::optional<Manifest> lastManifest_;
    FileOperations& fileManager_;

    // Set once at construction.
    EngineSeams seams_;
    QMetaObject::Connection mountSubscription_;
};

}  // namespace spinforge
