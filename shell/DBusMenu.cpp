#include "shell/DBusMenu.h"

#include "shell/MenuText.h"

#include <QAction>
#include <QActionEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QTimer>

#include <iterator>
#include <utility>

namespace spinforge {
namespace {

const QString clicked = QStringLiteral("clicked");
const QString opened = QStringLiteral("opened");

// The key equivalent as dbusmenu spells it: each chord's modifiers, then its key.
MenuShortcut shortcutOf(const QKeySequence& sequence) {
    MenuShortcut chords;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination chord = sequence[i];
        const Qt::KeyboardModifiers modifiers = chord.keyboardModifiers();
        QStringList keys;
        if (modifiers & Qt::MetaModifier) keys << QStringLiteral("Super");
        if (modifiers & Qt::ControlModifier) keys << QStringLiteral("Control");
        if (modifiers & Qt::AltModifier) keys << QStringLiteral("Alt");
        if (modifiers & Qt::ShiftModifier) keys << QStringLiteral("Shift");
        const QString key = QKeySequence(chord.key()).toString(QKeySequence::PortableText);
        keys << (key == u"+" ? QStringLiteral("plus") : key == u"-" ? QStringLiteral("minus") : key);
        chords << keys;
    }
    return chords;
}

QVariantMap allPropertiesOf(const QAction& action) {
    QVariantMap properties{{QStringLiteral("visible"), action.isVisible()}};
    if (action.isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return properties;
    }
    properties.insert(QStringLiteral("label"), MenuText::forExportedMenu(MenuText::shownBy(action.text())));
    properties.insert(QStringLiteral("enabled"), action.isEnabled());
    if (!action.shortcut().isEmpty())
        properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcutOf(action.shortcut())));
    return properties;
}

// Only the properties asked for; none named means all.
QVariantMap only(QVariantMap properties, const QStringList& names) {
    if (names.isEmpty()) return properties;
    for (auto it = properties.begin(); it != properties.end();)
        it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
    return properties;
}

}  // namespace

DBusMenu::DBusMenu(QObject* parent) : QObject(parent) { registerTrayTypes(); }

DBusMenu::~DBusMenu() {
    if (menu_) menu_->removeEventFilter(this);
}

void DBusMenu::setMenu(QMenu* menu) {
    if (menu_) menu_->removeEventFilter(this);
    menu_ = menu;
    // Commands added, taken away or changed later reach the panel too.
    if (menu_) menu_->installEventFilter(this);
    layoutChanged();
}

QString DBusMenu::textDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

bool DBusMenu::eventFilter(QObject* watched, QEvent* event) {
    // A menu being destroyed still sends events from its QWidget part, when it is no longer a
    // QMenu: menu_ may be looked at only while it still is one.
    if (qobject_cast<QMenu*>(watched) && watched == menu_) {
        if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved) layoutChanged();
        if (event->type() == QEvent::ActionChanged) propertiesChanged(static_cast<QActionEvent*>(event)->action());
    }
    return QObject::eventFilter(watched, event);
}

int DBusMenu::idOf(QAction* action) {
    // A command made where a gone one was has a new id, never the gone one's.
    if (const int known = ids_.value(action); known != 0 && actions_.value(known) == action) return known;
    const int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    return id;
}

QAction* DBusMenu::actionOf(int id) const {
    QAction* action = actions_.value(id);
    // Only a command the menu holds now: one taken out of it is no longer the panel's to run.
    return action && menu_ && menu_->actions().contains(action) ? action : nullptr;
}

QVariantMap DBusMenu::propertiesOf(int id, const QStringList& names) const {
    if (id == 0) return only({{QStringLiteral("children-display"), QStringLiteral("submenu")}}, names);
    const QAction* action = actionOf(id);
    return action ? only(allPropertiesOf(*action), names) : QVariantMap();
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, MenuLayout& layout) {
    layout = {parentId, propertiesOf(parentId, propertyNames), {}};
    if (parentId != 0 && !actionOf(parentId))
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu item %1").arg(parentId));
    else if (parentId == 0 && recursionDepth != 0 && menu_)
        for (QAction* action : menu_->actions()) {
            const int id = idOf(action);
            layout.children << MenuLayout{id, propertiesOf(id, propertyNames), {}};
        }
    return revision_;
}

MenuItemPropertiesList DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
    QList<int> wanted = ids;
    if (wanted.isEmpty() && menu_)
        for (QAction* action : menu_->actions()) wanted << idOf(action);
    MenuItemPropertiesList items;
    for (int id : wanted)
        if (id == 0 || actionOf(id)) items << MenuItemProperties{id, propertiesOf(id, propertyNames)};
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) {
    const QVariantMap properties = propertiesOf(id, {name});
    if (!properties.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("menu item %1 has no property %2").arg(id).arg(name));
        return QDBusVariant(QString());
    }
    return QDBusVariant(properties.value(name));
}

bool DBusMenu::handle(int id, const QString& eventId) {
    if (id == 0) {
        if (eventId == opened) emit aboutToShow();
        return true;
    }
    QAction* action = actionOf(id);
    if (!action) return false;
    // Later, not now: a command may open a dialog, which must not hold the panel's call.
    if (eventId == clicked && action->isEnabled() && action->isVisible())
        QTimer::singleShot(0, action, [action = QPointer<QAction>(action)] {
            if (action && action->isEnabled()) action->trigger();
        });
    return true;
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (!handle(id, eventId)) sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu item %1").arg(id));
}

QList<int> DBusMenu::EventGroup(const MenuEventList& events) {
    QList<int> idErrors;
    for (const MenuEvent& event : events)
        if (!handle(event.id, event.eventId)) idErrors << event.id;
    return idErrors;
}

bool DBusMenu::AboutToShow(int id) {
    if (id != 0) return false;
    const uint before = revision_;
    emit aboutToShow();
    return revision_ != before;
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QList<int> updatesNeeded;
    for (int id : ids) {
        if (id != 0 && !actionOf(id)) idErrors << id;
        else if (AboutToShow(id)) updatesNeeded << id;
    }
    return updatesNeeded;
}

void DBusMenu::layoutChanged() {
    ++revision_;
    layoutPending_ = true;
    // Commands gone for good leave the tables.
    actions_.removeIf([](const auto& entry) { return entry.value().isNull(); });
    ids_.removeIf([this](const auto& entry) { return actions_.value(entry.value()) != entry.key(); });
    announce();
}

void DBusMenu::propertiesChanged(QAction* action) {
    changedItems_.insert(idOf(action));
    announce();
}

void DBusMenu::announce() {
    if (announcing_) return;
    announcing_ = true;
    QTimer::singleShot(0, this, [this] {
        announcing_ = false;
        if (std::exchange(layoutPending_, false)) emit LayoutUpdated(revision_, 0);
        MenuItemPropertiesList updated;
        for (int id : std::exchange(changedItems_, {}))
            if (actionOf(id)) updated << MenuItemProperties{id, propertiesOf(id, {})};
        if (!updated.isEmpty()) emit ItemsPropertiesUpdated(updated, {});
    });
}

}  // namespace spinforge
