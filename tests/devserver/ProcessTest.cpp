// The server as a process: command line, start-up, TLS, state across runs, shutdown.

#include "HttpCheck.h"
#include "support/DevServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

using devserver_tests::Answer;
using devserver_tests::get;
using devserver_tests::post;
using testing_support::DevServer;
using testing_support::DevServerOptions;
using testing_support::TempDir;
using Clock = std::chrono::steady_clock;

constexpr const char* kToken = "process-token";

struct Finished {
    int exitStatus = -1;
    std::string output;  // stdout and stderr
};

Finished runServer(const std::string& arguments) {
    TempDir dir;
    const std::string outputFile = dir.path() + "/output";
    const std::string command = "'" + DevServer::executablePath() + "' " + arguments + " >'" + outputFile + "' 2>&1";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, devserver_tests::readFile(outputFile)};
}

TEST(DevServerProcess, BadCommandLineExitsWithStatusTwoAndSaysWhy) {
    const Finished run = runServer("--library /tmp --state /tmp --account a@b:p:1:F:N --port nine");
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.output.find("--port"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("--help"), std::string::npos) << "should point at --help: " << run.output;
}

TEST(DevServerProcess, HelpDescribesEveryFlagAndExitsZero) {
    const Finished run = runServer("--help");
    EXPECT_EQ(run.exitStatus, 0);
    for (const char* flag : {"--library", "--state", "--account", "--token", "--listen", "--port", "--tls-cert",
                             "--tls-key", "--download-base", "--sample-library", "--fault"})
        EXPECT_NE(run.output.find(flag), std::string::npos) << flag;
}

TEST(DevServerProcess, MissingLibraryFolderStopsTheStartWithItsName) {
    try {
        DevServer server(DevServerOptions{.library = "/nonexistent/spinforge-library"});
        FAIL() << "started without a library";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/spinforge-library"), std::string::npos) << e.what();
    }
}

TEST(DevServerProcess, DownloadBaseMakesDownloadUrlsAbsolute) {
    TempDir library;
    DevServer::writeFile(library.path() + "/a.mp3", "a");
    DevServer server({.tokens = {kToken}, .library = library.path(), .downloadBase = "http://127.0.0.2:9000/"});
    const nlohmann::json manifest = get(server.baseUrl(), "/api/client/manifest", kToken).json();
    EXPECT_EQ(manifest["tracks"][0]["download_url"], "http://127.0.0.2:9000/api/client/tracks/1/file");
}

TEST(DevServerProcess, FaultFromTheCommandLineIsActiveFromTheStart) {
    DevServer server({.faults = {R"({"endpoint": "login", "status": 503, "times": 1})"}});
    const std::string body = R"({"email":"dj@example.com","password":"secret","device_name":"d"})";
    EXPECT_EQ(post(server.baseUrl(), "/api/client/login", body).status, 503);
    EXPECT_EQ(post(server.baseUrl(), "/api/client/login", body).status, 200);
}

TEST(DevServerProcess, SampleLibraryFillsAnEmptyFolderAndIsHashedAtStart) {
    DevServer server({.tokens = {kToken}, .extraArgs = {"--sample-library", "3"}});
    const nlohmann::json tracks = get(server.baseUrl(), "/api/client/manifest", kToken).json()["tracks"];
    ASSERT_EQ(tracks.size(), 3u);
    bool nonAscii = false;
    for (const nlohmann::json& track : tracks) {
        const std::string bytes = devserver_tests::readFile(server.libraryPath() + "/" + track["relative_path"].get<std::string>());
        EXPECT_EQ(track["sha256"], devserver_tests::sha256Hex(bytes));
        EXPECT_GE(bytes.size(), 256u * 1024);
        for (unsigned char c : track["relative_path"].get<std::string>()) nonAscii = nonAscii || c >= 0x80;
    }
    EXPECT_TRUE(nonAscii);
    EXPECT_NE(server.stderrText().find("hashing library: 3/3 tracks"), std::string::npos) << server.stderrText();
}

TEST(DevServerProcess, ReportsSurviveARestartOnTheSameStateFolder) {
    TempDir state;
    const std::string stateDir = state.path() + "/nested/state";  // created by the server
    {
        DevServer first({.tokens = {kToken}, .extraArgs = {"--state", stateDir}});
        EXPECT_EQ(post(first.baseUrl(), "/api/client/status", R"({"track_count":5,"synced":false})", kToken).status, 200);
    }
    DevServer second({.extraArgs = {"--state", stateDir}});
    const nlohmann::json reports = second.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["track_count"], 5);
}

TEST(DevServerProcess, ServesHttpsWithTheGivenCertificate) {
    TempDir dir;
    const std::string cert = dir.path() + "/cert.pem", key = dir.path() + "/key.pem";
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 "
                                "-addext subjectAltName=IP:127.0.0.1 -days 1 -keyout " + key + " -out " + cert +
                                " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "the openssl command is not available";
    DevServer server({.tokens = {kToken}, .tlsCert = cert, .tlsKey = key});
    ASSERT_EQ(server.baseUrl(), "https://127.0.0.1:" + std::to_string(server.port()));

    httplib::SSLClient client("127.0.0.1", server.port());
    client.set_ca_cert_path(cert.c_str());
    client.enable_server_certificate_verification(true);
    const auto manifest = client.Get("/api/client/manifest", {{"Authorization", std::string("Bearer ") + kToken}});
    ASSERT_TRUE(manifest) << httplib::to_string(manifest.error());
    EXPECT_EQ(manifest->status, 200);
    EXPECT_NO_THROW(server.counters()) << "control calls must work over HTTPS too";

    httplib::Client plain("http://127.0.0.1:" + std::to_string(server.port()));
    plain.set_read_timeout(std::chrono::seconds(2));
    const auto refused = plain.Get("/api/client/manifest");
    EXPECT_TRUE(!refused || refused->status != 200) << "plain HTTP must not be served on the TLS port";
}

TEST(DevServerProcess, TerminationDuringAStalledDownloadExitsPromptlyAndCleanly) {
    TempDir library;
    DevServer::writeFile(library.path() + "/long.bin", devserver_tests::patternBytes(100 * 1024, 5));
    DevServer server({.tokens = {kToken}, .library = library.path(),
                      .faults = {R"({"endpoint": "download", "stall_after": 1000})"}});
    std::atomic<bool> gotFirstBytes{false};
    std::thread downloader([&] {
        httplib::Client client(server.baseUrl());
        client.set_read_timeout(std::chrono::seconds(30));
        client.Get("/api/client/tracks/1/file", {{"Authorization", std::string("Bearer ") + kToken}},
                   [&](const char*, std::size_t) {
                       gotFirstBytes = true;
                       return true;
                   });
    });
    const auto waitUntil = Clock::now() + std::chrono::seconds(5);
    while (!gotFirstBytes && Clock::now() < waitUntil) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(gotFirstBytes);

    const auto stopping = Clock::now();
    const int status = server.stop();
    const auto took = Clock::now() - stopping;
    downloader.join();
    EXPECT_EQ(status, 0) << server.stderrText();
    EXPECT_LT(took, std::chrono::seconds(2)) << "a stalled download must not hold up shutdown";
}

}  // namespace
