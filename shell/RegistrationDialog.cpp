#include "shell/RegistrationDialog.h"

#include "platform/MountTable.h"
#include "records/SpinforgeError.h"
#include "shell/Alert.h"
#include "shell/Detach.h"

#include <QComboBox>
#include <QPointer>

namespace spinforge {

using MountTable::volumeName;

RegistrationDialog::RegistrationDialog(SyncEngine& engine, QList<QAction*> keyEquivalents)
    : engine_(engine), keyEquivalents_(std::move(keyEquivalents)) {}

void RegistrationDialog::show() {
    const QStringList candidates = engine_.mountedVolumes();
    if (candidates.isEmpty()) {
        Alert::showResult(QStringLiteral("Connect your USB"),
                          QStringLiteral("Insert a writable USB drive, wait for it to appear in Finder, then try again."),
                          keyEquivalents_);
        return;
    }

    Alert alert(keyEquivalents_);
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
    if (alert.runModal() != Alert::firstButtonReturn) return;
    const int chosen = drives->currentIndex();
    if (chosen < 0) return;
    // The list taken when the dialog opened: the drives are not asked again.
    detach(registerVolume(candidates.at(chosen)));
}

QCoro::Task<> RegistrationDialog::registerVolume(QString volume) {
    const QPointer<RegistrationDialog> self(this);
    try {
        co_await engine_.registerUSB(volume);
    } catch (const std::exception& error) {
        if (self) Alert::showResult(QStringLiteral("Could not register USB"), userDescription(error), keyEquivalents_);
        co_return;
    }
    if (!self) co_return;
    Alert::showResult(QStringLiteral("USB registered"),
                      QStringLiteral("New tracks will sync whenever ") + volumeName(volume) + QStringLiteral(" is connected."),
                      keyEquivalents_);
}

}  // namespace spinforge
