// The rows of the fault matrix: the service, the drive, the computer's own disk, and drive
// registration, each misbehaving in one way at a time.

#include "credentials/Keychain.h"
#include "engine/USBMarker.h"
#include "faults/FaultMatrix.h"
#include "support/Await.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QtCore/qtestsupport_core.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;
using Op = FaultyFileSystem::Op;

namespace {

constexpr const char* kUnchangedDrive = "a.mp3 new \u00b7 b.mp3, playlist old \u00b7 c.mp3, d.mp3 missing";
constexpr const char* kUnchangedLibrary = "a.mp3 new \u00b7 b.mp3 old \u00b7 c.mp3, d.mp3 missing";
constexpr const char* kAllNew = "a.mp3, b.mp3, c.mp3, d.mp3, playlist new";
constexpr const char* kLibraryNew = "a.mp3, b.mp3, c.mp3, d.mp3 new";
constexpr const char* kAbAndNoMore = "a.mp3, b.mp3 new \u00b7 playlist old \u00b7 c.mp3, d.mp3 missing";
const std::vector<Disk> kEveryFileSystem{Disk::tmpfs, Disk::exfat, Disk::vfat};
const std::string kHtml = "<html><body><h1>Server Error</h1><p>nginx</p></body></html>";

// The manifest the service sends now, for a row to spoil.
nlohmann::json manifestOf(FaultMatrix& m) { return nlohmann::json::parse(m.rig().service().manifest(kToken)); }

// The next manifest fetch answered with `body` and status 200.
void serveManifest(FaultMatrix& m, const std::string& body) {
    m.serviceFault(nlohmann::json{{"endpoint", "manifest"}, {"status", 200}, {"body", body}, {"content_type", "application/json"}}.dump());
}

struct Answer {
    std::string text;
    bool asErrorText = false;  // {"error": text} rather than the text as the body
};

// The service refusing `endpoint` (b.mp3's download) once with `status` and `answer`.
Row refusal(int order, const char* name, const char* fault, const std::string& endpoint, int status, const Answer& answer,
            const char* message) {
    const auto inject = [=](FaultMatrix& m) {
        nlohmann::json refusal{{"endpoint", endpoint}, {"status", status}, {answer.asErrorText ? "error" : "body", answer.text}};
        if (endpoint == "download") refusal["track"] = "House/b.mp3";
        m.serviceFault(refusal.dump());
    };
    return {.order = order, .name = name, .fault = fault, .inject = inject, .message = message,
            .drive = kUnchangedDrive, .library = kUnchangedLibrary, .serviceFaultUses = 1};
}

// Just before c.mp3 is copied to the drive, `happen` happens, once.
void whileCopyingC(FaultMatrix& m, std::function<void(FaultMatrix&)> happen) {
    m.rig().files.onceBefore(Op::copy, "Techno/c.mp3", [&m, happen] { happen(m); });
}

// 76 CJK characters and "DJ": 230 bytes, which the playlist's name holds with 19 bytes to spare.
const std::string kLongDisplayName = QString(76, QChar(0x6f22)).toStdString() + "DJ";

void pointBack(FaultMatrix& m) { m.rig().settings.setServerURL(QString::fromStdString(m.rig().service().baseUrl())); }

// A device or a drive can't hold it; on a real one the track leaves the library instead.
void clearFat(FaultMatrix& m) {
    m.rig().files.emulateFat({});
    if (m.rig().disk() == Disk::exfat || m.rig().disk() == Disk::vfat) m.serveWithoutExtras();
}

void replaceMarker(FaultMatrix& m, const std::function<void(const QByteArray&)>& put) {
    const QString marker = m.root() + u'/' + spinforge::USBMarker::fileName;
    m.forget(marker);
    QFile::remove(marker);
    put(QFile::encodeName(marker));
}
void restoreMarker(FaultMatrix& m) {
    const QString marker = m.root() + u'/' + spinforge::USBMarker::fileName;
    ::unlink(QFile::encodeName(marker).constData());
    EngineRig::registerDrive(m.root());
    m.remember(marker);
}

// Moves the files below `from` to `to`, which may be on another file system.
void moveFiles(const QString& from, const QString& to) {
    for (const QString& file : filesBelow(from)) writeBytes(to + u'/' + file, fileBytes(from + u'/' + file));
    QDir(from).removeRecursively();
    QDir().mkpath(to);
}

// `folder` of the drive moved to the computer's own disk, a link left in its place.
void linkOutside(FaultMatrix& m, const QString& folder) {
    const QString onDrive = m.root() + u'/' + folder, outside = m.outside() + u'/' + QFileInfo(folder).fileName();
    moveFiles(onDrive, outside);
    for (const QString& file : filesBelow(outside)) m.remember(outside + u'/' + file);
    ASSERT_TRUE(QFile::link(outside, onDrive)) << onDrive.toStdString();
}
void unlinkOutside(FaultMatrix& m, const QString& folder) {
    const QString onDrive = m.root() + u'/' + folder, outside = m.outside() + u'/' + QFileInfo(folder).fileName();
    ::unlink(QFile::encodeName(onDrive).constData());
    for (const QString& file : filesBelow(outside)) m.forget(outside + u'/' + file);
    moveFiles(outside, onDrive);
    QDir(outside).removeRecursively();
}

// A stick of its own mounted at the drive's Techno folder, holding a file of its own; where nothing
// can be mounted, the drive's file system answers at that folder as the kernel would.
std::unique_ptr<KernelDrive> insideTechno;
const QString kInsideFile = QStringLiteral("DJ-Music/Demo Set/Techno/inner.txt");
void mountInsideTechno(FaultMatrix& m) {
    const QString techno = m.volume() + QStringLiteral("/DJ-Music/Demo Set/Techno");
    if (m.rig().disk() == Disk::folder) {
        m.rig().files.failOn(Op::makeFolders, "Demo Set/Techno", EXDEV);
        m.rig().files.failOn(Op::inspect, "Demo Set/Techno", EXDEV);
        return;
    }
    QDir().mkpath(techno);
    insideTechno = std::make_unique<KernelDrive>(Disk::tmpfs, techno, QString());
    writeBytes(m.root() + u'/' + kInsideFile, "the inner stick's own");
    m.remember(m.root() + u'/' + kInsideFile);
}
void unmountInsideTechno(FaultMatrix& m) {
    if (!insideTechno) return;
    EXPECT_EQ(filesBelow(insideTechno->path()), QStringList{"inner.txt"}) << "the inner stick was written to";
    m.forget(m.root() + u'/' + kInsideFile);
    insideTechno.reset();
}

// A second server that a redirect leads to, which records what it receives.
std::string otherServer(FaultMatrix& m, const std::string& path) {
    m.otherService = std::make_unique<DevServer>();
    return m.otherService->baseUrl() + path;
}

// The redirect was followed, and the device token stayed with its own server.
void expectTokenStayedHome(FaultMatrix& m) {
    const nlohmann::json seen = m.otherService->counters();
    EXPECT_GE(seen["requests_seen"], 1) << "the redirect was not followed";
    EXPECT_EQ(seen["authorization_seen"], 0) << "the device token went to another server";
    m.otherService.reset();
}

// The service answering `endpoint` (b.mp3's download) with `status` and a Location on another server.
Row redirectedAway(int order, const char* name, const char* fault, const std::string& endpoint, int status,
                   const std::string& path, Kind outcome, const char* message, const char* drive, const char* library) {
    const auto inject = [=](FaultMatrix& m) {
        nlohmann::json redirect{{"endpoint", endpoint}, {"status", status}, {"location", otherServer(m, path)}};
        if (endpoint == "download") redirect["track"] = "House/b.mp3";
        m.serviceFault(redirect.dump());
    };
    return {.order = order, .name = name, .fault = fault, .inject = inject, .clear = expectTokenStayedHome,
            .outcome = outcome, .message = message, .drive = drive, .library = library, .serviceFaultUses = 1};
}

constexpr const char* kTokenWithAHeaderLine = "t0k\r\nX-Injected: 1";

// The row with bounds on the cycle with its fault: seconds, and MiB added at the peak.
Row bounded(Row row, double seconds, double mib) {
    row.withinSeconds = seconds;
    row.withinMiB = mib;
    return row;
}

// The service saw the agent leave an answer that ran on, before it had sent `mostMiB` of it.
void expectServiceLeft(FaultMatrix& m, double mostMiB) {
    DevServer& service = m.otherService ? *m.otherService : m.rig().service();
    EXPECT_TRUE(QTest::qWaitFor([&] { return service.counters()["run_on_left"] >= 1; }, 5000)) << "the answer was read on";
    EXPECT_LT(service.counters()["run_on_bytes"].get<double>(), mostMiB * (1 << 20));
}

// What this process trusted before a row trusted a certificate of its own.
const QSslConfiguration& systemTrust() {
    static const QSslConfiguration system = QSslConfiguration::defaultConfiguration();
    return system;
}

// An HTTPS service on the rig's library, its certificate trusted by this process, in the rig's
// settings; the trust and the settings go back with untrust().
void serveOverTls(FaultMatrix& m, bool preferHttp2) {
    systemTrust();
    const QString folder = m.rig().scratch("certificate");
    QDir().mkpath(folder);
    ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                            "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                            "subjectAltName=IP:127.0.0.1", "-keyout", folder + "/key.pem", "-out",
                                            folder + "/cert.pem"}),
              0);
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificates(folder + "/cert.pem");
    QSslConfiguration::setDefaultConfiguration(trusting);
    m.otherService = std::make_unique<DevServer>(DevServerOptions{
        .tokens = {kToken}, .library = m.rig().scratch("served").toStdString(),
        .tlsCert = (folder + "/cert.pem").toStdString(), .tlsKey = (folder + "/key.pem").toStdString(),
        .preferHttp2 = preferHttp2});
    m.rig().settings.setServerURL(QString::fromStdString(m.otherService->baseUrl()));
}
void untrust(FaultMatrix& m) {
    QSslConfiguration::setDefaultConfiguration(systemTrust());
    pointBack(m);
    m.otherService.reset();
}

