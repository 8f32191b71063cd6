// The real executable in its own process, with the session's keyring, XDG folders of its own and
// the development service.
#include "credentials/Keychain.h"
#include "platform/SecretServiceKeyring.h"
#include "support/DevServer.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

using namespace testing_support;

namespace {

class AgentProcess : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            spinforge::Keychain::save(keyring, QString::fromLatin1(kToken));
        } catch (const std::exception& error) {
            GTEST_SKIP() << "no unlocked Secret Service on the session bus (run inside scripts/test-session): " << error.what();
        }
        writeBytes(home.filePath("library/slow.mp3"), noise(3000000, 31));
        // Ten seconds of download: long enough to act while one is under way.
        service = std::make_unique<DevServer>(DevServerOptions{
            .tokens = {kToken}, .library = home.filePath("library").toStdString(),
            .faults = {R"({"endpoint": "download", "bytes_per_second": 300000})"}});
        // Written as an earlier version of the agent, or the user, left it.
        writeBytes(home.filePath("config/Spinforge/Spinforge.conf"), "[General]\nserverURL=" + QByteArray::fromStdString(service->baseUrl()) + '\n');
        QDir().mkpath(home.filePath("runtime"));
        QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void TearDown() override {
        for (auto& agent : agents) agent->kill();
        for (auto& agent : agents) agent->waitForFinished(5000);
        keyring.erase(spinforge::Keychain::service, QStringLiteral("device-token"));
    }

    QProcess& start() {
        agents.push_back(std::make_unique<QProcess>());
        QProcess& agent = *agents.back();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, folder] : {std::pair("HOME", ""), std::pair("XDG_CONFIG_HOME", "config"),
                                           std::pair("XDG_DATA_HOME", "data"), std::pair("XDG_RUNTIME_DIR", "runtime")})
            environment.insert(name, home.filePath(folder));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        agent.setProcessEnvironment(environment);
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.start(QStringLiteral(SPINFORGE_AGENT_PATH), {});
        EXPECT_TRUE(agent.waitForStarted(5000)) << agent.errorString().toStdString();
        return agent;
    }
    bool downloads(int count) {
        return QTest::qWaitFor([&] { return service->counters()["download"] == count; }, 15000);
    }
    static void expectEndedWell(QProcess& agent) {
        ASSERT_TRUE(agent.waitForFinished(10000));
        EXPECT_EQ(agent.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(agent.exitCode(), 0);
    }

    QTemporaryDir home;
    spinforge::SecretServiceKeyring keyring;
    std::unique_ptr<DevServer> service;
    std::vector<std::unique_ptr<QProcess>> agents;
};

TEST_F(AgentProcess, OneAgentPerSessionEndingCleanlyOnLogoutAndReplacedAfterACrash) {
    QProcess& first = start();
    ASSERT_TRUE(downloads(1));

    // A second launch (autostart beside a launch by hand) asks the first to show itself, and ends.
    QProcess& second = start();
    expectEndedWell(second);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(service->counters()["manifest"], 1) << "the second launch synced";

    // Logging out (SIGTERM) mid-download ends the agent with nothing half-written.
    first.terminate();
    expectEndedWell(first);
    EXPECT_EQ(filesBelow(home.filePath("data/Spinforge/Library")), QStringList());

    // A crashed agent's lock is taken over by the next launch.
    QProcess& crashing = start();
    ASSERT_TRUE(downloads(2));
    crashing.kill();
    crashing.waitForFinished(5000);
    QProcess& next = start();
    EXPECT_TRUE(downloads(3)) << "the launch after a crash did not run the agent";
    next.terminate();
    expectEndedWell(next);
}

}  // namespace
