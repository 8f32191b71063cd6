#include "faults/FaultMatrix.h"

#include "engine/USBMarker.h"
#include "faults/ReliabilityTable.h"
#include "support/Await.h"

#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

namespace testing_support {
namespace {

const QByteArray kOldPlaylist = "#EXTM3U\nDJ-Music/Demo Set/House/a.mp3\nDJ-Music/Demo Set/House/b.mp3\n";
const QString kMarker = spinforge::USBMarker::fileName;
const Tracks kTracks{{"House/a.mp3", kTrackA}, {"House/b.mp3", kTrackB}, {"Techno/c.mp3", kTrackC}, {"Techno/d.mp3", kTrackD}};

// Only a name the folder lists counts: a drive that ignores case finds "A.mp3" under "a.mp3".
bool existsExactly(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && QDir(info.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).contains(info.fileName());
}

Version versionOf(const QString& path, const QByteArray& current, const QByteArray& old) {
    if (!existsExactly(path)) return Version::missing;
    const QByteArray bytes = fileBytes(path);
    if (bytes == current) return Version::current;
    if (!old.isEmpty() && bytes == old) return Version::old;
    return Version::wrong;
}

Disk diskHere(Disk wanted) {
    const bool canMount = !whyUnavailable(Disk::tmpfs);
    return !canMount && (wanted == Disk::tmpfs || wanted == Disk::ext4) ? Disk::folder : wanted;
}

std::string testName() {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(test.test_suite_name()) + '.' + test.name();
}

std::string faultOnDisk(const Case& c) {
    return c.disk == c.row->disks.front() ? c.row->fault : c.row->fault + " \u2014 on " + nameOf(c.disk);
}

// The bounds a row holds its faulty cycle to, as the document states them.
std::string boundsOf(const Row& row) {
    if (row.withinSeconds <= 0 && row.withinMiB <= 0) return {};
    std::string text = " \u2014 the cycle ends within " + QString::number(row.withinSeconds).toStdString() + " s";
    if (row.withinMiB > 0) text += ", adding less than " + QString::number(row.withinMiB).toStdString() + " MiB of memory";
    return text;
}

// "a.mp3, c.mp3 new · b.mp3 old · d.mp3 missing"; staging files left, if any, follow.
std::string describe(const QMap<QString, Version>& files, const QStringList& leftovers) {
    // Tracks in name order, then the playlist; each kind once.
    static const std::pair<Version, const char*> kinds[] = {
        {Version::current, "new"}, {Version::old, "old"}, {Version::missing, "missing"},
        {Version::tampered, "as the other program left it"}, {Version::wrong, "WRONG"}};
    // A long name as its start and its end.
    const auto shortened = [](const QString& path) {
        const QString name = QFileInfo(path).fileName();
        return name.size() <= 40 ? name : name.left(16) + QChar(0x2026) + name.right(8);
    };
    QStringList parts;
    for (const auto& [version, word] : kinds) {
        QStringList names;
        for (auto file = files.begin(); file != files.end(); ++file)
            if (file.value() == version && file.key() != u"playlist") names << shortened(file.key());
        if (files.contains(QStringLiteral("playlist")) && files.value(QStringLiteral("playlist")) == version) names << "playlist";
        if (!names.isEmpty()) parts << names.join(", ") + u' ' + QString::fromLatin1(word);
    }
    QString text = parts.join(QStringLiteral(" \u00b7 "));
    QStringList staged;
    for (const QString& file : leftovers) staged << shortened(file);
    if (!staged.isEmpty()) text += QStringLiteral("; staging file left: ") + staged.join(", ");
    return text.toStdString();
}

}  // namespace

std::vector<Case> FaultMatrix::casesOf(const char* group, const std::vector<Row>& rows) {
    std::vector<Case> cases;
    for (const Row& row : rows)
        for (const Disk disk : row.disks) cases.push_back({group, &row, disk});
    return cases;
}

std::string FaultMatrix::nameOf(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    return c.disk == c.row->disks.front() ? c.row->name : std::string(c.row->name) + "On" + testing_support::nameOf(c.disk);
}

void FaultMatrix::SetUp() {
    const Case& c = GetParam();
    const Disk disk = diskHere(c.disk);
    if (const std::optional<std::string> why = whyUnavailable(disk)) {
        recordRow({testName(), c.group, c.row->order, faultOnDisk(c), "\u2014", "\u2014", "\u2014", "not run here: " + *why, true});
        GTEST_SKIP() << *why;
    }
    rig_ = std::make_unique<EngineRig>(disk);
    rig_->displayName = QString::fromUtf8(c.row->displayName);
    rig_->serve(kTracks + c.row->extra);
    volume_ = rig_->addDrive(QStringLiteral("DJSTICK"));
    held_ = ::open(QFile::encodeName(volume_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    root_ = QStringLiteral("/proc/self/fd/%1").arg(held_);
    // Before the fault: an older b.mp3 on the drive and in the library, beside the current a.mp3.
    writeBytes(onDrive("House/a.mp3"), kTrackA);
    writeBytes(onDrive("House/b.mp3"), kOldTrackB);
    writeBytes(rig_->playlistOf(root_), kOldPlaylist);
    writeBytes(rig_->cached("House/a.mp3"), kTrackA);
    writeBytes(rig_->cached("House/b.mp3"), kOldTrackB);
    // Files that are not ours: on the drive, beside our tracks, and on the computer's own disk.
    others_ = {{root_ + "/autorun.inf", "[autorun]\nlabel=DJSTICK\n"},
               {root_ + "/Notes/setlist.txt", "1. warm-up\n2. peak\n"},
               {root_ + "/DJ-Music/Other Set/x.mp3", noise(8 * 1024, 90)},
               {onDrive("House/mine.mp3"), noise(8 * 1024, 91)},
               {rig_->cached("House/mine.mp3"), noise(8 * 1024, 92)},
               {outside() + "/keep.txt", "the computer's own\n"}};
    for (auto other = others_.begin(); other != others_.end(); ++other) writeBytes(other.key(), other.value());
    others_.insert(root_ + u'/' + kMarker, fileBytes(root_ + u'/' + kMarker));
}

void FaultMatrix::TearDown() {
    if (held_ >= 0) ::close(held_);
    otherService.reset();
    rig_.reset();
}

void FaultMatrix::serveWithoutExtras() {
    for (const auto& [path, bytes] : GetParam().row->extra)
        if (QFile::exists(rig_->cached(path))) remember(rig_->cached(path));
    rig_->serve(kTracks);
}

void FaultMatrix::swapInStranger(std::optional<qint64> marker) {
    rig_->takeDriveAway(volume_);
    rig_->mountStrangerAt(volume_);
    stranger_ = {{"autorun.inf", "[autorun]\nlabel=NO NAME\n"}, {"Photos/beach.jpg", noise(4096, 93)}};
    if (marker) {
        EngineRig::registerDrive(volume_, *marker);
        stranger_.insert(kMarker, fileBytes(volume_ + u'/' + kMarker));
    }
    for (auto file = stranger_.begin(); file != stranger_.end(); ++file) writeBytes(volume_ + u'/' + file.key(), file.value());
}

void FaultMatrix::swapBack() {
    EXPECT_EQ(filesBelow(volume_), stranger_.keys()) << "the stranger's stick was written to";
    for (auto file = stranger_.begin(); file != stranger_.end(); ++file)
        EXPECT_EQ(fileBytes(volume_ + u'/' + file.key()), file.value()) << file.key().toStdString();
    rig_->removeStranger(volume_);
    rig_->bringDriveBack(volume_);
}

void FaultMatrix::emulateFat(qint64 maxFileSize) {
    if (rig_->disk() != Disk::exfat && rig_->disk() != Disk::vfat) rig_->files.emulateFat(volume_, maxFileSize);
}

void FaultMatrix::tamper(const QString& relativePath, const QByteArray& bytes) {
    tampered_ << relativePath;
    writeBytes(rig_->cached(relativePath), bytes);
}

QMap<QString, Version> FaultMatrix::observe(bool drive) const {
    QMap<QString, Version> seen;
    for (const auto& [path, bytes] : rig_->served()) {
        const QByteArray old = path == u"House/b.mp3" ? kOldTrackB : QByteArray();
        Version version = versionOf(drive ? onDrive(path) : rig_->cached(path), bytes, old);
        if (!drive && version == Version::wrong && tampered_.contains(path)) version = Version::tampered;
        seen.insert(path, version);
    }
    if (drive)
        seen.insert(QStringLiteral("playlist"), versionOf(rig_->playlistOf(root_), rig_->servedPlaylist(), kOldPlaylist));
    return seen;
}

// Files below the drive's root or the library that are neither our final names nor others'.
QStringList FaultMatrix::leftovers(bool drive) const {
    QStringList ours = drive ? QStringList{kMarker, QFileInfo(rig_->playlistOf(root_)).fileName()} : QStringList();
    for (const auto& track : rig_->served()) ours << (drive ? "DJ-Music/Demo Set/" : "") + track.first;
    const QString folder = drive ? root_ : rig_->cacheRoot();
    QStringList left;
    for (const QString& file : filesBelow(folder))
        if (!ours.contains(file) && !others_.contains(folder + u'/' + file)) left << file;
    return left;
}

QStringList FaultMatrix::othersChanged() const {
    QStringList changed;
    for (auto other = others_.begin(); other != others_.end(); ++other)
        if (fileBytes(other.key()) != other.value()) changed << other.key();
    for (const QString& file : filesBelow(outside()))
        if (!others_.contains(outside() + u'/' + file)) changed << "written outside the drive: " + file;
    return changed;
}

void FaultMatrix::expectPromisesKept(const std::string& when) const {
    for (const bool drive : {true, false}) {
        const QMap<QString, Version> seen = observe(drive);
        for (auto file = seen.begin(); file != seen.end(); ++file)
            EXPECT_NE(file.value(), Version::wrong) << file.key().toStdString() << " is partial or wrong " << when;
        for (const QString& file : leftovers(drive))
            EXPECT_TRUE(file.endsWith(".spinforge-partial")) << "unexpected " << file.toStdString() << ' ' << when;
    }
    EXPECT_EQ(othersChanged(), QStringList()) << "files that are not ours changed " << when;
}

std::string FaultMatrix::stable(const QString& text) const {
    QString stable = text;
    stable.replace(rig_->cacheRoot(), QStringLiteral("~/.local/share/Spinforge/Library"));
    stable.replace(QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:\\d+")), QStringLiteral("127.0.0.1:PORT"));
    return stable.toStdString();
}

void FaultMatrix::run(bool registration) {
    const Case& c = GetParam();
    const Row& row = *c.row;
    EngineRig& r = rig();
    const auto register_ = [&] { return failureOf([&] { await(r.engine().registerUSB(volume_)); }); };

    std::string userSees;
    if (registration) {
        // A drive never registered: only others' files on it, and the library already filled.
        for (const QString& ours : QStringList{kMarker, "DJ-Music/Demo Set/House/a.mp3", "DJ-Music/Demo Set/House/b.mp3",
                                               QFileInfo(r.playlistOf(root_)).fileName()})
            QFile::remove(root_ + u'/' + ours);
        others_.remove(root_ + u'/' + kMarker);
        r.runCycle();
        ASSERT_EQ(r.states.last().kind, Kind::success) << r.states.last().message.toStdString();
        if (row.inject) row.inject(*this);
        const QString failure = QString::fromStdString(register_());
        EXPECT_EQ(stable(failure), row.message);
        userSees = stable("alert \"Could not register USB\": " + failure);
    } else {
        const Cost cost = costOf([&] {
            if (row.inject) row.inject(*this);
            r.runCycle();
        });
        if (row.withinSeconds > 0) {
            EXPECT_LT(cost.seconds, row.withinSeconds) << "the cycle took too long";
        }
        if (row.withinMiB > 0 && kMemoryMeasured) {
            EXPECT_LT(cost.peakMiB, row.withinMiB) << "the cycle held too much memory";
        }
        const State after = r.states.last();
        EXPECT_EQ(after.kind, row.outcome) << after.message.toStdString();
        EXPECT_EQ(stable(after.message), row.message);
        ASSERT_FALSE(r.notifier.posted.isEmpty());
        const RecordingNotifier::Posted shown = r.notifier.posted.last();
        EXPECT_EQ(shown.body, after.message);
        EXPECT_EQ(shown.title, after.kind == Kind::failed ? "Spinforge needs attention" : "Spinforge");
        // A failed cycle reports nothing: the next one starts afresh.
        if (after.kind == Kind::failed) {
            EXPECT_EQ(r.service().counters()["status"], 0);
        }
        userSees = stable(shown.title + ": " + shown.body);
    }
    // The service met the fault at least as often as the row says (a client may ask once more
    // for a reply cut short): no row passes with its fault idle.
    if (row.serviceFaultUses) {
        EXPECT_GE(r.service().counters()["faults_used"].get<int>(), row.serviceFaultUses);
    }
    const std::string drive = describe(observe(true), leftovers(true));
    const std::string inLibrary = describe(observe(false), leftovers(false));
    EXPECT_EQ(drive, row.drive);
    EXPECT_EQ(inLibrary, row.library);
    expectPromisesKept("after the fault");

    if (row.clear) row.clear(*this);
    r.files.clearFaults();
    r.service().reset();
    const std::string retry = registration ? register_() : "no failure";
    if (!registration) r.runCycle();
    expectPromisesKept("after a cycle without the fault");
    const bool ok = retry == "no failure" && r.states.last().kind == Kind::success &&
                    r.offFromServed({root_}, true, others_.keys()).isEmpty() && othersChanged().isEmpty();
    EXPECT_TRUE(ok) << "not recovered: " << retry << "; " << r.states.last().message.toStdString() << "; drive "
                    << describe(observe(true), leftovers(true));
    recordRow({testName(), c.group, row.order, faultOnDisk(c) + boundsOf(row), userSees, drive, inLibrary, ok ? "yes" : "no",
               r.disk() != Disk::folder});
}

}  // namespace testing_support
