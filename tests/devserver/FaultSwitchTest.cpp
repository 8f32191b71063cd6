// Each fault switch as a raw HTTP client sees it: status, headers and the bytes that arrive.

#include "HttpCheck.h"
#include "support/DevServer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using devserver_tests::Answer;
using devserver_tests::get;
using devserver_tests::patternBytes;
using devserver_tests::post;
using testing_support::DevServer;
using testing_support::TempDir;
using Clock = std::chrono::steady_clock;

constexpr const char* kToken = "fault-token";
constexpr const char* kBig = "/api/client/tracks/1/file";    // big.bin
constexpr const char* kSmall = "/api/client/tracks/2/file";  // small.bin

const std::string& bigBytes() {
    static const std::string bytes = patternBytes(300 * 1024 + 1, 11);
    return bytes;
}
const std::string& smallBytes() {
    static const std::string bytes = patternBytes(12 * 1024, 12);
    return bytes;
}

std::size_t differingBytes(const std::string& a, const std::string& b) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) count += a[i] != b[i];
    return count;
}

class FaultSwitches : public testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = std::make_unique<TempDir>();
        DevServer::writeFile(library_->path() + "/big.bin", bigBytes());
        DevServer::writeFile(library_->path() + "/small.bin", smallBytes());
        server_ = std::make_unique<DevServer>(testing_support::DevServerOptions{.tokens = {kToken}, .library = library_->path()});
    }
    static void TearDownTestSuite() {
        server_.reset();
        library_.reset();
    }
    void SetUp() override { server_->reset(); }

    static std::string url() { return server_->baseUrl(); }
    static Answer goodLogin() {
        return post(url(), "/api/client/login", R"({"email":"dj@example.com","password":"secret","device_name":"d"})");
    }

    static std::unique_ptr<TempDir> library_;
    static std::unique_ptr<DevServer> server_;
};

std::unique_ptr<TempDir> FaultSwitches::library_;
std::unique_ptr<DevServer> FaultSwitches::server_;

TEST_F(FaultSwitches, RefusalWithErrorReplacesTheNormalAnswer) {
    server_->setFault(R"({"endpoint": "login", "status": 503, "error": "Maintenance"})");
    const Answer answer = goodLogin();
    EXPECT_EQ(answer.status, 503);
    EXPECT_EQ(answer.contentType, "application/json; charset=utf-8");
    EXPECT_EQ(answer.json(), nlohmann::json({{"error", "Maintenance"}}));
}

TEST_F(FaultSwitches, RefusalWithRawBodyUsesItsContentType) {
    server_->setFault(R"({"endpoint": "manifest", "status": 200, "body": "<html>portal</html>"})");
    server_->setFault(R"({"endpoint": "status", "status": 502, "body": "bad gateway", "content_type": "text/plain"})");
    const Answer manifest = get(url(), "/api/client/manifest", kToken);
    EXPECT_EQ(manifest.status, 200);
    EXPECT_EQ(manifest.contentType, "text/html");
    EXPECT_EQ(manifest.body, "<html>portal</html>");
    const Answer status = post(url(), "/api/client/status", R"({"track_count":1,"synced":true})", kToken);
    EXPECT_EQ(status.status, 502);
    EXPECT_EQ(status.contentType, "text/plain");
    EXPECT_EQ(status.body, "bad gateway");
}

TEST_F(FaultSwitches, DownloadRefusalSendsNoFileAndComesBeforeTheTokenCheck) {
    server_->setFault(R"({"endpoint": "download", "status": 500})");
    const Answer withToken = get(url(), kSmall, kToken);
    EXPECT_EQ(withToken.status, 500);
    EXPECT_EQ(withToken.body, "");
    EXPECT_EQ(get(url(), kSmall).status, 500);
}

TEST_F(FaultSwitches, TimesLimitsHowOftenAFaultAnswers) {
    server_->setFault(R"({"endpoint": "manifest", "status": 500, "times": 2})");
    EXPECT_EQ(get(url(), "/api/client/manifest", kToken).status, 500);
    EXPECT_EQ(get(url(), "/api/client/manifest", kToken).status, 500);
    EXPECT_EQ(get(url(), "/api/client/manifest", kToken).status, 200);
}

