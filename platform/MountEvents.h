#pragma once
// Tells the engine that a volume was mounted. The real source is MountWatcher (the kernel's mount
// table); tests emit the signal themselves. Main thread.

#include <QObject>

namespace spinforge {

class MountEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // A drive was mounted: a mount point appeared, where removable drives are mounted, that was not
    // there before. Which one is not said: the engine looks at all mounted volumes afresh.
    void volumeMounted();
};

}  // namespace spinforge
