// Reading the kernel's mount table, and which mount points may be a drive the user plugged in.
#include "platform/MountTable.h"

#include <gtest/gtest.h>

using namespace spinforge;

namespace {

QString str(const char* utf8) { return QString::fromUtf8(utf8); }

// As a desktop machine has it: optional tags before " - ", none at all, and names the kernel
// escapes. Non-ASCII names come as they are (UTF-8), or escaped byte by byte.
const QByteArray kTable =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
    "23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "25 22 0:5 / /dev rw,nosuid,relatime shared:2 master:9 - devtmpfs udev rw,size=8131212k,mode=755\n"
    "36 35 98:0 /mnt1 /mnt2 rw,noatime - ext3 /dev/root rw,errors=continue\n"
    "210 25 8:33 / /media/kim/DJ\\040USB rw,nosuid,nodev,relatime shared:140 - vfat /dev/sdc1 rw,fmask=0022\n"
    "211 25 8:34 / /media/kim/Tab\\011Name rw,relatime shared:141 - vfat /dev/sdd1 rw\n"
    "212 25 8:35 / /media/kim/Line\\012Break rw,relatime shared:142 - vfat /dev/sdd2 rw\n"
    "213 25 8:36 /sub /media/kim/Back\\134slash rw,relatime shared:143 - vfat /dev/sdd3 rw\n"
    "214 25 8:37 / /run/media/kim/Zo\xc3\xab\\040B\xc3\xb6hm\\040Set rw shared:144 master:3 - exfat /dev/sde1 rw\n"
    "215 25 8:38 / /run/media/kim/\\303\\251t\\303\\251 rw shared:145 - exfat /dev/sde2 rw\n";

TEST(MountTable, ReadsEveryMountPointInTableOrderWithEscapesDecoded) {
    const QStringList expected = {
        str("/"), str("/proc"), str("/dev"), str("/mnt2"),
        str("/media/kim/DJ USB"), str("/media/kim/Tab\tName"), str("/media/kim/Line\nBreak"),
        str("/media/kim/Back\\slash"), str("/run/media/kim/Zoë Böhm Set"), str("/run/media/kim/été"),
    };
    EXPECT_EQ(MountTable::mountPoints(kTable), expected);
}

TEST(MountTable, KeepsWhatIsNotAnEscapeAndDecodesEachEscapeOnce) {
    struct Case { QByteArray field; const char* expected; };
    const Case cases[] = {
        {"/media/a\\04", "/media/a\\04"},          // cut short at the end of the field
        {"/media/a\\0", "/media/a\\0"},
        {"/media/a\\", "/media/a\\"},
        {"/media/a\\400b", "/media/a\\400b"},      // above \377: not a byte
        {"/media/a\\08b", "/media/a\\08b"},        // 8 is not an octal digit
        {"/media/a\\x41", "/media/a\\x41"},
        {"/media/a\\134040", "/media/a\\040"},     // the decoded backslash starts no new escape
        {"/media/\\101\\102C", "/media/ABC"},      // any \ooo, not only the four the kernel writes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field.toStdString());
        const QByteArray line = "300 25 8:1 / " + c.field + " rw shared:1 - vfat /dev/sdf1 rw\n";
        EXPECT_EQ(MountTable::mountPoints(line), QStringList{str(c.expected)});
    }
}

TEST(MountTable, SkipsLinesThatAreNotMountEntriesAndReadsOnPastThem) {
    const QByteArray broken[] = {
        "",
        "   ",
        "garbage",
        "22 1 8:1 / /media/short",
        "22 1 8:1 / /media/nosep rw shared:1",
        "22 1 8:1 / /media/nothing-after-sep rw shared:1 -",
        "22 1 8:1 / /media/sep-too-early - ext4 /dev/sda1 rw",
        "22 1 8:1 / relative/point rw - ext4 /dev/sda1 rw",
        "22 1 8:1 / /media/nul\\000byte rw - ext4 /dev/sda1 rw",
        QByteArray("22 1 8:1 / /media/@raw rw - ext4 /dev/sda1 rw").replace('@', '\0'),
        "\xff\xfe\x80 \x01\x02 - - - - - -",
    };
    const QByteArray good = "40 1 8:1 / /media/kim/USB rw - vfat /dev/sdb1 rw";
    for (const QByteArray& line : broken) {
        SCOPED_TRACE(line.toStdString());
        EXPECT_EQ(MountTable::mountPoints(line), QStringList());
        EXPECT_EQ(MountTable::mountPoints(line + "\n" + good + "\n"), QStringList{str("/media/kim/USB")});
    }
    EXPECT_EQ(MountTable::mountPoints(QByteArray()), QStringList());
}

TEST(MountTable, NamesThatAreNotUtf8StillGiveOneMountPoint) {
    const QStringList points = MountTable::mountPoints("41 1 8:1 / /media/\\377\xfe rw - vfat /dev/sdb1 rw\n");
    ASSERT_EQ(points.size(), 1);
    EXPECT_TRUE(points[0].startsWith(str("/media/")));
}

// Whatever byte the table is cut at (a read that ended early), what is read is the mount points
// of the complete lines, or of a cut line whose mount point was already whole.
TEST(MountTable, ATableCutAnywhereGivesALeadingPartOfTheWholeList) {
    const QStringList whole = MountTable::mountPoints(kTable);
    for (qsizetype length = 0; length <= kTable.size(); ++length) {
        const QStringList part = MountTable::mountPoints(kTable.left(length));
        ASSERT_LE(part.size(), whole.size()) << length;
        EXPECT_EQ(part, whole.mid(0, part.size())) << "cut at " << length;
    }
}

TEST(MountTable, BelowPrefixMeansStrictlyBelowOnceCleanedAndCandidatesAreNotHidden) {
    const QStringList prefixes = {str("/media/"), str("/run/media/")};
    struct Case { const char* path; bool below; bool candidate; };
    const Case cases[] = {
        {"/media/kim/DJ USB", true, true},
        {"/media/USB", true, true},
        {"/run/media/kim/Zoë", true, true},
        {"/media//kim/./USB/", true, true},
        {"/media/kim/USB/..", true, true},
        {"/media/kim/not.hidden", true, true},
        {"/media/", false, false},
        {"/media", false, false},
        {"/media//", false, false},
        {"/media/kim/..", false, false},
        {"/media/../etc", false, false},
        {"/media/kim/../../etc", false, false},
        {"/mediax/USB", false, false},
        {"/run/media", false, false},
        {"/run/mediax/kim", false, false},
        {"/mnt/usb", false, false},
        {"/home/kim/media/USB", false, false},
        {"media/kim/USB", false, false},
        {"", false, false},
        {"/media/kim/.hidden", true, false},
        {"/media/.kim/USB", true, false},
        {"/run/media/kim/.Trash-1000", true, false},
        {"/media/kim/USB/.snapshot/x", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(MountTable::isBelowPrefix(str(c.path), prefixes), c.below);
        EXPECT_EQ(MountTable::isCandidate(str(c.path), prefixes), c.candidate);
    }
}

TEST(MountTable, PrefixesWithoutTheirSlashStillMeanTheFolder) {
    struct Case { const char* path; const char* prefix; bool below; };
    const Case cases[] = {
        {"/media/USB", "/media", true},
        {"/mediax/USB", "/media", false},
        {"/media", "/media", false},
        {"/media/USB", "", false},
        {"/media/USB", "/", true},
        {"/", "/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.prefix);
        EXPECT_EQ(MountTable::isBelowPrefix(str(c.path), {str(c.prefix)}), c.below);
    }
    EXPECT_FALSE(MountTable::isBelowPrefix(str("/media/USB"), {}));
}

}  // namespace
