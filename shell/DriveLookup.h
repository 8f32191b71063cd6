#pragma once
// What the disk service said was mounted at some mount points when they were offered for ejecting
// (the eject items shown, a cycle's notification posted): asked once, at once, and kept, so that
// an eject goes ahead only while the mount point still leads to that drive. Shared by whatever
// offered those drives, and by the ejects that wait for its answer. Main thread.

#include "platform/DriveEjector.h"

#include <QObject>

#include <memory>
#include <optional>

namespace spinforge {

class DriveLookup : public QObject {
    Q_OBJECT
public:
    // Starts asking `ejector`, which must outlive the answer.
    static std::shared_ptr<DriveLookup> start(DriveEjector& ejector, QStringList mountPoints);
    // What the disk service said of `mountPoint` (one of those asked about), once it has
    // answered; waits until then. The lookup must live until the task ends.
    QCoro::Task<DriveEjector::Identified> identityOf(QString mountPoint);

signals:
    void answered();

private:
    explicit DriveLookup(QStringList mountPoints) : mountPoints_(std::move(mountPoints)) {}
    static QCoro::Task<> ask(std::shared_ptr<DriveLookup> lookup, DriveEjector* ejector);

    const QStringList mountPoints_;
    std::optional<QList<DriveEjector::Identified>> answer_;
};

}  // namespace spinforge
