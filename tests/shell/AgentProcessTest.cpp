// The agent as the user runs it: the real executable in its own process, with the test
// session's keyring, its own XDG folders, the development service, and drives the kernel really
// mounted under /media. Needs root for the mounts; skips elsewhere.
#include "engine/RealDriveFixture.h"
#include "platform/SecretServiceKeyring.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>

using namespace testing_support;

namespace {

class AgentProcess : public RealDriveFixture {
protected:
    void SetUp() override {
        RealDriveFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(home.isValid());
        if (!spinforge::Keychain::load(realKeyring) && !canStoreInKeyring())
            GTEST_SKIP() << "no unlocked Secret Service on the session bus (run inside scripts/test-session)";
    }
    void TearDown() override {
        for (QProcess* agent : {&agent_, &second_})
            if (agent->state() != QProcess::NotRunning) {
                agent->kill();
                agent->waitForFinished(5000);
            }
        realKeyring.erase(spinforge::Keychain::service, QStringLiteral("device-token"));
        RealDriveFixture::TearDown();
    }

    bool canStoreInKeyring() {
        try {
            spinforge::Keychain::save(realKeyring, QStringLiteral("probe"));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    // Signed in as an earlier session left it: the token in the keyring, the address in the
    // settings file where the agent reads it.
    void signedInEarlier() {
        spinforge::Keychain::save(realKeyring, QString::fromLatin1(kToken));
        spinforge::Settings agentSettings(home.filePath("config/Spinforge/Spinforge.conf"));
        agentSettings.setServerURL(QString::fromStdString(server->baseUrl()));
    }

    void start(QProcess& agent) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_DATA_HOME", home.filePath("data"));
        environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        QDir().mkpath(home.filePath("runtime"));
        QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        agent.setProcessEnvironment(environment);
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.start(QStringLiteral(SPINFORGE_AGENT_PATH), {});
        ASSERT_TRUE(agent.waitForStarted(5000)) << agent.errorString().toStdString();
    }

    // Waits until `drive` holds every served track and the playlist, and the service has
    // `reports` reports.
    bool waitUntilFilled(const RealDrive& drive, size_t reports) {
        return QTest::qWaitFor(
                [&] {
                    for (const auto& [path, bytes] : served)
                        if (fileBytes(onDrive(drive, path)) != bytes) return false;
                    return fileBytes(playlistOn(drive)) == playlistOfServed() && server->reports().size() >= reports;
                },
                30000);
    }

    QTemporaryDir home;
    spinforge::SecretServiceKeyring realKeyring;
    QProcess agent_;
    QProcess second_;
};

TEST_F(AgentProcess, SyncsAtLaunchAndOnMountAndStaysTheOnlyAgent) {
    if (!canUseImages("mkfs.ext4")) GTEST_SKIP() << "needs loop devices, losetup and mkfs.ext4";
    serve({{"House/a.mp3", noise(300000, 21)}, {"Techno/c.mp3", noise(70000, 23)}, {"b.mp3", noise(5000, 22)}});
    signedInEarlier();
    RealDrive& first = tmpfsDrive("DJSTICK");
    writeMarker(first.path());
    // Registered earlier too, but plugged in only while the agent runs.
    RealDrive& second = ext4Drive("BACKUP");
    writeMarker(second.path());
    second.eject();

    start(agent_);
    ASSERT_TRUE(waitUntilFilled(first, 1)) << "the launch sync did not fill " << first.path().toStdString()
                                           << "; the service saw " << server->counters().dump();
    EXPECT_EQ(server->reports()[0]["synced"], true);
    EXPECT_EQ(server->reports()[0]["track_count"], 3);

    second.mountImage("ext4");
    ASSERT_TRUE(waitUntilFilled(second, 2)) << "mounting " << second.path().toStdString() << " started no cycle";
    expectEveryTrackOn(first);

    // A second launch finds the first agent, asks it to show itself, and ends.
    start(second_);
    ASSERT_TRUE(second_.waitForFinished(15000));
    EXPECT_EQ(second_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second_.exitCode(), 0);
    QTest::qWait(300);
    EXPECT_EQ(agent_.state(), QProcess::Running);
    EXPECT_EQ(server->reports().size(), 2u) << "the second launch must not sync";

    // Logging out ends the agent cleanly.
    agent_.terminate();
    ASSERT_TRUE(agent_.waitForFinished(10000));
    EXPECT_EQ(agent_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(agent_.exitCode(), 0);
}

TEST_F(AgentProcess, LogoutDuringADownloadEndsCleanlyAndLeavesNoPartialTrack) {
    serve({{"slow.mp3", noise(3000000, 31)}});
    server->setFault(R"({"endpoint": "download", "bytes_per_second": 300000})");
    signedInEarlier();
    start(agent_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->counters()["download"] == 1; }, 15000));
    QTest::qWait(500);  // well into the ten-second download

    agent_.terminate();
    ASSERT_TRUE(agent_.waitForFinished(10000));
    EXPECT_EQ(agent_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(agent_.exitCode(), 0);
    EXPECT_EQ(entriesOf(home.filePath("data/Spinforge/Library")), QStringList()) << "a track was left half-written";
}

}  // namespace
