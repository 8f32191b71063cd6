// Which mounted volumes are drives the agent may use, and which of them belong to a profile,
// read from a mount table of the test's own.

#include "engine/EngineFixture.h"

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class Drives : public EngineFixture {};

TEST_F(Drives, ListsWritableVolumesBelowTheMediaFolderInTableOrder) {
    const QString zeta = addDrive("ZETA", std::nullopt);
    const QString spaced = addDrive("DJ STICK\\2", std::nullopt);
    const QString alpha = addDrive("ALPHA", std::nullopt);
    EXPECT_EQ(engine().mountedVolumes(), (QStringList{zeta, spaced, alpha}));  // the root file system is not among them

    files.failOn(Op::isWritable, spaced, EROFS);
    EXPECT_EQ(engine().mountedVolumes(), (QStringList{zeta, alpha}));
}

TEST_F(Drives, HiddenAndOutsideMountsAreNeverCandidates) {
    const QString visible = addDrive("STICK", std::nullopt);
    addDrive(".snapshot", std::nullopt);
    mounted.append(root.filePath("elsewhere"));  // writable, but not where removable drives go
    QDir().mkpath(root.filePath("elsewhere"));
    addDrive("SEEN/.hidden", std::nullopt);
    EXPECT_EQ(engine().mountedVolumes(), QStringList{visible});
}

TEST_F(Drives, AnUnreadableMountTableMeansNoDrives) {
    addDrive("STICK");
    files.failOn(Op::readAll, "mountinfo", EACCES);
    EXPECT_TRUE(engine().mountedVolumes().isEmpty());
    EXPECT_TRUE(engine().registeredVolumes(kProfileId).isEmpty());
}

TEST_F(Drives, FindsEveryDriveWhoseMarkerNamesTheProfile) {
    const QString first = addDrive("FIRST");
    addDrive("OTHER", 8);
    addDrive("BLANK", std::nullopt);
    const QString second = addDrive("SECOND");
    EXPECT_EQ(engine().registeredVolumes(kProfileId), (QStringList{first, second}));
    EXPECT_EQ(engine().registeredVolumes(8).size(), 1);
    EXPECT_TRUE(engine().registeredVolumes(9).isEmpty());
}

TEST_F(Drives, MarkersThatDoNotReadLeaveTheirDriveUnregistered) {
    const QString broken = addDrive("BROKEN");
    writeBytes(broken + "/.dj-sync.json", R"({"version":1,"profile_id":"7","profile_name":"a","library_folder":"b","registered_at":"c"})");
    const QString partial = addDrive("PARTIAL");
    writeBytes(partial + "/.dj-sync.json", R"({"version":1,"profile_id":7,"profile_name":"a","library_folder":"b"})");
    const QString unreadable = addDrive("UNREADABLE");
    files.failOn(Op::readAll, unreadable + "/.dj-sync.json", EIO);
    const QString escaped = addDrive("ESCAPED");
    writeBytes(escaped + "/.dj-sync.json",
               R"({"library_folder":"DJ-Music\/Demo Set","version":1,"profile_id":7,"profile_name":"a","registered_at":"c","more":1})");
    EXPECT_EQ(engine().registeredVolumes(kProfileId), QStringList{escaped});
}

}  // namespace
