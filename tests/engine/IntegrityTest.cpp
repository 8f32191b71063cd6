// The one integrity check, against digests computed independently with OpenSSL's one-shot call.

#include "engine/Integrity.h"
#include "engine/EngineFixture.h"

using spinforge::Integrity::validFile;
using testing_support::digestOf;
using testing_support::FaultyFileOperations;
using Op = FaultyFileOperations::Op;

namespace {

QByteArray patterned(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) bytes[i] = char((i * 131 + i / 7) & 0xff);
    return bytes;
}

class Integrity : public ::testing::Test {
protected:
    QString write(const QByteArray& bytes) {
        const QString path = dir.filePath(QStringLiteral("track-%1.mp3").arg(++count));
        testing_support::writeBytes(path, bytes);
        return path;
    }
    QTemporaryDir dir;
    FaultyFileOperations files;
    int count = 0;
};

TEST_F(Integrity, EmptyInputHasTheWellKnownDigest) {
    const QString empty = write({});
    EXPECT_TRUE(validFile(files, empty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", 0));
    EXPECT_FALSE(validFile(files, empty, digestOf("x"), 0));
    EXPECT_FALSE(validFile(files, empty, digestOf({}), 1));
}

TEST_F(Integrity, AcceptsExactlyTheRightBytesAcrossBlockBoundaries) {
    const qint64 block = spinforge::Integrity::blockSize;
    for (qint64 size : {qint64(1), block - 1, block, block + 1, 3 * block + 17}) {
        SCOPED_TRACE(size);
        QByteArray bytes = patterned(size);
        const QString path = write(bytes);
        EXPECT_TRUE(validFile(files, path, digestOf(bytes), size));
        // One changed byte, wherever it is, and the file is no longer the track.
        bytes[size - 1] = char(bytes[size - 1] ^ 0x01);
        EXPECT_FALSE(validFile(files, path, digestOf(bytes), size));
    }
}

TEST_F(Integrity, DigestTextMustBeExactButMayBeUpperCase) {
    const QByteArray bytes = patterned(5000);
    const QString path = write(bytes);
    const QString digest = digestOf(bytes);
    EXPECT_TRUE(validFile(files, path, digest.toUpper(), bytes.size()));
    for (const QString& wrong : {u' ' + digest, digest + u'\n', digest.left(63), digest + u'0', "sha256:" + digest, QString()}) {
        SCOPED_TRACE(wrong.toStdString());
        EXPECT_FALSE(validFile(files, path, wrong, bytes.size()));
    }
}

TEST_F(Integrity, WrongSizeIsRejectedWithoutReadingTheContent) {
    const QByteArray bytes = patterned(4096);
    const QString path = write(bytes);
    EXPECT_FALSE(validFile(files, path, digestOf(bytes), bytes.size() + 1));
    EXPECT_FALSE(validFile(files, path, digestOf(bytes), bytes.size() - 1));
    EXPECT_EQ(files.calls(Op::openForReading), 0);
}

TEST_F(Integrity, MissingUnreadableOrNonRegularFilesAreNotValid) {
    const QByteArray bytes = patterned(100);
    const QString path = write(bytes);
    EXPECT_FALSE(validFile(files, dir.filePath("absent.mp3"), digestOf(bytes), bytes.size()));
    EXPECT_FALSE(validFile(files, dir.path(), digestOf(bytes), bytes.size()));
    files.failOn(Op::openForReading, path, EACCES);
    EXPECT_FALSE(validFile(files, path, digestOf(bytes), bytes.size()));
    EXPECT_EQ(testing_support::fileBytes(path), bytes);  // nothing changed
}

TEST_F(Integrity, FileWithoutReadPermissionIsNotValid) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file whatever its permissions";
    const QByteArray bytes = patterned(100);
    const QString path = write(bytes);
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    EXPECT_FALSE(validFile(files, path, digestOf(bytes), bytes.size()));
}

}  // namespace
