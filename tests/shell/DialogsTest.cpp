// The sign-in and drive registration dialogs, driven through their alerts as a user would.
#include "shell/ShellFixture.h"

#include <QComboBox>

using namespace testing_support;
using spinforge::Alert;

namespace {

class Dialogs : public ShellFixture {
protected:
    void SetUp() override {
        serve({{"House/One.mp3", "one"}, {"Two.mp3", "two"}});
        keyring.erase(spinforge::Keychain::service, QStringLiteral("device-token"));
        settings.setServerURL(QString());  // as if never signed in
        QSettings(settings.filePath(), QSettings::IniFormat).remove(QStringLiteral("serverURL"));
    }
    // Launches signed out, cancelling the dialog that opens at launch.
    void launch() {
        alerts.thenPress(QStringLiteral("Cancel"));
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(alerts.waitUntilAnswered());
    }
    // Launches signed in and waits for the launch sync to fill the library.
    void launchSignedIn() {
        spinforge::Keychain::save(keyring, QString::fromLatin1(kToken));
        settings.setServerURL(QString::fromStdString(server->baseUrl()));
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(waitForStatus(QStringLiteral("2 tracks cached \u2014 connect USB")));
    }
    std::optional<QString> token() { return spinforge::Keychain::load(keyring); }
    QString signInItem() { return delegate().statusItem()->menu()->actions().at(7)->text(); }
};

TEST_F(Dialogs, SignInDialogOffersThreeFieldsInAFixedArea) {
    QList<QStringList> shown;
    alerts.then([&](Alert& alert) {
        EXPECT_EQ(alert.informativeText(), "This is a one-time setup. Your device token is stored in Keychain.");
        EXPECT_EQ(alert.buttonTitles(), QStringList({"Connect", "Cancel"}));
        EXPECT_EQ(alert.accessoryView()->size(), QSize(380, 118));
        for (QLineEdit* field : fields(alert)) {
            shown << QStringList{field->text(), field->placeholderText()};
            EXPECT_EQ(field->contextMenuPolicy(), Qt::CustomContextMenu);
        }
        EXPECT_EQ(fields(alert)[2]->echoMode(), QLineEdit::Password);
        alert.press(QStringLiteral("Cancel"));
    });
    delegate().applicationDidFinishLaunching();
    EXPECT_EQ(shown, QList<QStringList>({{"https://app.spinforge.io", "Server URL"}, {"", "Email"}, {"", "Password"}}));

    // A stored address is offered instead of the built-in one.
    settings.setServerURL(QStringLiteral("http://dj.example:8080"));
    alerts.then([&](Alert& alert) {
        EXPECT_EQ(fields(alert)[0]->text(), "http://dj.example:8080");
        alert.press(QStringLiteral("Cancel"));
    });
    delegate().showSignIn();
    EXPECT_TRUE(alerts.waitUntilAnswered());
}

TEST_F(Dialogs, SuccessfulSignInRebuildsTheMenuAndSaysSo) {
    launch();
    ASSERT_EQ(signInItem(), "Sign In\u2026");
    signInWith(QStringLiteral("dj@example.com"), QStringLiteral("secret"),
               QStringLiteral("  ") + QString::fromStdString(server->baseUrl()) + QStringLiteral(" "));
    alerts.thenPress(QStringLiteral("OK"));
    delegate().showSignIn();
    ASSERT_TRUE(alerts.waitUntilAnswered());

    const SeenAlert result = alerts.seen.last();
    EXPECT_EQ(result.message, "Mac connected");
    EXPECT_EQ(result.informative, "Spinforge now runs automatically. Connect a USB to finish setup.");
    EXPECT_EQ(result.buttons, QStringList({"OK"}));
    EXPECT_TRUE(token().has_value());
    EXPECT_EQ(settings.serverURL(), QString::fromStdString(server->baseUrl())) << "spaces around it removed";
    EXPECT_EQ(signInItem(), "Reconnect\u2026");
    // The rebuilt menu still shows the first cycle's outcome.
    EXPECT_EQ(delegate().statusMenuItem().text(), "2 tracks cached \u2014 connect USB");
    EXPECT_EQ(delegate().statusItem()->menu()->actions().at(0), &delegate().statusMenuItem());
}

TEST_F(Dialogs, RefusedSignInShowsTheServiceText) {
    launch();
    signInWith(QStringLiteral("dj@example.com"), QStringLiteral("wrong"));
    alerts.thenPress(QStringLiteral("OK"));
    delegate().showSignIn();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Connection failed");
    EXPECT_EQ(alerts.seen.last().informative, "Invalid e-mail or password.");
    EXPECT_FALSE(token().has_value());
    EXPECT_EQ(signInItem(), "Sign In\u2026");
}

TEST_F(Dialogs, EmptyFieldsAreSubmittedAndTheirFailureShown) {
    launch();
    signInWith({}, {}, QString());
    alerts.thenPress(QStringLiteral("OK"));
    delegate().showSignIn();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Connection failed");
    EXPECT_EQ(alerts.seen.last().informative, "Enter a valid Spinforge server URL.");
}

TEST_F(Dialogs, CancelledSignInStoresNothing) {
    launch();
    alerts.then([](Alert& alert) {
        fields(alert)[0]->setText(QStringLiteral("http://127.0.0.1:1"));
        fields(alert)[1]->setText(QStringLiteral("dj@example.com"));
        alert.press(QStringLiteral("Cancel"));
    });
    delegate().showSignIn();
    QCoreApplication::processEvents();
    EXPECT_EQ(alerts.seen.size(), 2);
    EXPECT_FALSE(token().has_value());
    EXPECT_FALSE(settings.serverURL().has_value());
    EXPECT_EQ(signInItem(), "Sign In\u2026");
    EXPECT_EQ(server->counters()["login"], 0);
}

TEST_F(Dialogs, RegistrationWithoutADriveAsksForOne) {
    launchSignedIn();
    addDrive(QStringLiteral("Elsewhere"), std::nullopt);
    unmount(root.filePath("media/Elsewhere"));  // a folder, but not mounted
    alerts.thenPress(QStringLiteral("OK"));
    delegate().registerUSB();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Connect your USB");
    EXPECT_EQ(alerts.seen.last().informative,
              "Insert a writable USB drive, wait for it to appear in Finder, then try again.");
}

TEST_F(Dialogs, RegisteringTheOnlyDriveFillsIt) {
    launchSignedIn();
    const QString stick = addDrive(QStringLiteral("DJSTICK"), std::nullopt);
    alerts.then([](Alert& alert) {
        EXPECT_EQ(alert.messageText(), "Register a Traktor USB");
        EXPECT_EQ(alert.informativeText(),
                  "Spinforge will only sync this account to the selected drive. Existing files are preserved.");
        EXPECT_EQ(alert.buttonTitles(), QStringList({"Register", "Cancel"}));
        auto* drives = qobject_cast<QComboBox*>(alert.accessoryView());
        ASSERT_NE(drives, nullptr);
        EXPECT_EQ(drives->size(), QSize(320, 28));
        EXPECT_EQ(drives->count(), 1);
        EXPECT_EQ(drives->itemText(0), "DJSTICK");
        EXPECT_EQ(drives->currentIndex(), 0);
        alert.press(QStringLiteral("Register"));
    });
    alerts.thenPress(QStringLiteral("OK"));
    delegate().registerUSB();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "USB registered");
    EXPECT_EQ(alerts.seen.last().informative, "New tracks will sync whenever DJSTICK is connected.");
    EXPECT_EQ(fileBytes(onDrive(stick, QStringLiteral("House/One.mp3"))), "one");
    EXPECT_TRUE(QFileInfo::exists(stick + "/.dj-sync.json"));
}

