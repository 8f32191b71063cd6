// The real file operations: copies that never overwrite or leave a part behind, whole-file writes
// staged under one fixed name, small files read only when they are small regular files, and no
// write on a drive ever going through a link.
#include "platform/FolderHandle.h"
#include "platform/PosixFileOperations.h"
#include "support/KernelDrive.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace spinforge;
using namespace testing_support;

namespace {

class PosixFiles : public ::testing::Test {
protected:
    QString at(const QString& name) const { return folder.filePath(name); }
    QTemporaryDir folder;
    PosixFileOperations files;
};

TEST_F(PosixFiles, ACopyIsByteExactNeverOverwritesAndLeavesNothingWhenItFails) {
    const QByteArray large = noise(2 * 1024 * 1024 + 1, 1);
    writeBytes(at("large"), large);
    writeBytes(at("empty"), {});
    EXPECT_EQ(files.copy(at("large"), at("large copy")), 0);
    EXPECT_EQ(files.copy(at("empty"), at("empty copy")), 0);
    EXPECT_EQ(fileBytes(at("large copy")), large);
    EXPECT_EQ(files.fileSize(at("empty copy")), 0);

    writeBytes(at("there"), "keep me");
    EXPECT_EQ(files.copy(at("large"), at("there")), EEXIST);
    EXPECT_EQ(fileBytes(at("there")), QByteArray("keep me"));
    EXPECT_EQ(files.copy(at("missing"), at("nowhere")), ENOENT);

    const std::optional<std::string> whyNot = whyUnavailable(Disk::tmpfs);
    if (whyNot) GTEST_SKIP() << "a full disk needs a small tmpfs: " << *whyNot;
    KernelDrive small(Disk::tmpfs, at("small"), {}, QStringLiteral("size=64k"));
    EXPECT_EQ(files.copy(at("large"), at("small/large")), ENOSPC);
    EXPECT_EQ(filesBelow(at("small")), QStringList());
}

TEST_F(PosixFiles, AWholeFileIsStagedUnderOneFixedNameThatTheNextWriteRemovesFirst) {
    writeBytes(at("list.m3u8"), "old");
    writeBytes(at("list.m3u8.spinforge-partial"), "left by a killed write");
    EXPECT_EQ(files.writeAtomically(at("list.m3u8"), "new"), 0);
    EXPECT_EQ(fileBytes(at("list.m3u8")), QByteArray("new"));
    EXPECT_EQ(filesBelow(folder.path()), QStringList{"list.m3u8"});
    // The longest name a staged write can take: 237 bytes, 255 with the suffix.
    const QString longest = QString(237, u'n');
    EXPECT_EQ(files.writeAtomically(at(longest), "x"), 0);
    EXPECT_EQ(files.writeAtomically(at(longest + u'n'), "x"), ENAMETOOLONG);
    EXPECT_EQ(filesBelow(folder.path()), (QStringList{"list.m3u8", longest}));
}

TEST_F(PosixFiles, OnlySmallRegularFilesAreReadAndNothingWaits) {
    writeBytes(at("marker"), "{}");
    writeBytes(at("large"), QByteArray(1025, ' '));
    ::mkfifo(QFile::encodeName(at("fifo")).constData(), 0644);
    ::symlink(QFile::encodeName(at("marker")).constData(), QFile::encodeName(at("link")).constData());
    EXPECT_EQ(files.readFile(at("marker"), 1024), QByteArray("{}"));
    for (const char* refused : {"large", "fifo", "link", "missing"}) EXPECT_EQ(files.readFile(at(refused), 1024), std::nullopt) << refused;
    EXPECT_EQ(files.readFile(QStringLiteral("/dev/zero"), 1024), std::nullopt);
    // The kernel's tables say they are empty; what matters is what reading gives.
    EXPECT_TRUE(files.readFile(QStringLiteral("/proc/self/mountinfo"), 64 << 20).value_or("").contains(" / / "));
}

TEST_F(PosixFiles, SameFileMeansOneFileBehindBothNames) {
    writeBytes(at("a"), "a");
    writeBytes(at("b"), "a");
    ::link(QFile::encodeName(at("a")).constData(), QFile::encodeName(at("hard")).constData());
    EXPECT_TRUE(files.isSameFile(at("a"), at("hard")));
    EXPECT_FALSE(files.isSameFile(at("a"), at("b")));
    EXPECT_FALSE(files.isSameFile(at("a"), at("A")));
}

// A drive is outside input: beneath its held root no operation follows a link, so nothing lands on
// (or is read from) the computer's own disk however the drive's folders are linked.
TEST_F(PosixFiles, OnADriveNothingGoesThroughALink) {
    QDir().mkpath(at("drive/DJ-Music"));
    QDir().mkpath(at("own/Set"));
    writeBytes(at("own/Set/a.mp3"), "the computer's own");
    writeBytes(at("library.mp3"), "ours");
    for (const auto& [link, target] : {std::pair("drive/Linked", "own"), std::pair("drive/DJ-Music/a.mp3", "own/Set/a.mp3"),
                                       std::pair("drive/DJ-Music/Set", "own/Set")})
        ::symlink(QFile::encodeName(at(target)).constData(), QFile::encodeName(at(link)).constData());
    const FolderHandle drive(at("drive"));
    const auto onDrive = [&](const char* path) { return drive.path() + u'/' + QString::fromUtf8(path); };

    EXPECT_EQ(files.createFolders(onDrive("Linked/New")), ELOOP);
    EXPECT_EQ(files.createFolders(onDrive("DJ-Music/Set/House")), ELOOP);
    EXPECT_EQ(files.copy(at("library.mp3"), onDrive("Linked/b.mp3")), ELOOP);
    EXPECT_EQ(files.copy(at("library.mp3"), onDrive("DJ-Music/b.mp3")), 0);
    EXPECT_EQ(files.move(onDrive("DJ-Music/b.mp3"), onDrive("DJ-Music/a.mp3")), ELOOP);
    EXPECT_EQ(files.writeAtomically(onDrive("DJ-Music/a.mp3"), "x"), ELOOP);
    EXPECT_EQ(files.writeAtomically(onDrive("Linked/Set/list.m3u8"), "x"), ELOOP);
    EXPECT_EQ(files.fileSize(onDrive("DJ-Music/a.mp3")), std::nullopt);
    EXPECT_EQ(files.openForReading(onDrive("Linked/Set/a.mp3")), -1);
    EXPECT_TRUE(files.isLink(onDrive("DJ-Music/a.mp3")));
    EXPECT_FALSE(files.isLink(onDrive("DJ-Music")));
    EXPECT_EQ(filesBelow(at("own")), QStringList{"Set/a.mp3"});
    EXPECT_EQ(fileBytes(at("own/Set/a.mp3")), QByteArray("the computer's own"));
    // Through no link, the same operations work as anywhere.
    EXPECT_EQ(files.createFolders(onDrive("DJ-Music/House")), 0);
    EXPECT_EQ(files.move(onDrive("DJ-Music/b.mp3"), onDrive("DJ-Music/House/b.mp3")), 0);
    EXPECT_EQ(files.fileSize(onDrive("DJ-Music/House/b.mp3")), 4);
}

}  // namespace
