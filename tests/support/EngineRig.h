#pragma once
// One engine wired to test stand-ins (keyring in memory, file operations that fail on request, a
// recording notifier, the development service), shared by the engine tests, the fault matrix and
// the soak run. Drives are folders in a mount table of the rig's own or, as root, file systems
// mounted below a folder of the rig's in /media: no other drive of the machine is ever written to.

#include "credentials/Settings.h"
#include "engine/SyncEngine.h"
#include "support/DevServer.h"
#include "support/Fakes.h"
#include "support/FaultyFileSystem.h"
#include "support/KernelDrive.h"
#include "support/TestSupport.h"

#include <QPair>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace testing_support {

using Tracks = QList<QPair<QString, QByteArray>>;  // relative path and bytes

class EngineRig {
    QTemporaryDir scratch_;  // first: the members below live in it

public:
    // Drives of `disk`'s kind; ask whyUnavailable(disk) first. Throws std::runtime_error.
    explicit EngineRig(Disk disk = Disk::folder);
    // For benchmarks: the engine's data (its library) in `dataHome`, and the drives `volumes`
    // lists, which the caller mounts; the rig serves and mounts nothing of its own, and keeps no
    // `states`: a cycle over 200,000 tracks publishes as many, which would count as the engine's.
    EngineRig(QString dataHome, spinforge::VolumeSource volumes);
    ~EngineRig();
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    // Starts the service on `tracks` (listed in path order) with the rig signed in to it.
    DevServer& serve(const Tracks& tracks, DevServerOptions options = {});
    // Signs in to a service the caller runs: its address and a device token it issued.
    void signInTo(const std::string& serverURL, const QString& token);
    DevServer& service() { return *server_; }
    const Tracks& served() const { return served_; }

    // A new, empty drive named `label`, mounted and registered to `profile` unless nullopt.
    QString addDrive(const QString& label, std::optional<qint64> profile = kProfileId);
    // A folder drive listed a second time, at `label` beside it (a link); returns that mount point.
    QString mountAlsoAt(const QString& volume, const QString& label);
    // Another, empty stick mounted where a drive was taken away, removed before the drive comes back.
    void mountStrangerAt(const QString& volume);
    void removeStranger(const QString& volume);
    static void registerDrive(const QString& volume, qint64 profile = kProfileId);
    KernelDrive* kernelDrive(const QString& volume) const;
    // Gone as a pulled-out stick goes (unmounted lazily, or a folder moved aside), and back.
    void takeDriveAway(const QString& volume);
    void bringDriveBack(const QString& volume);

    spinforge::EngineSeams seams();
    spinforge::LibraryCache& library();
    // Made at first use; reset gives a new one, as a restart of the agent would.
    spinforge::SyncEngine& engine();
    void resetEngine() { engine_.reset(); }
    void runCycle();
    QStringList messages() const;

    Disk disk() const { return disk_; }
    QString cacheRoot() const;
    QString cached(const QString& relativePath) const { return cacheRoot() + u'/' + relativePath; }
    static QString onDrive(const QString& volume, const QString& relativePath) {
        return volume + QStringLiteral("/DJ-Music/Demo Set/") + relativePath;
    }
    static QString playlistOn(const QString& volume, const QString& displayName = QStringLiteral("DJ Demo")) {
        return volume + QStringLiteral("/Spinforge \u2014 ") + displayName + QStringLiteral(".m3u8");
    }
    QString playlistOf(const QString& volume) const { return playlistOn(volume, displayName); }
    QByteArray servedPlaylist() const;
    // What differs from the service in the library and on the drives at `roots`: files under a final
    // name with other bytes; with `complete` also missing ones, and leftovers not among `others`.
    QStringList offFromServed(const QStringList& roots, bool complete, const QStringList& others = {}) const;
    QString scratch(const QString& name) const { return scratch_.filePath(name); }

    QString displayName = QStringLiteral("DJ Demo");  // the served account's, read by serve()
    MemoryKeyring keyring;
    spinforge::Settings settings;
    FaultyFileSystem files;
    RecordingNotifier notifier;
    spinforge::MountEvents mountEvents;
    spinforge::APITimeouts timeouts;
    QString tmpfsSize = QStringLiteral("size=4m");  // for drives that are a tmpfs
    QList<State> states;  // every state the engine published, in order

private:
    void writeMountTable();

    Disk disk_;
    QString dataHome_;  // the engine's data folder
    bool keepStates_ = true;
    std::optional<spinforge::VolumeSource> volumes_;  // drives the caller lists, or the rig's own
    QString media_;
    std::unique_ptr<DevServer> server_;
    Tracks served_;
    std::vector<std::unique_ptr<KernelDrive>> drives_;
    std::map<QString, std::unique_ptr<KernelDrive>> strangers_;
    QStringList listed_;  // folder drives in the rig's mount table
    std::unique_ptr<spinforge::SyncEngine> engine_;
    std::unique_ptr<spinforge::APIClient> api_;
    std::unique_ptr<spinforge::LibraryCache> library_;
};

}  // namespace testing_support
