// The kernel's mount table, which mount points may be a drive, and the watcher of arriving drives.
#include "platform/MountTable.h"
#include "platform/MountWatcher.h"
#include "support/KernelDrive.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace spinforge;

namespace {

QString str(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList mountPointsOf(const QByteArray& table) {
    QTemporaryDir folder;
    testing_support::writeBytes(folder.filePath("mountinfo"), table);
    QStringList points;
    for (const Mount& mount : MountTable::read(folder.filePath("mountinfo"))) points << mount.point;
    return points;
}

TEST(MountTable, ReadsEveryMountPointInTableOrderWithEscapesDecodedAndSkipsWhatIsNoEntry) {
    const QByteArray table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
        "25 22 0:5 / /dev rw,nosuid,relatime shared:2 master:9 - devtmpfs udev rw\n"
        "36 35 98:0 /mnt1 /mnt2 rw,noatime - ext3 /dev/root rw\n"
        "garbage\n"
        "22 1 8:1 / /media/nothing-after-sep rw shared:1 -\n"
        "22 1 8:1 / relative/point rw - ext4 /dev/sda1 rw\n"
        "210 25 8:33 / /media/kim/DJ\\040USB rw,nosuid shared:140 - vfat /dev/sdc1 rw\n"
        "211 25 8:34 / /media/kim/Tab\\011Line\\012Back\\134slash rw shared:141 - vfat /dev/sdd1 rw\n"
        "212 25 8:35 / /media/kim/\\303\\251t\\303\\251\\134040 rw shared:142 - exfat /dev/sde1 rw\n";
    EXPECT_EQ(mountPointsOf(table),
              (QStringList{str("/"), str("/dev"), str("/mnt2"), str("/media/kim/DJ USB"),
                           str("/media/kim/Tab\tLine\nBack\\slash"), str("/media/kim/\u00e9t\u00e9\\040")}));
}

TEST(MountTable, CandidatesLieStrictlyBelowAPrefixOnceCleanedAndAreNotHidden) {
    const QStringList prefixes = {str("/media/"), str("/run/media")};
    struct Case {
        const char* path;
        bool candidate;
    };
    const Case cases[] = {
        {"/media/kim/DJ USB", true},      {"/run/media/kim/Zo\u00eb", true}, {"/media//kim/./USB/", true},
        {"/media/kim/not.hidden", true},  {"/media/", false},                {"/media", false},
        {"/media/kim/..", false},         {"/media/../etc", false},          {"/mediax/USB", false},
        {"/home/kim/media/USB", false},   {"media/kim/USB", false},          {"/media/kim/.hidden", false},
        {"/media/.kim/USB", false},       {"/run/media/kim/.Trash-1000", false},
    };
    for (const Case& c : cases) EXPECT_EQ(MountTable::isCandidate(str(c.path), prefixes), c.candidate) << c.path;
}

// Only a new mount point where drives are mounted counts: overlays and snaps come and go elsewhere.
TEST(MountWatcher, ReportsEachDriveThatArrivesAndNothingElse) {
    if (const std::optional<std::string> why = testing_support::whyUnavailable(testing_support::Disk::tmpfs))
        GTEST_SKIP() << *why;
    QTemporaryDir elsewhere;
    ::mkdir("/media", 0755);
    char pattern[] = "/media/spinforge-watch-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const QString media = QString::fromLocal8Bit(pattern);
    int arrived = 0;
    {
        testing_support::KernelDrive before(testing_support::Disk::tmpfs, media + "/BEFORE", {});
        MountWatcher watcher({QStringLiteral("/proc/self/mountinfo"), {media + u'/'}});
        QObject::connect(&watcher, &MountEvents::volumeMounted, [&] { ++arrived; });
        const auto settled = [] { for (int turn = 0; turn < 5; ++turn) QCoreApplication::processEvents(); };

        testing_support::KernelDrive overlay(testing_support::Disk::tmpfs, elsewhere.filePath("overlay"), {});
        testing_support::KernelDrive hidden(testing_support::Disk::tmpfs, media + "/.snapshot", {});
        settled();
        EXPECT_EQ(arrived, 0) << "a mount that is no drive, or one there from the start, was reported";
        {
            testing_support::KernelDrive stick(testing_support::Disk::tmpfs, media + "/DJSTICK", {});
            EXPECT_TRUE(QTest::qWaitFor([&] { return arrived == 1; }, 5000));
        }
        settled();
        EXPECT_EQ(arrived, 1) << "an unmount was reported";
        testing_support::KernelDrive again(testing_support::Disk::tmpfs, media + "/DJSTICK", {});
        EXPECT_TRUE(QTest::qWaitFor([&] { return arrived == 2; }, 5000));
    }
    ::rmdir(pattern);
}

}  // namespace
