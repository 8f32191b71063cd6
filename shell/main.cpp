// The agent's entry: one per user session, living in the tray until the user quits it.
#include "credentials/Settings.h"
#include "platform/DesktopNotifier.h"
#include "platform/MountWatcher.h"
#include "platform/PosixFileOperations.h"
#include "platform/SecretServiceKeyring.h"
#include "shell/AppDelegate.h"
#include "shell/QuitOnSignal.h"
#include "shell/SingleInstance.h"
#include "shell/StatusItem.h"
#include "shell/Symbols.h"

#include <QApplication>
#include <QTimer>

using namespace spinforge;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Spinforge"));
    QApplication::setApplicationVersion(QStringLiteral(SPINFORGE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("spinforge"));
    QApplication::setWindowIcon(Symbols::applicationIcon());
    // A tray agent: closing a dialog or the status window never ends it; "Quit Spinforge" does.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::secondary) return 0;

    SecretServiceKeyring keyring;
    Settings settings;
    PosixFileOperations files;
    DesktopNotifier notifier;
    MountWatcher mountEvents;
    auto delegate = std::make_unique<AppDelegate>(ShellSeams{{keyring, settings, files, notifier, mountEvents}});
    QObject::connect(&instance, &SingleInstance::showRequested, delegate.get(), [&delegate] {
        if (StatusItem* item = delegate->statusItem()) item->showWindow();
    });
    QTimer::singleShot(0, delegate.get(), &AppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    delegate.reset();
    return 0;
}
