#pragma once
// The application: it drives the one sync engine, shows its condition in the status item (a tray
// icon, or the status window where the desktop has no tray), runs the periodic sync, and answers
// the user's commands from the status menu: sync now, register a drive, open the library or the
// web dashboard, eject a drive, sign in. The dialogs (SignInDialog, RegistrationDialog) and the
// eject items (EjectMenu) are units of their own; this wires them to the engine and the menus.
//
// One instance for the life of the process. Main thread only.

#include "engine/SyncEngine.h"
#include "platform/DriveEjector.h"

#include <QAction>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QMenuBar;

namespace spinforge {

class EjectMenu;
class RegistrationDialog;
class SignInDialog;
class StatusItem;

// What the application works with besides the engine; tests stand in for each.
struct ShellSeams {
    EngineSeams engine;  // the ones the engine was built on: the shell reads the same settings and keyring
    // Opens a web address in the browser or a folder in the file manager; the outcome is not asked.
    std::function<void(const QUrl&)> openURL = {};  // empty: the desktop's default handler
    std::chrono::milliseconds syncInterval = std::chrono::seconds(900);
    DriveEjector* ejector = nullptr;  // null: udisks2 on the system bus
};

class AppDelegate : public QObject {
    Q_OBJECT
public:
    // `engine` outlives the application, which sets its listeners and stops it on the way out.
    AppDelegate(SyncEngine& engine, ShellSeams seams);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Shows the agent and starts the engine and the timer; opens the sign-in dialog, and returns
    // only once it is dismissed, when no device token is stored.
    void applicationDidFinishLaunching();

    // Where the agent shows itself; null before launch. A second launch of the agent asks for its
    // window.
    StatusItem* statusItem() const { return statusItem_.get(); }

private:
    // The user's commands, run by the status menu's items.
    void syncNow();
    void registerUSB();
    void openLibrary();
    void openDashboard();
    void showSignIn();

    // The menus (Menus.cpp).
    void buildMenu();
    void buildApplicationMenu();
    // Builds a new editing menu: "Cut", "Copy", "Paste", "Select All", acting on the focused field.
    static std::unique_ptr<QMenu> editingMenu();
    QList<QAction*> keyEquivalents() const;

    void showState(const SyncEngine::State& state);
    // Puts `state` in the status line and the status item's look.
    void display(const SyncEngine::State& state);
    bool signedIn();

    // The application's fields, in the order the rest of the system knows them.
    SyncEngine& engine_;
    std::unique_ptr<StatusItem> statusItem_;
    QAction statusMenuItem_;
    QTimer* timer_ = nullptr;  // a child, "periodic sync"

    // Set once at construction, or at launch.
    ShellSeams seams_;
    std::unique_ptr<QMenuBar> applicationMenu_;
    std::unique_ptr<EjectMenu> ejectMenu_;
    std::unique_ptr<SignInDialog> signInDialog_;
    std::unique_ptr<RegistrationDialog> registrationDialog_;

    // Main thread only.
    std::optional<SyncEngine::State> progress_;  // the latest progress, not shown yet
};

}  // namespace spinforge
