#include "shell/StatusItem.h"

#include "shell/MenuText.h"
#include "shell/StatusNotifierItem.h"
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMenu>

#include <utility>

namespace spinforge {
namespace {

const QString& watcherService = StatusNotifierItem::watcherService;
const QString& watcherPath = StatusNotifierItem::watcherPath;
const QString& watcherInterface = StatusNotifierItem::watcherService;
// A watcher that does not answer within this long is taken for no tray at all: the window is
// the safe place to be.
constexpr int watcherReplyTimeoutMs = 2000;

QIcon trayDrawingOf(const QString& symbol) {
    return Symbols::exists(symbol) ? Symbols::trayIcon(symbol) : Symbols::applicationIcon();
}

}  // namespace

StatusItem::StatusItem(QAction& statusLine, QDBusConnection bus)
    : bus_(std::move(bus)),
      statusLine_(statusLine),
      window_(std::make_unique<StatusWindow>(statusLine)) {
    // The tooltip's text is the status line, whatever changes it.
    connect(&statusLine_, &QAction::changed, this, [this] {
        if (tray_) showToolTipInTray();
    });
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

StatusItem::~StatusItem() = default;

void StatusItem::setMenu(std::unique_ptr<QMenu> menu) {
    std::unique_ptr<QMenu> previous = std::exchange(menu_, std::move(menu));
    if (tray_) tray_->setMenu(menu_.get());
    window_->setMenu(menu_.get());
    // Only now that nothing shows it, and later still: the command that asked for the new menu
    // may be one of the old menu's own, still on its way out of it.
    if (previous) previous.release()->deleteLater();
}

void StatusItem::setImage(const QString& symbol, const QString& description) {
    const bool newSymbol = symbol != symbol_;
    symbol_ = symbol;
    description_ = description;
    window_->setImage(symbol_, description_);
    // Each change reaches the panel as a D-Bus signal, and the panel asks again for what changed.
    if (!tray_) return;
    if (newSymbol) showLookInTray();
    showToolTipInTray();
}

void StatusItem::showLookInTray() {
    tray_->setIcon(Symbols::themeName(symbol_), trayDrawingOf(symbol_), symbol_ == Symbols::attention);
}

// The spoken description over the status line: what is wrong, when something is.
void StatusItem::showToolTipInTray() {
    tray_->setToolTip(description_, MenuText::shownBy(statusLine_.text()));
}

void StatusItem::showWindow() {
    // Asked for, the window stays when the tray takes over.
    windowShownForMissingTray_ = false;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

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
    if (registerAgain && tray_) tray_->registerWithWatcher();
    if (trayHostRunning())
        showInTray();
    else
        showInWindow();
}

void StatusItem::showInTray() {
    if (!tray_) createTrayIcon();
    if (windowShownForMissingTray_) {
        window_->hide();
        windowShownForMissingTray_ = false;
    }
}

void StatusItem::showInWindow() {
    tray_.reset();
    if (window_->isVisible()) return;
    window_->show();
    windowShownForMissingTray_ = true;
}

void StatusItem::createTrayIcon() {
    tray_ = std::make_unique<StatusNotifierItem>(bus_, menu_.get());
    showLookInTray();
    showToolTipInTray();
    connect(tray_.get(), &StatusNotifierItem::menuAboutToShow, this, &StatusItem::trayMenuAboutToShow);
    connect(tray_.get(), &StatusNotifierItem::menuRequested, this, [this] {
        if (menu_) menu_->popup(QCursor::pos());
    });
}

}  // namespace spinforge
