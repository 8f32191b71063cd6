#pragma once
// The status menu's eject items, and ejecting from them or from a cycle's notification.
//
// One item per registered drive that is mounted, looked up afresh as the menu opens; an item, like
// a notification's Eject, ejects the drive that was mounted there when it was offered (see
// DriveLookup), never a stick that took its place. Two drives of one name are told apart by the
// folder they are mounted in. The items are greyed out while a cycle runs, and a drive's own while
// it is being ejected. No eject lands in the middle of a drive's sync: one asked for during a
// cycle waits for its end, and the engine leaves a drive being ejected out of the cycles that
// start meanwhile. Each eject ends in a notification that says how it went.
//
// One for the application, which owns it and tells it of the engine's cycles. Main thread.

#include "engine/SyncEngine.h"
#include "platform/DriveEjector.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace spinforge {

class DriveLookup;

class EjectMenu : public QObject {
    Q_OBJECT
public:
    // `ejector` (it must outlive this) asks the disk service; null: udisks2 on the system bus,
    // which reads the kernel's mounts from `mountTable`.
    EjectMenu(SyncEngine& engine, Notifier& notifier, DriveEjector* ejector, const QString& mountTable);
    ~EjectMenu() override;
    EjectMenu(const EjectMenu&) = delete;
    EjectMenu& operator=(const EjectMenu&) = delete;

    // Puts the items into `menu` before `end`, from now on, and keeps them up to date as it opens.
    // The previous menu's items go with that menu.
    void placeIn(QMenu& menu, QAction& end);
    // Brings the items up to date with the registered drives mounted now. Items that stand for the
    // same drives stay as they are, so that a panel showing the menu sees nothing move.
    void showItems();
    // Greys out every item while a cycle runs, and each drive's own while it is being ejected.
    void lockItems();
    // What a notification's Eject does: ejects the drives at `mountPoints` as they are now. It may
    // run after this is gone, and then does nothing.
    std::function<void()> offer(const QStringList& mountPoints);
    // Called as each cycle ends: the items come up to date, and ejects asked for meanwhile start.
    void cycleEnded();

private:
    struct Target {
        QString mountPoint;
        QString label;  // its name, with its mount point's folder when another drive has that name
        std::shared_ptr<DriveLookup> lookup;  // what the disk service said was mounted there
    };
    // The drives at `mountPoints` as they are now, for an item or a notification to offer.
    QList<Target> targetsAt(const QStringList& mountPoints);
    void eject(QList<Target> targets);
    // One drive after the other: the disk service is asked for one change at a time.
    QCoro::Task<> ejectInTurn(QList<Target> targets);
    void tell(const Target& target, DriveEjector::Outcome outcome);

    SyncEngine& engine_;
    Notifier& notifier_;
    std::unique_ptr<DriveEjector> udisks_;  // the ejector when none is given
    DriveEjector& ejector_;

    QPointer<QMenu> menu_;
    QPointer<QAction> end_;      // the separator that follows the items
    QList<QAction*> items_;      // owned by menu_
    QList<Target> targets_;      // what each item ejects, in the same order
    QStringList ejecting_;       // mount points whose eject runs
    QList<Target> afterCycle_;   // asked to be ejected while a cycle ran
};

}  // namespace spinforge
