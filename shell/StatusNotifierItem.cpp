#include "shell/StatusNotifierItem.h"

#include "shell/DBusMenu.h"

#include <QCoreApplication>
#include <QDBusMessage>

namespace spinforge {
namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuObjectPath = QStringLiteral("/MenuBar");
// Only the members marked as the interfaces' own go on the bus.
constexpr QDBusConnection::RegisterOptions exported =
    QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals | QDBusConnection::ExportAllProperties;

int itemsMade = 0;

}  // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QMenu* menu)
    : bus_(std::move(bus)),
      // Named as panels expect an item's bus name to be: the process and the item.
      serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++itemsMade)),
      menu_(new DBusMenu(this)) {
    registerTrayTypes();
    menu_->setMenu(menu);
    connect(menu_, &DBusMenu::aboutToShow, this, &StatusNotifierItem::menuAboutToShow);
    // The objects first, so that whoever sees the name finds them in place.
    bus_.registerObject(menuObjectPath, menu_, exported);
    bus_.registerObject(itemPath, this, exported);
    bus_.registerService(serviceName_);
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    // The name goes first: the watcher drops the item as its name leaves the bus.
    bus_.unregisterService(serviceName_);
    bus_.unregisterObject(itemPath);
    bus_.unregisterObject(menuObjectPath);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    bus_.send(call);
}

void StatusNotifierItem::setMenu(QMenu* menu) { menu_->setMenu(menu); }

void StatusNotifierItem::setIcon(const QString& themeName, const QIcon& drawing, bool needsAttention) {
    iconName_ = themeName;
    pixmaps_ = pixmapsOf(drawing);
    const bool statusChanged = needsAttention != needsAttention_;
    needsAttention_ = needsAttention;
    emit NewIcon();
    emit NewAttentionIcon();
    if (statusChanged) emit NewStatus(status());
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text) {
    // The text is markup to the panel: the status line names tracks and drives, whose "&" and
    // "<" must show as themselves.
    const QString markup = text.toHtmlEscaped();
    if (title == toolTip_.title && markup == toolTip_.text) return;
    toolTip_.title = title;
    toolTip_.text = markup;
    emit NewToolTip();
}

QString StatusNotifierItem::id() const { return QCoreApplication::applicationName(); }

QString StatusNotifierItem::title() const { return QCoreApplication::applicationName(); }

QString StatusNotifierItem::status() const {
    return needsAttention_ ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
}

QString StatusNotifierItem::attentionIconName() const { return needsAttention_ ? iconName_ : QString(); }

TrayPixmaps StatusNotifierItem::attentionIconPixmap() const { return needsAttention_ ? pixmaps_ : TrayPixmaps(); }

QString StatusNotifierItem::attentionDescription() const { return needsAttention_ ? toolTip_.title : QString(); }

QDBusObjectPath StatusNotifierItem::menuPath() const { return QDBusObjectPath(menuObjectPath); }

void StatusNotifierItem::ContextMenu(int, int) { emit menuRequested(); }

// Some hosts send only Activate, whatever the button: the menu is the whole interface, so a plain
// click opens it as well.
void StatusNotifierItem::Activate(int, int) { emit menuRequested(); }

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

}  // namespace spinforge
