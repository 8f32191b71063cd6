// The agent's icon as a panel sees it over D-Bus, under Xvfb: its exported menu (the status line,
// every command's title and key equivalent, an eject item per registered drive), each label exactly
// the text with no access key; the icon (its theme name and drawing),
// status and tooltip (the spoken description over the status line) following the engine; the
// status window where no tray runs.
#include "shell/ShellRig.h"
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QLabel>
#include <QProcess>
#include <QTextDocumentFragment>

using namespace testing_support;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
bool trayRuns() { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcher); }

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
    // dbusmenu writes a literal "_" as "__" and marks the access key with a lone one, which a
    // panel underlines: shown here in brackets, so that no label with a mark passes for its text.
    const QString label = properties.value(QStringLiteral("label")).toString();
    QString shown;
    for (qsizetype i = 0; i < label.size(); ++i) {
        if (label[i] != u'_' || i + 1 == label.size()) shown += label[i];
        else if (label[++i] == u'_') shown += u'_';
        else shown += u'[' + label[i] + u']';
    }
    // A shortcut is a list of key chords, each a list of modifiers and a key.
    QStringList chords;
    for (const QStringList& chord : qdbus_cast<QList<QStringList>>(properties.value(QStringLiteral("shortcut"))))
        chords << chord.join(u'+');
    return {shown, chords.join(QStringLiteral(", ")), properties.value(QStringLiteral("enabled"), true).toBool()};
}

// The item as a panel keeps it (xfce4-panel and libdbusmenu do so): its properties and its menu
// read whole once, then brought up to date only when the item's signals say so, on a connection of
// the panel's own.
class Panel : public QObject {
    Q_OBJECT
public:
    struct Item {
        QString iconName, status, attentionIconName;
        QByteArray icon;
        std::pair<QString, QString> toolTip;  // title, and text shown as the panel shows markup
    };

