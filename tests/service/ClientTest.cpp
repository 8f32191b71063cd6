// The service client's own rules: references, replies, sign-in addresses, the token, redirects.
#include "service/APIClient.h"
#include "service/ReplyErrors.h"
#include "service/ReplyParser.h"
#include "service/ServiceAddress.h"
#include "support/Await.h"
#include "support/DevServer.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace spinforge;
using testing_support::MemoryKeyring;

namespace {

using testing_support::failureOf;

class ClientRules : public ::testing::Test {
protected:
    void signIn(const QByteArray& token) { keyring.add("com.spinforge.mac", "device-token", {}, token); }
    QTemporaryDir folder;
    MemoryKeyring keyring;
    Settings settings{folder.filePath("Spinforge.conf")};
    APIClient client{keyring, settings};
};

TEST_F(ClientRules, ReferencesResolveAgainstTheStoredAddressAndOnlyToTheWeb) {
    struct Case {
        const char* stored;
        const char* reference;
        const char* expected;  // or the failure's text
    };
    const Case cases[] = {
        {"http://host:8787", "/api/client/manifest", "http://host:8787/api/client/manifest"},
        // A path of the server's own is replaced by an absolute one; a relative one replaces its last segment.
        {"https://host/app/v1/", "/api/client/login", "https://host/api/client/login"},
        {"https://host/app/v1/", "tracks/1", "https://host/app/tracks/1"},
        {"http://host:8787", "https://cdn.example:9443/t/1?sig=abc", "https://cdn.example:9443/t/1?sig=abc"},
        {"HTTP://Host:8787", "/x", "http://host:8787/x"},
        // Nothing that would read this machine's files or leave the web.
        {"http://host:8787", "file:///etc/passwd", "The server returned an invalid response."},
        {"http://host:8787", "ftp://host/t/1", "The server returned an invalid response."},
        {"http:/a", "..//b", "The server returned an invalid response."},
        {"http://exa mple.com", "/x", "Enter a valid Spinforge server URL."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " + " + c.reference);
        QString resolved;
        const std::string failure = failureOf([&] {
            resolved = ServiceAddress::resolve(QString::fromUtf8(c.stored), QString::fromUtf8(c.reference)).toString();
        });
        EXPECT_EQ(failure == "no failure" ? resolved.toStdString() : failure, c.expected);
    }
}

// An encrypted line to the service, once chosen, is never left with the token: not for a
// download the manifest points elsewhere. A plain-http service is the user's choice.
TEST_F(ClientRules, TheTokenNeverTravelsInClearFromAnEncryptedService) {
    struct Case {
        const char* stored;
        const char* reference;
        const char* failure;
    };
    const Case cases[] = {
        {"https://host", "http://cdn.example/t/1",
         "The request to cdn.example would not be encrypted (http), and the device token goes only over https"},
        {"HTTPS://host", "HTTP://cdn.example:8080/t/1",
         "The request to cdn.example:8080 would not be encrypted (http), and the device token goes only over https"},
        {"https://host", "https://cdn.example/t/1", "no failure"}, {"https://host", "//cdn.example/t/1", "no failure"},
        {"http://host", "http://cdn.example/t/1", "no failure"}, {"http://host", "https://cdn.example/t/1", "no failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " + " + c.reference);
        const QString stored = QString::fromUtf8(c.stored);
        EXPECT_EQ(failureOf([&] {
                      ServiceAddress::requireTokenStaysEncrypted(stored, ServiceAddress::resolve(stored, QString::fromUtf8(c.reference)));
                  }),
                  c.failure);
    }
}

// A reply whose header section does not come in time fails then, whatever the idle timeout.
TEST_F(ClientRules, AHeaderThatDoesNotComeInTimeFails) {
    APIClient impatient{keyring, settings, {.header = std::chrono::milliseconds(300)}};
    testing_support::DevServer service({.tokens = {"tok"}, .faults = {R"({"endpoint": "manifest", "delay_seconds": 3})"}});
    settings.setServerURL(QString::fromStdString(service.baseUrl()));
    signIn("tok");
    EXPECT_EQ(failureOf([&] { testing_support::await(impatient.manifest()); }),
              "The manifest from 127.0.0.1:" + std::to_string(service.port()) + " did not arrive: no complete header within 300 ms");
}

// A reply's framing as its parser reads it: the header bounded, the body as long as the reply says.
TEST(ReplyFraming, TheHeaderIsBoundedAndTheBodyAsLongAsTheReplySays) {
    const auto fields = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "X-" + std::to_string(i) + ": v\r\n";
        return text;
    };
    struct Case {
        std::string reply, outcome;  // the status and body read, or why the reply broke
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", "200 abc"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=1\r\nabc\r\n1\r\nd\r\n0\r\nT: 1\r\n\r\n", "200 abcd"},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 500 Oops\r\nX: a\r\n b\r\n\r\nuntil closed", "500 until closed"},
        {"HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", "304 "},
        {"HTTP/1.1 200 OK\r\n" + fields(99) + "Content-Length: 0\r\n\r\n", "200 "},
        {"HTTP/1.1 200 OK\r\n" + fields(101) + "\r\n", "its header is too large"},
        {"HTTP/1.1 200 OK\r\nX: " + std::string(64 << 10, 'a') + "\r\n\r\n", "its header is too large"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", "2 of 5 bytes arrived"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 3, 4\r\n\r\nabc", "its length is malformed"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(2000, '1') + "\r\n", "its chunks are malformed"},
        {"HTTP/1.1 200 OK\r\nno colon\r\n\r\n", "its header is malformed"},
        {"HTTP/1.1 101 Switching Protocols\r\n\r\n", "it switches to another protocol"},
        {"<html>\r\n", "it is not an HTTP/1.1 reply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 60));
        ReplyParser parser;
        int status = 0;
        std::string body;
        parser.onHead = [&](const ReplyParser::Head& head) { status = head.status; };
        parser.onBody = [&](const char* data, qint64 size) { body.append(data, std::size_t(size)); };
        std::string outcome;
        try {
            parser.feed(c.reply.data(), qint64(c.reply.size()));
            parser.closed();
            outcome = std::to_string(status) + ' ' + body;
        } catch (const PlatformError& broken) {
            outcome = broken.what();
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

// The one place where a reply's status and error text become what the user reads.
TEST(ClientValidate, StatusAndErrorTextDecideTheFailure) {
    struct Case {
        std::optional<int> status;
        const char* body;
        const char* failure;
    };
    const Case cases[] = {
        {200, "not json at all", "no failure"}, {299, R"({"error":"ignored on success"})", "no failure"},
        {std::nullopt, "", "The server returned an invalid response."},
        {401, R"({"error":"Token revoked."})", "Token revoked."}, {401, "", "Sign in to this Mac first."},
        {401, R"({"error":42})", "Sign in to this Mac first."}, {403, R"({"error":""})", ""},
        {500, "<html><body>Oops</body></html>", "Server request failed (500)."},
        {502, R"(["error","x"])", "Server request failed (502)."}, {302, "", "Server request failed (302)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.body) + " / " + std::to_string(c.status.value_or(-1)));
        EXPECT_EQ(failureOf([&] { ReplyErrors::validate(c.status, QByteArray(c.body)); }), c.failure);
    }
}

TEST_F(ClientRules, SignInRefusesUnusableAddressesBeforeStoringAnything) {
    settings.setServerURL(QStringLiteral("http://previous.example"));
    for (const char* address : {"", " / // ", "ftp://files.example", "music.example.com", "file:///etc/passwd"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(failureOf([&] { testing_support::await(client.login(QString::fromUtf8(address), "a@b.c", "pw")); }),
                  "Enter a valid Spinforge server URL.");
        EXPECT_EQ(settings.serverURL(), QStringLiteral("http://previous.example"));
    }
}

// The token is checked before the address, and sent exactly as stored.
TEST_F(ClientRules, RequestsCarryTheStoredTokenVerbatimAndNoneGoesOutWithoutIt) {
    EXPECT_EQ(failureOf([&] { testing_support::await(client.manifest()); }), "Sign in to this Mac first.");
    testing_support::DevServer service({.tokens = {"t\u00f8k en"}});
    settings.setServerURL(QString::fromStdString(service.baseUrl()));
    EXPECT_EQ(failureOf([&] { testing_support::await(client.report(3, true)); }), "no failure");
    EXPECT_EQ(service.counters()["status"], 0) << "a report without a token was sent";

    signIn("t\u00f8k en");
    EXPECT_EQ(testing_support::await(client.manifest()).profile.displayName, QStringLiteral("DJ Demo"));
    testing_support::await(client.report(3, true));
    EXPECT_EQ(service.counters()["last_authorization"], "Bearer t\u00f8k en");
    ASSERT_EQ(service.reports().size(), 1u);
    EXPECT_EQ(service.reports()[0]["body"], R"({"synced":true,"track_count":3})");
}

// Redirects that would take what was sent (the password, the token over an encrypted line) where
// it was not meant to go are refused, and so is a loop; where the token goes is the fault matrix's.
TEST_F(ClientRules, RedirectsThatWouldTakeWhatWasSentElsewhereAreRefused) {
    // An HTTPS service this process trusts, and a plain one that records what reaches it.
    ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                            "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                            "subjectAltName=IP:127.0.0.1", "-keyout", folder.filePath("key.pem"),
                                            "-out", folder.filePath("cert.pem")}),
              0);
    const QSslConfiguration system = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = system;
    trusting.addCaCertificates(folder.filePath("cert.pem"));
    QSslConfiguration::setDefaultConfiguration(trusting);
    testing_support::DevServer secure({.tokens = {"tok"}, .tlsCert = folder.filePath("cert.pem").toStdString(),
                                       .tlsKey = folder.filePath("key.pem").toStdString()});
    testing_support::DevServer other;
    signIn("tok");
    const std::string from = " from 127.0.0.1:" + std::to_string(secure.port()) + " was redirected ";
    const std::string toOther = "to http://127.0.0.1:" + std::to_string(other.port());
    struct Case {
        const char* endpoint;
        int status;
        std::string location, failure;
    };
    const Case cases[] = {
        {"login", 307, other.baseUrl() + "/api/client/login",
         "The sign-in reply" + from + toOther + ": what was posted is not sent to another server"},
        {"manifest", 302, other.baseUrl() + "/api/client/manifest", "The manifest" + from + toOther + ", which is not encrypted"},
        {"manifest", 302, "/api/client/manifest", "The manifest" + from + "more than 10 times"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        secure.reset();
        secure.setFault(nlohmann::json{{"endpoint", c.endpoint}, {"status", c.status}, {"location", c.location}}.dump());
        const std::string failure = failureOf([&] {
            if (std::string(c.endpoint) == "login")
                testing_support::await(client.login(QString::fromStdString(secure.baseUrl()), "dj@example.com", "secret"));
            else
                testing_support::await(client.manifest());
        });
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(other.counters()["requests_seen"], 0) << "the redirect was followed";
    }
    QSslConfiguration::setDefaultConfiguration(system);
}

}  // namespace
