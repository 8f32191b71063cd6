#pragma once
// The engine against drives the kernel really mounted: tmpfs, and ext4 or FAT images on loop
// devices, each at /media/spinforge-test-XXXXXX/<LABEL> where a desktop automounter would put
// it. The engine reads the kernel's own mount table with the default prefixes and writes through
// the real file operations (wrapped, so that a test can act at a precise moment of a copy).
//
// Mounting needs root: every test skips elsewhere. Mounts change the whole machine's table, so
// the fixture refuses to run while any other drive is mounted where the agent looks (a cycle
// would write to it), and each test ends with none of its mounts, loop devices or folders left.

#include "engine/EngineFixture.h"
#include "platform/MountTable.h"
#include "platform/MountWatcher.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtCore/qtestsupport_core.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Failures show names and texts as text. Bytes longer than a line show as their size and digest:
// tracks are compared whole, and a dump of their noise would bury the message.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '{';
    for (qsizetype i = 0; i < texts.size(); ++i) *out << (i ? ", \"" : "\"") << texts[i].toStdString() << '"';
    *out << '}';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    if (bytes.size() <= 80)
        *out << '"' << bytes.toStdString() << '"';
    else
        *out << bytes.size() << " bytes, SHA-256 " << testing_support::digestOf(bytes).toStdString();
}

namespace spinforge {
inline void PrintTo(SyncEngine::State::Kind kind, std::ostream* out) {
    static const char* const names[] = {"working", "success", "failed", "idle"};
    *out << names[int(kind)];
}
inline void PrintTo(const SyncEngine::State& state, std::ostream* out) {
    PrintTo(state.kind, out);
    *out << ": \"" << state.message.toStdString() << '"';
}
}  // namespace spinforge

namespace testing_support {

inline const QStringList kDrivePrefixes = spinforge::VolumeSource{}.prefixes;
inline const QString kProcMountTable = spinforge::VolumeSource{}.mountTable;

// The mount points in the kernel's table now, in table order.
inline QStringList kernelMountPoints() {
    const std::optional<QByteArray> table = spinforge::PosixFileOperations().readAll(kProcMountTable);
    return table ? spinforge::MountTable::mountPoints(*table) : QStringList();
}

// Mount points at or below `folder`.
inline QStringList mountsBelow(const QString& folder) {
    QStringList found;
    for (const QString& point : kernelMountPoints())
        if (point == folder || point.startsWith(folder + u'/')) found << point;
    return found;
}

// A tool that machines run as root keep in sbin, which a test's PATH may lack.
inline QString findTool(const QString& name) {
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) found = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    return found;
}

// Runs a tool to its end; its standard output, or a std::runtime_error with its standard error.
inline QByteArray runTool(const QString& name, const QStringList& arguments) {
    const QString program = findTool(name);
    if (program.isEmpty()) throw std::runtime_error(name.toStdString() + " is not installed");
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error((name + u' ' + arguments.join(u' ') + QStringLiteral(" failed: ")).toStdString() +
                                 process.readAllStandardError().toStdString());
    return process.readAllStandardOutput();
}

inline QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

// Bytes that no other track shares, so that a track copied under the wrong name shows.
inline QByteArray noise(qsizetype size, quint32 seed) {
    QByteArray bytes(size, '\0');
    quint32 state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state >> 24);
    }
    return bytes;
}

// Why drives can't be file systems the kernel mounts here, or nullopt when they can. Mounts
// change the whole machine's table, so another drive where the agent looks rules them out too: a
// cycle would write to it. `scratch` is a folder to try a mount in.
inline std::optional<std::string> whyNoKernelDrives(const QString& scratch) {
    if (::geteuid() != 0) return "needs root to mount drives";
    QStringList others;
    for (const QString& point : kernelMountPoints())
        if (spinforge::MountTable::isCandidate(point, kDrivePrefixes)) others << point;
    if (!others.isEmpty())
        return "other drives are mounted where the agent looks, and a cycle would write to them: " +
               others.join(", ").toStdString();
    // Root in a container may still be refused every mount.
    const QByteArray probe = nativePath(scratch + QStringLiteral("/probe"));
    ::mkdir(probe.constData(), 0755);
    const bool canMount = ::mount("spinforge-test", probe.constData(), "tmpfs", 0, "size=4k") == 0;
    const int error = errno;
    if (canMount) ::umount2(probe.constData(), 0);
    ::rmdir(probe.constData());
    if (!canMount) return std::string("this machine refuses mounts even to root: ") + std::strerror(error);
    return std::nullopt;
}

// Every file below `folder` with its bytes, hidden ones included.
inline QMap<QString, QByteArray> contentsOf(const QString& folder) {
    QMap<QString, QByteArray> contents;
    for (const QString& path : filesBelow(folder)) contents.insert(path, fileBytes(folder + u'/' + path));
    return contents;
}

