#pragma once
// The records a panel's tray exchanges with the agent over D-Bus, and their wire form: the
// StatusNotifierItem's icon pixmaps and tooltip, and dbusmenu's items, layout and events. Plain
// values; registerTrayTypes() makes them known to Qt's D-Bus before the first is sent.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace spinforge {

// One size of an icon, (iiay): ARGB32 pixels, each in network byte order.
struct TrayPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using TrayPixmaps = QList<TrayPixmap>;
// Every size that `icon` holds, as a panel reads it.
TrayPixmaps pixmapsOf(const QIcon& icon);

// The item's tooltip, (sa(iiay)ss): its text is markup, as in desktop notifications.
struct TrayToolTip {
    QString iconName;
    TrayPixmaps iconPixmaps;
    QString title;
    QString text;
};

// dbusmenu: an item's properties (ia{sv}), the properties an item lost (ias), a node of the
// layout with its children (ia{sv}av), and an event on an item (isvu).
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;
struct MenuItemRemovedProperties {
    int id = 0;
    QStringList names;
};
using MenuItemRemovedPropertiesList = QList<MenuItemRemovedProperties>;
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;
// A menu item's key equivalent, (aas): each chord's modifiers and key ({"Control", "S"}).
using MenuShortcut = QList<QStringList>;

void registerTrayTypes();

QDBusArgument& operator<<(QDBusArgument& out, const TrayPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, TrayPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const TrayToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& in, TrayToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& out, const MenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& out, const MenuItemRemovedProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemRemovedProperties& item);
QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& event);

}  // namespace spinforge

Q_DECLARE_METATYPE(spinforge::TrayPixmap)
Q_DECLARE_METATYPE(spinforge::TrayToolTip)
Q_DECLARE_METATYPE(spinforge::MenuItemProperties)
Q_DECLARE_METATYPE(spinforge::MenuItemRemovedProperties)
Q_DECLARE_METATYPE(spinforge::MenuLayout)
Q_DECLARE_METATYPE(spinforge::MenuEvent)
