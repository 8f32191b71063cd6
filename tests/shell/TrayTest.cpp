// The agent's place on the desktop: the symbols it draws, the status window, and the tray icon
// as a panel sees it over D-Bus, with a fake panel tray coming and going.
#include "shell/ShellFixture.h"
#include "shell/StatusItem.h"
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"
#include "support/FakeWatcherProcess.h"
#include "support/XvfbServer.h"

#include <QAction>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace spinforge;
using testing_support::FakeWatcherProcess;

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

int pixelsWhere(const QImage& image, const std::function<bool(QRgb)>& test) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

QImage rendered(const QIcon& icon, int size) {
    return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The buttons the window shows, top to bottom; those it replaced are hidden until deleted.
QList<QPushButton*> shownButtons(const StatusWindow& window) {
    QList<QPushButton*> shown;
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (button->isVisibleTo(&window)) shown << button;
    return shown;
}

QStringList buttonTexts(const StatusWindow& window) {
    QStringList texts;
    for (const QPushButton* button : shownButtons(window)) texts << button->text();
    return texts;
}

// The tray item is served by this process's main thread, so it can only answer while the test
// waits on the event loop, never in a blocking call.
QDBusMessage callItem(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call, 10000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 15000)) return {};
    return pending.reply();
}

QVariant itemProperty(const QString& service, const QString& name) {
    const QDBusMessage reply = callItem(service, itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {itemInterface, name});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// Reads an icon's pixmap array, (width, height, ARGB32 bytes in network order) for each size;
// the one `size` px wide, or a null image.
QImage readPixmaps(const QDBusArgument& pixmaps, int size) {
    QImage found;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0, height = 0;
        QByteArray argb;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> argb;
        pixmaps.endStructure();
        if (width != size || height != size || argb.size() != width * height * 4) continue;
        found = QImage(width, height, QImage::Format_ARGB32);
        for (int i = 0; i < width * height; ++i)
            found.setPixel(i % width, i / width, qFromBigEndian<quint32>(argb.constData() + 4 * i));
    }
    pixmaps.endArray();
    return found;
}

QImage iconPixmap(const QString& service, int size) {
    return readPixmaps(itemProperty(service, QStringLiteral("IconPixmap")).value<QDBusArgument>(), size);
}

// ToolTip is (icon name, icon pixmaps, title, text).
QString toolTipTitle(const QString& service) {
    const QDBusArgument toolTip = itemProperty(service, QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString iconName, title;
    toolTip.beginStructure();
    toolTip >> iconName;
    readPixmaps(toolTip, 0);  // read past the tooltip's own icon
    toolTip >> title;
    toolTip.endStructure();  // each begin holds the reply until its end
    return title;
}

struct ExportedEntry {
    int id = 0;
    QString label;  // "-" for a separator
};

// The top level of the menu the item exports.
QList<ExportedEntry> exportedMenu(const QString& service) {
    const QDBusMessage reply = callItem(service, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                                        QStringLiteral("GetLayout"), {0, -1, QStringList()});
    const QDBusArgument root = reply.arguments().value(1).value<QDBusArgument>();
    int rootId = 0;
    QVariantMap properties;
    QList<ExportedEntry> entries;
    root.beginStructure();
    root >> rootId >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument item = child.variant().value<QDBusArgument>();
        ExportedEntry entry;
        item.beginStructure();
        item >> entry.id >> properties;
        item.endStructure();
        entry.label = properties.value(QStringLiteral("type")) == QStringLiteral("separator")
                          ? QStringLiteral("-")
                          : properties.value(QStringLiteral("label")).toString();
        entries << entry;
    }
    root.endArray();
    root.endStructure();
    return entries;
}

QStringList labelsOf(const QList<ExportedEntry>& entries) {
    QStringList labels;
    for (const ExportedEntry& entry : entries) labels << entry.label;
    return labels;
}

}  // namespace

// ---- Symbols ---------------------------------------------------------------------------------

