// The status menu, the state handler and the commands that need no dialog.
#include "shell/ShellFixture.h"
#include "shell/Symbols.h"

#include <QMenuBar>
#include <QSignalSpy>

using namespace testing_support;
using spinforge::AppDelegate;
namespace Symbols = spinforge::Symbols;

namespace {

class StatusMenu : public ShellFixture {
protected:
    // Launches signed out, cancelling the sign-in dialog that opens at launch.
    void launchSignedOut() {
        alerts.thenPress(QStringLiteral("Cancel"));
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(alerts.seen.size() == 1 && alerts.waitUntilAnswered());
    }
    // Launches signed in against a service with two tracks and waits for the launch sync.
    void launchSignedIn() {
        serve({{"House/One.mp3", std::string(70000, 'a')}, {"Two.mp3", "two"}});
        delegate().applicationDidFinishLaunching();
        ASSERT_TRUE(waitForStatus(QStringLiteral("2 tracks cached \u2014 connect USB")))
                << delegate().statusMenuItem().text().toStdString();
    }
    int manifestRequests() { return server->counters()["manifest"].get<int>(); }
};

TEST_F(StatusMenu, SignedOutLaunchShowsTheSignInDialogAndTheFullMenu) {
    launchSignedOut();
    EXPECT_EQ(alerts.seen[0].message, "Connect this Mac to Spinforge");
    EXPECT_EQ(menuItems(), QStringList({"Standing by|", "-", "Sync Now|Ctrl+S", "Register a USB\u2026|Ctrl+U",
                                        "Open Local Library|Ctrl+L", "Open Web Dashboard|Ctrl+D", "-",
                                        "Sign In\u2026|", "Quit Spinforge|Ctrl+Q"}));
    EXPECT_FALSE(delegate().statusMenuItem().isEnabled());
    EXPECT_EQ(delegate().statusItem()->symbol(), Symbols::drive);
    EXPECT_EQ(delegate().statusItem()->description(), "Spinforge");
    ASSERT_NE(delegate().timer(), nullptr);
    EXPECT_TRUE(delegate().timer()->isActive());
    EXPECT_FALSE(delegate().timer()->isSingleShot());
    EXPECT_EQ(delegate().timer()->interval(), 900000);
}

TEST_F(StatusMenu, ApplicationMenuHoldsQuitAndTheEditingMenu) {
    launchSignedOut();
    const QList<QAction*> top = delegate().applicationMenu()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->menu()->title(), "Spinforge");
    ASSERT_EQ(top[0]->menu()->actions().size(), 1);
    EXPECT_EQ(top[0]->menu()->actions()[0]->text(), "Quit Spinforge");
    EXPECT_EQ(top[0]->menu()->actions()[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(top[1]->menu()->title(), "Edit");
}

TEST_F(StatusMenu, EditingMenuActsOnTheFocusedField) {
    const std::unique_ptr<QMenu> menu = AppDelegate::editingMenu();
    EXPECT_EQ(itemsOf(*menu), QStringList({"Cut|Ctrl+X", "Copy|Ctrl+C", "Paste|Ctrl+V", "-", "Select All|Ctrl+A"}));
    EXPECT_NE(AppDelegate::editingMenu().get(), menu.get()) << "each call builds its own menu";

    QWidget window;
    auto* field = new QLineEdit(QStringLiteral("dj@example.com"), &window);
    window.show();
    window.activateWindow();
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == field; }));
    menu->actions()[4]->trigger();  // Select All
    EXPECT_EQ(field->selectedText(), "dj@example.com");
    menu->actions()[0]->trigger();  // Cut
    EXPECT_EQ(field->text(), "");
    menu->actions()[2]->trigger();  // Paste
    EXPECT_EQ(field->text(), "dj@example.com");
}

TEST_F(StatusMenu, StateHandlerShowsEachStateInTheStatusLineAndIcon) {
    launchSignedOut();
    using State = spinforge::SyncEngine::State;
    struct Case {
        State state;
        QString title, symbol, description;
    };
    const QString longMessage = QString(300, u'x');
    const std::vector<Case> cases = {
            {State::working(QStringLiteral("Downloading 3/8: a.mp3")), "Downloading 3/8: a.mp3", Symbols::syncing, "Syncing"},
            {State::failed(QStringLiteral("Could not copy b.mp3 to DJSTICK: No space left on device")),
             "Could not copy b.mp3 to DJSTICK: No space left on device", Symbols::attention, "Needs attention"},
            {State::working(QStringLiteral("Checking DJSTICK")), "Checking DJSTICK", Symbols::syncing, "Syncing"},
            {State::success(QStringLiteral("Drum & Bass synced")), "Drum && Bass synced", Symbols::drive, "Spinforge"},
            {State::failed(longMessage), longMessage, Symbols::attention, "Needs attention"},
            {State{}, "Standing by", Symbols::drive, "Spinforge"},
    };
    for (const Case& each : cases) {
        delegate().engine().onStateChange(each.state);
        EXPECT_EQ(delegate().statusMenuItem().text(), each.title);
        EXPECT_EQ(delegate().statusItem()->symbol(), each.symbol) << each.title.toStdString();
        EXPECT_EQ(delegate().statusItem()->description(), each.description) << each.title.toStdString();
    }
}