    explicit Panel(QString service)
        : service_(std::move(service)), bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kPanel)) {
        for (const char* signal : {"NewIcon", "NewAttentionIcon", "NewToolTip", "NewStatus"})
            bus_.connect(service_, kItemPath, kItemInterface, QString::fromLatin1(signal), this, SLOT(rereadItem()));
        bus_.connect(service_, kMenuPath, kMenuInterface, QStringLiteral("LayoutUpdated"), this, SLOT(rereadMenu()));
        bus_.connect(service_, kMenuPath, kMenuInterface, QStringLiteral("ItemsPropertiesUpdated"), this,
                     SLOT(updateMenu(QDBusMessage)));
        rereadItem();
        rereadMenu();
    }
    ~Panel() override { QDBusConnection::disconnectFromBus(kPanel); }

    const Item& item() const { return item_; }
    // Waits until what the panel keeps passes `check`.
    bool shows(const std::function<bool()>& check) const { return QTest::qWaitFor(check, 5000); }

    QList<Shown> shown() const {
        QList<Shown> items;
        for (int id : order_) items << shownItem(properties_.value(id));
        return items;
    }
    // Waits until the menu the panel keeps shows `expected`.
    ::testing::AssertionResult shows(const QList<Shown>& expected) const {
        if (shows([&] { return shown() == expected; })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << ::testing::PrintToString(shown());
    }
    // What a panel does as it opens the menu.
    void open() { ask(kMenuPath, kMenuInterface, QStringLiteral("AboutToShow"), {0}); }
    void click(const QString& label) {
        for (int id : order_)
            if (shownItem(properties_.value(id)).label == label)
                ask(kMenuPath, kMenuInterface, QStringLiteral("Event"),
                    {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    }

private slots:
    void rereadItem() {
        const QDBusMessage reply = ask(kItemPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"), {kItemInterface});
        const QVariantMap all = qdbus_cast<QVariantMap>(reply.arguments().value(0));
        item_.iconName = all.value(QStringLiteral("IconName")).toString();
        item_.status = all.value(QStringLiteral("Status")).toString();
        item_.attentionIconName = all.value(QStringLiteral("AttentionIconName")).toString();
        item_.icon = pixmapBytes(all.value(QStringLiteral("IconPixmap")).value<QDBusArgument>());
        // The tooltip is (icon name, icon pixmaps, title, text).
        const QDBusArgument toolTip = all.value(QStringLiteral("ToolTip")).value<QDBusArgument>();
        QString iconName, title, text;
        toolTip.beginStructure();
        toolTip >> iconName;
        pixmapBytes(toolTip);
        toolTip >> title >> text;
        toolTip.endStructure();
        item_.toolTip = {title, QTextDocumentFragment::fromHtml(text).toPlainText()};
    }
    void rereadMenu() {
        const QDBusArgument root =
            ask(kMenuPath, kMenuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()}).arguments().value(1).value<QDBusArgument>();
        order_.clear();
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
            order_ << id;
            properties_.insert(id, properties);
        }
        root.endArray();
        root.endStructure();
    }
    void updateMenu(const QDBusMessage& signal) {
        const QDBusArgument updated = signal.arguments().value(0).value<QDBusArgument>();
        updated.beginArray();
        while (!updated.atEnd()) {
            int id = 0;
            QVariantMap properties;
            updated.beginStructure();
            updated >> id >> properties;
            updated.endStructure();
            properties_[id].insert(properties);
        }
        updated.endArray();
    }

private:
    // The item is served by this process's main thread: it answers only while the event loop turns.
    QDBusMessage ask(const QString& path, const QString& interface, const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(service_, path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = bus_.asyncCall(message, 10000);
        (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 15000);
        return pending.reply();
    }

    static inline const QString kPanel = QStringLiteral("panel"), kItemPath = QStringLiteral("/StatusNotifierItem"),
                                kItemInterface = QStringLiteral("org.kde.StatusNotifierItem"),
                                kMenuPath = QStringLiteral("/MenuBar"), kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
    QString service_;
    QDBusConnection bus_;
    Item item_;
    QList<int> order_;
    QHash<int, QVariantMap> properties_;
};

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
    const QString stick = rig.addDrive(QStringLiteral("RD_R&B <1>"));
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

    Panel panel(service);
    QByteArray icon = panel.item().icon;
    const Shown eject{QStringLiteral("Eject RD_R&B <1>")};
    const QList<Shown> commands{{"-"}, {"Sync Now", "Control+S"}, {"Register a USB\u2026", "Control+U"},
                                {"Open Local Library", "Control+L"}, {"Open Web Dashboard", "Control+D"}, eject,
                                {"-"}, {"Reconnect\u2026"}, {"Quit Spinforge", "Control+Q"}};
    struct Step {
        State state;
        QString spoken;  // the tooltip's title
        bool attention;
        QString symbol;
    };
    QString spokenBefore = panel.item().toolTip.first;
    for (const Step& step : {Step{State::working(QStringLiteral("Caching 1 of 3\u2026")), "Syncing", false, spinforge::Symbols::syncing},
                             Step{State::working(QStringLiteral("Caching 2 of 3\u2026")), "Syncing", false, spinforge::Symbols::syncing},
                             Step{State::failed(QStringLiteral("Could not copy <my_track> & A && B.mp3 to DJSTICK")),
                                  "Needs attention", true, spinforge::Symbols::attention},
                             Step{State::success(QStringLiteral("USB is up to date")), "Spinforge", false, spinforge::Symbols::drive}}) {
        const State& state = step.state;
        SCOPED_TRACE(state.message.toStdString());
        rig.engine().onStateChange(state);
        // A state shown locks nothing: a running cycle does (see the Eject tests).
        EXPECT_TRUE(panel.shows(QList<Shown>{{state.message, {}, false}} + commands));
        EXPECT_EQ(delegate().statusItem()->window().findChild<QLabel*>("statusLine")->text(), state.message);
        // The theme's icon where the panel has it, ours where not; a failure is the panel's to stress.
        const QString themed = spinforge::Symbols::themeName(step.symbol);
        const auto attention = step.attention ? std::pair(QStringLiteral("NeedsAttention"), themed)
                                              : std::pair(QStringLiteral("Active"), QString());
        EXPECT_FALSE(themed.isEmpty());
        EXPECT_TRUE(panel.shows([&] {
            const Panel::Item& item = panel.item();
            return item.toolTip == std::pair(step.spoken, state.message) && item.iconName == themed &&
                   std::pair(item.status, item.attentionIconName) == attention && !item.icon.isEmpty() &&
                   (item.icon != icon) == (step.spoken != spokenBefore);
        })) << "tooltip \"" << panel.item().toolTip.first.toStdString() << "\" over \"" << panel.item().toolTip.second.toStdString()
            << "\", icon " << panel.item().iconName.toStdString() << (panel.item().icon == icon ? " unchanged" : " changed")
            << ", status " << panel.item().status.toStdString() << " with \"" << panel.item().attentionIconName.toStdString() << '"';
        icon = panel.item().icon;
        spokenBefore = step.spoken;
    }
    // A command clicked in the panel runs.
    panel.click(QStringLiteral("Open Local Library"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened.size() == 1; }, 5000));
    // A drive pulled out leaves the menu by the time a panel opens it.
    rig.takeDriveAway(stick);
    panel.open();
    EXPECT_TRUE(panel.shows(QList<Shown>{{"USB is up to date", {}, false}} + commands.mid(0, 5) + commands.mid(6)));

    // Each change the panel hears of makes it ask again. A cycle over a library that needs nothing
    // publishes a state per track without a turn of the event loop: the panel hears of the last.
    SignalCount menuChanges, toolTipChanges;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.connect(service, "/MenuBar", "com.canonical.dbusmenu", "ItemsPropertiesUpdated", &menuChanges, SLOT(count())));
    ASSERT_TRUE(bus.connect(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "NewToolTip", &toolTipChanges, SLOT(count())));
    for (int i = 1; i <= 200; ++i) rig.engine().onStateChange(State::working(QStringLiteral("Caching %1 of 200\u2026").arg(i)));
    EXPECT_TRUE(panel.shows(QList<Shown>{{"Caching 200 of 200\u2026", {}, false}} + commands.mid(0, 5) + commands.mid(6)));
    EXPECT_LE(menuChanges.seen, 2) << "the panel heard of each state";
    EXPECT_LE(toolTipChanges.seen, 2) << "the tooltip went out again for each state";
    tray.terminate();
    tray.waitForFinished(5000);
}

}  // namespace

#include "TrayTest.moc"