TEST_F(FaultSwitches, ResetClearsFaults) {
    server_->setFault(R"({"endpoint": "login", "status": 500})");
    EXPECT_EQ(goodLogin().status, 500);
    server_->reset();
    EXPECT_EQ(goodLogin().status, 200);
}

TEST_F(FaultSwitches, InvalidFaultIsRefusedWithAReason) {
    const Answer answer = post(url(), "/_dev/fault", R"({"endpoint": "download", "drop_afte": 5})");
    EXPECT_EQ(answer.status, 400);
    EXPECT_NE(answer.json()["error"].get<std::string>().find("drop_afte"), std::string::npos);
    EXPECT_THROW(server_->setFault("{}"), std::runtime_error);
    EXPECT_EQ(get(url(), kSmall, kToken).status, 200) << "a refused fault must not be installed";
}

TEST_F(FaultSwitches, WrongBytesChangesOneMiddleByteAndKeepsTheLength) {
    server_->setFault(R"({"endpoint": "download", "wrong_bytes": true})");
    const Answer answer = get(url(), kBig, kToken);
    EXPECT_EQ(answer.error, httplib::Error::Success);
    EXPECT_EQ(answer.contentLength, std::to_string(bigBytes().size()));
    ASSERT_EQ(answer.body.size(), bigBytes().size());
    EXPECT_EQ(differingBytes(answer.body, bigBytes()), 1u);
    EXPECT_NE(answer.body[bigBytes().size() / 2], bigBytes()[bigBytes().size() / 2]);
}

TEST_F(FaultSwitches, TrackLimitsADownloadFaultToThatTrack) {
    server_->setFault(R"({"endpoint": "download", "wrong_bytes": true, "track": "small.bin"})");
    EXPECT_TRUE(get(url(), kBig, kToken).body == bigBytes());
    EXPECT_EQ(differingBytes(get(url(), kSmall, kToken).body, smallBytes()), 1u);
}

TEST_F(FaultSwitches, DropAfterPromisesTheWholeFileButSendsOnlyNBytes) {
    server_->setFault(R"({"endpoint": "download", "drop_after": 70000, "times": 1})");
    const auto started = Clock::now();
    const Answer dropped = get(url(), kBig, kToken, std::chrono::seconds(10));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << "the connection must close, not go quiet";
    EXPECT_NE(dropped.error, httplib::Error::Success);
    EXPECT_EQ(dropped.contentLength, std::to_string(bigBytes().size()));
    EXPECT_EQ(dropped.body, bigBytes().substr(0, 70000));
    EXPECT_TRUE(get(url(), kBig, kToken).body == bigBytes()) << "the fault was for one use only";
}

TEST_F(FaultSwitches, StallAfterKeepsTheConnectionSilentPastAShortReadTimeout) {
    server_->setFault(R"({"endpoint": "download", "stall_after": 5000, "stall_seconds": 3})");
    const auto started = Clock::now();
    const Answer stalled = get(url(), kBig, kToken, std::chrono::milliseconds(300));
    EXPECT_EQ(stalled.error, httplib::Error::Read);
    EXPECT_EQ(stalled.body, bigBytes().substr(0, 5000));
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(290));
}

TEST_F(FaultSwitches, ThrottleSendsTheWholeBodyNoFasterThanTheRate) {
    server_->setFault(R"({"endpoint": "download", "bytes_per_second": 20480})");
    const auto started = Clock::now();
    const Answer throttled = get(url(), kSmall, kToken);  // 12 KiB at 20 KiB/s: at least 0.6 s
    const auto elapsed = Clock::now() - started;
    EXPECT_TRUE(throttled.body == smallBytes());
    EXPECT_GE(elapsed, std::chrono::milliseconds(550));
}

TEST_F(FaultSwitches, FaultedDownloadsAreCountedPerTrack) {
    server_->setFault(R"({"endpoint": "download", "status": 503, "track": "small.bin"})");
    get(url(), kSmall, kToken);
    get(url(), kSmall, kToken);
    get(url(), kBig, kToken);
    const nlohmann::json counters = server_->counters();
    EXPECT_EQ(counters["download"], 3);
    EXPECT_EQ(counters["download_by_track"], (nlohmann::json{{"small.bin", 2}, {"big.bin", 1}}));
}

}  // namespace
