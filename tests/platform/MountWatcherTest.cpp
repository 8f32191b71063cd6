// The mount watcher against the real kernel: mounts made by the test itself (root only) must be
// reported once each, unmounts never.
#include "platform/MountWatcher.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace spinforge;

namespace {

constexpr int kGenerousWaitMs = 5000;

// A fresh folder below /media to mount on. The destructor detaches whatever is still mounted
// there and removes the folder, however the test ended.
class MountFolder {
public:
    MountFolder() {
        ::mkdir("/media", 0755);
        char pattern[] = "/media/spinforge-watch-XXXXXX";
        if (::mkdtemp(pattern)) path_ = pattern;
    }
    ~MountFolder() {
        if (path_.empty()) return;
        while (::umount2(path_.c_str(), MNT_DETACH) == 0) {}
        ::rmdir(path_.c_str());
    }
    MountFolder(const MountFolder&) = delete;
    MountFolder& operator=(const MountFolder&) = delete;

    bool exists() const { return !path_.empty(); }
    // 0, or the errno of the failure.
    int mountTmpfs() const { return result(::mount("none", path_.c_str(), "tmpfs", 0, "size=1m")); }
    int bindFrom(const MountFolder& other) const {
        return result(::mount(other.path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr));
    }
    int unmount() const { return result(::umount2(path_.c_str(), 0)); }

private:
    static int result(int status) { return status == 0 ? 0 : errno; }
    std::string path_;
};

using testing_support::LogCapture;

// Lets the watcher handle every change made so far: the kernel flags the table at once, so one
// turn of the event loop delivers it.
void settle() {
    for (int turn = 0; turn < 3; ++turn) QCoreApplication::processEvents();
}

class MountWatcherAsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root; these run where the tests run as root";
        ASSERT_TRUE(first.exists() && second.exists() && before.exists()) << "could not create folders below /media";
        if (const int error = before.mountTmpfs(); error != 0)
            GTEST_SKIP() << "this machine refuses mounts even to root: " << std::strerror(error);
        watcher = std::make_unique<MountWatcher>();
        QObject::connect(watcher.get(), &MountEvents::volumeMounted, [this] { ++mounted; });
        settle();
    }

    bool waitForMounted(int count) {
        return QTest::qWaitFor([&] { return mounted >= count; }, kGenerousWaitMs);
    }

    MountFolder before;  // mounted before the watcher starts
    MountFolder first;
    MountFolder second;
    std::unique_ptr<MountWatcher> watcher;
    int mounted = 0;
};

TEST_F(MountWatcherAsRoot, MountsThereAtTheStartAreNotNew) {
    ASSERT_EQ(before.unmount(), 0);  // a change that adds nothing: the rest of the table is old
    settle();
    EXPECT_EQ(mounted, 0);
}

TEST_F(MountWatcherAsRoot, AMountIsReportedOnceAndItsUnmountNotAtAll) {
    ASSERT_EQ(first.mountTmpfs(), 0);
    ASSERT_TRUE(waitForMounted(1));
    settle();
    EXPECT_EQ(mounted, 1);

    ASSERT_EQ(first.unmount(), 0);
    settle();
    EXPECT_EQ(mounted, 1);

    // Gone from the table, the folder counts as new when something is mounted there again.
    ASSERT_EQ(first.mountTmpfs(), 0);
    ASSERT_TRUE(waitForMounted(2));
    settle();
    EXPECT_EQ(mounted, 2);
}

// One of two drives ejected and plugged in again: each change is weighed against the table just
// before it, not against the table at the start.
TEST_F(MountWatcherAsRoot, ADrivePluggedInAgainBesideAnotherIsReportedAgain) {
    ASSERT_EQ(first.mountTmpfs(), 0);
    ASSERT_TRUE(waitForMounted(1));
    ASSERT_EQ(second.mountTmpfs(), 0);
    ASSERT_TRUE(waitForMounted(2));
    ASSERT_EQ(first.unmount(), 0);
    settle();
    ASSERT_EQ(first.mountTmpfs(), 0);
    ASSERT_TRUE(waitForMounted(3));
    settle();
    EXPECT_EQ(mounted, 3);
}

TEST_F(MountWatcherAsRoot, ABindMountOfAMountedVolumeIsReportedAgain) {
    ASSERT_EQ(first.mountTmpfs(), 0);
    ASSERT_TRUE(waitForMounted(1));
    ASSERT_EQ(second.bindFrom(first), 0);
    ASSERT_TRUE(waitForMounted(2));
    settle();
    EXPECT_EQ(mounted, 2);
}

TEST(MountWatcher, ATableThatCannotBeOpenedOrReadNeverFiresAndSaysNothing) {
    QTemporaryDir folder;
    const LogCapture log;
    int mounted = 0;
    for (const QString& table : {folder.filePath(QStringLiteral("missing")), folder.path()}) {
        MountWatcher watcher(table);
        QObject::connect(&watcher, &MountEvents::volumeMounted, [&] { ++mounted; });
        settle();
    }
    EXPECT_EQ(mounted, 0);
    EXPECT_EQ(LogCapture::lines(), QStringList());
}

}  // namespace
