// The service misbehaving: refusals in every shape, manifests that don't decode, downloads that
// are wrong, cut, stalled or merely slow, and a certificate nobody trusts.

#include "faults/FaultMatrix.h"
#include "support/Certificates.h"

#include <QTcpServer>
#include <httplib.h>

using namespace testing_support;

namespace {

class ServiceFaults : public FaultMatrix {
protected:
    // The manifest the service sends now, as JSON, for a case to spoil.
    nlohmann::json manifestJson() {
        httplib::Client client("127.0.0.1", server->port());
        const httplib::Result reply =
            client.Get("/api/client/manifest", {{"Authorization", std::string("Bearer ") + kToken}});
        if (!reply || reply->status != 200) throw std::runtime_error("no manifest from the development service");
        return nlohmann::json::parse(reply->body);
    }
    // The manifest fetch answered with these bytes and status 200.
    void serveManifestBody(const std::string& body) {
        server->setFault(nlohmann::json{{"endpoint", "manifest"}, {"status", 200}, {"body", body},
                                        {"content_type", "application/json"}}.dump());
    }
    void refuse(const std::string& endpoint, int status, const nlohmann::json& answer, const char* track = nullptr) {
        nlohmann::json fault{{"endpoint", endpoint}, {"status", status}};
        fault.update(answer);
        if (track) fault["track"] = track;
        server->setFault(fault.dump());
    }
};

const nlohmann::json kHtml{{"body", "<html><body><h1>Server Error</h1><p>nginx</p></body></html>"}};
const nlohmann::json kEmpty{{"body", ""}};

TEST_F(ServiceFaults, ConnectionRefused) {
    runCase({.order = 1, .fault = "Connection refused (nothing listens at the address)",
             .inject = [&] {
                 QTcpServer probe;
                 ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
                 const quint16 port = probe.serverPort();
                 probe.close();
                 settings.setServerURL(QStringLiteral("http://127.0.0.1:%1").arg(port));
             },
             .clear = [&] { settings.setServerURL(QString::fromStdString(server->baseUrl())); },
             .message = "Could not reach 127.0.0.1:PORT: Connection refused"});
}

TEST_F(ServiceFaults, Unauthorized) {
    runCase({.order = 2, .fault = "401 with an \"error\" text",
             .inject = [&] { refuse("manifest", 401, {{"error", "This computer was signed out on the dashboard."}}); },
             .message = "This computer was signed out on the dashboard."});
}

TEST_F(ServiceFaults, UnauthorizedWithoutText) {
    runCase({.order = 3, .fault = "401 with an empty body", .inject = [&] { refuse("manifest", 401, kEmpty); },
             .message = "Sign in to this Mac first."});
}

TEST_F(ServiceFaults, ForbiddenHtml) {
    runCase({.order = 4, .fault = "403 with an HTML page (manifest)", .inject = [&] { refuse("manifest", 403, kHtml); },
             .message = "Server request failed (403)."});
}

TEST_F(ServiceFaults, ForbiddenJson) {
    runCase({.order = 5, .fault = "403 with a JSON \"error\" (manifest)",
             .inject = [&] { refuse("manifest", 403, {{"error", "Your subscription has ended."}}); }, .message = "Your subscription has ended."});
}

TEST_F(ServiceFaults, ForbiddenEmpty) {
    runCase({.order = 6, .fault = "403 with an empty body (manifest)", .inject = [&] { refuse("manifest", 403, kEmpty); },
             .message = "Server request failed (403)."});
}

TEST_F(ServiceFaults, NotFoundHtml) {
    runCase({.order = 7, .fault = "404 with an HTML page (download of b.mp3)",
             .inject = [&] { refuse("download", 404, kHtml, "House/b.mp3"); }, .message = "Could not download House/b.mp3: server request failed (404)."});
}

TEST_F(ServiceFaults, NotFoundJson) {
    runCase({.order = 8, .fault = "404 with a JSON \"error\" (download of b.mp3)",
             .inject = [&] { refuse("download", 404, {{"error", "This track was removed."}}, "House/b.mp3"); },
             .message = "Could not download House/b.mp3: server request failed (404)."});
}

TEST_F(ServiceFaults, NotFoundEmpty) {
    runCase({.order = 9, .fault = "404 with an empty body (download of b.mp3)",
             .inject = [&] { refuse("download", 404, kEmpty, "House/b.mp3"); }, .message = "Could not download House/b.mp3: server request failed (404)."});
}

TEST_F(ServiceFaults, ServerErrorHtml) {
    runCase({.order = 10, .fault = "500 with an HTML page (manifest)", .inject = [&] { refuse("manifest", 500, kHtml); },
             .message = "Server request failed (500)."});
}

TEST_F(ServiceFaults, ServerErrorJson) {
    runCase({.order = 11, .fault = "500 with a JSON \"error\" (manifest)",
             .inject = [&] { refuse("manifest", 500, {{"error", "The library is being rebuilt."}}); }, .message = "The library is being rebuilt."});
}

TEST_F(ServiceFaults, ServerErrorEmpty) {
    runCase({.order = 12, .fault = "500 with an empty body (manifest)", .inject = [&] { refuse("manifest", 500, kEmpty); },
             .message = "Server request failed (500)."});
}

TEST_F(ServiceFaults, ManifestNotJson) {
    runCase({.order = 13, .fault = "A manifest that is not JSON (200 with a captive portal's page)",
             .inject = [&] { serveManifestBody("<html><body>Please log in to the hotel Wi-Fi</body></html>"); },
             .message = "The server's manifest is invalid: it is not JSON (error at byte 1)"});
}

TEST_F(ServiceFaults, ManifestTruncated) {
    runCase({.order = 14, .fault = "A truncated manifest (the first half of the real one)",
             .inject = [&] {
                 const std::string whole = manifestJson().dump();
                 serveManifestBody(whole.substr(0, whole.size() / 2));
             },
             .message = "The server's manifest is invalid: it is not JSON (error at byte 617)"});
}

TEST_F(ServiceFaults, ManifestWithOneUnsafeTrack) {
    runCase({.order = 15, .fault = "A manifest with one bad track (a path leaving the library: ../../.profile)",
             .inject = [&] {
                 nlohmann::json manifest = manifestJson();
                 manifest["tracks"][2]["relative_path"] = "../../.profile";
                 serveManifestBody(manifest.dump());
             },
             .message = "The server's manifest is invalid: tracks[2].relative_path \"../../.profile\" has a '..' component"});
}

TEST_F(ServiceFaults, ManifestWithOneTrackMissingItsDigest) {
    runCase({.order = 16, .fault = "A manifest with one bad track (no sha256)",
             .inject = [&] {
                 nlohmann::json manifest = manifestJson();
                 manifest["tracks"][3].erase("sha256");
                 serveManifestBody(manifest.dump());
             },
             .message = "The server's manifest is invalid: tracks[3].sha256 is missing"});
}

TEST_F(ServiceFaults, WrongBytes) {
    runCase({.order = 17, .fault = "Wrong bytes for b.mp3 (one byte changed, same length)",
             .inject = [&] { server->setFault(R"({"endpoint": "download", "wrong_bytes": true, "track": "House/b.mp3"})"); },
             .message = "Integrity check failed for b.mp3."});
}

TEST_F(ServiceFaults, ConnectionDroppedMidDownload) {
    runCase({.order = 18, .fault = "Connection dropped after 40 KiB of b.mp3",
             .inject = [&] { server->setFault(R"({"endpoint": "download", "drop_after": 40960, "track": "House/b.mp3"})"); },
             .message = "Could not download House/b.mp3: the download from 127.0.0.1:PORT ended early: 40960 of 163840 bytes arrived"});
}

TEST_F(ServiceFaults, StallMidDownload) {
    runCase({.order = 19, .fault = "Download of b.mp3 stalls after 40 KiB (idle timeout 1.5 s)",
             .inject = [&] {
                 timeouts.request = std::chrono::milliseconds(1500);
                 server->setFault(R"({"endpoint": "download", "stall_after": 40960, "track": "House/b.mp3"})");
             },
             .message = "Could not download House/b.mp3: the download from 127.0.0.1:PORT broke off: no data for 1.5 seconds"});
}

TEST_F(ServiceFaults, SlowButSteadyDownload) {
    runCase({.order = 20, .fault = "c.mp3 arrives at 48 KiB/s, 2 s in all (idle timeout 0.8 s)",
             .inject = [&] {
                 timeouts.request = std::chrono::milliseconds(800);
                 server->setFault(R"({"endpoint": "download", "bytes_per_second": 49152, "track": "Techno/c.mp3"})");
             },
             .outcome = Kind::success, .message = "3 tracks copied to USB"});
}

TEST_F(ServiceFaults, UntrustedCertificate) {
    QTemporaryDir certificates;
    std::unique_ptr<DevServer> secure;
    runCase({.order = 21, .fault = "HTTPS with a self-signed certificate the system does not trust",
             .inject = [&] {
                 ASSERT_TRUE(makeCertificate(certificates.path()));
                 DevServerOptions options;
                 options.tokens = {kToken};
                 options.library = library.path().toStdString();
                 options.tlsCert = certificates.filePath("cert.pem").toStdString();
                 options.tlsKey = certificates.filePath("key.pem").toStdString();
                 secure = std::make_unique<DevServer>(options);
                 settings.setServerURL(QString::fromStdString(secure->baseUrl()));
             },
             .clear = [&] { settings.setServerURL(QString::fromStdString(server->baseUrl())); },
             .message = "Could not reach 127.0.0.1:PORT: the secure connection failed (SSL handshake failed: The certificate is self-signed, and untrusted)"});
}

TEST_F(ServiceFaults, StatusReportRefused) {
    runCase({.order = 22, .fault = "The status report answered with 500",
             .inject = [&] { refuse("status", 500, kHtml); },
             .outcome = Kind::success, .message = "3 tracks copied to USB"});
}

}  // namespace