// A filename of a megabyte holding a line separator, and how a notification shows it: on one
// line, its start and its end around an ellipsis, "Integrity check failed for " and the full stop kept.
const std::string kMegabyteName = "Set \u2028 " + std::string(1'000'000, 'x') + " end.mp3";
const std::string kMegabyteNameShown =
    "Integrity check failed for Set \\u2028 " + std::string(121, 'x') + "\u2026" + std::string(71, 'x') + " end.mp3.";

const std::vector<Row> kServiceRows{
    {.order = 1, .name = "ConnectionRefused", .fault = "Connection refused (nothing listens at the address)",
     .inject = [](FaultMatrix& m) {
         QTcpServer probe;  // a port nothing listens on
         probe.listen(QHostAddress::LocalHost);
         m.rig().settings.setServerURL(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
     },
     .clear = pointBack, .message = "Could not reach 127.0.0.1:PORT: Connection refused", .drive = kUnchangedDrive,
     .library = kUnchangedLibrary},
    refusal(2, "Unauthorized", "401 with an \"error\" text", "manifest", 401, {"This computer was signed out on the dashboard.", true},
            "This computer was signed out on the dashboard."),
    refusal(3, "UnauthorizedWithoutText", "401 with an empty body", "manifest", 401, {}, "Sign in to this Mac first."),
    refusal(4, "ForbiddenHtml", "403 with an HTML page (manifest)", "manifest", 403, {kHtml}, "Server request failed (403)."),
    refusal(5, "ForbiddenJson", "403 with a JSON \"error\" (manifest)", "manifest", 403, {"Your subscription has ended.", true},
            "Your subscription has ended."),
    refusal(6, "ForbiddenEmpty", "403 with an empty body (manifest)", "manifest", 403, {}, "Server request failed (403)."),
    refusal(7, "NotFoundHtml", "404 with an HTML page (download of b.mp3)", "download", 404, {kHtml},
            "Server request failed (404)."),
    refusal(8, "NotFoundJson", "404 with a JSON \"error\" (download of b.mp3: a download's body is never read)", "download", 404,
            {"This track was removed.", true}, "Server request failed (404)."),
    refusal(9, "ServerErrorHtml", "500 with an HTML page (manifest)", "manifest", 500, {kHtml}, "Server request failed (500)."),
    refusal(10, "ServerErrorJson", "500 with a JSON \"error\" (manifest)", "manifest", 500, {"The library is being rebuilt.", true},
            "The library is being rebuilt."),
    {.order = 11, .name = "ManifestNotJson", .fault = "A manifest that is not JSON (200 with a captive portal's page)",
     .inject = [](FaultMatrix& m) { serveManifest(m, "<html><body>Please log in to the hotel Wi-Fi</body></html>"); },
     .message = "The server's manifest is invalid: it is not JSON (error at byte 1)", .drive = kUnchangedDrive,
     .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 12, .name = "ManifestTruncated", .fault = "A truncated manifest (the first half of the real one)",
     .inject = [](FaultMatrix& m) {
         const std::string whole = manifestOf(m).dump();
         serveManifest(m, whole.substr(0, whole.size() / 2));
     },
     .message = "The server's manifest is invalid: it is not JSON (error at byte 617)", .drive = kUnchangedDrive,
     .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 13, .name = "ManifestWithOneUnsafeTrack",
     .fault = "A manifest with one bad track (a path leaving the library: ../../.profile)",
     .inject = [](FaultMatrix& m) {
         nlohmann::json manifest = manifestOf(m);
         manifest["tracks"][2]["relative_path"] = "../../.profile";
         serveManifest(m, manifest.dump());
     },
     .message = "The server's manifest is invalid: tracks[2].relative_path \"../../.profile\" has a '..' component",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 14, .name = "ManifestWithOneTrackMissingItsDigest", .fault = "A manifest with one bad track (no sha256)",
     .inject = [](FaultMatrix& m) {
         nlohmann::json manifest = manifestOf(m);
         manifest["tracks"][3].erase("sha256");
         serveManifest(m, manifest.dump());
     },
     .message = "The server's manifest is invalid: tracks[3].sha256 is missing", .drive = kUnchangedDrive,
     .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 15, .name = "ManifestWithWholeNumbersAsFloats",
     .fault = "A manifest whose integers are written as JavaScript and Python may send them (1024.0, 1e0)",
     .inject = [](FaultMatrix& m) {
         nlohmann::json manifest = manifestOf(m);
         manifest["profile"]["id"] = double(kProfileId);
         for (nlohmann::json& track : manifest["tracks"]) track["byte_size"] = double(track["byte_size"].get<qint64>());
         std::string text = manifest.dump();
         text.replace(text.find("\"version\":1"), 11, "\"version\":1e0");
         serveManifest(m, text);
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .serviceFaultUses = 1},
    {.order = 16, .name = "WrongBytes", .fault = "Wrong bytes for b.mp3 (one byte changed, same length)",
     .inject = [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "download", "wrong_bytes": true, "track": "House/b.mp3"})"); },
     .message = "Integrity check failed for b.mp3.", .drive = kUnchangedDrive, .library = kUnchangedLibrary,
     .serviceFaultUses = 1},
    {.order = 17, .name = "ConnectionDroppedMidDownload", .fault = "Connection dropped after 40 KiB of b.mp3",
     .inject = [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "download", "drop_after": 40960, "track": "House/b.mp3"})"); },
     .message = "Could not download House/b.mp3: the download from 127.0.0.1:PORT ended early: 40960 of 163840 bytes arrived",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 18, .name = "StallMidDownload", .fault = "Download of b.mp3 stalls after 40 KiB (idle timeout 1.5 s)",
     .inject = [](FaultMatrix& m) {
         m.rig().timeouts.request = std::chrono::milliseconds(1500);
         m.rig().resetEngine();
         m.serviceFault(R"({"endpoint": "download", "stall_after": 40960, "track": "House/b.mp3"})");
     },
     .message = "Could not download House/b.mp3: the download from 127.0.0.1:PORT broke off: no data for 1.5 seconds",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 19, .name = "SlowButSteadyDownload",
     .fault = "c.mp3 arrives at 48 KiB/s, 2 s in all (idle timeout 0.8 s)",
     .inject = [](FaultMatrix& m) {
         m.rig().timeouts.request = std::chrono::milliseconds(800);
         m.rig().resetEngine();
         m.serviceFault(R"({"endpoint": "download", "bytes_per_second": 49152, "track": "Techno/c.mp3"})");
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .serviceFaultUses = 1},
    {.order = 20, .name = "UntrustedCertificate",
     .fault = "HTTPS with a self-signed certificate the system does not trust",
     .inject = [](FaultMatrix& m) {
         const QString folder = m.rig().scratch("certificate");
         QDir().mkpath(folder);
         ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                                                 "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                                                 folder + "/key.pem", "-out", folder + "/cert.pem"}),
                   0);
         m.otherService = std::make_unique<DevServer>(DevServerOptions{.tlsCert = (folder + "/cert.pem").toStdString(),
                                                                       .tlsKey = (folder + "/key.pem").toStdString()});
         m.rig().settings.setServerURL(QString::fromStdString(m.otherService->baseUrl()));
     },
     .clear = [](FaultMatrix& m) {
         pointBack(m);
         m.otherService.reset();
     },
     .message = "Could not reach 127.0.0.1:PORT: the secure connection failed (SSL handshake failed: The certificate is "
     "self-signed, and untrusted)",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary},
    {.order = 21, .name = "StatusReportRefused", .fault = "The status report answered with 500",
     .inject = [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "status", "status": 500})"); },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .serviceFaultUses = 1},
    {.order = 22, .name = "TrackPathWithLineBreaks",
     .fault = "A track path holding line breaks, which would add playlist entries of the service's own",
     .inject = [](FaultMatrix& m) {
         nlohmann::json manifest = manifestOf(m);
         manifest["tracks"][2]["relative_path"] = "Techno/c.mp3\n#EXTINF:-1,Not a track\nhttp://tracker.example/x.mp3";
         serveManifest(m, manifest.dump());
     },
     .message = "The server's manifest is invalid: tracks[2].relative_path \"Techno/c.mp3\\n#EXTINF:-1,Not a track\\n"
     "http://tracker.example/x.mp3\" contains a control character",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary, .serviceFaultUses = 1},
    redirectedAway(23, "ManifestRedirectedToAnotherServer",
                   "The manifest redirected (302) to another server, which records what it receives: it gets no token",
                   "manifest", 302, "/api/client/manifest", Kind::failed, "Invalid device token.", kUnchangedDrive,
                   kUnchangedLibrary),
    redirectedAway(24, "DownloadRedirectedToAnotherServer",
                   "b.mp3's download redirected (307) to another server, which records what it receives: it gets no token",
                   "download", 307, "/api/client/tracks/2/file", Kind::failed, "Sign in to this Mac first.",
                   kUnchangedDrive, kUnchangedLibrary),
    redirectedAway(25, "StatusReportRedirectedToAnotherServer",
                   "The status report redirected (303) to another server, which records what it receives: it gets no token",
                   "status", 303, "/api/client/status", Kind::success, "3 tracks copied to USB", kAllNew, kLibraryNew),
    {.order = 26, .name = "ManifestRedirectedWithinTheServer",
     .fault = "The manifest redirected (307) to a path on the same server: the token goes along",
     .inject = [](FaultMatrix& m) {
         m.serviceFault(R"({"endpoint": "manifest", "status": 307, "location": "/api/client/manifest", "times": 1})");
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .serviceFaultUses = 1},
    {.order = 27, .name = "DownloadRunsOnPastItsSize",
     .fault = "b.mp3's body runs on without end past its 160 KiB, chunked without a length, into a library disk with room for "
     "b.mp3 and not a byte more",
     .inject = [](FaultMatrix& m) {
         // The disk is full once b.mp3's staging file holds all of its 160 KiB: a write to it then fails.
         m.rig().files.beforeEach = [&m](Op op, const QString& path) {
             if (op == Op::write && path.endsWith(QLatin1String("Library/House/b.mp3")) &&
                 QFileInfo(path + ".spinforge-partial").size() >= kTrackB.size())
                 m.rig().files.failOn(Op::write, path, ENOSPC, 1);
         };
         m.serviceFault(R"({"endpoint": "download", "trailing_bytes": 4611686018427387904, "track": "House/b.mp3"})");
     },
     .clear = [](FaultMatrix& m) { m.rig().files.beforeEach = nullptr; },
     .message = "Integrity check failed for b.mp3.", .drive = kUnchangedDrive, .library = kUnchangedLibrary,
     .serviceFaultUses = 1},
    {.order = 28, .name = "ManifestPast256MiB",
     .fault = "A manifest followed by 256 MiB of spaces, chunked without a length (still JSON)",
     .inject = [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "manifest", "trailing_bytes": 268435456})"); },
     .message = "The server's manifest is too large: more than 256 MiB", .drive = kUnchangedDrive,
     .library = kUnchangedLibrary, .serviceFaultUses = 1},
    {.order = 29, .name = "TokenWithAHeaderLine",
     .fault = "A sign-in reply whose token holds CR LF and a header line (refused: \"The server returned an invalid "
     "response.\"), and such a token found stored",
     .inject = [](FaultMatrix& m) {
         EngineRig& r = m.rig();
         const nlohmann::json reply{{"token", kTokenWithAHeaderLine}, {"device_id", 9}, {"display_name", "DJ Demo"}};
         m.serviceFault(nlohmann::json{{"endpoint", "login"}, {"status", 200}, {"body", reply.dump()},
                                       {"content_type", "application/json"}}.dump());
         const QString server = QString::fromStdString(r.service().baseUrl());
         EXPECT_EQ(failureOf([&] { await(r.engine().login(server, "dj@example.com", "secret")); }),
                   "The server returned an invalid response.");
         EXPECT_EQ(spinforge::Keychain::load(r.keyring), QString::fromLatin1(kToken)) << "the refused token was stored";
         spinforge::Keychain::save(r.keyring, QString::fromLatin1(kTokenWithAHeaderLine));
     },
     .clear = [](FaultMatrix& m) {
         EXPECT_EQ(m.rig().service().counters()["manifest"], 0) << "a request went out with the token's header line";
         spinforge::Keychain::save(m.rig().keyring, QString::fromLatin1(kToken));
     },
     .message = "Sign in to this Mac first.", .drive = kUnchangedDrive, .library = kUnchangedLibrary,
     .serviceFaultUses = 1},
    bounded({30, "HeaderFieldFlood", "The manifest's header section holds 150 fields more (the network layer reads 100)",
             [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "manifest", "header_fields": 150})"); }, {}, Kind::failed,
             "The manifest from 127.0.0.1:PORT could not be read: its header is too large", kUnchangedDrive,
             kUnchangedLibrary, 1}, 10, 0),
    bounded({31, "EndlessHeaderSection", "b.mp3's download answers with a header section that never ends",
             [](FaultMatrix& m) {
                 m.serviceFault(R"({"endpoint": "download", "endless_header": true, "track": "House/b.mp3"})");
             }, [](FaultMatrix& m) { expectServiceLeft(m, 64); }, Kind::failed,
             "Could not download House/b.mp3: the download from 127.0.0.1:PORT could not be read: its header is too large",
             kUnchangedDrive, kUnchangedLibrary, 1}, 10, 64),
    bounded({32, "EndlessErrorBody", "The manifest refused (500) with an \"error\" text and then spaces without end, chunked",
             [](FaultMatrix& m) {
                 m.serviceFault(R"({"endpoint": "manifest", "status": 500, "error": "The library is being rebuilt.",
                                    "trailing_bytes": 4611686018427387904})");
             }, [](FaultMatrix& m) { expectServiceLeft(m, 64); }, Kind::failed, "The library is being rebuilt.",
             kUnchangedDrive, kUnchangedLibrary, 1}, 10, 64),
    {.order = 33, .name = "CookieFlood",
     .fault = "Each answer to the manifest sets 90 new cookies of 200 bytes, and the service refuses (431) a request whose cookies "
     "pass 4 KiB",
     .inject = [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "manifest", "set_cookies": 90})"); },
     .clear = [](FaultMatrix& m) { EXPECT_EQ(m.rig().service().counters()["cookies_seen"], 0) << "the service's cookies came back"; },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .serviceFaultUses = 1},
    bounded({34, "CompressedManifestBomb",
             "A gzip manifest of 100 KB, sent compressed although the agent asks for none, whose tracks inflate to 100 MiB "
             "of empty objects",
             [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "manifest", "compressed_bomb": 104857600})"); }, {},
             Kind::failed, "The manifest from 127.0.0.1:PORT came compressed (gzip), which Spinforge does not accept",
             kUnchangedDrive, kUnchangedLibrary, 1}, 10, 64),
    bounded({35, "StatusReplyOfAGibibyte", "The status report answered 200, then 1 GiB of spaces, chunked",
             [](FaultMatrix& m) { m.serviceFault(R"({"endpoint": "status", "trailing_bytes": 1073741824})"); },
             [](FaultMatrix& m) { expectServiceLeft(m, 64); }, Kind::success, "3 tracks copied to USB", kAllNew,
             kLibraryNew, 1}, 10, 64),
    {.order = 36, .name = "ServiceThatPrefersHttp2",
     .fault = "An HTTPS service that chooses HTTP/2 whenever a client offers it (it speaks HTTP/1.1 only): the agent offers only HTTP/1.1",
     .inject = [](FaultMatrix& m) { serveOverTls(m, true); },
     .clear = [](FaultMatrix& m) {
         EXPECT_EQ(m.otherService->counters()["h2_offered"], 0) << "HTTP/2 was offered";
         untrust(m);
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew},
    {.order = 37, .name = "DownloadNamedInClear",
     .fault = "An HTTPS service whose manifest names b.mp3's download at an absolute http:// address (this service's plain twin, "
     "which records what reaches it): nothing is sent there",
     .inject = [](FaultMatrix& m) {
         serveOverTls(m, false);
         nlohmann::json manifest = nlohmann::json::parse(m.otherService->manifest(kToken));
         manifest["tracks"][1]["download_url"] = m.rig().service().baseUrl() + "/api/client/tracks/2/file";
         m.otherService->setFault(nlohmann::json{{"endpoint", "manifest"}, {"status", 200}, {"body", manifest.dump()},
                                                 {"content_type", "application/json"}}.dump());
         m.rig().service().reset();
     },
     .clear = [](FaultMatrix& m) {
         EXPECT_EQ(m.rig().service().counters()["requests_seen"], 0) << "a request went out in clear";
         untrust(m);
     },
     .message = "Could not download House/b.mp3: the request to 127.0.0.1:PORT would not be encrypted (http), and the device token "
     "goes only over https",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary},
    {.order = 38, .name = "DamagedTrackWithANameOfAMegabyte",
     .fault = "b.mp3 arrives damaged, and its filename is a megabyte long and holds a line separator",
     .inject = [](FaultMatrix& m) {
         nlohmann::json manifest = manifestOf(m);
         manifest["tracks"][1]["filename"] = kMegabyteName;
         serveManifest(m, manifest.dump());
         m.serviceFault(R"({"endpoint": "download", "wrong_bytes": true, "track": "House/b.mp3"})");
     },
     .message = kMegabyteNameShown.c_str(), .drive = kUnchangedDrive, .library = kUnchangedLibrary,
     .serviceFaultUses = 2},
};

