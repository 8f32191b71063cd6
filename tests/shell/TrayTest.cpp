// The agent's icon as a panel sees it over D-Bus, under Xvfb: its exported menu (the status line,
// every command's title and key equivalent, an eject item per registered drive, locked during a
// cycle), icon and tooltip following the engine; the status window where no tray runs.
#include "shell/ShellRig.h"
#include "shell/StatusWindow.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QLabel>
#include <QProcess>

using namespace testing_support;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
bool trayRuns() { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcher); }

// The item is served by this process's main thread: it answers only while the event loop turns.
QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 10000);
    (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 15000);
    return pending.reply();
}

QVariant itemProperty(const QString& service, const QString& name) {
    const QDBusMessage reply = call(service, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), name});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// An icon's pixmaps (width, height, ARGB bytes) read past, and their bytes kept.
QByteArray pixmapBytes(const QDBusArgument& pixmaps) {
    QByteArray all;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0, height = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> bytes;
        pixmaps.endStructure();
        all += bytes;
    }
    pixmaps.endArray();
    return all;
}
QByteArray iconBytes(const QString& service) {
    return pixmapBytes(itemProperty(service, QStringLiteral("IconPixmap")).value<QDBusArgument>());
}
// The tooltip is (icon name, icon pixmaps, title, text).
QString toolTipTitle(const QString& service) {
    const QDBusArgument toolTip = itemProperty(service, QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString iconName, title;
    toolTip.beginStructure();
    toolTip >> iconName;
    pixmapBytes(toolTip);
    toolTip >> title;
    toolTip.endStructure();
    return title;
}

// One item of the exported menu as a panel shows it: a separator is "-".
struct Shown {
    QString label;
    QString shortcut = {};  // "Control+S"
    bool enabled = true;
    friend bool operator==(const Shown&, const Shown&) = default;
    friend void PrintTo(const Shown& item, std::ostream* out) {
        *out << '"' << item.label.toStdString() << "\" " << item.shortcut.toStdString() << (item.enabled ? "" : " disabled");
    }
};

Shown shownItem(const QVariantMap& properties) {
    if (properties.value(QStringLiteral("type")) == QStringLiteral("separator")) return {QStringLiteral("-")};
    // dbusmenu marks the access key with "_" and writes a literal one as "__".
    const QString label = properties.value(QStringLiteral("label")).toString();
    QString shown;
    for (qsizetype i = 0; i < label.size(); ++i) shown += label[i] == u'_' && i + 1 < label.size() ? label[++i] : label[i];
    // A shortcut is a list of key chords, each a list of modifiers and a key.
    QStringList chords;
    for (const QStringList& chord : qdbus_cast<QList<QStringList>>(properties.value(QStringLiteral("shortcut"))))
        chords << chord.join(u'+');
    return {shown, chords.join(QStringLiteral(", ")), properties.value(QStringLiteral("enabled"), true).toBool()};
}

// The exported menu's top level, after telling the item that a panel is about to show it.
QList<Shown> shownMenu(const QString& service) {
    const QString path = QStringLiteral("/MenuBar"), interface = QStringLiteral("com.canonical.dbusmenu");
    call(service, path, interface, QStringLiteral("AboutToShow"), {0});
    const QDBusMessage reply = call(service, path, interface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    const QDBusArgument root = reply.arguments().value(1).value<QDBusArgument>();
    QList<Shown> items;
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument item = child.variant().value<QDBusArgument>();
        item.beginStructure();
        item >> id >> properties;
        item.endStructure();
        items << shownItem(properties);
    }
    root.endArray();
    root.endStructure();
    return items;
}

// Counts a D-Bus signal it is connected to.
class SignalCount : public QObject {
    Q_OBJECT
public:
    int seen = 0;
public slots:
    void count() { ++seen; }
};

class Tray : public ShellRig {};

TEST_F(Tray, TheWindowStandsInUntilATrayRunsThenThePanelShowsTheStateExactly) {
    ASSERT_FALSE(trayRuns()) << "a tray already runs on this bus: run through scripts/test-session";
    rig.serve({{"a.mp3", "a"}});
    const QString stick = rig.addDrive(QStringLiteral("DJ_STICK & CO"));
    rig.addDrive(QStringLiteral("NOT OURS"), std::nullopt);
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitForStatus(QStringLiteral("1 tracks copied to USB")));
    EXPECT_TRUE(delegate().statusItem()->window().isVisible());

    // A panel's tray: the fake watcher, printing the bus name of each item that registers.
    QProcess tray;
    tray.start(QStringLiteral(SPINFORGE_FAKE_WATCHER_PATH), {});
    ASSERT_TRUE(QTest::qWaitFor(trayRuns, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.canReadLine(); }, 10000)) << "the icon did not register with the tray";
    const QString service = QString::fromUtf8(tray.readLine()).trimmed();
    EXPECT_FALSE(delegate().statusItem()->window().isVisible());

    QByteArray icon = iconBytes(service);
    const Shown eject{QStringLiteral("Eject DJ_STICK & CO")};
    for (const State& state : {State::working(QStringLiteral("Caching 1 of 3\u2026")),
                               State::failed(QStringLiteral("Could not copy my_track & A && B.mp3 to DJSTICK")),
                               State::success(QStringLiteral("USB is up to date"))}) {
        delegate().engine().onStateChange(state);
        const QList<Shown> menu = shownMenu(service);
        ASSERT_EQ(menu.size(), 10);
        EXPECT_EQ(menu.first(), (Shown{state.message, {}, false}));
        EXPECT_EQ(menu[6], (Shown{eject.label, {}, state.kind != Kind::working})) << "locked exactly during a cycle";
        EXPECT_EQ(delegate().statusItem()->window().findChild<QLabel*>("statusLine")->text(), state.message);
        EXPECT_EQ(toolTipTitle(service), delegate().statusItem()->description());
        const QByteArray now = iconBytes(service);
        EXPECT_FALSE(now.isEmpty());
        EXPECT_NE(now, icon) << "the icon did not change for " << state.message.toStdString();
        icon = now;
    }
    // The status menu's commands with their key equivalents, unchanged by the eject item after them.
    const QList<Shown> commands{{"-"}, {"Sync Now", "Control+S"}, {"Register a USB\u2026", "Control+U"},
                                {"Open Local Library", "Control+L"}, {"Open Web Dashboard", "Control+D"}, eject,
                                {"-"}, {"Reconnect\u2026"}, {"Quit Spinforge", "Control+Q"}};
    EXPECT_EQ(shownMenu(service).mid(1), commands);
    // A drive pulled out leaves the menu by the time a panel opens it.
    rig.takeDriveAway(stick);
    EXPECT_EQ(shownMenu(service).mid(1), commands.mid(0, 5) + commands.mid(6));

    // Each change the panel hears of makes it ask again. A cycle over a library that needs nothing
    // publishes a state per track without a turn of the event loop: the panel hears of the last;
    // and progress from turn to turn changes the status line, not the tooltip.
    SignalCount menuChanges, toolTipChanges;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.connect(service, "/MenuBar", "com.canonical.dbusmenu", "ItemsPropertiesUpdated", &menuChanges, SLOT(count())));
    ASSERT_TRUE(bus.connect(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "NewToolTip", &toolTipChanges, SLOT(count())));
    for (int i = 1; i <= 200; ++i) delegate().engine().onStateChange(State::working(QStringLiteral("Caching %1 of 200\u2026").arg(i)));
    shownMenu(service);  // a round trip: what was said before it has arrived
    EXPECT_LE(menuChanges.seen, 2) << "the panel heard of each state";
    for (int i = 1; i <= 20; ++i) {
        delegate().engine().onStateChange(State::working(QStringLiteral("Caching %1 of 20\u2026").arg(i)));
        QCoreApplication::processEvents();
    }
    shownMenu(service);
    EXPECT_LE(toolTipChanges.seen, 1) << "the tooltip went out again for each state";
    tray.terminate();
    tray.waitForFinished(5000);
}

}  // namespace

#include "TrayTest.moc"