const QStringList statusSymbols{Symbols::drive, Symbols::syncing, Symbols::attention};

TEST(Symbols, RenderAtPanelSizesInTheAskedColour) {
    for (const QString& name : statusSymbols) {
        ASSERT_TRUE(Symbols::exists(name)) << name.toStdString();
        for (int size : {16, 22}) {
            SCOPED_TRACE(QStringLiteral("%1 at %2 px").arg(name).arg(size).toStdString());
            const QImage image = rendered(Symbols::icon(name, Qt::red), size);
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_GT(pixelsWhere(image, [](QRgb p) { return qAlpha(p) == 255; }), size);
            EXPECT_EQ(pixelsWhere(image, [](QRgb p) {
                          return qAlpha(p) >= 64 && (qRed(p) < 200 || qGreen(p) > 60 || qBlue(p) > 60);
                      }),
                      0)
                << "pixels painted in another colour than red";
        }
    }
}

TEST(Symbols, TrayGlyphsStandOutOnLightAndDarkPanels) {
    for (const QString& name : statusSymbols) {
        const QImage glyph = rendered(Symbols::trayIcon(name), 22);
        ASSERT_EQ(glyph.size(), QSize(22, 22)) << name.toStdString();
        for (const QColor panel : {QColor(0xf0, 0xf0, 0xf0), QColor(0x2b, 0x2b, 0x2b)}) {
            QImage onPanel(glyph.size(), QImage::Format_ARGB32);
            onPanel.fill(panel);
            QPainter(&onPanel).drawImage(0, 0, glyph);
            const int contrasting =
                pixelsWhere(onPanel, [&](QRgb p) { return std::abs(qGray(p) - qGray(panel.rgb())) > 100; });
            EXPECT_GT(contrasting, 30) << name.toStdString() << " on " << panel.name().toStdString();
        }
    }
}

TEST(Symbols, UnknownNamesHaveNoIcon) {
    for (const QString name : {"", "folder", "../spinforge", "symbols/exclamationmark.icloud"}) {
        EXPECT_FALSE(Symbols::exists(name)) << name.toStdString();
        EXPECT_TRUE(Symbols::icon(name, Qt::black).isNull()) << name.toStdString();
        EXPECT_TRUE(Symbols::trayIcon(name).isNull()) << name.toStdString();
    }
}

TEST(Symbols, ApplicationIconRendersSmallAndLarge) {
    for (int size : {16, 128}) {
        const QImage image = rendered(Symbols::applicationIcon(), size);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_GT(pixelsWhere(image, [](QRgb p) { return qAlpha(p) == 255; }), size * size / 2) << size << " px";
    }
}

// ---- The status window -----------------------------------------------------------------------

class StatusWindowTest : public ::testing::Test {
protected:
    StatusWindowTest() { statusLine.setEnabled(false); }

    QAction statusLine{QStringLiteral("Up to date")};
    QAction registerDrive{QStringLiteral("Register Drive…")};
    StatusWindow window{statusLine};
};

TEST_F(StatusWindowTest, ButtonsFollowTheMenuCommands) {
    QMenu menu;
    menu.addAction(&statusLine);
    menu.addSeparator();
    QAction* syncNow = menu.addAction(QStringLiteral("Sync Now"));
    menu.addAction(&registerDrive);
    window.setMenu(&menu);
    EXPECT_EQ(buttonTexts(window), (QStringList{"Sync Now", "Register Drive…"}));

    QSignalSpy synced(syncNow, &QAction::triggered);
    shownButtons(window).at(0)->click();
    EXPECT_EQ(synced.count(), 1);

    registerDrive.setEnabled(false);
    QPushButton* registerButton = shownButtons(window).at(1);
    EXPECT_FALSE(registerButton->isEnabled());
    QSignalSpy registered(&registerDrive, &QAction::triggered);
    registerButton->click();
    EXPECT_EQ(registered.count(), 0);
    registerDrive.setText(QStringLiteral("Register “Stick”…"));
    EXPECT_EQ(registerButton->text(), QStringLiteral("Register “Stick”…"));

    menu.addAction(QStringLiteral("Quit"));
    menu.removeAction(syncNow);
    EXPECT_EQ(buttonTexts(window), (QStringList{"Register “Stick”…", "Quit"}));

    QMenu other;
    other.addAction(QStringLiteral("Sign In…"));
    window.setMenu(&other);
    EXPECT_EQ(buttonTexts(window), QStringList{"Sign In…"});
}

