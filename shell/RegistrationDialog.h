#pragma once
// The drive registration dialog: the user picks one of the mounted drives, the engine registers it
// and copies the library onto it, and a second alert tells how that went. Each "Register" starts a
// registration of its own that ends with its own result alert; one that ends after the dialog is
// gone (the agent quitting) shows nothing.
//
// One for the application, which owns it and opens the sign-in dialog instead while no device
// token is stored. Main thread.

#include "engine/SyncEngine.h"

#include <QList>
#include <QObject>

class QAction;

namespace spinforge {

class RegistrationDialog : public QObject {
    Q_OBJECT
public:
    // `keyEquivalents` (the main menu's commands) work while its alerts are up.
    RegistrationDialog(SyncEngine& engine, QList<QAction*> keyEquivalents);

    // Offers the drives mounted now and returns once the choice is dismissed; the registration,
    // when asked for, goes on by itself. With no drive mounted it says how to connect one.
    void show();

private:
    QCoro::Task<> registerVolume(QString volume);

    SyncEngine& engine_;
    const QList<QAction*> keyEquivalents_;
};

}  // namespace spinforge
