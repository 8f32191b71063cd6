// The real file system: staging names that always fit, byte-exact copies, small files read only
// when they are small regular files, no path on a drive ever reached through a link; and the
// autostart entry written through it (its Exec quoting is the exec_argument fuzz target's).
#include "platform/LoginAgent.h"
#include "platform/PosixFileSystem.h"
#include "platform/StagingName.h"
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
    Folder open(const QString& name = {}, Reach reach = Reach::anywhere) {
        FileResult<Folder> opened = files.openFolder(name.isEmpty() ? folder.path() : at(name), reach);
        EXPECT_TRUE(opened.ok()) << opened.status().description().toStdString();
        return std::move(*opened);
    }
    QTemporaryDir folder;
    PosixFileSystem files;
};

// A name too long for the plain suffix is staged under a name cut short with a digest of it: one
// staging name per name, so a killed write's leftover is found again.
TEST_F(PosixFiles, EveryNameThatFitsCanBeStagedUnderANameDerivedFromItAlone) {
    const QByteArray cjk = QString(84, QChar(0x6f22)).toUtf8();  // 252 bytes
    struct Case {
        QByteArray name;
        bool plainSuffix;
    };
    const Case cases[] = {{QByteArray(237, 'n'), true}, {QByteArray(238, 'n'), false}, {cjk + "a.m", false}, {QByteArray(255, 'x'), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        const QByteArray staging = StagingName::of(c.name);
        EXPECT_LE(staging.size(), StagingName::maxBytes);
        EXPECT_TRUE(staging.endsWith(".spinforge-partial"));
        EXPECT_EQ(staging == c.name + ".spinforge-partial", c.plainSuffix);
        EXPECT_TRUE(QString::fromUtf8(staging).toUtf8() == staging) << "cut inside a character";
        EXPECT_NE(StagingName::of(c.name.chopped(1) + '~'), staging) << "another name shares the staging name";

        writeBytes(at(QString::fromUtf8(staging)), "left by a killed write");
        EXPECT_TRUE(writeWhole(open(), QString::fromUtf8(c.name), "x").ok());
        EXPECT_EQ(filesBelow(folder.path()), QStringList{QString::fromUtf8(c.name)});
        EXPECT_EQ(fileBytes(at(QString::fromUtf8(c.name))), QByteArray("x")) << "written after the leftover";
        QFile::remove(at(QString::fromUtf8(c.name)));
    }
    const FileStatus tooLong = writeWhole(open(), QString(256, u'n'), "x");
    EXPECT_EQ(tooLong.errnum(), ENAMETOOLONG);
    EXPECT_EQ(filesBelow(folder.path()), QStringList());
}

// Past the block a copy goes by (the tracks of the other tests are smaller than one).
TEST_F(PosixFiles, ACopyIsByteExact) {
    const QByteArray large = noise(2 * 1024 * 1024 + 1, 1);
    writeBytes(at("large"), large);
    const Folder here = open();
    {
        FileResult<InputFile> source = here.openForReading("large");
        FileResult<StagedFile> copy = here.stage("copy");
        ASSERT_TRUE(source.ok() && copy.ok());
        EXPECT_TRUE(copy->copyFrom(*source).ok());
        EXPECT_TRUE(copy->commit().ok());
    }
    EXPECT_EQ(fileBytes(at("copy")), large);
}

TEST_F(PosixFiles, OnlySmallRegularFilesAreReadAndNothingWaits) {
    writeBytes(at("marker"), "{}");
    writeBytes(at("large"), QByteArray(1025, ' '));
    ::mkfifo(QFile::encodeName(at("fifo")).constData(), 0644);
    ASSERT_TRUE(QFile::link(at("marker"), at("link")));
    const Folder here = open();
    EXPECT_EQ(*here.readSmallFile("marker", 1024), QByteArray("{}"));
    for (const char* refused : {"large", "fifo", "link", "missing"}) EXPECT_FALSE(here.readSmallFile(refused, 1024).ok()) << refused;
    EXPECT_FALSE(here.openForReading("fifo").ok()) << "a FIFO was opened for hashing";
    EXPECT_FALSE(files.openFolder("/dev", Reach::anywhere)->readSmallFile("zero", 1024).ok());
}

// Beneath a drive's held root no operation follows a link, so nothing lands on (or is read from)
// the computer's own disk: with openat2, and with the step-by-step walk of older kernels.
TEST_F(PosixFiles, OnADriveNothingGoesThroughALink) {
    QDir().mkpath(at("drive/DJ-Music"));
    QDir().mkpath(at("own/Set"));
    writeBytes(at("own/Set/a.mp3"), "the computer's own");
    for (const auto& [link, target] : {std::pair("drive/Linked", "own"), std::pair("drive/DJ-Music/a.mp3", "own/Set/a.mp3"),
                                       std::pair("drive/DJ-Music/Set", "own/Set")})
        ASSERT_TRUE(QFile::link(at(target), at(link))) << link;
    for (const PosixPaths::Walk walk : {PosixPaths::Walk::openat2, PosixPaths::Walk::stepByStep}) {
        SCOPED_TRACE(walk == PosixPaths::Walk::openat2 ? "openat2" : "step by step");
        PosixFileSystem walking(nullptr, walk);
        const Folder drive = std::move(*walking.openFolder(at("drive"), Reach::beneath));
        EXPECT_EQ(drive.makeFolders("Linked/New").errnum(), ELOOP);
        EXPECT_EQ(drive.makeFolders("DJ-Music/Set/House").errnum(), ELOOP);
        EXPECT_EQ(drive.stage("Linked/b.mp3").status().errnum(), ELOOP);
        EXPECT_EQ(drive.openFolder("DJ-Music/Set").status().errnum(), ELOOP);
        EXPECT_EQ(writeWhole(drive, "DJ-Music/a.mp3", "x").errnum(), ELOOP);
        EXPECT_EQ(writeWhole(drive, "Linked/Set/list.m3u8", "x").errnum(), ELOOP);
        EXPECT_EQ(drive.inspect("DJ-Music/a.mp3")->type, FileInfo::Type::link);
        EXPECT_FALSE(drive.openForReading("DJ-Music/a.mp3").ok());
        EXPECT_FALSE(drive.openForReading("Linked/Set/a.mp3").ok());
        EXPECT_EQ(filesBelow(at("own")), QStringList{"Set/a.mp3"});
        EXPECT_EQ(fileBytes(at("own/Set/a.mp3")), QByteArray("the computer's own"));
        // Through no link, the same operations work as anywhere.
        EXPECT_TRUE(drive.makeFolders("DJ-Music/House").ok());
        EXPECT_TRUE(writeWhole(drive, "DJ-Music/House/b.mp3", "b").ok());
        EXPECT_EQ(drive.inspect("DJ-Music/House/b.mp3")->size, 1);
    }
    // The computer's own folders follow links as every program does.
    EXPECT_EQ(open("drive").inspect("DJ-Music/a.mp3")->type, FileInfo::Type::file);
}

TEST(LoginAgent, WritesTheAutostartEntryWholeAndStartsTheAppImageRatherThanItsInside) {
    QTemporaryDir config;
    PosixFileSystem files;
    const QString entry = config.filePath("autostart/com.spinforge.mac.desktop");
    writeBytes(entry, QByteArray(4096, 'x'));
    LoginAgent::install(files, {QStringLiteral("/tmp/.mount_Spin/usr/bin/spinforge"), config.path(),
                         QStringLiteral("/home/kim/Apps/Spinforge 1.0.AppImage")});
    EXPECT_EQ(fileBytes(entry), QByteArray("[Desktop Entry]\nType=Application\nName=Spinforge\n"
                                           "Exec=\"/home/kim/Apps/Spinforge 1.0.AppImage\"\nStartupNotify=false\n"));
    LoginAgent::install(files, {QStringLiteral("/opt/spinforge/bin/spinforge"), config.path(), {}});
    EXPECT_TRUE(fileBytes(entry).contains("\nExec=/opt/spinforge/bin/spinforge\n"));
    EXPECT_EQ(testing_support::filesBelow(config.path()), QStringList{"autostart/com.spinforge.mac.desktop"});
}

}  // namespace
