// The eject items of the status menu, and ejecting from them or from a cycle's notification.
#include "shell/AppDelegate.h"

#include "platform/MountTable.h"
#include "shell/Detach.h"
#include "shell/DriveLookup.h"
#include "shell/MenuText.h"
#include "shell/StatusItem.h"

#include <QFileInfo>
#include <QMenu>
#include <QPointer>

#include <algorithm>

namespace spinforge {

using MountTable::volumeName;

namespace {

// A drive's name, and beside another drive of the same name the folder it is mounted in too:
// "DJ (/media/kim)" and "DJ (/run/media/kim)".
QString labelOf(const QString& mountPoint, const QStringList& mounted) {
    const QString name = volumeName(mountPoint);
    const bool shared = std::any_of(mounted.cbegin(), mounted.cend(), [&](const QString& other) {
        return other != mountPoint && volumeName(other) == name;
    });
    return shared ? QStringLiteral("%1 (%2)").arg(name, QFileInfo(mountPoint).path()) : name;
}

}  // namespace

QList<AppDelegate::EjectTarget> AppDelegate::ejectTargets(const QStringList& mountPoints) {
    if (mountPoints.isEmpty()) return {};
    const QStringList mounted = engine_.mountedVolumes() + mountPoints;
    const std::shared_ptr<DriveLookup> lookup = DriveLookup::start(*ejector_, mountPoints);
    QList<EjectTarget> targets;
    for (const QString& mountPoint : mountPoints) targets.append({mountPoint, labelOf(mountPoint, mounted), lookup});
    return targets;
}

void AppDelegate::showEjectItems() {
    QMenu* menu = statusItem_ ? statusItem_->menu() : nullptr;
    if (!menu) return;
    // Looked up afresh each time: an item ejects the drive that was there when the menu was shown.
    QList<EjectTarget> targets = ejectTargets(engine_.registeredDrives());
    const auto sameItems = [&] {
        return std::equal(targets.cbegin(), targets.cend(), ejectTargets_.cbegin(), ejectTargets_.cend(),
                          [](const EjectTarget& a, const EjectTarget& b) { return a.mountPoint == b.mountPoint && a.label == b.label; });
    };
    // Unchanged items stay as they are, so that a panel showing the menu sees nothing move.
    if (!sameItems()) {
        for (QAction* item : std::exchange(ejectItems_, {})) {
            menu->removeAction(item);
            item->deleteLater();  // its command may be on its way out of it
        }
        for (const EjectTarget& target : targets) {
            auto* item = new QAction(MenuText::forMenu(QStringLiteral("Eject ") + target.label), menu);
            connect(item, &QAction::triggered, this, [this, item] {
                if (const qsizetype at = ejectItems_.indexOf(item); at >= 0) ejectDrives({ejectTargets_.at(at)});
            });
            menu->insertAction(ejectItemsEnd_, item);
            ejectItems_ << item;
        }
    }
    ejectTargets_ = std::move(targets);
    lockEjectItems();
}

void AppDelegate::lockEjectItems() {
    for (qsizetype i = 0; i < ejectItems_.size(); ++i)
        ejectItems_[i]->setEnabled(!engine_.isRunning() && !ejecting_.contains(ejectTargets_.at(i).mountPoint));
}

void AppDelegate::cycleEnded() {
    showEjectItems();
    if (!ejectAfterCycle_.isEmpty()) ejectDrives(std::exchange(ejectAfterCycle_, {}));
}

void AppDelegate::ejectDrives(QList<EjectTarget> targets) {
    if (quitting_) return;
    const auto queued = [](const QList<EjectTarget>& list, const EjectTarget& target) {
        return std::any_of(list.cbegin(), list.cend(), [&](const EjectTarget& other) { return other.mountPoint == target.mountPoint; });
    };
    // No eject lands in the middle of a drive's sync: one asked for meanwhile (from an earlier
    // notification) waits for the cycle's end.
    if (engine_.isRunning()) {
        for (const EjectTarget& target : targets)
            if (!queued(ejectAfterCycle_, target)) ejectAfterCycle_ << target;
        return;
    }
    QList<EjectTarget> starting;
    for (const EjectTarget& target : targets)
        if (!ejecting_.contains(target.mountPoint) && !queued(starting, target)) starting << target;
    if (starting.isEmpty()) return;
    for (const EjectTarget& target : starting) ejecting_ << target.mountPoint;
    // A cycle that starts while these are being ejected leaves them out.
    engine_.setEjecting(ejecting_);
    lockEjectItems();
    detach(eject(std::move(starting)));
}

// One drive after the other: the disk service is asked for one change at a time.
QCoro::Task<> AppDelegate::eject(QList<EjectTarget> targets) {
    const QPointer<AppDelegate> self(this);
    for (const EjectTarget& target : targets) {
        const DriveEjector::Identified found = co_await target.lookup->identityOf(target.mountPoint);
        if (!self || quitting_) co_return;
        // No co_await inside a conditional expression: g++ 12 copies the other branch's value wrongly.
        DriveEjector::Outcome outcome;
        if (const auto* identity = std::get_if<DriveEjector::Identity>(&found))
            outcome = co_await ejector_->eject(target.mountPoint, *identity);
        else
            outcome = std::get<DriveEjector::Outcome>(found);
        if (!self || quitting_) co_return;
        ejecting_.removeOne(target.mountPoint);
        engine_.setEjecting(ejecting_);
        tellEjected(target, outcome);
    }
    showEjectItems();
}

void AppDelegate::tellEjected(const EjectTarget& target, DriveEjector::Outcome outcome) {
    using Kind = DriveEjector::Outcome::Kind;
    // Nothing to unmount is the drive gone already, unless it is still mounted where the disk
    // service does not look (a network share, say): then nothing made it safe to pull.
    if (outcome.kind == Kind::notMounted && engine_.mountedVolumes().contains(target.mountPoint))
        outcome = {Kind::failed, QStringLiteral("the disk service (udisks2) does not know it")};
    Notifier& notifier = seams_.engine.notifier;
    if (outcome.kind == Kind::failed)
        notifier.post(QStringLiteral("Spinforge needs attention"),
                      QStringLiteral("Could not eject %1: %2").arg(target.label, outcome.reason), false);
    else if (outcome.kind == Kind::replaced)
        notifier.post(QStringLiteral("Spinforge"), target.label + QStringLiteral(" is no longer there; nothing was ejected"), true);
    else
        notifier.post(QStringLiteral("Spinforge"), target.label + QStringLiteral(" can be removed"), true);
}

}  // namespace spinforge
