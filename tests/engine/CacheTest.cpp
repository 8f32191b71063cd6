// The local library against the development service: what is fetched, what is kept, and that a
// cached file is only ever replaced by a verified one.

#include "engine/EngineFixture.h"
#include "records/SpinforgeError.h"

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class Cache : public EngineFixture {
protected:
    void SetUp() override {
        serve({{"House/One.mp3", std::string(300000, 'a')}, {"Deep/Sub/Folder/Two.mp3", std::string(70000, 'b')}});
        manifest = fetchManifest();
    }
    const spinforge::Track& one() { return track(manifest, "House/One.mp3"); }
    int downloads() { return server->counters()["download"].get<int>(); }
    QStringList leftovers(const QString& folder) {
        return QDir(folder).entryList({"*.spinforge-partial", ".*"}, QDir::Files | QDir::Hidden);
    }

    spinforge::Manifest manifest;
};

TEST_F(Cache, DownloadsAMissingTrackIntoItsSubfoldersAndThenLeavesItBe) {
    const spinforge::Track& two = track(manifest, "Deep/Sub/Folder/Two.mp3");
    EXPECT_TRUE(await(engine().cache(two)));
    EXPECT_EQ(fileBytes(cached("Deep/Sub/Folder/Two.mp3")), QByteArray(70000, 'b'));
    EXPECT_TRUE(leftovers(cached("Deep/Sub/Folder")).isEmpty());

    EXPECT_FALSE(await(engine().cache(two)));
    EXPECT_EQ(downloads(), 1);  // the valid copy cost no request
}

TEST_F(Cache, ReplacesADamagedCopyOfTheRightSize) {
    writeBytes(cached("House/One.mp3"), QByteArray(300000, 'z'));
    EXPECT_TRUE(await(engine().cache(one())));
    EXPECT_EQ(fileBytes(cached("House/One.mp3")), QByteArray(300000, 'a'));
    EXPECT_EQ(downloads(), 1);
}

TEST_F(Cache, RemovesALeftoverPartialBeforeFetchingAgain) {
    writeBytes(cached("House/One.mp3.spinforge-partial"), "half of an old download");
    EXPECT_TRUE(await(engine().cache(one())));
    EXPECT_EQ(fileBytes(cached("House/One.mp3")), QByteArray(300000, 'a'));
    EXPECT_FALSE(QFile::exists(cached("House/One.mp3.spinforge-partial")));
}

TEST_F(Cache, WrongBytesFromTheServiceFailTheChecksumAndKeepTheOldFile) {
    writeBytes(cached("House/One.mp3"), "old copy");
    server->setFault(R"({"endpoint": "download", "wrong_bytes": true})");
    try {
        await(engine().cache(one()));
        FAIL() << "expected a checksum failure";
    } catch (const spinforge::SpinforgeError& error) {
        EXPECT_EQ(error.kind(), spinforge::SpinforgeError::Kind::checksum);
        EXPECT_STREQ(error.what(), "Integrity check failed for One.mp3.");
    }
    EXPECT_EQ(fileBytes(cached("House/One.mp3")), QByteArray("old copy"));
    EXPECT_TRUE(leftovers(cached("House")).isEmpty());
}

TEST_F(Cache, ABrokenDownloadLeavesTheOldFileAndNoPartial) {
    writeBytes(cached("House/One.mp3"), "old copy");
    writeBytes(cached("House/One.mp3.spinforge-partial"), "leftover");
    server->setFault(R"({"endpoint": "download", "drop_after": 100000})");
    EXPECT_THROW(await(engine().cache(one())), std::exception);
    EXPECT_EQ(fileBytes(cached("House/One.mp3")), QByteArray("old copy"));
    EXPECT_TRUE(leftovers(cached("House")).isEmpty());
}

TEST_F(Cache, AMoveThatFailsNamesTheTrackAndKeepsTheOldFile) {
    writeBytes(cached("House/One.mp3"), "old copy");
    files.failOn(Op::move, "House/One.mp3", EACCES);
    EXPECT_EQ(failureOf([&] { await(engine().cache(one())); }),
              "Could not move House/One.mp3 into place in the library: Permission denied");
    EXPECT_EQ(fileBytes(cached("House/One.mp3")), QByteArray("old copy"));
}

TEST_F(Cache, RefusesAPathThatWouldLeaveTheLibrary) {
    for (const QString& path : {QStringLiteral("../escape.mp3"), QStringLiteral("/etc/x"), QStringLiteral("a//b")}) {
        spinforge::Track unsafe = one();
        unsafe.relativePath = path;
        EXPECT_THROW(await(engine().cache(unsafe)), std::invalid_argument) << path.toStdString();
    }
    EXPECT_EQ(downloads(), 0);
    EXPECT_FALSE(QFile::exists(root.filePath("data/Spinforge/escape.mp3")));
}

}  // namespace
