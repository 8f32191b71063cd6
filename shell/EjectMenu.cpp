#include "shell/EjectMenu.h"

#include "platform/MountTable.h"
#include "platform/UDisksEjector.h"
#include "shell/Detach.h"
#include "shell/DriveLookup.h"
#include "shell/MenuText.h"

#include <QFileInfo>
#include <QMenu>

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

EjectMenu::EjectMenu(SyncEngine& engine, Notifier& notifier, DriveEjector* ejector, const QString& mountTable)
    : engine_(engine),
      notifier_(notifier),
      udisks_(ejector ? nullptr : std::make_unique<UDisksEjector>(QDBusConnection::systemBus(), mountTable)),
      ejector_(ejector ? *ejector : *udisks_) {}

EjectMenu::~EjectMenu() = default;

void EjectMenu::placeIn(QMenu& menu, QAction& end) {
    menu_ = &menu;
    end_ = &end;
    items_.clear();
    targets_.clear();
    connect(&menu, &QMenu::aboutToShow, this, &EjectMenu::showItems);
}

QList<EjectMenu::Target> EjectMenu::targetsAt(const QStringList& mountPoints) {
    if (mountPoints.isEmpty()) return {};
    const QStringList mounted = engine_.mountedVolumes() + mountPoints;
    const std::shared_ptr<DriveLookup> lookup = DriveLookup::start(ejector_, mountPoints);
    QList<Target> targets;
    for (const QString& mountPoint : mountPoints) targets.append({mountPoint, labelOf(mountPoint, mounted), lookup});
    return targets;
}

void EjectMenu::showItems() {
    if (!menu_) return;
    // Looked up afresh each time: an item ejects the drive that was there when the menu was shown.
    QList<Target> targets = targetsAt(engine_.registeredDrives());
    const auto sameItems = [&] {
        return std::equal(targets.cbegin(), targets.cend(), targets_.cbegin(), targets_.cend(),
                          [](const Target& a, const Target& b) { return a.mountPoint == b.mountPoint && a.label == b.label; });
    };
    if (!sameItems()) {
        for (QAction* item : std::exchange(items_, {})) {
            menu_->removeAction(item);
            item->deleteLater();  // its command may be on its way out of it
        }
        for (const Target& target : targets) {
            auto* item = new QAction(MenuText::forMenu(QStringLiteral("Eject ") + target.label), menu_);
            connect(item, &QAction::triggered, this, [this, item] {
                if (const qsizetype at = items_.indexOf(item); at >= 0) eject({targets_.at(at)});
            });
            menu_->insertAction(end_, item);
            items_ << item;
        }
    }
    targets_ = std::move(targets);
    lockItems();
}

void EjectMenu::lockItems() {
    for (qsizetype i = 0; i < items_.size(); ++i)
        items_[i]->setEnabled(!engine_.isRunning() && !ejecting_.contains(targets_.at(i).mountPoint));
}

std::function<void()> EjectMenu::offer(const QStringList& mountPoints) {
    return [self = QPointer<EjectMenu>(this), targets = targetsAt(mountPoints)] {
        if (self) self->eject(targets);
    };
}

void EjectMenu::cycleEnded() {
    showItems();
    if (!afterCycle_.isEmpty()) eject(std::exchange(afterCycle_, {}));
}

void EjectMenu::eject(QList<Target> targets) {
    const auto queued = [](const QList<Target>& list, const Target& target) {
        return std::any_of(list.cbegin(), list.cend(), [&](const Target& other) { return other.mountPoint == target.mountPoint; });
    };
    // No eject lands in the middle of a drive's sync: one asked for meanwhile (from an earlier
    // notification) waits for the cycle's end.
    if (engine_.isRunning()) {
        for (const Target& target : targets)
            if (!queued(afterCycle_, target)) afterCycle_ << target;
        return;
    }
    QList<Target> starting;
    for (const Target& target : targets)
        if (!ejecting_.contains(target.mountPoint) && !queued(starting, target)) starting << target;
    if (starting.isEmpty()) return;
    for (const Target& target : starting) ejecting_ << target.mountPoint;
    // A cycle that starts while these are being ejected leaves them out.
    engine_.setEjecting(ejecting_);
    lockItems();
    detach(ejectInTurn(std::move(starting)));
}

QCoro::Task<> EjectMenu::ejectInTurn(QList<Target> targets) {
    const QPointer<EjectMenu> self(this);
    for (const Target& target : targets) {
        const DriveEjector::Identified found = co_await target.lookup->identityOf(target.mountPoint);
        if (!self) co_return;
        // No co_await inside a conditional expression: g++ 12 copies the other branch's value wrongly.
        DriveEjector::Outcome outcome;
        if (const auto* identity = std::get_if<DriveEjector::Identity>(&found))
            outcome = co_await ejector_.eject(target.mountPoint, *identity);
        else
            outcome = std::get<DriveEjector::Outcome>(found);
        if (!self) co_return;
        ejecting_.removeOne(target.mountPoint);
        engine_.setEjecting(ejecting_);
        tell(target, outcome);
    }
    showItems();
}

void EjectMenu::tell(const Target& target, DriveEjector::Outcome outcome) {
    using Kind = DriveEjector::Outcome::Kind;
    // Nothing to unmount is the drive gone already, unless it is still mounted where the disk
    // service does not look (a network share, say): then nothing made it safe to pull.
    if (outcome.kind == Kind::notMounted && engine_.mountedVolumes().contains(target.mountPoint))
        outcome = {Kind::failed, QStringLiteral("the disk service (udisks2) does not know it")};
    if (outcome.kind == Kind::failed)
        notifier_.post(QStringLiteral("Spinforge needs attention"),
                       QStringLiteral("Could not eject %1: %2").arg(target.label, outcome.reason), false);
    else if (outcome.kind == Kind::replaced)
        notifier_.post(QStringLiteral("Spinforge"), target.label + QStringLiteral(" is no longer there; nothing was ejected"), true);
    else
        notifier_.post(QStringLiteral("Spinforge"), target.label + QStringLiteral(" can be removed"), true);
}

}  // namespace spinforge
