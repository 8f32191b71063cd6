// The real file system: staging names that always fit, byte-exact copies, small files read only
// when they are small regular files, no path on a drive ever reached through a link; and the
// autostart entry written through it (its Exec quoting is the exec_argument fuzz target's).
#include "platform/FileNames.h"
#include "platform/LoginAgent.h"
#include "platform/PosixFileSystem.h"
#include "platform/StagingName.h"
#include "support/KernelDrive.h"
#include "support/TestSupport.h"

#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <random>
#include <sys/mount.h>
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

// Nor across into another mount: a stick mounted inside the drive (at one of its folders, or over
// one of its files) is another drive, and nothing of this one's sync reaches it.
TEST_F(PosixFiles, OnADriveNothingCrossesIntoAnotherMount) {
    if (const std::optional<std::string> why = whyUnavailable(Disk::tmpfs)) GTEST_SKIP() << *why;
    QDir().mkpath(at("drive/DJ-Music/House"));
    writeBytes(at("drive/DJ-Music/House/a.mp3"), "the drive's own");
    writeBytes(at("elsewhere.mp3"), "another drive's");
    const KernelDrive inside(Disk::tmpfs, at("drive/DJ-Music/Set"), {});
    writeBytes(at("drive/DJ-Music/Set/inner.mp3"), "the inner stick's");
    const QByteArray overFile = QFile::encodeName(at("drive/DJ-Music/House/a.mp3"));
    ASSERT_EQ(::mount(QFile::encodeName(at("elsewhere.mp3")).constData(), overFile.constData(), nullptr, MS_BIND, nullptr), 0);
    const auto unbind = qScopeGuard([&] { ::umount2(overFile.constData(), MNT_DETACH); });
    for (const PosixPaths::Walk walk : {PosixPaths::Walk::openat2, PosixPaths::Walk::stepByStep}) {
        SCOPED_TRACE(walk == PosixPaths::Walk::openat2 ? "openat2" : "step by step");
        PosixFileSystem walking(nullptr, walk);
        const Folder drive = std::move(*walking.openFolder(at("drive"), Reach::beneath));
        EXPECT_EQ(drive.makeFolders("DJ-Music/Set/New").errnum(), EXDEV);
        EXPECT_EQ(drive.stage("DJ-Music/Set/b.mp3").status().errnum(), EXDEV);
        EXPECT_EQ(drive.openForReading("DJ-Music/Set/inner.mp3").status().errnum(), EXDEV);
        EXPECT_EQ(drive.list("DJ-Music/Set").status().errnum(), EXDEV);
        EXPECT_EQ(drive.inspect("DJ-Music/Set").status().errnum(), EXDEV);
        EXPECT_EQ(drive.openForReading("DJ-Music/House/a.mp3").status().errnum(), EXDEV);
        EXPECT_EQ(drive.readSmallFile("DJ-Music/House/a.mp3", 1024).status().errnum(), EXDEV);
        EXPECT_EQ(writeWhole(drive, "DJ-Music/House/a.mp3", "x").errnum(), EXDEV);
        EXPECT_EQ(filesBelow(inside.path()), QStringList{"inner.mp3"});
        EXPECT_EQ(fileBytes(at("elsewhere.mp3")), QByteArray("another drive's"));
        // The drive's own folders are reached as before.
        EXPECT_TRUE(drive.makeFolders("DJ-Music/House/Deep").ok());
        EXPECT_TRUE(writeWhole(drive, "DJ-Music/House/Deep/b.mp3", "b").ok());
    }
    // The computer's own folders are reached as every program reaches them.
    EXPECT_TRUE(open("drive").openForReading("DJ-Music/Set/inner.mp3").ok());
}

// A path the library can hold, a drive can hold: the kernel takes 4,095 bytes of path in one call,
// and a drive's folder adds "DJ-Music/<set>/" to what lies below the library.
TEST_F(PosixFiles, OnADrivePathsOfAnyDepthAreReached) {
    QStringList folders;
    for (int i = 0; i < 17; ++i) folders << QString(239, QChar(u'a' + i));  // 4,079 bytes, 4,097 on a drive
    const QString deep = QStringLiteral("DJ-Music/Demo Set/") + folders.join(u'/');
    for (const PosixPaths::Walk walk : {PosixPaths::Walk::openat2, PosixPaths::Walk::stepByStep}) {
        SCOPED_TRACE(walk == PosixPaths::Walk::openat2 ? "openat2" : "step by step");
        QTemporaryDir drivePath;
        PosixFileSystem walking(nullptr, walk);
        const Folder drive = std::move(*walking.openFolder(drivePath.path(), Reach::beneath));
        ASSERT_TRUE(drive.makeFolders(deep).ok());
        EXPECT_TRUE(writeWhole(drive, deep + "/a.mp3", "deep").ok());
        FileResult<InputFile> file = drive.openForReading(deep + "/a.mp3");
        ASSERT_TRUE(file.ok()) << file.status().description().toStdString();
        char bytes[8] = {};
        EXPECT_EQ(*file->read(bytes, sizeof bytes), 4);
        EXPECT_EQ(drive.inspect(deep + "/a.mp3")->size, 4);
        EXPECT_EQ(*drive.list(deep), QStringList{"a.mp3"});
    }
}

// A drive mounted under a name that is not UTF-8 is still reached: every byte of a name read from
// the kernel goes back to it unchanged, and people see U+FFFD for what is not text.
TEST(FileNames, EveryByteOfANameReachesTheKernelAsItCame) {
    const QByteArray names[] = {"DJ STICK", "Caf\xc3\xa9 \xe2\x99\xab", "\xf0\x9f\x8e\xa7 Set", "DJ\xff", "\xc3",
                                "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\x80\x80" "b", "\xe2\x99"};
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.toHex().toStdString());
        const QString decoded = FileNames::decode(name);
        EXPECT_EQ(FileNames::encode(decoded), name);
        const QString valid = QString::fromUtf8(name);
        if (valid.toUtf8() == name) EXPECT_EQ(decoded, valid);
        else EXPECT_EQ(FileNames::readable(decoded).count(QChar(QChar::ReplacementCharacter)), valid.count(QChar(QChar::ReplacementCharacter)));
    }
    std::mt19937 random(20261207);
    for (int round = 0; round < 2000; ++round) {
        QByteArray name(std::uniform_int_distribution<int>(1, 12)(random), Qt::Uninitialized);
        for (char& byte : name) byte = char(std::uniform_int_distribution<int>(1, 255)(random));
        ASSERT_EQ(FileNames::encode(FileNames::decode(name)), name) << name.toHex().toStdString();
    }
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
