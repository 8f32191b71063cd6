#include "faults/FaultMatrix.h"

#include <algorithm>

namespace testing_support {
namespace {

constexpr const char* kPartialSuffix = ".spinforge-partial";
const QByteArray kOldPlaylist = "#EXTM3U\nDJ-Music/Demo Set/House/a.mp3\nDJ-Music/Demo Set/House/b.mp3\n";

Version versionOf(const QString& path, const QByteArray& current, const QByteArray& old) {
    if (!QFileInfo(path).isFile()) return Version::missing;
    const QByteArray bytes = fileBytes(path);
    if (bytes == current) return Version::current;
    if (!old.isEmpty() && bytes == old) return Version::old;
    return Version::wrong;
}

}  // namespace

void FaultMatrix::SetUp() {
    ASSERT_TRUE(library.isValid() && data.isValid() && scratch.isValid() && images_.isValid());
    whyNoRealDrives_ = whyNoKernelDrives(scratch.path());
    real_ = !whyNoRealDrives_;
    if (!real_) {
        media_ = scratch.filePath("media");
        return;
    }
    ::mkdir("/media", 0755);
    char pattern[] = "/media/spinforge-matrix-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr) << std::strerror(errno);
    media_ = QString::fromLocal8Bit(pattern);
}

void FaultMatrix::TearDown() {
    engine_.reset();
    heldDrive_.reset();
    while (!drives_.empty()) drives_.pop_back();
    if (!real_ || media_.isEmpty()) return;
    const QStringList left = mountsBelow(media_);
    EXPECT_EQ(left, QStringList()) << "mounts left behind";
    if (left.isEmpty()) QDir(media_).removeRecursively();
}

spinforge::SyncEngine& FaultMatrix::engine() {
    if (!engine_) {
        spinforge::VolumeSource volumes;
        if (!real_) volumes = {scratch.filePath("mountinfo"), {media_ + u'/'}};
        engine_ = std::make_unique<spinforge::SyncEngine>(
            spinforge::EngineSeams{keyring, settings, files, notifier, noEvents_, volumes, data.path(), timeouts});
        engine_->onStateChange = [this](const State& state) { states.append(state); };
    }
    return *engine_;
}

void FaultMatrix::runCycle() { await(engine().sync(QStringLiteral("fault matrix"))); }

void FaultMatrix::prepare(const LibraryFiles& extraTracks) {
    served = {{"House/a.mp3", kTrackA.toStdString()},
              {"House/b.mp3", kTrackB.toStdString()},
              {"Techno/c.mp3", kTrackC.toStdString()},
              {"Techno/d.mp3", kTrackD.toStdString()}};
    served.insert(served.end(), extraTracks.begin(), extraTracks.end());
    std::sort(served.begin(), served.end());
    for (const auto& [path, bytes] : served) DevServer::writeFile(library.filePath(QString::fromStdString(path)).toStdString(), bytes);
    server = startSignedIn(library.path(), settings, keyring);
    mountDrive();
    putPreviousState();
}

void FaultMatrix::mountDrive() {
    const QString label = QStringLiteral("DJSTICK");
    if (!real_) {
        volume = media_ + u'/' + label;
        QDir().mkpath(volume);
        tableMounts_ << volume;
        writeFolderMountTable();
        return;
    }
    drives_.push_back(std::make_unique<RealDrive>(media_ + u'/' + label, images_.filePath(label + ".img")));
    RealDrive& drive = *drives_.back();
    if (wantExt4_) {
        drive.format("mkfs.ext4", {"-q", "-F"}, 8);
        drive.mountImage("ext4");
    } else {
        drive.mountTmpfs(QStringLiteral("size=4m,mode=0755"));
    }
    volume = drive.path();
    heldDrive_ = std::make_unique<HeldFolder>(volume);
}

RealDrive& FaultMatrix::mountLibraryDisk(const QString& options) {
    QDir().mkpath(QFileInfo(cacheRoot()).path());
    QDir(cacheRoot()).removeRecursively();
    drives_.push_back(std::make_unique<RealDrive>(cacheRoot(), QString()));
    drives_.back()->mountTmpfs(options);
    return *drives_.back();
}

void FaultMatrix::writeFolderMountTable() {
    writeBytes(scratch.filePath("mountinfo"), mountTableListing(tableMounts_));
}

void FaultMatrix::takeDriveAway() {
    if (!real_) {
        tableMounts_.removeAll(volume);
        writeFolderMountTable();
        return;
    }
    ASSERT_EQ(realDrive()->detachLazily(), 0);
}

void FaultMatrix::bringDriveBack() {
    if (!real_) {
        tableMounts_ << volume;
        writeFolderMountTable();
        return;
    }
    realDrive()->mountImage("ext4");
}

void FaultMatrix::putPreviousState() {
    const spinforge::Profile profile{kProfileId, QStringLiteral("DJ Demo"), QStringLiteral("Demo Set")};
    writeBytes(volume + u'/' + spinforge::USBMarker::fileName, spinforge::USBMarker::forProfile(profile).encoded());
    writeBytes(onDrive("House/a.mp3"), kTrackA);
    writeBytes(onDrive("House/b.mp3"), kOldTrackB);
    writeBytes(playlistPath(), kOldPlaylist);
    writeBytes(cached("House/a.mp3"), kTrackA);
    writeBytes(cached("House/b.mp3"), kOldTrackB);
    // Files that are not ours, on the drive and beside our tracks.
    const QMap<QString, QByteArray> others{
        {volume + "/autorun.inf", "[autorun]\nlabel=DJSTICK\n"},
        {volume + "/Notes/setlist.txt", "1. warm-up\n2. peak\n"},
        {volume + "/DJ-Music/Other Set/x.mp3", noise(8 * 1024, 90)},
        {onDrive("House/mine.mp3"), noise(8 * 1024, 91)},
        {cached("House/mine.mp3"), noise(8 * 1024, 92)},
    };
    for (auto other = others.begin(); other != others.end(); ++other) writeBytes(other.key(), other.value());
    others_ = others;
    others_.insert(volume + u'/' + spinforge::USBMarker::fileName,
                   fileBytes(volume + u'/' + spinforge::USBMarker::fileName));
}

QByteArray FaultMatrix::currentBytes(const QString& path) const {
    for (const auto& [each, bytes] : served)
        if (QString::fromStdString(each) == path) return QByteArray::fromStdString(bytes);
    return {};
}

QByteArray FaultMatrix::currentPlaylist() const {
    QByteArray text = "#EXTM3U\n";
    for (const auto& track : served) text += "DJ-Music/Demo Set/" + QByteArray::fromStdString(track.first) + '\n';
    return text;
}

Observed FaultMatrix::observe(const QString& driveRootOverride) const {
    const QString root = !driveRootOverride.isEmpty() ? driveRootOverride : heldDrive_ ? heldDrive_->path() : volume;
    const auto atRoot = [&](const QString& path) {
        return path.startsWith(volume + u'/') ? root + path.mid(volume.size()) : path;
    };
    Observed seen;
    QStringList finalOnDrive{spinforge::USBMarker::fileName, QFileInfo(playlistPath()).fileName()};
    QStringList finalInLibrary;
    for (const auto& [each, bytes] : served) {
        const QString path = QString::fromStdString(each);
        const QByteArray old = path == "House/b.mp3" ? kOldTrackB : QByteArray();
        seen.drive.insert(path, versionOf(atRoot(onDrive(path)), QByteArray::fromStdString(bytes), old));
        Version inLibrary = versionOf(cached(path), QByteArray::fromStdString(bytes), old);
        if (inLibrary == Version::wrong && tampered_.contains(path)) inLibrary = Version::tampered;
        seen.library.insert(path, inLibrary);
        finalOnDrive << "DJ-Music/Demo Set/" + path;
        finalInLibrary << path;
    }
    seen.drive.insert(QStringLiteral("playlist"), versionOf(atRoot(playlistPath()), currentPlaylist(), kOldPlaylist));
    for (auto other = others_.begin(); other != others_.end(); ++other) {
        if (other.key().startsWith(volume + u'/')) finalOnDrive << other.key().mid(volume.size() + 1);
        else finalInLibrary << other.key().mid(cacheRoot().size() + 1);
        if (fileBytes(atRoot(other.key())) != other.value()) seen.othersChanged << other.key();
    }
    for (const QString& file : filesBelow(root))
        if (!finalOnDrive.contains(file)) seen.driveLeftovers << file;
    for (const QString& file : filesBelow(cacheRoot()))
        if (!finalInLibrary.contains(file)) seen.libraryLeftovers << file;
    return seen;
}

std::string FaultMatrix::describe(const QMap<QString, Version>& files, const QStringList& leftovers) {
    // Tracks first, in name order, then the playlist; each kind once.
    static const std::pair<Version, const char*> kinds[] = {
        {Version::current, "new"}, {Version::old, "old"}, {Version::missing, "missing"},
        {Version::tampered, "as the other program left it"}, {Version::wrong, "WRONG"}};
    QStringList parts;
    for (const auto& [version, word] : kinds) {
        QStringList names;
        for (auto file = files.begin(); file != files.end(); ++file)
            if (file.value() == version && file.key() != "playlist") names << QFileInfo(file.key()).fileName();
        if (files.value("playlist", Version::missing) == version && files.contains("playlist")) names << "playlist";
        if (!names.isEmpty()) parts << names.join(", ") + u' ' + QString::fromLatin1(word);
    }
    QString text = parts.join(QStringLiteral(" \u00b7 "));
    QStringList staged;
    for (const QString& file : leftovers) staged << QFileInfo(file).fileName();
    if (!staged.isEmpty()) text += QStringLiteral("; staging file left: ") + staged.join(", ");
    return text.toStdString();
}

std::string FaultMatrix::stable(const QString& text) const {
    QString stable = text;
    stable.replace(cacheRoot(), QStringLiteral("~/.local/share/Spinforge/Library"));
    stable.replace(QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:\\d+")), QStringLiteral("127.0.0.1:PORT"));
    return stable.toStdString();
}

void FaultMatrix::expectPromisesKept(const Observed& seen, const std::string& when) const {
    for (auto file = seen.drive.begin(); file != seen.drive.end(); ++file)
        EXPECT_NE(file.value(), Version::wrong) << file.key().toStdString() << " on the drive is partial or wrong " << when;
    for (auto file = seen.library.begin(); file != seen.library.end(); ++file)
        EXPECT_NE(file.value(), Version::wrong) << file.key().toStdString() << " in the library is partial or wrong " << when;
    EXPECT_EQ(seen.othersChanged, QStringList()) << "files that are not ours changed " << when;
    for (const QString& file : seen.driveLeftovers + seen.libraryLeftovers)
        EXPECT_TRUE(file.endsWith(QLatin1String(kPartialSuffix))) << "unexpected file " << file.toStdString() << ' ' << when;
}

bool FaultMatrix::recovered(const Observed& seen) const {
    const auto allCurrent = [](const QMap<QString, Version>& files) {
        return std::all_of(files.begin(), files.end(), [](Version v) { return v == Version::current; });
    };
    return !states.isEmpty() && states.last().kind == Kind::success && allCurrent(seen.drive) &&
           allCurrent(seen.library) && seen.driveLeftovers.isEmpty() && seen.libraryLeftovers.isEmpty() &&
           seen.othersChanged.isEmpty();
}

void FaultMatrix::runCase(const FaultCase& faultCase) {
    prepare(faultCase.extraTracks);
    tampered_ = faultCase.tampered;
    faultCase.inject();
    runCycle();
    ASSERT_FALSE(states.isEmpty());
    const State after = states.last();
    EXPECT_EQ(after.kind, faultCase.outcome) << after.message.toStdString();
    EXPECT_EQ(stable(after.message), faultCase.message.toStdString());
    ASSERT_FALSE(notifier.posted.isEmpty());
    const RecordingNotifier::Posted shown = notifier.posted.last();
    EXPECT_EQ(shown.body, after.message);
    EXPECT_EQ(shown.title, after.kind == Kind::failed ? "Spinforge needs attention" : "Spinforge");
    const Observed seen = observe();
    expectPromisesKept(seen, "after the fault");

    faultCase.clear();
    files.clearFaults();
    server->reset();
    runCycle();
    const Observed healed = observe();
    expectPromisesKept(healed, "after the cycle without the fault");
    const bool ok = recovered(healed);
    EXPECT_TRUE(ok) << "not recovered: " << states.last().message.toStdString() << "; drive "
                    << describe(healed.drive, healed.driveLeftovers) << "; library "
                    << describe(healed.library, healed.libraryLeftovers);
    record(faultCase, stable(shown.title + ": " + shown.body), seen, ok);
}

void FaultMatrix::runRegistrationCase(const FaultCase& faultCase) {
    prepare(faultCase.extraTracks);
    // A drive never registered: only others' files on it.
    const QString marker = volume + u'/' + spinforge::USBMarker::fileName;
    for (const QString& ours : {marker, onDrive("House/a.mp3"), onDrive("House/b.mp3"), playlistPath()})
        QFile::remove(ours);
    others_.remove(marker);
    runCycle();  // fills the library; the drive is not registered, so it gets nothing
    ASSERT_EQ(states.last().kind, Kind::success) << states.last().message.toStdString();

    faultCase.inject();
    const QString failure = QString::fromStdString(failureOf([&] { await(engine().registerUSB(volume)); }));
    EXPECT_EQ(stable(failure), faultCase.message.toStdString());
    const Observed seen = observe();
    expectPromisesKept(seen, "after the failed registration");

    faultCase.clear();
    files.clearFaults();
    server->reset();
    const std::string retry = failureOf([&] { await(engine().registerUSB(volume)); });
    EXPECT_EQ(retry, "no failure");
    const Observed healed = observe();
    expectPromisesKept(healed, "after registering again");
    const bool ok = retry == "no failure" && recovered(healed) && QFile::exists(marker);
    EXPECT_TRUE(ok) << "not recovered: drive " << describe(healed.drive, healed.driveLeftovers);
    record(faultCase, stable(QStringLiteral("alert \"Could not register USB\": ") + failure), seen, ok);
}

void FaultMatrix::skipCase(const FaultCase& faultCase, const std::string& reason) {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    recordRow({std::string(test.test_suite_name()) + '.' + test.name(), faultCase.group, faultCase.order,
               faultCase.fault, "\u2014", "\u2014", "\u2014", "not run here: " + reason, real_});
    GTEST_SKIP() << reason;
}

void FaultMatrix::record(const FaultCase& faultCase, const std::string& userSees, const Observed& seen, bool ok) {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    recordRow({std::string(test.test_suite_name()) + '.' + test.name(), faultCase.group, faultCase.order,
               faultCase.fault, userSees, describe(seen.drive, seen.driveLeftovers),
               describe(seen.library, seen.libraryLeftovers), ok ? "yes" : "no", real_});
}

}  // namespace testing_support
