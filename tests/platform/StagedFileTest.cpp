// Staged writes: the target changes only at commit, and nothing is left beside it either way.
#include "platform/FileError.h"
#include "platform/HostName.h"
#include "platform/StagedFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace spinforge;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(StagedFile, TargetChangesOnlyAtCommit) {
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("a.mp3"));
    StagedFile::writeAtomically(target, "old");
    {
        StagedFile staged(target);
        staged.write(QByteArray(3 * 1024 * 1024, 'x'));
        EXPECT_EQ(contents(target), QByteArray("old"));
        staged.commit();
        EXPECT_EQ(staged.bytesWritten(), 3 * 1024 * 1024);
    }
    EXPECT_EQ(contents(target), QByteArray(3 * 1024 * 1024, 'x'));
    EXPECT_EQ(entries(folder.path()), QStringList{QStringLiteral("a.mp3")});
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u & ~[] { mode_t m = ::umask(0); ::umask(m); return m; }());
}

TEST(StagedFile, AbandonedStagingLeavesTheTargetAndNoTrace) {
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("a.mp3"));
    StagedFile::writeAtomically(target, "old");
    {
        StagedFile staged(target);
        staged.write("half of it");
    }
    EXPECT_EQ(contents(target), QByteArray("old"));
    EXPECT_EQ(entries(folder.path()), QStringList{QStringLiteral("a.mp3")});
}

TEST(StagedFile, FailuresNameTheFolderAndTheSystemsReason) {
    QTemporaryDir folder;
    try {
        StagedFile staged(folder.filePath(QStringLiteral("missing/a.mp3")));
        FAIL();
    } catch (const FileError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
                  QStringLiteral("Could not create a file in %1: No such file or directory").arg(folder.filePath(QStringLiteral("missing"))));
        EXPECT_EQ(error.errnum(), ENOENT);
    }
    StagedFile::writeAtomically(folder.filePath(QStringLiteral("file")), "x");
    EXPECT_THROW(createFolders(folder.filePath(QStringLiteral("file/sub"))), FileError);
    createFolders(folder.filePath(QStringLiteral("a/b/c")));
    EXPECT_TRUE(QFileInfo(folder.filePath(QStringLiteral("a/b/c"))).isDir());
}

TEST(HostName, PrefersThePrettyNameOfMachineInfo) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("machine-info"));
    struct Case { const char* file; const char* expected; };
    const Case cases[] = {
        {"PRETTY_HOSTNAME=\"Kim's Booth Laptop\"\nICON_NAME=computer\n", "Kim's Booth Laptop"},
        {"# comment\nPRETTY_HOSTNAME=Studio\n", "Studio"},
        {"PRETTY_HOSTNAME='Zoë \\\"B\\\" Deck'\n", "Zoë \"B\" Deck"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        StagedFile::writeAtomically(path, c.file);
        EXPECT_EQ(HostName::localizedName(path), QString::fromUtf8(c.expected));
    }
    StagedFile::writeAtomically(path, "ICON_NAME=computer\n");
    EXPECT_FALSE(HostName::localizedName(path).isEmpty());
    EXPECT_NE(HostName::localizedName(path), QStringLiteral("Kim's Booth Laptop"));
}

}  // namespace
