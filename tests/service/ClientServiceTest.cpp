// Sign-in, manifest and status reports against the development service on loopback.
#include "service/ClientFixture.h"

#include "records/Decoding.h"
#include "records/SpinforgeError.h"
#include "service/TransportError.h"

#include <QTcpServer>

using namespace spinforge;
using namespace testing_support;

namespace {

template <typename Call>
SpinforgeError expectSpinforgeError(Call call) {
    try {
        call();
    } catch (const SpinforgeError& error) {
        return error;
    }
    ADD_FAILURE() << "no SpinforgeError was thrown";
    return SpinforgeError::server({});
}

using SignIn = ClientFixture;

TEST_F(SignIn, StoresTheTrimmedAddressAndReturnsTheReply) {
    const LoginResponse reply = await(client().login(QStringLiteral(" \n\t") + base() + QStringLiteral("//\n"),
                                                     QStringLiteral("dj@example.com"), QStringLiteral("secret")));
    EXPECT_EQ(settings.serverURL(), base());
    EXPECT_FALSE(reply.token.isEmpty());
    EXPECT_GT(reply.deviceId, 0);
    EXPECT_EQ(reply.displayName, QStringLiteral("DJ Demo"));
    EXPECT_EQ(server->counters()["login"], 1);
}

TEST_F(SignIn, AcceptsAnUpperCaseSchemeAndStoresItAsEntered) {
    const QString entered = QString(base()).replace(QStringLiteral("http://"), QStringLiteral("HTTP://"));
    await(client().login(entered, QStringLiteral("dj@example.com"), QStringLiteral("secret")));
    EXPECT_EQ(settings.serverURL(), entered);
}

TEST_F(SignIn, RefusalShowsTheServicesTextAndKeepsTheNewAddress) {
    settings.setServerURL(QStringLiteral("http://old.example"));
    const SpinforgeError error = expectSpinforgeError(
        [&] { await(client().login(base(), QStringLiteral("dj@example.com"), QStringLiteral("wrong"))); });
    EXPECT_EQ(error.errorDescription(), QStringLiteral("Invalid e-mail or password."));
    EXPECT_EQ(settings.serverURL(), base());
}

TEST_F(SignIn, UnreachableServerNamesTheServerAndTheReason) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();  // nothing listens there now
    try {
        await(client().login(QStringLiteral("http://127.0.0.1:%1").arg(port), QStringLiteral("a"), QStringLiteral("b")));
        FAIL();
    } catch (const TransportError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), QStringLiteral("Could not reach 127.0.0.1:%1: Connection refused").arg(port));
    }
}

using Manifests = ClientFixture;

TEST_F(Manifests, DecodeTheServicesLibraryWithTheBearerToken) {
    signIn();
    const Manifest manifest = await(client().manifest());
    EXPECT_EQ(manifest.profile.displayName, QStringLiteral("DJ Demo"));
    EXPECT_EQ(manifest.profile.folder, QStringLiteral("Demo Set"));
    EXPECT_EQ(manifest.profile.id, 7);
    ASSERT_EQ(manifest.tracks.size(), 2);
    EXPECT_EQ(manifest.tracks[0].relativePath, QStringLiteral("House/One.mp3"));
    EXPECT_EQ(manifest.tracks[0].byteSize, 300000);
    EXPECT_EQ(server->counters()["last_authorization"], std::string("Bearer ") + kDemoToken);
}

TEST_F(Manifests, WithoutATokenFailSignedOutWithoutAnyRequest) {
    const SpinforgeError error = expectSpinforgeError([&] { await(client().manifest()); });
    EXPECT_EQ(error.kind(), SpinforgeError::Kind::signedOut);
    EXPECT_EQ(server->counters()["manifest"], 0);
}

TEST_F(Manifests, GoToTheHostsRootWhateverPathTheAddressHas) {
    signIn();
    settings.setServerURL(base() + QStringLiteral("/dashboard/app/"));
    EXPECT_EQ(await(client().manifest()).tracks.size(), 2);
    EXPECT_EQ(server->counters()["manifest"], 1);
}

TEST_F(Manifests, RefusalsBecomeTheUsersMessage) {
    signIn();
    struct Case { const char* fault; const char* message; };
    const Case cases[] = {
        {R"({"endpoint":"manifest","status":401,"error":"Token revoked."})", "Token revoked."},
        {R"({"endpoint":"manifest","status":401})", "Sign in to this Mac first."},
        {R"({"endpoint":"manifest","status":500,"body":"<html><h1>Internal error</h1></html>"})", "Server request failed (500)."},
        {R"({"endpoint":"manifest","status":404,"body":"{\"error\":404}","content_type":"application/json"})", "Server request failed (404)."},
        {R"({"endpoint":"manifest","status":503})", "Server request failed (503)."},
        {R"({"endpoint":"manifest","status":400,"error":"Bad device."})", "Bad device."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        server->reset();
        server->setFault(c.fault);
        const SpinforgeError error = expectSpinforgeError([&] { await(client().manifest()); });
        EXPECT_EQ(error.errorDescription(), QString::fromUtf8(c.message));
    }
}

TEST_F(Manifests, UndecodableBodiesFailAsDecodingErrors) {
    signIn();
    for (const char* fault : {R"({"endpoint":"manifest","status":200,"body":"not json","content_type":"application/json"})",
                              R"({"endpoint":"manifest","status":200,"body":"{\"version\":1,\"profile\":{","content_type":"application/json"})"}) {
        SCOPED_TRACE(fault);
        server->reset();
        server->setFault(fault);
        EXPECT_THROW(await(client().manifest()), DecodingError);
    }
}

using Reports = ClientFixture;

TEST_F(Reports, ReachTheServiceAsJson) {
    signIn();
    await(client().report(2, true));
    const auto reports = server->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["track_count"], 2);
    EXPECT_EQ(reports[0]["synced"], true);
    const auto body = nlohmann::json::parse(reports[0]["body"].get<std::string>());
    EXPECT_EQ(body, (nlohmann::json{{"track_count", 2}, {"synced", true}}));
}

TEST_F(Reports, SendNothingWithoutATokenAndNeverFail) {
    await(client().report(5, false));
    EXPECT_EQ(server->counters()["status"], 0);

    signIn();
    server->setFault(R"({"endpoint":"status","status":500,"error":"down"})");
    await(client().report(5, false));  // returns normally
    EXPECT_EQ(server->counters()["status"], 1);

    settings.setServerURL(QStringLiteral("http://127.0.0.1:1"));
    await(client().report(5, false));  // a transport failure is swallowed too
}

}  // namespace
