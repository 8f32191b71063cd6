#include "shell/DriveLookup.h"

#include "shell/Detach.h"

#include <QCoroSignal>

namespace spinforge {

std::shared_ptr<DriveLookup> DriveLookup::start(DriveEjector& ejector, QStringList mountPoints) {
    std::shared_ptr<DriveLookup> lookup(new DriveLookup(std::move(mountPoints)));
    detach(ask(lookup, &ejector));
    return lookup;
}

// Holds the lookup until the answer is in, whoever else still holds it.
QCoro::Task<> DriveLookup::ask(std::shared_ptr<DriveLookup> lookup, DriveEjector* ejector) {
    lookup->answer_ = co_await ejector->identify(lookup->mountPoints_);
    emit lookup->answered();
}

QCoro::Task<DriveEjector::Identified> DriveLookup::identityOf(QString mountPoint) {
    if (!answer_) co_await qCoro(this, &DriveLookup::answered);
    const qsizetype index = mountPoints_.indexOf(mountPoint);
    if (index < 0 || index >= answer_->size()) co_return DriveEjector::Outcome{DriveEjector::Outcome::Kind::notMounted, {}};
    co_return answer_->at(index);
}

}  // namespace spinforge
