#pragma once
// One fault per row, injected into a whole sync cycle (or a drive registration), then a cycle
// without it; each row leaves a line of docs/reliability.md. Without root, tmpfs and ext4 rows run
// on folders.

#include "support/EngineRig.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

class FaultMatrix;

struct Row {
    int order = 0;  // place in its group, also in the document
    const char* name = "";
    std::string fault;  // as the document says it
    std::function<void(FaultMatrix&)> inject = [](FaultMatrix&) {};
    std::function<void(FaultMatrix&)> clear = [](FaultMatrix&) {};
    Kind outcome = Kind::failed;
    const char* message = "";  // the state's text after the fault (and the notification's); the port as PORT
    const char* drive = "";    // what the drive holds then, as describe() puts it
    const char* library = "";
    int serviceFaultUses = 0;  // requests the service's fault acted on, when the fault is the service's
    Tracks extra = {};         // tracks served besides a.mp3, b.mp3, c.mp3 and d.mp3
    std::vector<Disk> disks = {Disk::tmpfs};  // tmpfs and ext4 stand for a folder where nothing can be mounted
    const char* displayName = "DJ Demo";      // the account's, which names the playlist
    // Bounds on the cycle with the fault, where the row is about them: its seconds, and the
    // resident memory it adds at its peak in MiB.
    double withinSeconds = 0;
    double withinMiB = 0;
};

struct Case {
    const char* group;
    const Row* row;
    Disk disk;
    friend void PrintTo(const Case& c, std::ostream* out) { *out << c.row->fault << " on " << nameOf(c.disk); }
};

// What a file under a final name holds.
enum class Version { missing, old, current, wrong, tampered };

class FaultMatrix : public ::testing::TestWithParam<Case> {
public:
    // Every (row, disk) of a group, for INSTANTIATE_TEST_SUITE_P, and each one's test name.
    static std::vector<Case> casesOf(const char* group, const std::vector<Row>& rows);
    static std::string nameOf(const ::testing::TestParamInfo<Case>& info);

    EngineRig& rig() { return *rig_; }
    const QString& volume() const { return volume_; }  // the mount point, as the engine sees it
    // The drive's root through a folder held open since it was mounted: a drive pulled out still
    // shows there what reached it.
    const QString& root() const { return root_; }
    QString onDrive(const QString& path) const { return EngineRig::onDrive(root_, path); }
    void emulateFat(qint64 maxFileSize = (qint64(1) << 32) - 1);  // unless the drive is FAT
    void tamper(const QString& relativePath, const QByteArray& bytes);  // a cached file changed by another program
    // A folder of the computer's own disk that a link on the drive may lead to; nothing in it may change.
    QString outside() const { return rig_->scratch("outside"); }
    void serviceFault(const std::string& json) { rig_->service().setFault(json); }
    // The service restarted without the row's extra tracks; their copies in the library stay.
    void serveWithoutExtras();
    // A file not ours no longer checked (the row changes it), or checked again as it now is.
    void forget(const QString& path) { others_.remove(path); }
    void remember(const QString& path) { others_.insert(path, fileBytes(path)); }
    std::unique_ptr<DevServer> otherService;  // a second service a row may start
    // The drive taken away and another stick mounted in its place, registered to `marker` when
    // given; when it goes, nothing of ours may have reached it.
    void swapInStranger(std::optional<qint64> marker);
    void swapBack();

protected:
    void SetUp() override;
    void TearDown() override;
    void run(bool registration);

private:
    QMap<QString, Version> observe(bool drive) const;
    QStringList leftovers(bool drive) const;
    QStringList othersChanged() const;
    void expectPromisesKept(const std::string& when) const;
    std::string stable(const QString& text) const;

    std::unique_ptr<EngineRig> rig_;
    QString volume_;
    int held_ = -1;
    QString root_;
    QMap<QString, QByteArray> others_;  // files not ours, by path, with their bytes
    QMap<QString, QByteArray> stranger_;  // what the stranger was given, by path below its root
    QStringList tampered_;
};

// Track bytes of the rows' library, the same in every run.
inline const QByteArray kTrackA = noise(48 * 1024, 1);
inline const QByteArray kTrackB = noise(160 * 1024, 2);
inline const QByteArray kOldTrackB = noise(120 * 1024, 3);
inline const QByteArray kTrackC = noise(96 * 1024, 4);
inline const QByteArray kTrackD = noise(64 * 1024, 5);

}  // namespace testing_support
