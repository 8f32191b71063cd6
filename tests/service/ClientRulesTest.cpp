// The client's rules that need no service: reference resolution against the stored address,
// the reading of replies, and the addresses sign-in refuses before any traffic.
#include "credentials/Settings.h"
#include "records/SpinforgeError.h"
#include "service/APIClient.h"
#include "support/Await.h"
#include "support/MemoryKeyring.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace spinforge;
using testing_support::MemoryKeyring;

namespace {

class ClientRules : public ::testing::Test {
protected:
    QTemporaryDir folder;
    MemoryKeyring keyring;
    Settings settings{folder.filePath("Spinforge.conf")};
    APIClient client{keyring, settings};
};

TEST_F(ClientRules, ReferencesResolveAgainstTheStoredAddress) {
    struct Case { const char* stored; const char* reference; const char* expected; };
    const Case cases[] = {
        {"http://host:8787", "/api/client/manifest", "http://host:8787/api/client/manifest"},
        // A path of the server's own is replaced by an absolute path ...
        {"https://host/app/v1/", "/api/client/login", "https://host/api/client/login"},
        // ... and loses its last segment to a relative one, since trailing slashes are dropped.
        {"https://host/app/v1/", "tracks/1", "https://host/app/tracks/1"},
        {"http://host:8787", "https://cdn.example:9443/t/1?sig=abc", "https://cdn.example:9443/t/1?sig=abc"},
        {"https://host", "//cdn.example/t/1", "https://cdn.example/t/1"},
        {"HTTP://Host:8787", "/x", "http://host:8787/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " + " + c.reference);
        settings.setServerURL(QString::fromUtf8(c.stored));
        EXPECT_EQ(client.url(QString::fromUtf8(c.reference)).toString(), QString::fromUtf8(c.expected));
    }
}

// An address without a host lets a reference resolve to no usable URL; nothing is requested.
TEST_F(ClientRules, AReferenceThatResolvesToNoValidUrlIsRefused) {
    settings.setServerURL(QStringLiteral("http:/a"));
    try {
        client.url(QStringLiteral("..//b"));
        FAIL() << "an invalid URL was handed out";
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.kind(), SpinforgeError::Kind::invalidResponse);
    }
}

TEST_F(ClientRules, NoUsableStoredAddressIsInvalidServer) {
    EXPECT_EQ(client.baseURL(), std::nullopt);
    EXPECT_THROW(client.url(QStringLiteral("/api/client/manifest")), SpinforgeError);
    settings.setServerURL(QStringLiteral("http://exa mple.com"));
    EXPECT_EQ(client.baseURL(), std::nullopt);
    try {
        client.url(QStringLiteral("/x"));
        FAIL();
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.kind(), SpinforgeError::Kind::invalidServer);
    }
}

TEST_F(ClientRules, AuthenticatedRequestChecksTheTokenFirstThenCarriesItVerbatim) {
    // Neither token nor address: the missing sign-in is what the user is told.
    try {
        client.authenticatedRequest(QStringLiteral("/api/client/manifest"));
        FAIL();
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.kind(), SpinforgeError::Kind::signedOut);
    }
    keyring.add(QStringLiteral("com.spinforge.mac"), QStringLiteral("device-token"), {}, QByteArray("tøk en"));
    settings.setServerURL(QStringLiteral("http://host:1"));
    const QNetworkRequest request = client.authenticatedRequest(QStringLiteral("/api/client/manifest"));
    EXPECT_EQ(request.rawHeader("Authorization"), QByteArray("Bearer tøk en"));
    EXPECT_EQ(request.transferTimeout(), 1800 * 1000);
}

TEST(ClientValidate, StatusAndErrorTextDecideTheFailure) {
    struct Case { std::optional<int> status; const char* body; std::optional<SpinforgeError::Kind> kind; const char* text; };
    using K = SpinforgeError::Kind;
    const Case cases[] = {
        {200, "not json at all", std::nullopt, ""},
        {204, "", std::nullopt, ""},
        {299, R"({"error":"ignored on success"})", std::nullopt, ""},
        {std::nullopt, "", K::invalidResponse, "The server returned an invalid response."},
        {401, R"({"error":"Token revoked."})", K::server, "Token revoked."},
        {401, "", K::signedOut, "Sign in to this Mac first."},
        {401, R"({"error":42})", K::signedOut, "Sign in to this Mac first."},
        {403, R"({"error":""})", K::server, ""},
        {500, "<html><body>Oops</body></html>", K::server, "Server request failed (500)."},
        {404, R"({"error":17})", K::server, "Server request failed (404)."},
        {502, R"(["error","x"])", K::server, "Server request failed (502)."},
        {302, "", K::server, "Server request failed (302)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.body) + " / " + std::to_string(c.status.value_or(-1)));
        try {
            APIClient::validate(c.status, QByteArray(c.body));
            EXPECT_FALSE(c.kind.has_value()) << "expected a failure";
        } catch (const SpinforgeError& error) {
            ASSERT_TRUE(c.kind.has_value()) << error.what();
            EXPECT_EQ(error.kind(), *c.kind);
            EXPECT_EQ(error.errorDescription(), QString::fromUtf8(c.text));
        }
    }
}

TEST_F(ClientRules, SignInRefusesUnusableAddressesBeforeStoringAnything) {
    settings.setServerURL(QStringLiteral("http://previous.example"));
    for (const char* address : {"", "   \n", " / // ", "ftp://files.example", "music.example.com",
                                "file:///etc/passwd", "http://exa mple.com"}) {
        SCOPED_TRACE(address);
        try {
            testing_support::await(client.login(QString::fromUtf8(address), QStringLiteral("a@b.c"), QStringLiteral("pw")));
            FAIL() << "accepted";
        } catch (const SpinforgeError& error) {
            EXPECT_EQ(error.kind(), SpinforgeError::Kind::invalidServer);
        }
        EXPECT_EQ(settings.serverURL(), QStringLiteral("http://previous.example"));
    }
}

}  // namespace
