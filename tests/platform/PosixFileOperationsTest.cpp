// The real file operations: byte-exact copies that never leave half a file behind, renames that
// replace in one step, and errno values passed through for the engine to word.

#include "platform/PosixFileOperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class PosixFiles : public ::testing::Test {
protected:
    QString at(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    spinforge::PosixFileOperations files;
};

TEST_F(PosixFiles, CopiesEveryByteOfLargeAndEmptyFiles) {
    QByteArray big(5 * 1024 * 1024 + 3, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 1024);
    write(at("big"), big);
    write(at("empty"), {});
    EXPECT_EQ(files.copy(at("big"), at("big.copy")), 0);
    EXPECT_EQ(files.copy(at("empty"), at("empty.copy")), 0);
    EXPECT_EQ(readAll(at("big.copy")), big);
    EXPECT_EQ(readAll(at("empty.copy")), QByteArray());
    EXPECT_EQ(files.fileSize(at("big.copy")), big.size());
}

TEST_F(PosixFiles, ACopyNeverOverwritesAndAFailedOneLeavesNothing) {
    write(at("source"), "new");
    write(at("target"), "someone else's file");
    EXPECT_EQ(files.copy(at("source"), at("target")), EEXIST);
    EXPECT_EQ(readAll(at("target")), QByteArray("someone else's file"));
    EXPECT_EQ(files.copy(at("missing"), at("copy")), ENOENT);
    EXPECT_FALSE(QFile::exists(at("copy")));
    EXPECT_EQ(files.copy(at("source"), at("no/such/folder/copy")), ENOENT);
}

TEST_F(PosixFiles, ACopyThatRunsOutOfSpaceRemovesItsPart) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
    QDir().mkpath(at("small"));
    ASSERT_EQ(::mount("none", QFile::encodeName(at("small")).constData(), "tmpfs", 0, "size=64k"), 0);
    write(at("source"), QByteArray(256 * 1024, 'x'));
    EXPECT_EQ(files.copy(at("source"), at("small/copy")), ENOSPC);
    EXPECT_FALSE(QFile::exists(at("small/copy")));
    ::umount2(QFile::encodeName(at("small")).constData(), MNT_DETACH);
}

TEST_F(PosixFiles, AMoveReplacesTheTargetInOneStep) {
    write(at("staged"), "new copy");
    write(at("track"), "old copy");
    EXPECT_EQ(files.move(at("staged"), at("track")), 0);
    EXPECT_EQ(readAll(at("track")), QByteArray("new copy"));
    EXPECT_FALSE(QFile::exists(at("staged")));
    EXPECT_EQ(files.move(at("staged"), at("track")), ENOENT);
    EXPECT_EQ(readAll(at("track")), QByteArray("new copy"));
}

TEST_F(PosixFiles, QueriesReadNothingAsAbsent) {
    write(at("file"), "12345");
    EXPECT_EQ(files.fileSize(at("file")), 5);
    EXPECT_EQ(files.fileSize(dir.path()), std::nullopt);  // a folder is not a track
    EXPECT_EQ(files.fileSize(at("missing")), std::nullopt);
    EXPECT_EQ(files.readAll(at("missing")), std::nullopt);
    EXPECT_EQ(files.readAll(at("file")), QByteArray("12345"));
    EXPECT_LT(files.openForReading(at("missing")), 0);
    EXPECT_TRUE(files.isWritable(dir.path()));
    EXPECT_FALSE(files.isWritable(at("missing")));
}

// A case-blind drive shows as two names for one file; a hard link is the same thing on any disk.
TEST_F(PosixFiles, SameFileMeansOneFileBehindBothNames) {
    write(at("A.mp3"), "one");
    write(at("a.mp3"), "one");
    ASSERT_EQ(::link(QFile::encodeName(at("A.mp3")).constData(), QFile::encodeName(at("linked.mp3")).constData()), 0);
    EXPECT_TRUE(files.isSameFile(at("A.mp3"), at("linked.mp3")));
    EXPECT_TRUE(files.isSameFile(at("A.mp3"), dir.path() + "/./A.mp3"));
    EXPECT_FALSE(files.isSameFile(at("A.mp3"), at("a.mp3"))) << "equal bytes in two files are two files";
    EXPECT_FALSE(files.isSameFile(at("A.mp3"), at("missing.mp3")));
    EXPECT_FALSE(files.isSameFile(at("missing.mp3"), at("missing.mp3")));
}

TEST_F(PosixFiles, MutationsReportTheSystemsErrno) {
    write(at("file"), "x");
    EXPECT_EQ(files.remove(at("missing")), ENOENT);
    EXPECT_EQ(files.createFolders(at("file/sub")), ENOTDIR);
    EXPECT_EQ(files.createFolders(at("a/b/c")), 0);
    EXPECT_EQ(files.createFolders(at("a/b/c")), 0);  // an existing folder is fine
    EXPECT_EQ(files.writeAtomically(at("nowhere/list.m3u8"), "x"), ENOENT);
    EXPECT_EQ(files.writeAtomically(at("file"), "replaced whole"), 0);
    EXPECT_EQ(readAll(at("file")), QByteArray("replaced whole"));
}

}  // namespace