TEST_F(Dialogs, ChoosingAmongSeveralDrivesRegistersTheChosenOne) {
    launchSignedIn();
    const QString first = addDrive(QStringLiteral("FIRST"), std::nullopt);
    const QString second = addDrive(QStringLiteral("SECOND STICK"), std::nullopt);
    alerts.then([](Alert& alert) {
        auto* drives = qobject_cast<QComboBox*>(alert.accessoryView());
        ASSERT_EQ(drives->count(), 2);
        EXPECT_EQ(drives->itemText(1), "SECOND STICK");
        drives->setCurrentIndex(1);
        alert.press(QStringLiteral("Register"));
    });
    alerts.thenPress(QStringLiteral("OK"));
    delegate().registerUSB();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().informative, "New tracks will sync whenever SECOND STICK is connected.");
    EXPECT_TRUE(QFileInfo::exists(second + "/.dj-sync.json"));
    EXPECT_TRUE(filesBelow(first).isEmpty());
}

TEST_F(Dialogs, CancelledRegistrationWritesNothing) {
    launchSignedIn();
    const QString stick = addDrive(QStringLiteral("DJSTICK"), std::nullopt);
    alerts.thenPress(QStringLiteral("Cancel"));
    delegate().registerUSB();
    QCoreApplication::processEvents();
    EXPECT_EQ(alerts.seen.size(), 1);
    EXPECT_TRUE(filesBelow(stick).isEmpty());
}

TEST_F(Dialogs, DriveThatVanishesAfterTheChoiceIsReported) {
    launchSignedIn();
    const QString stick = addDrive(QStringLiteral("DJSTICK"), std::nullopt);
    alerts.then([&](Alert& alert) {
        unmount(stick);
        alert.press(QStringLiteral("Register"));
    });
    alerts.thenPress(QStringLiteral("OK"));
    delegate().registerUSB();
    ASSERT_TRUE(alerts.waitUntilAnswered());
    EXPECT_EQ(alerts.seen.last().message, "Could not register USB");
    EXPECT_EQ(alerts.seen.last().informative, "Could not register DJSTICK: the drive is no longer mounted");
    EXPECT_TRUE(filesBelow(stick).isEmpty());
}

TEST_F(Dialogs, RegistrationSignedOutOpensOnlyTheSignInDialog) {
    launch();
    addDrive(QStringLiteral("DJSTICK"), std::nullopt);
    alerts.thenPress(QStringLiteral("Cancel"));
    delegate().registerUSB();
    QCoreApplication::processEvents();
    ASSERT_EQ(alerts.seen.size(), 2);
    EXPECT_EQ(alerts.seen.last().message, "Connect this Mac to Spinforge");
}

}  // namespace
