#pragma once
// The application: it owns the one sync engine, shows its condition in the status item (a tray
// icon, or the status window where the desktop has no tray), runs the periodic sync, and answers
// the user's commands: sync now, register a drive, open the library or the web dashboard, eject a
// drive, sign in.
//
// One instance for the life of the process. Main thread only. The dialogs are modal alerts that
// run a nested event loop; sign-in and registration continue in tasks nobody awaits, each ending
// with its own result alert.

#include "engine/SyncEngine.h"
#include "platform/DriveEjector.h"

#include <QAction>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QMenuBar;

namespace spinforge {

class Alert;
class DriveLookup;
class StatusItem;

// What the application works with besides the engine's own seams; tests stand in for each.
struct ShellSeams {
    EngineSeams engine;
    // Opens a web address in the browser or a folder in the file manager; the outcome is not asked.
    std::function<void(const QUrl&)> openURL = {};  // empty: the desktop's default handler
    std::chrono::milliseconds syncInterval = std::chrono::seconds(900);
    DriveEjector* ejector = nullptr;  // null: udisks2 on the system bus
};

class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Offered in the sign-in dialog until an address has been stored; stored nowhere by itself.
    static inline const QString defaultServerURL = QStringLiteral("https://app.spinforge.io");

    explicit AppDelegate(ShellSeams seams);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Shows the agent and starts the engine and the timer; opens the sign-in dialog, and returns
    // only once it is dismissed, when no device token is stored.
    void applicationDidFinishLaunching();

    // The user's commands.
    void syncNow();
    void registerUSB();
    void openLibrary();
    void openDashboard();
    void showSignIn();

    // Read by tests and by the entry point.
    SyncEngine& engine() { return engine_; }
    StatusItem* statusItem() const { return statusItem_.get(); }
    QAction& statusMenuItem() { return statusMenuItem_; }

    // Builds a new editing menu: "Cut", "Copy", "Paste", "Select All", acting on the focused field.
    static std::unique_ptr<QMenu> editingMenu();

private:
    void buildMenu();
    void buildApplicationMenu();
    QList<QAction*> keyEquivalents() const;
    void showState(const SyncEngine::State& state);
    // Puts `state` in the status line and the status item's look.
    void display(const SyncEngine::State& state);
    // The eject items and ejecting (Eject.cpp). One item per registered drive that is mounted,
    // after "Open Web Dashboard"; locked while a cycle or that drive's eject runs.
    struct EjectTarget {
        QString mountPoint;
        QString label;  // its name, with its mount point's folder when another drive has that name
        std::shared_ptr<DriveLookup> lookup;  // what the disk service said was mounted there
    };
    // The drives at `mountPoints` as they are now, for an item or a notification to offer.
    QList<EjectTarget> ejectTargets(const QStringList& mountPoints);
    void showEjectItems();
    void lockEjectItems();
    void ejectDrives(QList<EjectTarget> targets);
    QCoro::Task<> eject(QList<EjectTarget> targets);
    void tellEjected(const EjectTarget& target, DriveEjector::Outcome outcome);
    void cycleEnded();
    bool signedIn();
    // Runs `alert` with the main menu's key equivalents; in front of other windows when `activate`.
    int run(Alert& alert, bool activate = true);
    void showResult(const QString& message, const QString& informative);
    QCoro::Task<> signIn(QString server, QString email, QString password);
    QCoro::Task<> registerVolume(QString volume);

    // The application's fields, in the order the rest of the system knows them.
    SyncEngine engine_;
    std::unique_ptr<StatusItem> statusItem_;
    QAction statusMenuItem_;
    QTimer* timer_ = nullptr;  // a child, "periodic sync"

    // Set once at construction, or at launch.
    ShellSeams seams_;
    std::unique_ptr<QMenuBar> applicationMenu_;
    std::unique_ptr<DriveEjector> udisks_;  // the ejector when the seams give none
    DriveEjector* ejector_ = nullptr;
    bool quitting_ = false;  // set on the way out: no more alerts

    // Main thread only.
    std::optional<SyncEngine::State> progress_;  // the latest progress, not shown yet
    QAction* ejectItemsEnd_ = nullptr;  // the status menu's separator that follows the eject items
    QList<QAction*> ejectItems_;        // owned by the status menu
    QList<EjectTarget> ejectTargets_;   // what each eject item ejects, in the same order
    QStringList ejecting_;              // mount points whose eject runs
    QList<EjectTarget> ejectAfterCycle_;  // asked to be ejected while a cycle ran
};

}  // namespace spinforge