TEST_F(StatusWindowTest, StatusLineFollowsItsAction) {
    const QLabel* line = window.findChild<QLabel*>(QStringLiteral("statusLine"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), QStringLiteral("Up to date"));
    statusLine.setText(QStringLiteral("Syncing: 3 of 12 tracks"));
    EXPECT_EQ(line->text(), QStringLiteral("Syncing: 3 of 12 tracks"));
    statusLine.setText(QStringLiteral("Drum && Bass on &USB"));
    EXPECT_EQ(line->text(), QStringLiteral("Drum & Bass on USB"));
}

TEST_F(StatusWindowTest, ClosingOnlyHidesIt) {
    window.setImage(Symbols::attention, QStringLiteral("Needs attention"));
    EXPECT_EQ(window.accessibleDescription(), QStringLiteral("Needs attention"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Closing the last window of a running application ends it, unless the window refuses.
    QTimer::singleShot(0, &window, &QWidget::close);
    QTimer::singleShot(500, qApp, [] { QCoreApplication::exit(42); });
    EXPECT_EQ(QCoreApplication::exec(), 42) << "closing the window ended the application";
    EXPECT_FALSE(window.isVisible());
    window.show();
    EXPECT_TRUE(window.isVisible());
}

// ---- The tray, with a fake panel tray on the test session's bus -------------------------------

class TrayIcon : public ::testing::Test {
protected:
    void SetUp() override {
        if (const QString reason = testing_support::xServerUnavailable(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus: run through scripts/test-session";
        if (FakeWatcherProcess::nameOwned())
            GTEST_SKIP() << "a tray already runs on this bus: run through scripts/test-session";
        statusLine.setEnabled(false);
    }

    std::unique_ptr<QMenu> menuOf(const QStringList& commands) {
        auto menu = std::make_unique<QMenu>();
        menu->addAction(&statusLine);
        menu->addSeparator();
        for (const QString& command : commands) menu->addAction(command);
        return menu;
    }

    QAction statusLine{QStringLiteral("Up to date")};
    FakeWatcherProcess watcher;
};

// First of the tray tests: Qt makes up its mind about the tray at the first icon a process
// shows, so this one also proves the item never asks before a tray runs.
TEST_F(TrayIcon, WindowStandsInWhileNoTrayRuns) {
    StatusItem item(statusLine);
    item.setImage(Symbols::drive, QStringLiteral("Spinforge"));
    EXPECT_TRUE(item.window().isVisible());
    EXPECT_EQ(item.trayIcon(), nullptr);
    QSignalSpy moves(&item, &StatusItem::placementChanged);

    ASSERT_TRUE(watcher.start());
    EXPECT_FALSE(watcher.nextItem().isEmpty()) << "a tray that came later got no item";
    EXPECT_TRUE(item.inTray());
    EXPECT_FALSE(item.window().isVisible());
    EXPECT_EQ(moves.count(), 1);

    ASSERT_TRUE(watcher.stop());
    EXPECT_TRUE(QTest::qWaitFor([&] { return item.window().isVisible(); }, 5000));
    EXPECT_FALSE(item.inTray());
    EXPECT_EQ(moves.count(), 2);

    // The panel restarts.
    ASSERT_TRUE(watcher.start());
    EXPECT_FALSE(watcher.nextItem().isEmpty()) << "the item did not register again";
    EXPECT_TRUE(item.inTray());
    EXPECT_FALSE(item.window().isVisible());
    EXPECT_EQ(moves.count(), 3);
}

TEST_F(TrayIcon, IconInARunningTrayFollowsTheImage) {
    ASSERT_TRUE(watcher.start());
    StatusItem item(statusLine);
    item.setMenu(menuOf({"Sync Now", "Quit"}));
    item.setImage(Symbols::drive, QStringLiteral("Spinforge"));
    const QString service = watcher.nextItem();
    ASSERT_FALSE(service.isEmpty()) << "no item registered with the tray";
    EXPECT_TRUE(item.inTray());
    EXPECT_FALSE(item.window().isVisible());

    for (const auto& [symbol, description] : {std::pair{Symbols::syncing, "Syncing"},
                                              std::pair{Symbols::attention, "Needs attention"},
                                              std::pair{Symbols::drive, "Spinforge"}}) {
        item.setImage(symbol, QString::fromUtf8(description));
        EXPECT_EQ(toolTipTitle(service), QString::fromUtf8(description));
        const QImage shown = iconPixmap(service, 22);
        ASSERT_FALSE(shown.isNull()) << "no 22 px icon for " << symbol.toStdString();
        EXPECT_TRUE(shown == rendered(Symbols::trayIcon(symbol), 22)) << symbol.toStdString();
    }
}

TEST_F(TrayIcon, TrayShowsTheCurrentMenuAndOpensItOnAClick) {
    ASSERT_TRUE(watcher.start());
    StatusItem item(statusLine);
    QAction quit(QStringLiteral("Quit"));  // the caller's, like the status line
    auto first = menuOf({"Sync Now"});
    first->addAction(&quit);
    const QPointer<QMenu> firstMenu = first.get();
    const QPointer<QAction> syncNow = first->actions().at(2);
    item.setMenu(std::move(first));
    const QString service = watcher.nextItem();
    ASSERT_FALSE(service.isEmpty());

    auto second = menuOf({"Register Drive…"});
    second->addAction(&quit);
    item.setMenu(std::move(second));
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstMenu.isNull(); }, 1000));
    EXPECT_TRUE(syncNow.isNull()) << "the menu's own commands go with it";
    EXPECT_EQ(quit.text(), QStringLiteral("Quit"));
    EXPECT_EQ(labelsOf(exportedMenu(service)), (QStringList{"Up to date", "-", "Register Drive…", "Quit"}));
    EXPECT_EQ(buttonTexts(item.window()), (QStringList{"Register Drive…", "Quit"}));

    callItem(service, itemPath, itemInterface, QStringLiteral("Activate"), {10, 10});
    EXPECT_TRUE(QTest::qWaitFor([&] { return item.menu()->isVisible(); }, 5000));
    item.menu()->hide();
}

TEST_F(TrayIcon, ACommandChosenInTheTrayMayReplaceTheMenu) {
    ASSERT_TRUE(watcher.start());
    StatusItem item(statusLine);
    auto signedOut = menuOf({});
    QAction* signIn = signedOut->addAction(QStringLiteral("Sign In…"));
    QObject::connect(signIn, &QAction::triggered, &item, [&] { item.setMenu(menuOf({"Sync Now", "Reconnect…"})); });
    item.setMenu(std::move(signedOut));
    const QString service = watcher.nextItem();
    ASSERT_FALSE(service.isEmpty());

    const QList<ExportedEntry> entries = exportedMenu(service);
    ASSERT_EQ(labelsOf(entries), (QStringList{"Up to date", "-", "Sign In…"}));
    // What a panel sends when the user picks the command.
    callItem(service, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
             {entries.last().id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(labelsOf(exportedMenu(service)), (QStringList{"Up to date", "-", "Sync Now", "Reconnect…"}));
    EXPECT_EQ(buttonTexts(item.window()), (QStringList{"Sync Now", "Reconnect…"}));
}

TEST_F(TrayIcon, RegistersAgainWithATrayThatTakesOver) {
    ASSERT_TRUE(watcher.start());
    StatusItem item(statusLine);
    item.setImage(Symbols::drive, QStringLiteral("Spinforge"));
    ASSERT_FALSE(watcher.nextItem().isEmpty());
    QSignalSpy moves(&item, &StatusItem::placementChanged);

    FakeWatcherProcess successor;
    ASSERT_TRUE(successor.start({"--replace"}));
    EXPECT_FALSE(successor.nextItem().isEmpty()) << "the item did not register with the new tray";
    EXPECT_TRUE(item.inTray());
    EXPECT_EQ(moves.count(), 0) << "the icon never left the tray";
}

TEST_F(TrayIcon, TrayWithoutAHostWaitsForOne) {
    ASSERT_TRUE(watcher.start({"--no-host"}));
    StatusItem item(statusLine);
    item.setImage(Symbols::drive, QStringLiteral("Spinforge"));
    EXPECT_TRUE(item.window().isVisible());
    EXPECT_EQ(item.trayIcon(), nullptr);
    QSignalSpy moves(&item, &StatusItem::placementChanged);

    QDBusMessage hostArrives = QDBusMessage::createMethodCall(
        FakeWatcherProcess::service, QStringLiteral("/StatusNotifierWatcher"), FakeWatcherProcess::service,
        QStringLiteral("RegisterStatusNotifierHost"));
    hostArrives << QStringLiteral("org.kde.StatusNotifierHost-test");
    ASSERT_EQ(QDBusConnection::sessionBus().call(hostArrives).type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(watcher.nextItem().isEmpty());
    EXPECT_TRUE(item.inTray());
    EXPECT_FALSE(item.window().isVisible());
    EXPECT_EQ(moves.count(), 1);
}

TEST_F(TrayIcon, WindowAskedForStaysWhenTheTrayReturns) {
    StatusItem item(statusLine);
    item.setImage(Symbols::drive, QStringLiteral("Spinforge"));
    item.showWindow();  // a second launch, say
    ASSERT_TRUE(watcher.start());
    EXPECT_FALSE(watcher.nextItem().isEmpty());
    EXPECT_TRUE(item.inTray());
    EXPECT_TRUE(item.window().isVisible());
}

namespace {

// The whole chain as the DJ sees it: the engine's states, through the application, reach the
// icon and the tooltip that the panel shows.
class TrayAgent : public testing_support::ShellFixture {
protected:
    void SetUp() override {
        if (const QString reason = testing_support::xServerUnavailable(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        if (!QDBusConnection::sessionBus().isConnected() || FakeWatcherProcess::nameOwned())
            GTEST_SKIP() << "needs the test session's own bus, with no tray on it: run through scripts/test-session";
    }
    FakeWatcherProcess watcher;
};

TEST_F(TrayAgent, IconAndTooltipFollowTheEnginesStates) {
    ASSERT_TRUE(watcher.start());
    alerts.thenPress(QStringLiteral("Cancel"));  // signed out: the sign-in dialog opens at launch
    delegate().applicationDidFinishLaunching();
    const QString service = watcher.nextItem();
    ASSERT_FALSE(service.isEmpty()) << "the agent's icon did not register with the tray";
    EXPECT_EQ(toolTipTitle(service), "Spinforge");
    EXPECT_FALSE(delegate().statusItem()->window().isVisible());

    using State = SyncEngine::State;
    for (const auto& [state, symbol, description] :
         {std::tuple{State::working(QStringLiteral("Caching 1 of 3\u2026")), Symbols::syncing, "Syncing"},
          std::tuple{State::failed(QStringLiteral("Could not reach 127.0.0.1:8787")), Symbols::attention, "Needs attention"},
          std::tuple{State::success(QStringLiteral("USB is up to date")), Symbols::drive, "Spinforge"}}) {
        delegate().engine().onStateChange(state);
        EXPECT_EQ(toolTipTitle(service), QString::fromUtf8(description));
        EXPECT_TRUE(iconPixmap(service, 22) == rendered(Symbols::trayIcon(symbol), 22)) << symbol.toStdString();
    }
}

}  // namespace