// Everything in `folder`, files and folders, hidden ones included.
inline QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// One drive's mount folder, and what is mounted there. The destructor unmounts it however the
// test ended (lazily when it is busy), detaches its loop device and removes its image; the
// folder itself goes with the fixture's parent folder.
class RealDrive {
public:
    RealDrive(QString mountPoint, QString image) : path_(std::move(mountPoint)), image_(std::move(image)) {
        if (::mkdir(nativePath(path_).constData(), 0755) != 0) fail("create the folder", errno);
    }
    ~RealDrive() {
        for (int attempt = 0; attempt < 8 && isMounted(); ++attempt)
            if (::umount2(nativePath(path_).constData(), 0) != 0) ::umount2(nativePath(path_).constData(), MNT_DETACH);
        detachLoop();
        if (!image_.isEmpty()) QFile::remove(image_);
    }
    RealDrive(const RealDrive&) = delete;
    RealDrive& operator=(const RealDrive&) = delete;

    const QString& path() const { return path_; }
    QString label() const { return QFileInfo(path_).fileName(); }
    bool isMounted() const { return kernelMountPoints().contains(path_); }

    void mountTmpfs(const QString& options, unsigned long flags = 0) {
        const QByteArray data = nativePath(options);
        if (::mount("spinforge-test", nativePath(path_).constData(), "tmpfs", flags, data.constData()) != 0)
            fail("mount a tmpfs on", errno);
    }

    // A sparse image of `megabytes`, formatted by `tool` with `arguments` before the image's path.
    void format(const QString& tool, QStringList arguments, int megabytes) {
        QFile file(image_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(qint64(megabytes) << 20))
            throw std::runtime_error("could not create the image " + image_.toStdString());
        file.close();
        runTool(tool, arguments << image_);
    }
    // Mounts the image through a loop device of its own, attached on first use.
    void mountImage(const char* type, unsigned long flags = 0, const char* options = nullptr) {
        if (loop_.isEmpty()) loop_ = QString::fromLocal8Bit(runTool("losetup", {"--find", "--show", image_}).trimmed());
        if (::mount(nativePath(loop_).constData(), nativePath(path_).constData(), type, flags, options) != 0)
            fail("mount " + loop_ + " on", errno);
    }
    void remount(unsigned long flags, const char* options = nullptr) {
        if (::mount(nullptr, nativePath(path_).constData(), nullptr, MS_REMOUNT | flags, options) != 0)
            fail("remount", errno);
    }
    // Unmounts and lets go of the loop device, so a later mount reads the image afresh.
    void eject() {
        if (::umount2(nativePath(path_).constData(), 0) != 0) fail("unmount", errno);
        detachLoop();
    }
    // What `umount -l` does: the mount leaves the table at once; open files keep its file system.
    int detachLazily() const { return ::umount2(nativePath(path_).constData(), MNT_DETACH) == 0 ? 0 : errno; }

private:
    [[noreturn]] void fail(const QString& action, int errnum) const {
        throw std::runtime_error(QStringLiteral("could not %1 %2: %3")
                                     .arg(action, path_, QString::fromLocal8Bit(std::strerror(errnum)))
                                     .toStdString());
    }
    void detachLoop() {
        if (loop_.isEmpty()) return;
        QProcess::execute(findTool("losetup"), {"-d", loop_});
        loop_.clear();
    }

    QString path_;
    QString image_;
    QString loop_;
};

// A folder of the drive opened before it goes away: with the mount lazily detached the file
// system lives on behind it, and the test can still see what reached the drive.
class HeldFolder {
public:
    explicit HeldFolder(const QString& folder)
        : fd_(::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~HeldFolder() { if (fd_ >= 0) ::close(fd_); }
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd_); }

private:
    int fd_;
};

class RealDriveFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(images_.isValid() && library.isValid() && data.isValid());
        if (const std::optional<std::string> why = whyNoKernelDrives(images_.path())) GTEST_SKIP() << *why;
        ::mkdir("/media", 0755);
        char pattern[] = "/media/spinforge-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr) << std::strerror(errno);
        media_ = QString::fromLocal8Bit(pattern);
    }

    void TearDown() override {
        engine_.reset();
        watcher_.reset();
        while (!drives_.empty()) drives_.pop_back();
        if (media_.isEmpty()) return;
        const QStringList left = mountsBelow(media_);
        EXPECT_EQ(left, QStringList()) << "mounts left behind";
        if (!findTool("losetup").isEmpty()) {
            EXPECT_EQ(loopsBackedBy(images_.path()), QByteArray()) << "loop devices left behind";
        }
        // Never recurse into a drive that could not be unmounted.
        if (left.isEmpty()) QDir(media_).removeRecursively();
    }

    // A drive folder below this test's media folder, nothing mounted on it yet.
    RealDrive& mountFolder(const QString& label) {
        drives_.push_back(std::make_unique<RealDrive>(media_ + u'/' + label, images_.filePath(label + ".img")));
        return *drives_.back();
    }
    RealDrive& tmpfsDrive(const QString& label, const QString& options = QStringLiteral("size=1m,mode=0755")) {
        RealDrive& drive = mountFolder(label);
        drive.mountTmpfs(options);
        return drive;
    }
    static bool canUseImages(const QString& mkfs) {
        return QFile::exists("/dev/loop-control") && !findTool("losetup").isEmpty() && !findTool(mkfs).isEmpty();
    }
    RealDrive& ext4Drive(const QString& label) {
        RealDrive& drive = mountFolder(label);
        drive.format("mkfs.ext4", {"-q", "-F"}, 8);
        drive.mountImage("ext4");
        return drive;
    }

    // Starts the service with these tracks and stores the device token. The service lists tracks
    // in path order; give them in that order, so that `served` matches the manifest.
    void serve(const QList<QPair<QString, QByteArray>>& tracks) {
        for (const auto& [path, bytes] : tracks) writeBytes(library.filePath(path), bytes);
        served = tracks;
        server = startSignedIn(library.path(), settings, keyring);
    }

    // Mount events come from the kernel's table from now on, for an engine made after this.
    void watchMounts() { watcher_ = std::make_unique<spinforge::MountWatcher>(kProcMountTable); }

    spinforge::SyncEngine& engine() {
        if (!engine_) {
            spinforge::MountEvents& events = watcher_ ? *watcher_ : static_cast<spinforge::MountEvents&>(noEvents_);
            engine_ = std::make_unique<spinforge::SyncEngine>(
                spinforge::EngineSeams{keyring, settings, files, notifier, events, {}, data.path(), {}});
            engine_->onStateChange = [this](const State& state) { states.append(state); };
        }
        return *engine_;
    }

    // Waits until a cycle that began after `before` states has ended.
    bool waitForCycleAfter(qsizetype before) {
        return QTest::qWaitFor([&] { return states.size() > before && states.last().kind != Kind::working; }, 20000);
    }

    // The engine's drives below this test's media folder; the machine may have other mounts.
    QStringList ourVolumes() {
        QStringList ours;
        for (const QString& volume : engine().mountedVolumes())
            if (volume.startsWith(media_ + u'/')) ours << volume;
        return ours;
    }

    static QString onDrive(const RealDrive& drive, const QString& relativePath) {
        return drive.path() + "/DJ-Music/Demo Set/" + relativePath;
    }
    static QString playlistOn(const RealDrive& drive) {
        return drive.path() + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8");
    }
    QByteArray playlistOfServed() const {
        QByteArray text = "#EXTM3U\n";
        for (const auto& track : served) text += "DJ-Music/Demo Set/" + track.first.toUtf8() + '\n';
        return text;
    }
    // The registration the engine writes, put on a drive by hand.
    static void writeMarker(const QString& volume) {
        const spinforge::Profile profile{kProfileId, QStringLiteral("DJ Demo"), QStringLiteral("Demo Set")};
        writeBytes(volume + u'/' + spinforge::USBMarker::fileName, spinforge::USBMarker::forProfile(profile).encoded());
    }
    // Each served track on the drive with its exact bytes.
    void expectEveryTrackOn(const RealDrive& drive) {
        for (const auto& [path, bytes] : served)
            EXPECT_EQ(fileBytes(onDrive(drive, path)), bytes)
                << path.toStdString() << " differs on " << drive.label().toStdString();
    }

    QTemporaryDir library;
    QTemporaryDir data;
    MemoryKeyring keyring;
    spinforge::Settings settings{data.filePath("Spinforge.conf")};
    FaultyFileOperations files;
    RecordingNotifier notifier;
    std::unique_ptr<DevServer> server;
    QList<QPair<QString, QByteArray>> served;
    QList<State> states;

private:
    static QByteArray loopsBackedBy(const QString& folder) {
        QProcess process;
        process.start(findTool("losetup"), {"--list", "--noheadings", "--output", "NAME,BACK-FILE"});
        process.waitForFinished();
        QByteArray ours;
        for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
            if (line.contains(nativePath(folder))) ours += line + '\n';
        return ours;
    }

    QString media_;
    QTemporaryDir images_;
    spinforge::MountEvents noEvents_;
    std::unique_ptr<spinforge::MountWatcher> watcher_;
    std::unique_ptr<spinforge::SyncEngine> engine_;
    std::vector<std::unique_ptr<RealDrive>> drives_;
};

}  // namespace testing_support
