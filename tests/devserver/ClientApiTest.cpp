// The client API as the agent sees it, against the real server process.

#include "HttpCheck.h"
#include "support/DevServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

namespace {

using devserver_tests::Answer;
using devserver_tests::get;
using devserver_tests::patternBytes;
using devserver_tests::post;
using devserver_tests::sha256Hex;
using testing_support::DevServer;
using testing_support::TempDir;

constexpr const char* kToken = "preissued-token";
constexpr const char* kBadToken = R"({"error":"Invalid device token."})";

struct LibraryFile {
    std::string path;
    std::string bytes;
};

// In byte order of their paths, as the manifest must list them.
const std::vector<LibraryFile>& libraryFiles() {
    static const std::vector<LibraryFile> files{
        {"Café Sessions/Ünïcode - Träck.mp3", patternBytes(90 * 1024, 1)},
        {"Empty - Silence.mp3", ""},
        {"House/Artist A - One.mp3", patternBytes(200 * 1024 + 3, 2)},
        {"Loose.wav", patternBytes(1000, 3)},
    };
    return files;
}

class ClientApi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = std::make_unique<TempDir>();
        for (const LibraryFile& file : libraryFiles()) DevServer::writeFile(library_->path() + "/" + file.path, file.bytes);
        DevServer::writeFile(library_->path() + "/.hidden.mp3", "hidden");
        DevServer::writeFile(library_->path() + "/.git/config", "hidden");
        server_ = std::make_unique<DevServer>(testing_support::DevServerOptions{
            .accounts = {"dj@example.com:secret:7:Demo Set:DJ Demo", "vj@example.com:pw2:9:Visuals:VJ: Two"},
            .tokens = {kToken},
            .library = library_->path()});
    }
    static void TearDownTestSuite() {
        server_.reset();
        library_.reset();
    }
    void SetUp() override { server_->reset(); }

    static std::string url() { return server_->baseUrl(); }

    static Answer login(const std::string& email, const std::string& password) {
        return post(url(), "/api/client/login",
                    nlohmann::json{{"email", email}, {"password", password}, {"device_name", "Booth Laptop"}}.dump());
    }

    static std::unique_ptr<TempDir> library_;
    static std::unique_ptr<DevServer> server_;
};

std::unique_ptr<TempDir> ClientApi::library_;
std::unique_ptr<DevServer> ClientApi::server_;

TEST_F(ClientApi, EachLoginIssuesAFreshTokenAndTheNextDeviceId) {
    const Answer first = login("dj@example.com", "secret");
    const Answer second = login("dj@example.com", "secret");
    ASSERT_EQ(first.status, 200) << first.body;
    ASSERT_EQ(second.status, 200) << second.body;
    const std::string token = first.json()["token"];
    EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{64}"))) << token;
    EXPECT_NE(token, second.json()["token"]);
    EXPECT_EQ(second.json()["device_id"].get<int>(), first.json()["device_id"].get<int>() + 1);
    EXPECT_EQ(first.json()["display_name"], "DJ Demo");
    EXPECT_EQ(get(url(), "/api/client/manifest", token).status, 200);
}

TEST_F(ClientApi, LoginRefusesWrongCredentials) {
    for (const auto& [email, password] : {std::pair{"dj@example.com", "wrong"}, std::pair{"nobody@example.com", "secret"},
                                          std::pair{"vj@example.com", "secret"}}) {
        const Answer answer = login(email, password);
        EXPECT_EQ(answer.status, 401) << email;
        EXPECT_EQ(answer.body, R"({"error":"Invalid e-mail or password."})");
    }
}

TEST_F(ClientApi, LoginWithMalformedBodyIsBadRequest) {
    for (const char* body : {"", "{", R"(["dj@example.com"])", R"({"email": "dj@example.com", "password": "secret"})",
                             R"({"email": 7, "password": "secret", "device_name": "x"})"}) {
        const Answer answer = post(url(), "/api/client/login", body);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_TRUE(answer.json()["error"].is_string()) << body;
    }
}

TEST_F(ClientApi, ClientEndpointsNeedAKnownBearerToken) {
    for (const char* header : {"", "Bearer", "Bearer unknown", "Basic preissued-token"}) {
        httplib::Client client(url());
        httplib::Headers headers;
        if (*header) headers.emplace("Authorization", header);
        const auto manifest = client.Get("/api/client/manifest", headers);
        const auto download = client.Get("/api/client/tracks/1/file", headers);
        const auto status = client.Post("/api/client/status", headers, R"({"track_count":1,"synced":true})", "application/json");
        for (const auto* result : {&manifest, &download, &status}) {
            ASSERT_TRUE(*result) << header;
            EXPECT_EQ((*result)->status, 401) << header;
            EXPECT_EQ((*result)->body, kBadToken) << header;
        }
    }
    httplib::Client client(url());
    const auto lowerCaseScheme = client.Get("/api/client/manifest", {{"Authorization", "bearer preissued-token"}});
    ASSERT_TRUE(lowerCaseScheme);
    EXPECT_EQ(lowerCaseScheme->status, 200);
}

