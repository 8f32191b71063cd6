#pragma once
// The agent's place on the desktop. Where a tray host runs (a StatusNotifierWatcher with a host on
// the session bus) it is an icon in the tray with the status menu under it; where none runs it is
// a small status window with the same status line and commands, so the agent is never out of
// reach. A tray host that appears later (panels often start after autostarted programs) takes
// over from the window; one that goes away hands back to it. Main thread.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;

namespace spinforge {

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
    QMenu* menu() const { return menu_.get(); }

    // Shows the named symbol, with its spoken description as the tray's tooltip and the window's
    // accessible description.
    void setImage(const QString& symbol, const QString& description);
    const QString& symbol() const { return symbol_; }
    const QString& description() const { return description_; }

    // Brings the status window to the front, tray or not: a second launch of the agent asks this.
    void showWindow();

    StatusWindow& window() const { return *window_; }

signals:
    // The tray's menu is about to open (a panel asked for it): the last moment to bring the
    // commands up to date.
    void trayMenuAboutToShow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The watcher's host came or went.
    void trayHostChanged();

private:
    void showMenuInTray();
    static QAction* trayCopyOf(QAction& command);
    bool trayHostRunning() const;
    void followTrayHost(bool registerAgain);
    void showInTray();
    void showInWindow();
    void createTrayIcon();

    QDBusConnection bus_;
    QAction& statusLine_;
    std::unique_ptr<QMenu> menu_;
    // The tray's own menu, showing the commands of menu_. It is never replaced: Qt's D-Bus tray
    // deletes its menu adaptor whenever the tray's menu changes, while a panel's call may already
    // be on its way to that adaptor. Declared before tray_, so that it outlives the icon.
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<StatusWindow> window_;
    QDBusServiceWatcher* watcher_ = nullptr;  // a child
    QString symbol_;
    QString description_;
    bool windowShownForMissingTray_ = false;
};

}  // namespace spinforge
