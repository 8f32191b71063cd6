// Signing the computer in against the development service, with the session's real keyring:
// what is stored, what the status line shows, and the first sync that follows.

#include "credentials/Keychain.h"
#include "engine/EngineFixture.h"
#include "platform/SecretServiceKeyring.h"

#include <QProcessEnvironment>

using namespace testing_support;

namespace {

const QString kSigningIn = QStringLiteral("Signing in\u2026");

class SignIn : public EngineFixture {
protected:
    void SetUp() override {
        keyringInUse = &realKeyring;
        serve({{"a.mp3", "a"}}, {}, {"dj@example.com:secret:7:Demo Set:DJ Demo", "b@example.com:pw:8:B Folder:B Side"});
    }
    QString base() const { return QString::fromStdString(server->baseUrl()); }
    std::string failureOf(const QString& server, const QString& email, const QString& password) {
        return testing_support::failureOf([&] { await(engine().login(server, email, password)); });
    }
    std::optional<QString> token() { return spinforge::Keychain::load(realKeyring); }

    spinforge::SecretServiceKeyring realKeyring;
};

TEST_F(SignIn, StoresEverythingInstallsTheLoginAgentAndSyncs) {
    const QString autostart = QProcessEnvironment::systemEnvironment().value("XDG_CONFIG_HOME") +
                              "/autostart/com.spinforge.mac.desktop";
    QFile::remove(autostart);
    await(engine().login(base(), "dj@example.com", "secret"));

    EXPECT_EQ(messages().mid(0, 3), (QStringList{kSigningIn, "Connected as DJ Demo", "Checking cloud library\u2026"}));
    EXPECT_EQ(states.last(), State::success("1 tracks cached \u2014 connect USB"));
    ASSERT_TRUE(token());
    EXPECT_NE(*token(), QString::fromLatin1(kToken));  // the new device's own token
    EXPECT_EQ(server->counters()["last_authorization"], "Bearer " + token()->toStdString());
    EXPECT_EQ(settings.displayName(), QStringLiteral("DJ Demo"));
    EXPECT_TRUE(settings.deviceId());
    EXPECT_EQ(settings.serverURL(), base());
    EXPECT_TRUE(fileBytes(autostart).contains("Exec=")) << autostart.toStdString();
}

TEST_F(SignIn, ASecondAccountReplacesTokenNameAndDevice) {
    await(engine().login(base(), "dj@example.com", "secret"));
    const auto firstToken = token();
    const auto firstDevice = settings.deviceId();
    await(engine().login(base(), "b@example.com", "pw"));
    EXPECT_NE(token(), firstToken);
    EXPECT_NE(settings.deviceId(), firstDevice);
    EXPECT_EQ(settings.displayName(), QStringLiteral("B Side"));
    EXPECT_TRUE(messages().contains("Connected as B Side"));
}

TEST_F(SignIn, ARefusalLeavesOnlyTheWorkingStateAndTheOldToken) {
    const std::string refusal = failureOf(base(), "dj@example.com", "wrong");
    EXPECT_NE(refusal, "no failure");
    EXPECT_EQ(messages(), QStringList{kSigningIn});
    EXPECT_EQ(token(), QString::fromLatin1(kToken));
    EXPECT_FALSE(settings.displayName());
    EXPECT_TRUE(notifier.posted.isEmpty());
}

TEST_F(SignIn, AnAddressThatIsNotAWebAddressStoresNothing) {
    settings.setServerURL("http://kept.example");
    EXPECT_EQ(failureOf("ftp://example.com", "dj@example.com", "secret"), "Enter a valid Spinforge server URL.");
    EXPECT_EQ(settings.serverURL(), QStringLiteral("http://kept.example"));
    EXPECT_EQ(server->counters()["login"], 0);
}

TEST_F(SignIn, AFailedFirstSyncStillCompletesTheSignIn) {
    server->setFault(R"({"endpoint": "manifest", "status": 500})");
    await(engine().login(base(), "dj@example.com", "secret"));
    EXPECT_EQ(states.last(), State::failed("Server request failed (500)."));
    EXPECT_TRUE(messages().contains("Connected as DJ Demo"));
}

TEST_F(SignIn, DuringARunningCycleTheFirstSyncIsDropped) {
    QCoro::Task<> cycle = engine().sync("timer");  // waiting for the manifest
    await(engine().login(base(), "dj@example.com", "secret"));
    await(std::move(cycle));
    const QStringList seen = messages();
    EXPECT_EQ(seen.first(), QStringLiteral("Checking cloud library\u2026"));
    EXPECT_EQ(seen.count(QStringLiteral("Checking cloud library\u2026")), 1);
    EXPECT_TRUE(seen.contains("Connected as DJ Demo"));
    EXPECT_EQ(states.last().kind, Kind::success);
    EXPECT_EQ(server->counters()["manifest"], 1);
}

TEST_F(SignIn, AKeyringThatRefusesTheTokenFailsTheSignIn) {
    keyring.refuseWith = 19;
    keyringInUse = &keyring;
    EXPECT_EQ(failureOf(base(), "dj@example.com", "secret"), "Could not secure the device token (19).");
    EXPECT_EQ(messages(), QStringList{kSigningIn});
    EXPECT_FALSE(settings.displayName());
}

}  // namespace