TEST_F(ClientApi, ManifestListsTheVisibleFilesInByteOrderWithTheirDigests) {
    const Answer answer = get(url(), "/api/client/manifest", kToken);
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.contentType, "application/json; charset=utf-8");
    const nlohmann::json manifest = answer.json();
    EXPECT_EQ(manifest["version"], 1);
    EXPECT_TRUE(std::regex_match(manifest["generated_at"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(manifest["profile"], (nlohmann::json{{"id", 7}, {"display_name", "DJ Demo"}, {"folder", "Demo Set"}}));

    const nlohmann::json& tracks = manifest["tracks"];
    ASSERT_EQ(tracks.size(), libraryFiles().size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const LibraryFile& file = libraryFiles()[i];
        const nlohmann::json& track = tracks[i];
        const int id = int(i) + 1;
        EXPECT_EQ(track["id"], id);
        EXPECT_EQ(track["provider_id"], "dev-" + std::to_string(id));
        EXPECT_EQ(track["relative_path"], file.path);
        EXPECT_EQ(track["filename"], std::filesystem::path(file.path).filename().string());
        EXPECT_EQ(track["sha256"], sha256Hex(file.bytes));
        EXPECT_EQ(track["byte_size"], file.bytes.size());
        EXPECT_EQ(track["source"], "devserver");
        EXPECT_EQ(track["download_url"], "/api/client/tracks/" + std::to_string(id) + "/file");
    }
    EXPECT_EQ(tracks[0]["artist"], "Ünïcode");
    EXPECT_EQ(tracks[0]["title"], "Träck");
    EXPECT_EQ(tracks[3]["artist"], "Unknown Artist");
    EXPECT_EQ(tracks[3]["title"], "Loose");
}

TEST_F(ClientApi, ManifestProfileBelongsToTheTokensAccount) {
    const std::string token = login("vj@example.com", "pw2").json()["token"];
    const nlohmann::json manifest = get(url(), "/api/client/manifest", token).json();
    EXPECT_EQ(manifest["profile"], (nlohmann::json{{"id", 9}, {"display_name", "VJ: Two"}, {"folder", "Visuals"}}));
    EXPECT_EQ(manifest["tracks"].size(), libraryFiles().size()) << "all accounts see the same library";
}

TEST_F(ClientApi, DownloadSendsTheExactBytesWithTheirLength) {
    for (std::size_t i = 0; i < libraryFiles().size(); ++i) {
        const LibraryFile& file = libraryFiles()[i];
        const Answer answer = get(url(), "/api/client/tracks/" + std::to_string(i + 1) + "/file", kToken);
        EXPECT_EQ(answer.status, 200) << file.path;
        EXPECT_EQ(answer.contentLength, std::to_string(file.bytes.size())) << file.path;
        EXPECT_TRUE(answer.body == file.bytes) << file.path;
    }
}

TEST_F(ClientApi, DownloadOfAnUnknownTrackIsNotFound) {
    for (const char* id : {"0", "5", "99999999999999999999", "abc", "-1"}) {
        const Answer answer = get(url(), std::string("/api/client/tracks/") + id + "/file", kToken);
        EXPECT_EQ(answer.status, 404) << id;
        EXPECT_EQ(answer.body, R"({"error":"No such track."})") << id;
    }
}

TEST_F(ClientApi, RangeRequestsGetPartOfATrackButEveryOtherAnswerWhole) {
    httplib::Client client(url());
    const auto ranged = [&](const std::string& path, const std::string& token, const char* range) {
        httplib::Headers headers{{"Range", range}};
        if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
        return client.Get(path.c_str(), headers);
    };
    const auto part = ranged("/api/client/tracks/3/file", kToken, "bytes=10-19");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_TRUE(part->body == libraryFiles()[2].bytes.substr(10, 10));

    const auto beyond = ranged("/api/client/tracks/3/file", kToken, "bytes=999999999-");
    EXPECT_EQ(beyond->status, 416);
    EXPECT_EQ(beyond->get_header_value("Content-Range"), "bytes */" + std::to_string(libraryFiles()[2].bytes.size()));
    EXPECT_TRUE(nlohmann::json::accept(beyond->body)) << beyond->body;

    EXPECT_EQ(ranged("/api/client/tracks/3/file", "", "bytes=10-19")->body, kBadToken);
    EXPECT_EQ(ranged("/api/client/tracks/99/file", kToken, "bytes=1-2")->body, R"({"error":"No such track."})");
    const auto manifest = ranged("/api/client/manifest", kToken, "bytes=0-3");
    EXPECT_EQ(manifest->status, 200);
    EXPECT_EQ(nlohmann::json::parse(manifest->body)["tracks"].size(), libraryFiles().size());
}

TEST_F(ClientApi, StatusIsRecordedInMemoryAndInTheStateFile) {
    const std::string body = R"({"track_count": 4, "synced": true})";
    const Answer answer = post(url(), "/api/client/status", body, kToken);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), nlohmann::json({{"ok", true}}));

    const nlohmann::json last = server_->reports().back();
    EXPECT_EQ(last["account"], "dj@example.com");
    EXPECT_EQ(last["track_count"], 4);
    EXPECT_EQ(last["synced"], true);
    EXPECT_EQ(last["body"], body);
    EXPECT_TRUE(std::regex_match(last["at"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));

    const std::string lines = devserver_tests::readFile(server_->statePath() + "/reports.jsonl");
    const std::string lastLine = lines.substr(lines.rfind('\n', lines.size() - 2) + 1);
    EXPECT_EQ(nlohmann::json::parse(lastLine), last);
}

TEST_F(ClientApi, MalformedStatusIsRecordedRawButRefused) {
    const std::string body = R"({"track_count": "four"})";
    const Answer answer = post(url(), "/api/client/status", body, kToken);
    EXPECT_EQ(answer.status, 400);
    const nlohmann::json last = server_->reports().back();
    EXPECT_EQ(last["body"], body);
    EXPECT_TRUE(last["track_count"].is_null());
    EXPECT_TRUE(last["synced"].is_null());
}

TEST_F(ClientApi, StatusWithABadTokenIsNotRecorded) {
    const std::size_t before = server_->reports().size();
    EXPECT_EQ(post(url(), "/api/client/status", R"({"track_count": 1, "synced": true})", "nope").status, 401);
    EXPECT_EQ(server_->reports().size(), before);
}

TEST_F(ClientApi, CountersCountEveryRequestAlsoRefusedOnesUntilReset) {
    login("dj@example.com", "wrong");
    get(url(), "/api/client/manifest");
    get(url(), "/api/client/tracks/3/file", kToken);
    get(url(), "/api/client/tracks/3/file", "bad-token");
    get(url(), "/api/client/tracks/1/file", kToken);
    get(url(), "/api/client/tracks/77/file", kToken);
    post(url(), "/api/client/status", "{}", kToken);
    get(url(), "/");
    get(url(), "/api/client/manifest", "last-one");

    const nlohmann::json counters = server_->counters();
    EXPECT_EQ(counters["login"], 1);
    EXPECT_EQ(counters["manifest"], 2);
    EXPECT_EQ(counters["download"], 4);
    EXPECT_EQ(counters["status"], 1);
    EXPECT_EQ(counters["dashboard"], 1);
    EXPECT_EQ(counters["download_by_track"],
              (nlohmann::json{{"House/Artist A - One.mp3", 2}, {"Café Sessions/Ünïcode - Träck.mp3", 1}}));
    EXPECT_EQ(counters["last_authorization"], "Bearer last-one");

    server_->reset();
    const nlohmann::json cleared = server_->counters();
    for (const char* key : {"login", "manifest", "download", "status", "dashboard"}) EXPECT_EQ(cleared[key], 0) << key;
    EXPECT_TRUE(cleared["download_by_track"].empty());
    EXPECT_EQ(cleared["last_authorization"], "");
}

TEST_F(ClientApi, DashboardShowsTheLibraryAndOnlyTheLatestTwentyReportsNewestFirst) {
    for (int i = 1; i <= 22; ++i)
        post(url(), "/api/client/status", R"({"track_count": )" + std::to_string(9000 + i) + R"(, "synced": true})",
             kToken);
    const Answer page = get(url(), "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.contentType.find("text/html"), std::string::npos);
    EXPECT_NE(page.body.find("Café Sessions/Ünïcode - Träck.mp3"), std::string::npos);
    EXPECT_NE(page.body.find(sha256Hex(libraryFiles()[2].bytes).substr(0, 12)), std::string::npos);
    const auto at = [&](int n) { return page.body.find("&quot;track_count&quot;: " + std::to_string(9000 + n)); };
    EXPECT_EQ(at(1), std::string::npos);
    EXPECT_EQ(at(2), std::string::npos);
    ASSERT_NE(at(3), std::string::npos);
    EXPECT_LT(at(22), at(21));
    EXPECT_LT(at(4), at(3));
}

TEST_F(ClientApi, UnknownPathsAnswerJsonNotFound) {
    const Answer answer = get(url(), "/api/client/nothing");
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.json()["error"], "No such endpoint.");
}

}  // namespace
