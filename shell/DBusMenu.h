#pragma once
// A menu's commands as a panel shows them under a tray icon: the dbusmenu interface
// (com.canonical.dbusmenu), served for the item that names its object path. Each label reaches the
// panel as the menu shows it, with no access key; a click runs the command once the panel's call
// has been answered. A flat menu: a command's submenu is not exported. Main thread.

#include "shell/TrayTypes.h"

#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

class QAction;
class QMenu;

namespace spinforge {

class DBusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenu(QObject* parent = nullptr);
    ~DBusMenu() override;
    Q_DISABLE_COPY_MOVE(DBusMenu)

    // Exports the commands of `menu` (not owned; null for none), following its changes, until
    // the next call.
    void setMenu(QMenu* menu);

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

signals:
    // A panel is about to show the menu: the last moment to bring the commands up to date.
    void aboutToShow();

    // The interface's own signals.
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const spinforge::MenuItemPropertiesList& updated,
                                             const spinforge::MenuItemRemovedPropertiesList& removed);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

public slots:
    // The interface's methods; item 0 is the menu itself.
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                spinforge::MenuLayout& layout);
    Q_SCRIPTABLE spinforge::MenuItemPropertiesList GetGroupProperties(const QList<int>& ids,
                                                                      const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const spinforge::MenuEventList& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int idOf(QAction* action);
    QAction* actionOf(int id) const;
    QVariantMap propertiesOf(int id, const QStringList& names) const;
    bool handle(int id, const QString& eventId);
    void layoutChanged();
    void propertiesChanged(QAction* action);
    void announce();

    QPointer<QMenu> menu_;
    // Item ids stay with their command while it lives, as the protocol wants.
    QHash<QAction*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    int nextId_ = 1;
    uint revision_ = 1;
    // Changes are told to the panel once control returns to the event loop, so that a burst of
    // them (the eject items rebuilt, a cycle's progress) costs one signal.
    bool layoutPending_ = false;
    QSet<int> changedItems_;
    bool announcing_ = false;
};

}  // namespace spinforge
