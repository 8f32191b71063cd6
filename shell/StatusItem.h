#pragma once
// The agent's place on the desktop. Where a tray host runs (a StatusNotifierWatcher with a host on
// the session bus) it is an icon in the tray with the status menu under it; where none runs it is
// a small status window with the same status line and commands, so the agent is never out of
// reach. A tray host that appears later (panels often start after autostarted programs) takes
// over from the window; one that goes away hands back to it. Main thread.
//
// In the tray the icon follows the desktop's icon theme where the panel finds the symbol's themed
// icon there, and is our two-tone drawing where it does not; its tooltip is the spoken
// description over the status line.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QDBusServiceWatcher;
class QMenu;

namespace spinforge {

class StatusNotifierItem;
class StatusWindow;

class StatusItem : public QObject {
    Q_OBJECT
public:
    // `statusLine` is the status menu's first item; the window mirrors its title. It must outlive
    // this item.
    explicit StatusItem(QAction& statusLine, QDBusConnection bus = QDBusConnection::sessionBus());
    ~StatusItem() override;
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    // Makes the commands of `menu` those under the tray icon and the window's buttons, replacing
    // the previous menu, which is deleted once control returns to the event loop (with the actions
    // it owns; actions it only shows stay the caller's).
    void setMenu(std::unique_ptr<QMenu> menu);
    // The status menu shown now, as the panel and the window offer it.
    QMenu* menu() const { return menu_.get(); }

    // Shows the named symbol, with its spoken description as the title of the tray's tooltip and
    // the window's accessible description.
    void setImage(const QString& symbol, const QString& description);

    // Brings the status window to the front, tray or not: a second launch of the agent asks this.
    void showWindow();

    StatusWindow& window() const { return *window_; }

signals:
    // The tray's menu is about to open (a panel asked for it): the last moment to bring the
    // commands up to date.
    void trayMenuAboutToShow();

private slots:
    // The watcher's host came or went.
    void trayHostChanged();

private:
    void showLookInTray();
    void showToolTipInTray();
    bool trayHostRunning() const;
    void followTrayHost(bool registerAgain);
    void showInTray();
    void showInWindow();
    void createTrayIcon();

    QDBusConnection bus_;
    QAction& statusLine_;
    std::unique_ptr<QMenu> menu_;
    // Declared after menu_, so that it leaves the bus before the menu it exports goes.
    std::unique_ptr<StatusNotifierItem> tray_;
    std::unique_ptr<StatusWindow> window_;
    QDBusServiceWatcher* watcher_ = nullptr;  // a child
    QString symbol_;
    QString description_;
    bool windowShownForMissingTray_ = false;
};

}  // namespace spinforge
