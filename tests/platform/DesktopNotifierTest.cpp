// Desktop notifications against a notification server on the test session's bus: what a post
// sends, that it never waits for the server, and that no server is no problem.
#include "platform/DesktopNotifier.h"

#include "support/FakeNotificationServer.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <gtest/gtest.h>

using namespace spinforge;
using testing_support::FakeNotificationServer;

namespace {

QString str(const char* utf8) { return QString::fromUtf8(utf8); }

using testing_support::LogCapture;

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRegistered()) << "no session bus, or the name is taken: run inside scripts/test-session";
    }

    // The failure names the argument types when the server refused the call.
    void expectCalls(qsizetype count) {
        ASSERT_TRUE(server.waitForCalls(count)) << "refused signatures: " << server.refused.join(u' ').toStdString();
    }

    FakeNotificationServer server;
    DesktopNotifier notifier{QDBusConnection::sessionBus(), QStringLiteral("spinforge-test-icon")};
};

TEST_F(DesktopNotifierTest, SendsTheTextUnderTheAppsNameAsANewNotificationThatDoesNotExpire) {
    notifier.post(str("Drive synced"), str("DJ USB — 12 tracks, “Zoë’s Set”"), false);
    expectCalls(1);
    const FakeNotificationServer::Call& call = server.calls[0];
    EXPECT_EQ(call.appName, str("Spinforge"));
    EXPECT_EQ(call.icon, str("spinforge-test-icon"));
    EXPECT_EQ(call.title, str("Drive synced"));
    EXPECT_EQ(call.body, str("DJ USB — 12 tracks, “Zoë’s Set”"));
    EXPECT_EQ(call.replacesId, 0u);
    EXPECT_EQ(call.actions, QStringList());
    EXPECT_EQ(call.timeout, -1);
}

TEST_F(DesktopNotifierTest, EveryNotificationHasASoundAndOnlyRoutineOnesAreTransient) {
    const QVariantMap sound{{str("sound-name"), str("message-new-instant")}};
    QVariantMap transientSound = sound;
    transientSound.insert(str("transient"), true);
    struct Case { bool routine; QVariantMap hints; };
    const Case cases[] = {{false, sound}, {true, transientSound}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.routine ? "routine" : "not routine");
        server.calls.clear();
        notifier.post(str("Title"), str("Body"), c.routine);
        expectCalls(1);
        EXPECT_EQ(server.calls[0].hints, c.hints);
    }
    // A boolean hint, not a number or a string: servers look for the boolean.
    EXPECT_EQ(server.calls[0].hints.value(str("transient")).typeId(), QMetaType::Bool);
}

TEST_F(DesktopNotifierTest, TheSameTextPostedTwiceShowsTwice) {
    notifier.post(str("Sync failed"), str("The drive is full"), false);
    notifier.post(str("Sync failed"), str("The drive is full"), false);
    expectCalls(2);
    ASSERT_EQ(server.calls.size(), 2);
    EXPECT_EQ(server.calls[1].title, server.calls[0].title);
    EXPECT_EQ(server.calls[1].replacesId, 0u);
}

// The server shares the notifier's connection and thread. A call that expects an answer (call(),
// asyncCall()) reaches it at once through Qt's local shortcut, so it would be recorded before post
// returns; a plain message goes through the bus daemon and waits for the event loop.
TEST_F(DesktopNotifierTest, PostReturnsBeforeTheServerHasRun) {
    notifier.post(str("Title"), str("Body"), true);
    EXPECT_TRUE(server.calls.isEmpty());
    expectCalls(1);
}

TEST(DesktopNotifier, WithoutAServerOrABusPostingIsSilent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "no session bus: run inside scripts/test-session";
    ASSERT_FALSE(bus.interface()->isServiceRegistered(FakeNotificationServer::service()).value());
    const LogCapture log;
    DesktopNotifier(bus).post(str("Title"), str("Body"), false);
    DesktopNotifier(QDBusConnection(str("spinforge-no-such-connection"))).post(str("Title"), str("Body"), true);
    // A round trip through the bus daemon: it has dealt with the post by the time this answers.
    EXPECT_FALSE(bus.interface()->isServiceRegistered(FakeNotificationServer::service()).value());
    QCoreApplication::processEvents();
    EXPECT_EQ(LogCapture::lines(), QStringList());
}

}  // namespace
