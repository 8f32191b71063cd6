#pragma once
// The sign-in dialog: the server address, e-mail address and password, handed to the engine's
// sign-in, whose outcome a second alert tells. Each showing builds new fields, and each "Connect"
// starts a sign-in of its own that ends with its own result alert; a sign-in that ends after the
// dialog is gone (the agent quitting) shows nothing.
//
// One for the application, which owns it. Main thread.

#include "credentials/Settings.h"
#include "engine/SyncEngine.h"

#include <QList>
#include <QObject>

#include <memory>

class QAction;
class QMenu;

namespace spinforge {

class SignInDialog : public QObject {
    Q_OBJECT
public:
    // Builds the menu of editing commands each field offers as its context menu.
    using EditingMenu = std::unique_ptr<QMenu> (*)();

    // `keyEquivalents` (the main menu's commands) work while its alerts are up.
    SignInDialog(SyncEngine& engine, const Settings& settings, QList<QAction*> keyEquivalents, EditingMenu editingMenu);

    // Shows the dialog in front of other windows and returns once it is dismissed; the sign-in,
    // when asked for, goes on by itself.
    void show();

signals:
    // A sign-in succeeded; emitted before its result alert shows.
    void connected();

private:
    QCoro::Task<> signIn(QString server, QString email, QString password);

    SyncEngine& engine_;
    const Settings& settings_;
    const QList<QAction*> keyEquivalents_;
    const EditingMenu editingMenu_;
};

}  // namespace spinforge