const std::vector<Row> kDriveRows{
    {.order = 1, .name = "FullMidTrack", .fault = "The drive fills up in the middle of b.mp3 (ENOSPC)",
     .inject = [](FaultMatrix& m) {
         // Room for what is there and part of the new b.mp3, which is staged beside the old one.
         if (KernelDrive* drive = m.rig().kernelDrive(m.volume())) drive->remount(0, "size=256k");
         else m.rig().files.failOn(Op::copy, "House/b.mp3", ENOSPC);
     },
     .clear = [](FaultMatrix& m) {
         if (KernelDrive* drive = m.rig().kernelDrive(m.volume())) drive->remount(0, "size=4m");
     },
     .message = "Could not copy House/b.mp3 to DJSTICK: No space left on device", .drive = kUnchangedDrive,
     .library = kLibraryNew},
    {.order = 2, .name = "ReadOnlyBetweenCycles", .fault = "The drive is remounted read-only between cycles",
     .inject = [](FaultMatrix& m) {
         if (KernelDrive* drive = m.rig().kernelDrive(m.volume())) drive->remount(MS_RDONLY);
         else m.rig().files.failOn(Op::checkWritable, m.volume(), EROFS);
     },
     .clear = [](FaultMatrix& m) {
         if (KernelDrive* drive = m.rig().kernelDrive(m.volume())) drive->remount(0);
     },
     .outcome = Kind::success, .message = "3 tracks cached \u2014 connect USB", .drive = kUnchangedDrive,
     .library = kLibraryNew},
    {.order = 3, .name = "UnmountedLazilyMidCopy", .fault = "The drive is unmounted (lazily) while c.mp3 is copied",
     .inject = [](FaultMatrix& m) { whileCopyingC(m, [](FaultMatrix& m) { m.rig().takeDriveAway(m.volume()); }); },
     .clear = [](FaultMatrix& m) { m.rig().bringDriveBack(m.volume()); },
     .message = "Could not copy Techno/d.mp3 to DJSTICK: the drive is no longer mounted",
     .drive = "a.mp3, b.mp3, c.mp3 new \u00b7 playlist old \u00b7 d.mp3 missing", .library = kLibraryNew,
     .disks = {Disk::ext4}},
    {.order = 4, .name = "LeftoversOfAKilledRun",
     .fault = "Half-written .spinforge-partial files of a killed run: a track and the playlist on the drive, a download in the library",
     .inject = [](FaultMatrix& m) {
         writeBytes(m.onDrive("House/b.mp3") + ".spinforge-partial", kTrackB.left(70000));
         writeBytes(m.root() + QStringLiteral("/Spinforge \u2014 DJ Demo.m3u8.spinforge-partial"), "#EXTM3U\nDJ-Mus");
         writeBytes(m.rig().cached("Techno/c.mp3") + ".spinforge-partial", kTrackC.left(30000));
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .disks = kEveryFileSystem},
    {.order = 5, .name = "IoErrorOnWrite", .fault = "I/O error (EIO) writing c.mp3",
     .inject = [](FaultMatrix& m) { m.rig().files.failOn(Op::copy, "Techno/c.mp3", EIO, 1); },
     .message = "Could not copy Techno/c.mp3 to DJSTICK: Input/output error", .drive = kAbAndNoMore,
     .library = kLibraryNew},
    {.order = 6, .name = "IoErrorOnFlush", .fault = "I/O error (EIO) from fsync after c.mp3's bytes were written",
     .inject = [](FaultMatrix& m) { m.rig().files.failOn(Op::flush, "Demo Set/Techno/c.mp3", EIO, 1); },
     .message = "Could not copy Techno/c.mp3 to DJSTICK: Input/output error", .drive = kAbAndNoMore,
     .library = kLibraryNew},
    {.order = 7, .name = "IoErrorFlushingTheRename",
     .fault = "I/O error (EIO) flushing the folder after b.mp3 was renamed into place",
     .inject = [](FaultMatrix& m) { m.rig().files.failAfterDoing(Op::commit, "Demo Set/House/b.mp3", EIO, 1); },
     .message = "Could not move House/b.mp3 into place on DJSTICK: Input/output error", .drive = kAbAndNoMore,
     .library = kLibraryNew},
    {.order = 8, .name = "FatRefusesAName",
     .fault = "FAT refuses a name with ':' and '?' (EINVAL from the kernel, ENOENT from exfat-fuse)",
     .inject = [](FaultMatrix& m) { m.emulateFat(); }, .clear = clearFat,
     .message = "Could not copy Live/Intro: Berlin?.mp3 to DJSTICK: the drive does not accept this file name (FAT drives "
     "refuse the characters : * ? \" < > | \\)",
     .drive = "a.mp3, b.mp3 new \u00b7 playlist old \u00b7 Intro: Berlin?.mp3, c.mp3, d.mp3 missing",
     .library = "a.mp3, b.mp3, Intro: Berlin?.mp3, c.mp3, d.mp3 new",
     .extra = {{"Live/Intro: Berlin?.mp3", noise(20 * 1024, 6)}}, .disks = kEveryFileSystem},
    {.order = 9, .name = "FatFileTooLarge",
     .fault = "A file past FAT's size limit (EFBIG; the limit scaled from 4 GiB \u2212 1 to 100 KiB)",
     .inject = [](FaultMatrix& m) { m.emulateFat(100 * 1024); }, .clear = clearFat,
     .message = "Could not copy House/b.mp3 to DJSTICK: the file is too large for the drive (FAT drives hold files of at most "
     "4 GiB \u2212 1 byte)",
     .drive = kUnchangedDrive, .library = kLibraryNew},
    {.order = 10, .name = "FatCaseOnlyNames",
     .fault = "Two tracks differing only in letter case, House/A.mp3 and House/a.mp3, on FAT",
     .inject = [](FaultMatrix& m) { m.emulateFat(); }, .clear = clearFat,
     .message = "Could not copy House/A.mp3 to DJSTICK: the drive does not tell capital from small letters, so it can't hold "
     "both House/A.mp3 and House/a.mp3",
     .drive = "a.mp3 new \u00b7 b.mp3, playlist old \u00b7 A.mp3, c.mp3, d.mp3 missing",
     .library = "A.mp3, a.mp3, b.mp3, c.mp3, d.mp3 new", .extra = {{"House/A.mp3", noise(24 * 1024, 7)}},
     .disks = kEveryFileSystem},
    {.order = 11, .name = "LongNames",
     .fault = "A track name of 254 bytes (82 CJK characters and abcd.mp3) and a display name of 230 bytes: too long for "
     "\".spinforge-partial\", so staged under names cut short",
     .outcome = Kind::success, .message = "4 tracks copied to USB",
     .drive = "a.mp3, b.mp3, \u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u2026abcd.mp3, c.mp3, d.mp3, playlist new",
     .library = "a.mp3, b.mp3, \u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u6f22\u2026abcd.mp3, c.mp3, d.mp3 new",
     .extra = {{QStringLiteral("House/") + QString(82, QChar(0x6f22)) + QStringLiteral("abcd.mp3"), noise(12 * 1024, 8)}},
     .disks = {Disk::tmpfs, Disk::exfat}, .displayName = kLongDisplayName.c_str()},
    {.order = 12, .name = "DriveFolderIsALink", .fault = "DJ-Music is a link to a folder on the computer's own disk",
     .inject = [](FaultMatrix& m) { linkOutside(m, "DJ-Music"); },
     .clear = [](FaultMatrix& m) { unlinkOutside(m, "DJ-Music"); },
     .message = "Could not sync DJSTICK: DJ-Music is a link, and Spinforge does not write through links on a drive",
     .drive = kUnchangedDrive, .library = kLibraryNew},
    {.order = 13, .name = "FolderBelowIsALink",
     .fault = "DJ-Music/Demo Set/Techno is a link to a folder on the computer's own disk",
     .inject = [](FaultMatrix& m) { linkOutside(m, "DJ-Music/Demo Set/Techno"); },
     .clear = [](FaultMatrix& m) { unlinkOutside(m, "DJ-Music/Demo Set/Techno"); },
     .message = "Could not sync DJSTICK: DJ-Music/Demo Set/Techno is a link, and Spinforge does not write through links on a drive",
     .drive = kAbAndNoMore, .library = kLibraryNew},
    {.order = 14, .name = "MarkerIsAFifo",
     .fault = "The marker .dj-sync.json is a FIFO (read at every cycle: it must not block)",
     .inject = [](FaultMatrix& m) { replaceMarker(m, [](const QByteArray& path) { ::mkfifo(path.constData(), 0644); }); },
     .clear = restoreMarker, .outcome = Kind::success, .message = "3 tracks cached \u2014 connect USB",
     .drive = kUnchangedDrive, .library = kLibraryNew},
    {.order = 15, .name = "MarkerLinksToDevZero", .fault = "The marker .dj-sync.json is a link to /dev/zero",
     .inject = [](FaultMatrix& m) { replaceMarker(m, [](const QByteArray& path) { ASSERT_TRUE(QFile::link("/dev/zero", QFile::decodeName(path))); }); },
     .clear = restoreMarker, .outcome = Kind::success, .message = "3 tracks cached \u2014 connect USB",
     .drive = kUnchangedDrive, .library = kLibraryNew},
    {.order = 16, .name = "MarkerTooLarge",
     .fault = "The marker .dj-sync.json is 100 KiB (a valid marker padded with spaces)",
     .inject = [](FaultMatrix& m) {
         replaceMarker(m, [](const QByteArray& path) {
             const spinforge::Profile demo{kProfileId, QStringLiteral("DJ Demo"), pathOf("Demo Set")};
             writeBytes(QFile::decodeName(path), spinforge::USBMarker::forProfile(demo).encoded() + QByteArray(100 * 1024, ' '));
         });
     },
     .clear = restoreMarker, .outcome = Kind::success, .message = "3 tracks cached \u2014 connect USB",
     .drive = kUnchangedDrive, .library = kLibraryNew},
    {.order = 17, .name = "SwappedForAnUnregisteredStick",
     .fault = "While c.mp3 is copied the drive is pulled and another stick, without a marker, is mounted at the same point",
     .inject = [](FaultMatrix& m) { whileCopyingC(m, [](FaultMatrix& m) { m.swapInStranger(std::nullopt); }); },
     .clear = [](FaultMatrix& m) { m.swapBack(); },
     .message = "Could not copy Techno/d.mp3 to DJSTICK: the drive is no longer mounted",
     .drive = "a.mp3, b.mp3, c.mp3 new \u00b7 playlist old \u00b7 d.mp3 missing", .library = kLibraryNew,
     .disks = {Disk::ext4}},
    {.order = 18, .name = "SwappedForAnotherAccountsStick",
     .fault = "While c.mp3 is copied the drive is pulled and a stick registered to another account is mounted at the same point",
     .inject = [](FaultMatrix& m) { whileCopyingC(m, [](FaultMatrix& m) { m.swapInStranger(kProfileId + 1); }); },
     .clear = [](FaultMatrix& m) { m.swapBack(); },
     .message = "Could not copy Techno/d.mp3 to DJSTICK: the drive is no longer mounted",
     .drive = "a.mp3, b.mp3, c.mp3 new \u00b7 playlist old \u00b7 d.mp3 missing", .library = kLibraryNew,
     .disks = {Disk::ext4}},
    {.order = 19, .name = "UnmountedLazilyAndMountedAgain",
     .fault = "While c.mp3 is copied the drive is unmounted (lazily) and mounted again at the same point: the same file system",
     .inject = [](FaultMatrix& m) {
         whileCopyingC(m, [](FaultMatrix& m) {
             m.rig().takeDriveAway(m.volume());
             m.rig().bringDriveBack(m.volume());
         });
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew,
     .disks = {Disk::ext4}},
    {.order = 20, .name = "KeepsLessThanItIsGiven",
     .fault = "A fake-capacity stick: full, it loses every new block while claiming room, and the kernel's cache still holds "
     "what was written",
     .inject = [](FaultMatrix& m) { m.rig().kernelDrive(m.volume())->keepNothingMore(); },
     .clear = [](FaultMatrix& m) { m.rig().kernelDrive(m.volume())->keepEverything(); },
     .message = "Integrity check failed for b.mp3.", .drive = kUnchangedDrive, .library = kLibraryNew,
     .disks = {Disk::fakeStick}},
    {.order = 21, .name = "AnotherStickMountedInside",
     .fault = "Another stick is mounted inside the drive, at DJ-Music/Demo Set/Techno", .inject = mountInsideTechno,
     .clear = unmountInsideTechno,
     .message = "Could not sync DJSTICK: DJ-Music/Demo Set/Techno is another drive mounted inside this one, and Spinforge does "
     "not write across drives",
     .drive = kAbAndNoMore, .library = kLibraryNew},
    {.order = 22, .name = "PulledOutBeforeItsSync",
     .fault = "The drive is pulled out (unmounted lazily) between the look at its marker and its sync",
     .inject = [](FaultMatrix& m) {
         m.rig().files.onceBefore(Op::readSmallFile, ".dj-sync.json", [&m] { m.rig().takeDriveAway(m.volume()); });
     },
     .clear = [](FaultMatrix& m) { m.rig().bringDriveBack(m.volume()); },
     .message = "Could not sync DJSTICK: the drive is no longer mounted", .drive = kUnchangedDrive,
     .library = kLibraryNew, .disks = {Disk::ext4}},
    {.order = 23, .name = "SwappedBeforeThePlaylist",
     .fault = "While d.mp3 is moved into place the drive is pulled and another stick is mounted at the same point",
     .inject = [](FaultMatrix& m) {
         m.rig().files.onceBefore(Op::commit, "Demo Set/Techno/d.mp3", [&m] { m.swapInStranger(std::nullopt); });
     },
     .clear = [](FaultMatrix& m) { m.swapBack(); },
     .message = "Could not write the playlist Spinforge \u2014 DJ Demo.m3u8 on DJSTICK: the drive is no longer mounted",
     .drive = "a.mp3, b.mp3, c.mp3, d.mp3 new \u00b7 playlist old", .library = kLibraryNew, .disks = {Disk::ext4}},
    {.order = 24, .name = "StagingFileNotRemoved",
     .fault = "I/O error (EIO) writing c.mp3, and again removing what of it was staged",
     .inject = [](FaultMatrix& m) {
         m.rig().files.failOn(Op::copy, "Demo Set/Techno/c.mp3", EIO, 1);
         m.rig().files.failOn(Op::discard, "Demo Set/Techno/c.mp3", EIO, 1);
     },
     .message = "Could not copy Techno/c.mp3 to DJSTICK: Input/output error",
     .drive = "a.mp3, b.mp3 new \u00b7 playlist old \u00b7 c.mp3, d.mp3 missing; staging file left: c.mp3.spinforge-partial",
     .library = kLibraryNew},
};

const std::vector<Row> kLocalRows{
    {.order = 1, .name = "LibraryDiskFull", .fault = "The library's disk fills up while b.mp3 downloads",
     .inject = [](FaultMatrix& m) { m.rig().files.failOn(Op::write, "Library/House/b.mp3", ENOSPC); },
     .message = "Could not write ~/.local/share/Spinforge/Library/House/b.mp3: No space left on device",
     .drive = kUnchangedDrive, .library = kUnchangedLibrary},
    {.order = 2, .name = "UnreadableCachedFile", .fault = "A cached file that can't be read (EACCES opening a.mp3)",
     .inject = [](FaultMatrix& m) { m.rig().files.failOn(Op::openForReading, "Library/House/a.mp3", EACCES, 1); },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew},
    {.order = 3, .name = "CachedFileChangedBeforeTheCycle",
     .fault = "A cached file changed behind our back before the cycle (a.mp3, same size)",
     .inject = [](FaultMatrix& m) {
         QByteArray damaged = kTrackA;
         damaged[100] = char(damaged[100] ^ 0x5a);
         writeBytes(m.rig().cached("House/a.mp3"), damaged);
     },
     .outcome = Kind::success, .message = "3 tracks copied to USB", .drive = kAllNew, .library = kLibraryNew},
    {.order = 4, .name = "CachedFileChangedBetweenCheckAndCopy",
     .fault = "A cached file changed between its check and its copy to the drive (c.mp3)",
     .inject = [](FaultMatrix& m) {
         whileCopyingC(m, [](FaultMatrix& m) {
             QByteArray damaged = kTrackC;
             damaged[5] = char(damaged[5] ^ 0x5a);
             m.tamper("Techno/c.mp3", damaged);
         });
     },
     .message = "Integrity check failed for c.mp3.", .drive = kAbAndNoMore,
     .library = "a.mp3, b.mp3, d.mp3 new \u00b7 c.mp3 as the other program left it"},
    {.order = 5, .name = "IoErrorFlushingTheLibraryRename",
     .fault = "I/O error (EIO) flushing the library's folder after b.mp3 was renamed into place",
     .inject = [](FaultMatrix& m) { m.rig().files.failAfterDoing(Op::commit, "Library/House/b.mp3", EIO, 1); },
     .message = "Could not move House/b.mp3 into place in the library: Input/output error", .drive = kUnchangedDrive,
     .library = "a.mp3, b.mp3 new \u00b7 c.mp3, d.mp3 missing"},
};

constexpr const char* kNothingOnTheDrive = "a.mp3, b.mp3, c.mp3, d.mp3, playlist missing";

const std::vector<Row> kRegistrationRows{
    {.order = 1, .name = "ManifestRefused", .fault = "The manifest answered with 500 during registration",
     .inject = [](FaultMatrix& m) {
         m.rig().resetEngine();  // a fresh agent holds no manifest, so registration fetches one
         m.serviceFault(R"({"endpoint": "manifest", "status": 500, "error": "Try again later."})");
     },
     .message = "Try again later.", .drive = kNothingOnTheDrive, .library = kLibraryNew, .serviceFaultUses = 1},
    {.order = 2, .name = "MarkerWriteFails", .fault = "I/O error (EIO) writing the marker .dj-sync.json",
     .inject = [](FaultMatrix& m) { m.rig().files.failOn(Op::write, ".dj-sync.json", EIO, 1); },
     .message = "Could not write the marker .dj-sync.json on DJSTICK: Input/output error", .drive = kNothingOnTheDrive,
     .library = kLibraryNew},
    {.order = 3, .name = "DriveFullDuringTheFirstCopy",
     .fault = "The drive fills up copying c.mp3 during registration (ENOSPC)",
     .inject = [](FaultMatrix& m) { m.rig().files.failOn(Op::copy, "Techno/c.mp3", ENOSPC, 1); },
     .message = "Could not copy Techno/c.mp3 to DJSTICK: No space left on device",
     .drive = "a.mp3, b.mp3 new \u00b7 c.mp3, d.mp3, playlist missing", .library = kLibraryNew},
    {.order = 4, .name = "MarkerIsALink",
     .fault = "The drive's .dj-sync.json is a link to a file on the computer's own disk",
     .inject = [](FaultMatrix& m) {
         const QString target = m.outside() + "/settings.json";
         writeBytes(target, "{\"the computer's\": true}");
         m.remember(target);
         ASSERT_TRUE(QFile::link(target, m.root() + "/.dj-sync.json"));
     },
     .clear = [](FaultMatrix& m) { ::unlink(QFile::encodeName(m.root() + "/.dj-sync.json").constData()); },
     .message = "Could not register DJSTICK: .dj-sync.json is a link, and Spinforge does not write through links on a drive",
     .drive = kNothingOnTheDrive, .library = kLibraryNew},
};

class Faults : public FaultMatrix {};

TEST_P(Faults, Cycle) { run(std::string(GetParam().group) == "Registration"); }

INSTANTIATE_TEST_SUITE_P(ServiceFaults, Faults, ::testing::ValuesIn(FaultMatrix::casesOf("Service", kServiceRows)),
                         FaultMatrix::nameOf);
INSTANTIATE_TEST_SUITE_P(DriveFaults, Faults, ::testing::ValuesIn(FaultMatrix::casesOf("Drive", kDriveRows)),
                         FaultMatrix::nameOf);
INSTANTIATE_TEST_SUITE_P(LocalFaults, Faults, ::testing::ValuesIn(FaultMatrix::casesOf("Local", kLocalRows)),
                         FaultMatrix::nameOf);
INSTANTIATE_TEST_SUITE_P(RegistrationFaults, Faults,
                         ::testing::ValuesIn(FaultMatrix::casesOf("Registration", kRegistrationRows)), FaultMatrix::nameOf);

}  // namespace
