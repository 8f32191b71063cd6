#pragma once
// One fault per case, injected into a whole sync cycle (or a drive registration) against the
// development service, then a cycle without it. Every case checks the same promises: the user
// reads a clear text naming the file and the drive; nothing that isn't ours changes; no file under
// a final name is ever partial or wrong; the previous good copy survives a failed replacement; and
// the next cycle ends in success with every byte right. Each case leaves a row of the reliability
// table.
//
// As root the drive is a file system the kernel mounted below /media (tmpfs, or ext4 on a loop
// device) and the engine reads the kernel's own mount table; elsewhere it is a folder listed in a
// mount table of the test's own, and the cases that need a kernel skip.

#include "engine/RealDriveFixture.h"
#include "faults/ReliabilityTable.h"

#include <functional>
#include <optional>

namespace testing_support {

// What a file under a final name holds.
enum class Version { missing, old, current, wrong, tampered };

struct Observed {
    QMap<QString, Version> drive;    // by track path, plus the playlist under its own name
    QMap<QString, Version> library;  // by track path
    QStringList driveLeftovers;      // files that are neither final, nor the marker, nor others'
    QStringList libraryLeftovers;
    QStringList othersChanged;       // files that are not ours and changed
};

struct FaultCase {
    const char* group = "Service";
    int order = 0;
    std::string fault;
    std::function<void()> inject = [] {};
    std::function<void()> clear = [] {};
    Kind outcome = Kind::failed;
    QString message;  // the state's text after the faulty cycle, also the notification's
    LibraryFiles extraTracks = {};
    QStringList tampered = {};  // library files the fault itself changes behind the agent's back
};

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Serves the library (with `extraTracks`) and puts the state before the case in place.
    void prepare(const LibraryFiles& extraTracks = {});
    // The whole case: prepare, inject, a cycle, its checks, clear, a cycle without the fault.
    void runCase(const FaultCase& faultCase);
    // The same for a registration of a drive that holds only others' files.
    void runRegistrationCase(const FaultCase& faultCase);
    // Records a row for a case that can't run here, and skips it.
    void skipCase(const FaultCase& faultCase, const std::string& reason);

    bool realDrives() const { return real_; }
    std::optional<std::string> whyFolderDrives() const { return whyNoRealDrives_; }

    spinforge::SyncEngine& engine();
    // The next engine() is a new one, as after a restart of the agent.
    void resetEngine() { engine_.reset(); }
    void runCycle();

    // The drive: tmpfs (real) or a folder; `ext4` asks for an ext4 image when real.
    void useExt4Drive() { wantExt4_ = true; }
    // Takes the drive away as a pulled-out stick goes: lazily when real, so open files live on.
    void takeDriveAway();
    void bringDriveBack();
    RealDrive* realDrive() { return drives_.empty() ? nullptr : drives_.front().get(); }
    // A small tmpfs as the library's disk (real drives only).
    RealDrive& mountLibraryDisk(const QString& options);

    QString onDrive(const QString& relativePath) const { return volume + "/DJ-Music/Demo Set/" + relativePath; }
    QString cached(const QString& relativePath) const { return cacheRoot() + u'/' + relativePath; }
    QString cacheRoot() const { return data.filePath("Spinforge/Library"); }
    QString playlistPath() const { return volume + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8"); }

    // What is where now; `driveRoot` stands in for the drive's path (a held folder of it).
    Observed observe(const QString& driveRoot = {}) const;
    // "a.mp3, c.mp3 new · b.mp3 old · d.mp3 missing · playlist old".
    static std::string describe(const QMap<QString, Version>& files, const QStringList& leftovers);
    // The text the same from run to run: no port number, the library where it is by default.
    std::string stable(const QString& text) const;

    QTemporaryDir library, data, scratch;
    MemoryKeyring keyring;
    spinforge::Settings settings{scratch.filePath("Spinforge.conf")};
    FaultyFileOperations files;
    RecordingNotifier notifier;
    spinforge::APITimeouts timeouts;
    std::unique_ptr<DevServer> server;
    QList<State> states;
    QString volume;
    LibraryFiles served;  // in the service's order

private:
    void mountDrive();
    void writeFolderMountTable();
    void putPreviousState();
    void expectPromisesKept(const Observed& seen, const std::string& when) const;
    bool recovered(const Observed& seen) const;
    QByteArray currentBytes(const QString& path) const;
    QByteArray currentPlaylist() const;
    void record(const FaultCase& faultCase, const std::string& userSees, const Observed& seen, bool recovered);

    bool real_ = false;
    bool wantExt4_ = false;
    std::optional<std::string> whyNoRealDrives_;
    QString media_;
    QTemporaryDir images_;
    QStringList tableMounts_;  // folder drives
    std::unique_ptr<HeldFolder> heldDrive_;  // real drives: what is on the drive, also once it is gone
    QMap<QString, QByteArray> others_;  // files not ours, by path, with their bytes
    QStringList tampered_;
    spinforge::MountEvents noEvents_;
    std::unique_ptr<spinforge::SyncEngine> engine_;
    std::vector<std::unique_ptr<RealDrive>> drives_;
};

// Track bytes of the cases' library, the same in every run.
inline const QByteArray kTrackA = noise(48 * 1024, 1);
inline const QByteArray kTrackB = noise(160 * 1024, 2);
inline const QByteArray kOldTrackB = noise(120 * 1024, 3);
inline const QByteArray kTrackC = noise(96 * 1024, 4);
inline const QByteArray kTrackD = noise(64 * 1024, 5);

}  // namespace testing_support
