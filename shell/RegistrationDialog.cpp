// The drive registration dialog: the user picks one of the mounted drives, the engine registers
// it and copies the library onto it, and a second alert tells how that went.
#include "shell/AppDelegate.h"

#include "platform/MountTable.h"
#include "records/SpinforgeError.h"
#include "shell/Alert.h"
#include "shell/Detach.h"

#include <QComboBox>

namespace spinforge {

using MountTable::volumeName;

void AppDelegate::registerUSB() {
    if (!signedIn()) {
        showSignIn();
        return;
    }
    const QStringList candidates = engine_.mountedVolumes();
    if (candidates.isEmpty()) {
        showResult(QStringLiteral("Connect your USB"),
                   QStringLiteral("Insert a writable USB drive, wait for it to appear in Finder, then try again."));
        return;
    }

    Alert alert;
    alert.setMessageText(QStringLiteral("Register a Traktor USB"));
    alert.setInformativeText(QStringLiteral(
            "Spinforge will only sync this account to the selected drive. Existing files are preserved."));
    alert.addButton(QStringLiteral("Register"));
    alert.addButton(QStringLiteral("Cancel"));
    auto* drives = new QComboBox;
    drives->setFixedSize(320, 28);
    for (const QString& volume : candidates) drives->addItem(volumeName(volume));
    drives->setCurrentIndex(0);
    alert.setAccessoryView(drives);
    drives->setFocus();

    // Not brought to the front: the choice waits where the user left off.
    if (run(alert, false) != Alert::firstButtonReturn) return;
    const int chosen = drives->currentIndex();
    if (chosen < 0) return;
    // The list taken when the dialog opened: the drives are not asked again.
    detach(registerVolume(candidates.at(chosen)));
}

QCoro::Task<> AppDelegate::registerVolume(QString volume) {
    try {
        co_await engine_.registerUSB(volume);
    } catch (const std::exception& error) {
        if (!quitting_) showResult(QStringLiteral("Could not register USB"), userDescription(error));
        co_return;
    }
    if (quitting_) co_return;
    showResult(QStringLiteral("USB registered"),
               QStringLiteral("New tracks will sync whenever ") + volumeName(volume) + QStringLiteral(" is connected."));
}

}  // namespace spinforge
