// The application under the offscreen platform, driven as a user would: dialogs and commands.
#include "shell/ShellRig.h"

#include <QComboBox>

using namespace testing_support;
using spinforge::Alert;

namespace {

class Shell : public ShellRig {
protected:
    void SetUp() override { rig.serve({{"House/One.mp3", "one"}, {"Two.mp3", "two"}}); }
    void signOut() {
        rig.keyring.erase(QStringLiteral("com.spinforge.mac"), QStringLiteral("device-token"));
        QSettings(rig.scratch("Spinforge.conf"), QSettings::IniFormat).remove(QStringLiteral("serverURL"));
    }
    void launchSignedIn() {
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(waitForStatus(QStringLiteral("2 tracks cached \u2014 connect USB")));
    }
    QString server() { return QString::fromStdString(rig.service().baseUrl()); }
};

TEST_F(Shell, SignInFromTheDialogConnectsAndTheMenuOffersReconnect) {
    signOut();
    signInWith(server(), QStringLiteral("dj@example.com"), QStringLiteral("wrong"));  // the dialog at launch
    alerts.thenPress(QStringLiteral("OK"));
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Connection failed");
    EXPECT_EQ(alerts.seen.last().informative, "Invalid e-mail or password.");
    ASSERT_TRUE(menuAction(QStringLiteral("Sign In\u2026")));

    signInWith(QStringLiteral(" ") + server() + QStringLiteral("/ "), QStringLiteral("dj@example.com"), QStringLiteral("secret"));
    alerts.thenPress(QStringLiteral("OK"));
    menuAction(QStringLiteral("Sign In\u2026"))->trigger();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Mac connected");
    EXPECT_EQ(rig.settings.serverURL(), server());
    EXPECT_TRUE(menuAction(QStringLiteral("Reconnect\u2026")));
    // The rebuilt menu still shows the first cycle's outcome.
    EXPECT_EQ(statusLine(), "2 tracks cached \u2014 connect USB");
}

TEST_F(Shell, RegistrationRegistersTheChosenDrive) {
    launchSignedIn();
    const QString first = rig.addDrive(QStringLiteral("FIRST"), std::nullopt);
    const QString second = rig.addDrive(QStringLiteral("SECOND STICK"), std::nullopt);
    alerts.then([](Alert& alert) {
        auto* drives = alert.findChild<QComboBox*>();
        ASSERT_EQ(drives->count(), 2);
        drives->setCurrentIndex(1);
        press(alert, QStringLiteral("Register"));
    });
    alerts.thenPress(QStringLiteral("OK"));
    menuAction(QStringLiteral("Register a USB\u2026"))->trigger();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().informative, "New tracks will sync whenever SECOND STICK is connected.");
    EXPECT_EQ(fileBytes(EngineRig::onDrive(second, "House/One.mp3")), "one");
    EXPECT_EQ(filesBelow(first), QStringList());
}

TEST_F(Shell, CommandsReachTheirTargets) {
    delegate().applicationDidFinishLaunching();  // the launch sync now awaits the manifest
    menuAction(QStringLiteral("Sync Now"))->trigger();
    ASSERT_TRUE(waitForStatus(QStringLiteral("2 tracks cached \u2014 connect USB")));
    EXPECT_EQ(rig.service().counters()["manifest"], 1) << "Sync Now during the launch sync started a second cycle";

    // The periodic sync: every fifteen minutes, each firing a cycle.
    auto* periodic = delegate().findChild<QTimer*>(QStringLiteral("periodic sync"));
    ASSERT_TRUE(periodic);
    EXPECT_EQ(periodic->interval(), 900 * 1000);
    EXPECT_TRUE(periodic->isActive() && !periodic->isSingleShot());
    periodic->setInterval(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.service().counters()["manifest"] >= 2; }, 10000));
    periodic->stop();

    menuAction(QStringLiteral("Open Web Dashboard"))->trigger();
    menuAction(QStringLiteral("Open Local Library"))->trigger();
    EXPECT_EQ(opened, (QList<QUrl>{QUrl(server()), QUrl::fromLocalFile(rig.cacheRoot())}));
    rig.settings.setServerURL(QStringLiteral("file:///etc/passwd"));
    alerts.thenPress(QStringLiteral("Cancel"));
    menuAction(QStringLiteral("Open Web Dashboard"))->trigger();
    EXPECT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Connect this Mac to Spinforge");

    QTimer::singleShot(0, menuAction(QStringLiteral("Quit Spinforge")), &QAction::trigger);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

}  // namespace
