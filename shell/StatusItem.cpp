#include "shell/StatusItem.h"

#include "shell/MenuText.h"
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>

#include <utility>

namespace spinforge {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
// A watcher that does not answer within this long is taken for no tray at all: the window is
// the safe place to be.
constexpr int watcherReplyTimeoutMs = 2000;

QIcon trayIconFor(const QString& symbol) {
    return Symbols::exists(symbol) ? Symbols::trayIcon(symbol) : Symbols::applicationIcon();
}

}  // namespace

StatusItem::StatusItem(QAction& statusLine, QDBusConnection bus)
    : bus_(std::move(bus)),
      statusLine_(statusLine),
      trayMenu_(std::make_unique<QMenu>()),
      window_(std::make_unique<StatusWindow>(statusLine)) {
    connect(trayMenu_.get(), &QMenu::aboutToShow, this, &StatusItem::trayMenuAboutToShow);
    watcher_ = new QDBusServiceWatcher(watcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    // A watcher that takes over from another knows nothing of our icon: it must be told again.
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                followTrayHost(!oldOwner.isEmpty() && !newOwner.isEmpty());
            });
    // A watcher can run before any panel hosts it; the host announces itself later.
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus_.connect(watcherService, watcherPath, watcherInterface, QString::fromLatin1(signal), this,
                     SLOT(trayHostChanged()));
    trayHostChanged();
}

StatusItem::~StatusItem() {
    // The menu outlives this item's own members; its last events must not reach them.
    if (menu_) menu_->removeEventFilter(this);
}

void StatusItem::setMenu(std::unique_ptr<QMenu> menu) {
    std::unique_ptr<QMenu> previous = std::exchange(menu_, std::move(menu));
    if (previous) previous->removeEventFilter(this);
    // Commands added to or taken from the menu later show up in the tray too.
    if (menu_) menu_->installEventFilter(this);
    showMenuInTray();
    window_->setMenu(menu_.get());
    // Only now that nothing shows it, and later still: the command that asked for the new menu
    // may be one of the old menu's own, still on its way out of it.
    if (previous) previous.release()->deleteLater();
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    // Qt takes an action out of the widget's list before it sends ActionRemoved, so the tray's
    // menu is rebuilt from the menu as it now is.
    const bool commandsChanged = event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved;
    if (commandsChanged && menu_ && watched == menu_.get()) showMenuInTray();
    return QObject::eventFilter(watched, event);
}

void StatusItem::showMenuInTray() {
    trayMenu_->clear();  // removes the copies without deleting them: their commands own them
    if (menu_)
        for (QAction* action : menu_->actions()) trayMenu_->addAction(action->isSeparator() ? action : trayCopyOf(*action));
    // Without a menu the tray exports none, rather than an empty one; once set, it stays.
    if (tray_ && menu_ && !tray_->contextMenu()) tray_->setContextMenu(trayMenu_.get());
}

// The panel draws the exported menu by its own rules, where "_" marks the access key and Qt's
// exporter turns the first "&" into that mark: each command goes there as a copy whose title is
// written for those rules (the status line with its messages, a drive named MY_STICK). The copy
// follows the command, triggers it, and is its child, so that it goes when the command goes.
QAction* StatusItem::trayCopyOf(QAction& command) {
    const QString name = QStringLiteral("trayCopy");
    if (auto* copy = command.findChild<QAction*>(name, Qt::FindDirectChildrenOnly)) return copy;
    auto* copy = new QAction(&command);
    copy->setObjectName(name);
    const auto follow = [copy, &command] {
        copy->setText(MenuText::forExportedMenu(MenuText::shownBy(command.text())));
        copy->setEnabled(command.isEnabled());
        copy->setVisible(command.isVisible());
        copy->setShortcut(command.shortcut());
    };
    follow();
    connect(&command, &QAction::changed, copy, follow);
    connect(copy, &QAction::triggered, &command, &QAction::trigger);
    return copy;
}

void StatusItem::setImage(const QString& symbol, const QString& description) {
    const bool newSymbol = symbol != symbol_, newDescription = description != description_;
    symbol_ = symbol;
    description_ = description;
    window_->setImage(symbol_, description_);
    // Each change reaches the panel as a D-Bus signal, and the panel asks again for what changed.
    if (!tray_) return;
    if (newSymbol) tray_->setIcon(trayIconFor(symbol_));
    if (newDescription) tray_->setToolTip(description_);
}

void StatusItem::showWindow() {
    // Asked for, the window stays when the tray takes over.
    windowShownForMissingTray_ = false;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

// Qt decides once per process whether its tray icons go to a StatusNotifierWatcher, at the first
// tray icon or tray query; asked before a watcher runs, it never uses one. So the question is put
// to the bus here, and Qt's tray is touched only once the answer is yes.
bool StatusItem::trayHostRunning() const {
    if (!bus_.isConnected() || !bus_.interface()->isServiceRegistered(watcherService)) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus_.call(get, QDBus::Block, watcherReplyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void StatusItem::trayHostChanged() {
    followTrayHost(false);
}

void StatusItem::followTrayHost(bool registerAgain) {
    // Qt registers the icon with the watcher each time it is shown.
    if (registerAgain && tray_) tray_->hide();
    if (trayHostRunning())
        showInTray();
    else
        showInWindow();
}

void StatusItem::showInTray() {
    if (!tray_) createTrayIcon();
    tray_->show();
    if (windowShownForMissingTray_) {
        window_->hide();
        windowShownForMissingTray_ = false;
    }
}

void StatusItem::showInWindow() {
    if (tray_) tray_->hide();
    if (window_->isVisible()) return;
    window_->show();
    windowShownForMissingTray_ = true;
}

void StatusItem::createTrayIcon() {
    tray_ = std::make_unique<QSystemTrayIcon>(trayIconFor(symbol_));
    tray_->setToolTip(description_);
    if (menu_) tray_->setContextMenu(trayMenu_.get());
    // Some hosts send only Activate, whatever the button: the menu is the whole interface, so a
    // plain click opens it as well.
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && menu_) menu_->popup(QCursor::pos());
    });
}

}  // namespace spinforge
