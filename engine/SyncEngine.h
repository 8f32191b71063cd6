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
#include "engine/Drives.h"
#include "engine/LibraryCache.h"
#include "platform/FileSystem.h"
#include "platform/Keyring.h"
#include "platform/MountEvents.h"
#include "platform/Notifier.h"
#include "platform/StopRequest.h"
#include "platform/VolumeSource.h"
#include "records/Records.h"
#include "service/APIClient.h"

#include <QCoroTask>
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace spinforge {

// What the engine works with, passed in so that tests can stand in for the desktop.
struct EngineSeams {
    Keyring& keyring;
    Settings& settings;
    FileSystem& files;
    Notifier& notifier;
    MountEvents& mountEvents;
    VolumeSource volumes = {};
    QString dataHome = {};    // empty: $XDG_DATA_HOME or ~/.local/share, asked at every use
    QString configHome = {};  // where the autostart entry goes; empty: $XDG_CONFIG_HOME or ~/.config
    APITimeouts timeouts = {};
    const StopRequest* stop = nullptr;  // what the termination signals request, when they are handled
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
    // Given the drives a notification offers to eject (mount points), what pressing its Eject does.
    using EjectOffer = std::function<std::function<void()>(const QStringList& mountPoints)>;

    explicit SyncEngine(EngineSeams seams);
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    const State& state() const { return state_; }

    // Creates the library folder, syncs on every mount, asks to show notifications and, when
    // signed in, starts the launch sync. Returns at once; call once.
    void start();
    // Runs one whole cycle, or returns at once when one is running or no token is stored.
    // `reason` names the trigger and changes nothing. Never throws. A registered drive mounted
    // while a cycle runs, too late for it to list, gets one more cycle right after it (any number
    // of drives: one cycle).
    QCoro::Task<> sync(QString reason);
    // Whether a cycle runs, from its entry checks to its end. Ejects wait while it does, so that
    // none lands in the middle of a drive's sync. (A registration's marker and copy run without a
    // pause, so nothing can start during them.)
    bool isRunning() const { return running_; }
    // The drives being ejected now, by mount point. They are on their way out: a cycle leaves them
    // out and a registration refuses them.
    void setEjecting(QStringList mountPoints) { ejecting_ = std::move(mountPoints); }
    // For the end of the process, while the engine's owner is still whole: aborts every request
    // in flight, so that a cycle, sign-in or registration awaiting one unwinds now (its staged
    // download removed, its memory freed) instead of staying suspended for good. From then on (and
    // from the moment the seams' stop is requested) no cycle starts, and no state, notification or
    // report goes out.
    void stop();
    // The local library folder, asked afresh at each use; empty when the user has no data folder.
    QString cacheRoot() const { return library_.root(); }
    // Mount points of writable, non-hidden volumes where removable drives get mounted, in the
    // mount table's order. Never fails: an unreadable table gives none.
    QStringList mountedVolumes() const { return drives_.mounted(); }
    // Mount points of the mounted drives registered to the held manifest's profile, in the mount
    // table's order, those being ejected too; none while no manifest is held. Never fails.
    QStringList registeredDrives() const;
    // Registers the drive mounted at `volume` for the current manifest's profile and copies the
    // library onto it, through one handle on its root. Throws invalidUSB, the manifest fetch's
    // error, or a file PlatformError naming the drive.
    QCoro::Task<> registerUSB(QString volume);
    // Signs this computer in, stores what it needs, installs the login agent, then awaits the
    // first sync. Throws the sign-in's or the keyring's error. The newest sign-in wins: one still
    // awaiting its reply when another starts ends then, with nothing stored.
    QCoro::Task<> login(QString server, QString email, QString password);

    // The shell's listeners, set before start(); main thread.
    // Receives every state assignment at once, synchronously, also when the new state equals the
    // old one.
    Listener onStateChange;
    // Asked, as a successful cycle's notification is posted, what its Eject button does with the
    // cycle's drives; the answer may run long after the cycle, and must check that its receiver is
    // still there.
    EjectOffer onEjectOffered;
    // Called as each cycle ends, once isRunning() is false.
    std::function<void()> onCycleEnd;

private:
    QCoro::Task<> runCycle();
    void setState(const State& state);
    bool isStopping() const;
    void volumeMounted();
    // The held manifest, fetched first when there is none. One fetched with the token of an
    // earlier sign-in is another account's: it is fetched again.
    QCoro::Task<Manifest> currentManifest();
    // The registered drives a cycle syncs: those being ejected are left out.
    std::vector<Drive> registeredVolumes(qint64 profileId) const;
    // Whether a registered drive is mounted that the cycle which just ended did not list.
    bool unlistedDriveMounted() const;
    // Shows and posts how a cycle that ran to its end went: `remaining` are the registered drives
    // mounted after its report.
    void tellOutcome(qint64 copied, qint64 downloaded, const std::vector<Drive>& remaining);
    // Posts one notification; with `drives`, and a listener set, it offers to eject them.
    void notify(const QString& title, const QString& body, const QStringList& drives = {});

    // The engine's fields, in the order the rest of the system knows them. Main thread only.
    APIClient api_;
    State state_;
    bool running_ = false;   // from a cycle's entry checks to its end
    bool followUp_ = false;  // a sign-in happened while a cycle ran
    bool mounted_ = false;   // a volume was mounted while a cycle ran
    // The drives the running cycle listed, by mount point and root; none before it lists them.
    std::optional<std::vector<std::pair<QString, FileInfo>>> listed_;
    QStringList ejecting_;   // mount points of the drives being ejected
    bool stopping_ = false;  // from stop() on, for good
    quint64 signIns_ = 0;    // successful sign-ins so far: tells a reply to an earlier one
    quint64 signInsStarted_ = 0;  // tells a sign-in that a newer one has started
    std::optional<Manifest> lastManifest_;

    // Set once at construction.
    EngineSeams seams_;
    LibraryCache library_;
    Drives drives_;
    QMetaObject::Connection mountSubscription_;
};

}  // namespace spinforge
