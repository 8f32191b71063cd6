// Desktop notifications against a notification server on the test session's bus: what a post
// sends, its body escaped exactly for a server that reads markup, never waiting, its button.
#include "platform/DesktopNotifier.h"

#include "support/FakeNotificationServer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

using namespace spinforge;
using testing_support::FakeNotificationServer;

namespace {

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRegistered()) << "no session bus, or the name is taken: run inside scripts/test-session";
    }
    // Posts through a notifier made now, so that it asks the server as it now is.
    FakeNotificationServer::Call posted(const QString& title, const QString& body, bool routine) {
        DesktopNotifier notifier(QDBusConnection::sessionBus(), QStringLiteral("spinforge-test-icon"));
        notifier.post(title, body, routine);
        const qsizetype before = server.calls.size();
        EXPECT_TRUE(server.waitForCalls(before + 1)) << "refused: " << server.refused.join(u' ').toStdString();
        return server.calls.value(before);
    }
    FakeNotificationServer server;
};

// Each post is a new notification (it replaces none), and a routine one leaves no history. Servers
// that read markup (Plasma, dunst, mako) would take "<", ">" and "&" for tags and entities.
TEST_F(DesktopNotifierTest, EachPostIsNewAndItsBodyEscapedExactlyWhenTheServerReadsMarkup) {
    const QString body = QStringLiteral("Could not copy <Untitled> & \"Live\".mp3 to DJSTICK");
    server.capabilities = {QStringLiteral("body"), QStringLiteral("actions")};
    const FakeNotificationServer::Call plain = posted(QStringLiteral("Spinforge needs attention"), body, false);
    EXPECT_EQ(plain.body, body);
    EXPECT_EQ(plain.icon, QStringLiteral("spinforge-test-icon"));
    EXPECT_FALSE(plain.hints.contains("transient"));
    server.capabilities << QStringLiteral("body-markup");
    const FakeNotificationServer::Call call = posted(QStringLiteral("A <title>"), body, true);
    EXPECT_EQ(call.body, QStringLiteral("Could not copy &lt;Untitled&gt; &amp; \"Live\".mp3 to DJSTICK"));
    EXPECT_EQ(call.title, QStringLiteral("A <title>")) << "the summary is never markup";
    EXPECT_TRUE(call.hints.contains("transient"));
    EXPECT_EQ(call.replacesId, 0u);
}

// The server's capabilities come late; the post returns at once and goes out once they are there.
TEST_F(DesktopNotifierTest, APostNeverWaitsOnASlowServer) {
    server.capabilities << QStringLiteral("body-markup");
    server.capabilitiesDelay = 1500ms;
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    QElapsedTimer clock;
    clock.start();
    notifier.post(QStringLiteral("Spinforge needs attention"), QStringLiteral("Could not copy <A>.mp3"), false);
    EXPECT_LT(clock.elapsed(), 500) << "the post waited for the server";
    ASSERT_TRUE(server.waitForCalls(1));
    EXPECT_EQ(server.calls[0].body, QStringLiteral("Could not copy &lt;A&gt;.mp3"));
}

TEST_F(DesktopNotifierTest, AButtonIsOfferedWhereTheServerShowsThemAndActsOncePressed) {
    int pressed = 0;
    std::optional<DesktopNotifier> notifier;
    for (const QStringList& shown : {QStringList(), QStringList{"Eject", "Eject"}}) {
        if (!shown.isEmpty()) server.capabilities << QStringLiteral("actions");
        notifier.emplace(QDBusConnection::sessionBus());
        notifier->postWithAction(QStringLiteral("Spinforge"), QStringLiteral("USB is up to date"), true,
                                 {QStringLiteral("Eject"), [&] { ++pressed; }});
        ASSERT_TRUE(server.waitForCalls(server.calls.size() + 1));
        EXPECT_EQ(server.calls.last().actions, shown);
    }
    // Another notification's button, an unknown one, then this one twice.
    for (const auto& [id, key] : {std::pair(1u, "Eject"), std::pair(2u, "Open"), std::pair(2u, "Eject"), std::pair(2u, "Eject")})
        server.press(id, QString::fromLatin1(key));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pressed > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(pressed, 1);
}

}  // namespace