TEST_F(StatusMenu, CommandsReachTheirTargets) {
    launchSignedOut();
    settings.setServerURL(QStringLiteral("http://127.0.0.1:8787"));
    menuAction(QStringLiteral("Open Web Dashboard"))->trigger();
    EXPECT_EQ(opened, QList<QUrl>({QUrl(QStringLiteral("http://127.0.0.1:8787"))})) << "exactly as stored, no path added";

    opened.clear();
    menuAction(QStringLiteral("Open Local Library"))->trigger();
    EXPECT_TRUE(QFileInfo(cacheRoot()).isDir());
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile(cacheRoot())}));

    for (const QString& opensSignIn : {QStringLiteral("Sign In\u2026"), QStringLiteral("Register a USB\u2026")}) {
        alerts.thenPress(QStringLiteral("Cancel"));
        menuAction(opensSignIn)->trigger();
        EXPECT_TRUE(alerts.waitUntilAnswered());
        EXPECT_EQ(alerts.seen.last().message, "Connect this Mac to Spinforge") << opensSignIn.toStdString();
    }
    EXPECT_EQ(alerts.seen.size(), 3) << "registration signed out shows the sign-in dialog and nothing else";

    // Signed out, a sync changes nothing anyone could see.
    menuAction(QStringLiteral("Sync Now"))->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(delegate().statusMenuItem().text(), "Standing by");

    // Quit ends the application's event loop.
    QTimer::singleShot(0, menuAction(QStringLiteral("Quit Spinforge")), &QAction::trigger);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(StatusMenu, LibraryFolderIsOpenedEvenWhenItCannotBeCreated) {
    launchSignedOut();
    QDir(root.filePath("data/Spinforge")).removeRecursively();
    writeBytes(root.filePath("data/Spinforge"), "a file where the folder should be");
    delegate().openLibrary();
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile(cacheRoot())}));
}

TEST_F(StatusMenu, DashboardWithoutAUsableAddressOpensTheSignInDialog) {
    launchSignedOut();
    for (const std::optional<QString>& stored :
         {std::optional<QString>(), std::optional<QString>(QStringLiteral("http://exa mple.com")),
          std::optional<QString>(QStringLiteral("")), std::optional<QString>(QStringLiteral("file:///etc/passwd"))}) {
        if (stored) settings.setServerURL(*stored);
        alerts.thenPress(QStringLiteral("Cancel"));
        delegate().openDashboard();
        EXPECT_TRUE(alerts.waitUntilAnswered()) << stored.value_or("none").toStdString();
    }
    EXPECT_EQ(alerts.seen.size(), 5);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(StatusMenu, SignedInLaunchSyncsWithoutDialogAndOffersReconnect) {
    launchSignedIn();
    EXPECT_TRUE(alerts.seen.isEmpty());
    EXPECT_EQ(menuAction(QStringLiteral("Reconnect\u2026"))->shortcut(), QKeySequence());
    EXPECT_EQ(delegate().statusItem()->symbol(), Symbols::drive);
    EXPECT_EQ(manifestRequests(), 1);
}

TEST_F(StatusMenu, SyncNowReachesTheEngineAndIsDroppedWhileACycleRuns) {
    launchSignedIn();
    QStringList symbols;
    auto handler = delegate().engine().onStateChange;
    delegate().engine().onStateChange = [&](const auto& state) {
        handler(state);
        symbols << delegate().statusItem()->symbol();
    };
    menuAction(QStringLiteral("Sync Now"))->trigger();
    menuAction(QStringLiteral("Sync Now"))->trigger();  // the first cycle waits for the manifest
    ASSERT_TRUE(waitFor([&] { return symbols.size() >= 2 && symbols.last() == Symbols::drive; }));
    EXPECT_EQ(symbols.first(), Symbols::syncing);
    EXPECT_EQ(manifestRequests(), 2) << "the launch sync and one of the two presses";
}

TEST_F(StatusMenu, TimerSyncsOnlyWhenSignedInAndNeverTwiceAtOnce) {
    syncInterval = std::chrono::milliseconds(20);
    serve({{"Slow.mp3", std::string(200000, 's')}}, {R"({"endpoint": "download", "bytes_per_second": 400000, "times": 1})"});
    const auto token = keyring.find(spinforge::Keychain::service, QStringLiteral("device-token"));
    keyring.erase(spinforge::Keychain::service, QStringLiteral("device-token"));
    launchSignedOut();
    QSignalSpy firings(delegate().timer(), &QTimer::timeout);
    ASSERT_TRUE(waitFor([&] { return firings.size() >= 5; }));
    EXPECT_EQ(manifestRequests(), 0) << "signed out, each firing does nothing";

    spinforge::Keychain::save(keyring, QString::fromUtf8(*token));
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(cached("Slow.mp3")) && manifestRequests() >= 2; }));
    // The slow first download spans many firings; each of those found the cycle running.
    EXPECT_LT(manifestRequests(), firings.size() - 10);
    delegate().timer()->stop();
    EXPECT_TRUE(waitForStatus(QStringLiteral("Library ready \u2014 connect USB")));
}

}  // namespace
