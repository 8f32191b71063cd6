// The eject items of the status menu, and ejecting from them or from a cycle's notification.
#include "shell/AppDelegate.h"

#include "platform/MountTable.h"
#include "shell/Detach.h"
#include "shell/MenuText.h"
#include "shell/StatusItem.h"

#include <QMenu>
#include <QPointer>

namespace spinforge {

using MountTable::volumeName;

void AppDelegate::showEjectItems() {
    QMenu* menu = statusItem_ ? statusItem_->menu() : nullptr;
    if (!menu) return;
    const QStringList drives = engine_.registeredDrives();
    QStringList shown;
    for (const QAction* item : ejectItems_) shown << item->data().toString();
    // Unchanged items stay as they are, so that a panel showing the menu sees nothing move.
    if (drives != shown) {
        for (QAction* item : std::exchange(ejectItems_, {})) {
            menu->removeAction(item);
            item->deleteLater();  // its command may be on its way out of it
        }
        for (const QString& drive : drives) {
            auto* item = new QAction(MenuText::forMenu(QStringLiteral("Eject ") + volumeName(drive)), menu);
            item->setData(drive);
            connect(item, &QAction::triggered, this, [this, drive] { ejectDrives({drive}); });
            menu->insertAction(ejectItemsEnd_, item);
            ejectItems_ << item;
        }
    }
    lockEjectItems();
}

void AppDelegate::lockEjectItems() {
    for (QAction* item : ejectItems_)
        item->setEnabled(!working_ && !ejecting_.contains(item->data().toString()));
}

void AppDelegate::ejectDrives(const QStringList& mountPoints) {
    if (quitting_) return;
    // No eject lands in the middle of a drive's sync: one asked for meanwhile (from an earlier
    // notification) waits for the cycle's end.
    if (working_) {
        for (const QString& mountPoint : mountPoints)
            if (!ejectAfterCycle_.contains(mountPoint)) ejectAfterCycle_ << mountPoint;
        return;
    }
    QStringList drives;
    for (const QString& mountPoint : mountPoints)
        if (!ejecting_.contains(mountPoint)) drives << mountPoint;
    if (drives.isEmpty()) return;
    ejecting_ << drives;
    lockEjectItems();
    detach(eject(drives));
}

// One drive after the other: the disk service is asked for one change at a time.
QCoro::Task<> AppDelegate::eject(QStringList mountPoints) {
    const QPointer<AppDelegate> self(this);
    for (const QString& mountPoint : mountPoints) {
        const DriveEjector::Outcome outcome = co_await ejector_->eject(mountPoint);
        if (!self || quitting_) co_return;
        ejecting_.removeOne(mountPoint);
        tellEjected(mountPoint, outcome);
    }
    showEjectItems();
}

void AppDelegate::tellEjected(const QString& mountPoint, DriveEjector::Outcome outcome) {
    using Kind = DriveEjector::Outcome::Kind;
    // Nothing to unmount is the drive gone already, unless it is still mounted where the disk
    // service does not look (a network share, say): then nothing made it safe to pull.
    if (outcome.kind == Kind::notMounted && engine_.mountedVolumes().contains(mountPoint))
        outcome = {Kind::failed, QStringLiteral("the disk service (udisks2) does not know it")};
    Notifier& notifier = seams_.engine.notifier;
    const QString name = volumeName(mountPoint);
    if (outcome.kind == Kind::failed)
        notifier.post(QStringLiteral("Spinforge needs attention"),
                      QStringLiteral("Could not eject %1: %2").arg(name, outcome.reason), false);
    else
        notifier.post(QStringLiteral("Spinforge"), name + QStringLiteral(" can be removed"), true);
}

}  // namespace spinforge
