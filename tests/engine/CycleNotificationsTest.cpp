// What the desktop is shown at the end of each cycle, captured by a stand-in notification
// server on the test session's bus.

#include "engine/EngineFixture.h"
#include "platform/DesktopNotifier.h"
#include "support/FakeNotificationServer.h"

using namespace testing_support;

namespace {

class CycleNotifications : public EngineFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.isRegistered());
        notifierInUse = &desktopNotifier;
    }
    FakeNotificationServer desktop;
    spinforge::DesktopNotifier desktopNotifier;
};

TEST_F(CycleNotifications, EveryOutcomeIsANewNotification) {
    serve({{"a.mp3", "a"}}, {R"({"endpoint": "manifest", "status": 503, "error": "Down for maintenance", "times": 1})"});
    await(engine().sync("fails"));
    await(engine().sync("works"));
    await(engine().sync("same again"));
    ASSERT_TRUE(desktop.waitForCalls(3));
    ASSERT_EQ(desktop.calls.size(), 3);

    EXPECT_EQ(desktop.calls[0].title, QStringLiteral("Spinforge needs attention"));
    EXPECT_EQ(desktop.calls[0].body, QStringLiteral("Down for maintenance"));
    EXPECT_FALSE(desktop.calls[0].hints.contains("transient"));
    EXPECT_EQ(desktop.calls[1].title, QStringLiteral("Spinforge"));
    EXPECT_EQ(desktop.calls[1].body, QStringLiteral("1 tracks cached \u2014 connect USB"));
    EXPECT_EQ(desktop.calls[2].body, QStringLiteral("Library ready \u2014 connect USB"));
    for (const FakeNotificationServer::Call& call : desktop.calls) {
        EXPECT_EQ(call.appName, QStringLiteral("Spinforge"));
        EXPECT_EQ(call.replacesId, 0u);  // never replaces the one before
        EXPECT_EQ(call.hints.value("sound-name"), QStringLiteral("message-new-instant"));
    }
    EXPECT_EQ(desktop.calls[1].hints.value("transient"), true);
}

}  // namespace
