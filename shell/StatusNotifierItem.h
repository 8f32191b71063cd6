#pragma once
// The agent's icon in a panel's tray: a StatusNotifierItem (org.kde.StatusNotifierItem) on the
// session bus, with its menu served by DBusMenu. Made when a tray host runs, it takes a bus name of
// its own and registers with the panel's StatusNotifierWatcher; destroyed, it leaves the bus and
// so the tray. Main thread.
//
// It tells the panel the icon both ways: by the icon theme's name, which a panel that finds it
// draws from its own theme in its own colours, and as pixmaps of our drawing for one that does
// not. The tooltip's title is the spoken description, its text the status line.

#include "shell/TrayTypes.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

class QMenu;

namespace spinforge {

class DBusMenu;

class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ noName)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(spinforge::TrayPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString IconAccessibleDesc READ description)
    Q_PROPERTY(QString OverlayIconName READ noName)
    Q_PROPERTY(spinforge::TrayPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ attentionIconName)
    Q_PROPERTY(spinforge::TrayPixmaps AttentionIconPixmap READ attentionIconPixmap)
    Q_PROPERTY(QString AttentionAccessibleDesc READ attentionDescription)
    Q_PROPERTY(QString AttentionMovieName READ noName)
    Q_PROPERTY(spinforge::TrayToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)

public:
    // Where a panel's tray takes the items' registrations (the watcher's interface has its name).
    static inline const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

    // Exports `menu` (not owned; it must outlive this item or be replaced first) and registers
    // with the watcher.
    StatusNotifierItem(QDBusConnection bus, QMenu* menu);
    ~StatusNotifierItem() override;
    Q_DISABLE_COPY_MOVE(StatusNotifierItem)

    // Tells the watcher of the item again: a watcher that took over from another knows nothing
    // of it. The answer is not waited for.
    void registerWithWatcher();

    void setMenu(QMenu* menu);
    // The icon: its theme name (empty for none) and our drawing. An icon that needs attention
    // is also the panel's attention icon, and the item's status says so.
    void setIcon(const QString& themeName, const QIcon& drawing, bool needsAttention);
    // The tooltip: `title` and `text` as plain text.
    void setToolTip(const QString& title, const QString& text);

    // The interface's properties.
    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const;
    QString title() const;
    QString status() const;
    int windowId() const { return 0; }
    QString iconName() const { return iconName_; }
    TrayPixmaps iconPixmap() const { return pixmaps_; }
    QString description() const { return toolTip_.title; }
    QString attentionIconName() const;
    TrayPixmaps attentionIconPixmap() const;
    QString attentionDescription() const;
    TrayToolTip toolTip() const { return toolTip_; }
    // The menu is the whole interface: a click shows it.
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menuPath() const;
    QString noName() const { return {}; }
    TrayPixmaps noPixmaps() const { return {}; }

signals:
    // The panel asked the item itself to show its menu (a host that shows no dbusmenu).
    void menuRequested();
    // A panel is about to show the exported menu.
    void menuAboutToShow();

    // The interface's own signals.
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewOverlayIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);

public slots:
    // The interface's methods.
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

private:
    QDBusConnection bus_;
    QString serviceName_;
    DBusMenu* menu_;  // a child
    QString iconName_;
    TrayPixmaps pixmaps_;
    bool needsAttention_ = false;
    TrayToolTip toolTip_;
};

}  // namespace spinforge
