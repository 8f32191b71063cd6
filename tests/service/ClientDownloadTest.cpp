// Track downloads: the body streams to a staging file and replaces the destination only when
// complete; every failure leaves the destination as it was and no staging file behind.
#include "service/ClientFixture.h"

#include "platform/FileError.h"
#include "records/SpinforgeError.h"
#include "service/TransportError.h"

using namespace spinforge;
using namespace testing_support;

namespace {

class Downloads : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        signIn();
        houseUrl = await(client().manifest()).tracks[0].downloadURL;
        destination = scratch.filePath(QStringLiteral("lib/House/One.mp3.spinforge-partial"));
    }
    QByteArray houseBytes() const { return readBytes(library.filePath(QStringLiteral("House/One.mp3"))); }
    void putOldFile() {
        QDir().mkpath(QFileInfo(destination).absolutePath());
        QFile file(destination);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old bytes");
    }
    void expectOldFileAlone() {
        EXPECT_EQ(readBytes(destination), QByteArray("old bytes"));
        EXPECT_EQ(strayFiles(QFileInfo(destination).absolutePath(), {QFileInfo(destination).fileName()}), QStringList());
    }

    QString houseUrl;
    QString destination;
};

TEST_F(Downloads, CreateFoldersAndWriteTheExactBytes) {
    await(client().download(houseUrl, destination));
    EXPECT_EQ(readBytes(destination), houseBytes());
    EXPECT_EQ(strayFiles(QFileInfo(destination).absolutePath(), {QFileInfo(destination).fileName()}), QStringList());
}

TEST_F(Downloads, ReplaceAnExistingFile) {
    putOldFile();
    await(client().download(houseUrl, destination));
    EXPECT_EQ(readBytes(destination), houseBytes());
}

TEST_F(Downloads, RefusedNeverReadTheErrorBody) {
    putOldFile();
    server->setFault(R"({"endpoint":"download","status":403,"error":"Not your track."})");
    try {
        await(client().download(houseUrl, destination));
        FAIL();
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.errorDescription(), QStringLiteral("Server request failed (403)."));
    }
    expectOldFileAlone();

    server->reset();
    server->setFault(R"({"endpoint":"download","status":401,"error":"Token revoked."})");
    try {
        await(client().download(houseUrl, destination));
        FAIL();
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.kind(), SpinforgeError::Kind::signedOut);
    }
    expectOldFileAlone();
}

TEST_F(Downloads, DroppedConnectionFailsAndKeepsTheOldFile) {
    putOldFile();
    server->setFault(R"({"endpoint":"download","drop_after":100000})");
    try {
        await(client().download(houseUrl, destination));
        FAIL();
    } catch (const TransportError& error) {
        const QString text = QString::fromUtf8(error.what());
        EXPECT_TRUE(text.startsWith(QStringLiteral("The download from 127.0.0.1:"))) << error.what();
    }
    expectOldFileAlone();
}

TEST_F(Downloads, StalledTransferTimesOutAndKeepsTheOldFile) {
    putOldFile();
    useShortTimeouts(std::chrono::milliseconds(700));
    server->setFault(R"({"endpoint":"download","stall_after":65536,"stall_seconds":30})");
    try {
        await(client().download(houseUrl, destination));
        FAIL();
    } catch (const TransportError& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).endsWith(QStringLiteral(" broke off: no data for 700 ms"))) << error.what();
    }
    expectOldFileAlone();
}

TEST_F(Downloads, SlowButSteadyTransferIsNotAnIdleTimeout) {
    useShortTimeouts(std::chrono::milliseconds(800));
    server->setFault(R"({"endpoint":"download","bytes_per_second":200000})");  // about 1.5 s in all
    await(client().download(houseUrl, destination));
    EXPECT_EQ(readBytes(destination), houseBytes());
}

TEST_F(Downloads, WithoutATokenFailSignedOutWithoutAnyRequest) {
    keyring.erase(QStringLiteral("com.spinforge.mac"), QStringLiteral("device-token"));
    const int before = server->counters()["download"];
    EXPECT_THROW(await(client().download(houseUrl, destination)), SpinforgeError);
    EXPECT_EQ(server->counters()["download"], before);
    EXPECT_FALSE(QFileInfo::exists(destination));
}

TEST_F(Downloads, AbsoluteUrlOnAnotherServerIsFetchedThereWithTheToken) {
    DevServerOptions options;
    options.tokens = {kDemoToken};
    options.library = library.path().toStdString();
    DevServer other(options);
    const QString absolute = QString::fromStdString(other.baseUrl()) + houseUrl;
    await(client().download(absolute, destination));
    EXPECT_EQ(readBytes(destination), houseBytes());
    EXPECT_EQ(other.counters()["download"], 1);
    EXPECT_EQ(other.counters()["last_authorization"], std::string("Bearer ") + kDemoToken);
    EXPECT_EQ(server->counters()["download"], 0);
}

TEST_F(Downloads, NeverReadLocalFilesForAReferenceThatIsNotAWebUrl) {
    try {
        await(client().download(QStringLiteral("file:///etc/hostname"), destination));
        FAIL();
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.kind(), SpinforgeError::Kind::invalidResponse);
    }
    EXPECT_FALSE(QFileInfo::exists(destination));
}

TEST_F(Downloads, AFolderThatCannotBeCreatedIsAFileError) {
    putOldFile();
    const QString underAFile = destination + QStringLiteral("/inside/x.mp3");
    try {
        await(client().download(houseUrl, underAFile));
        FAIL();
    } catch (const FileError& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).startsWith(QStringLiteral("Could not create the folder"))) << error.what();
    }
}

}  // namespace
