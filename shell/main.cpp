// The agent's entry: one per user session, living in the tray until the user quits it.
#include "credentials/Settings.h"
#include "platform/DesktopNotifier.h"
#include "platform/MountWatcher.h"
#include "platform/PosixFileSystem.h"
#include "platform/SecretServiceKeyring.h"
#include "platform/StopOnSignal.h"
#include "shell/AppDelegate.h"
#include "shell/CommandLine.h"
#include "shell/SelfCheck.h"
#include "shell/SingleInstance.h"
#include "shell/StatusItem.h"
#include "shell/Symbols.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

using namespace spinforge;

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int index = 0; index < argc; ++index) arguments << QString::fromLocal8Bit(argv[index]);
    return arguments;
}

int printed(const QString& text) {
    QTextStream(stdout) << text;
    return 0;
}

int unknownOption(const QString& option) {
    QTextStream(stderr) << "spinforge: unknown option " << option << " (spinforge --help lists the options)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    const CommandLine asGiven = readCommandLine(argumentsOf(argc, argv));
    if (asGiven.mode == LaunchMode::help) return printed(helpText(QString::fromLocal8Bit(argv[0])));
    if (asGiven.mode == LaunchMode::version) return printed(versionText());

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Spinforge"));
    QApplication::setApplicationVersion(QStringLiteral(SPINFORGE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("spinforge"));
    QApplication::setWindowIcon(Symbols::applicationIcon());
    // A tray agent: closing a dialog or the status window never ends it; "Quit Spinforge" does.
    QApplication::setQuitOnLastWindowClosed(false);
    // Lives until the process ends: a signal may come at any moment.
    static StopRequest stop;
    stopOnTerminationSignals(stop);

    // Qt has taken out its own options by now: anything left over is a mistake.
    const CommandLine commandLine = readCommandLine(QApplication::arguments());
    if (!commandLine.unrecognised.isEmpty()) return unknownOption(commandLine.unrecognised.first());
    // Before the lock, the keyring and the settings: a check must not disturb a running agent.
    if (commandLine.mode == LaunchMode::selfCheck) return runSelfCheck();

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::secondary) return 0;

    SecretServiceKeyring keyring;
    Settings settings;
    PosixFileSystem files(&stop);
    DesktopNotifier notifier;
    MountWatcher mountEvents;
    const EngineSeams seams{.keyring = keyring,
                            .settings = settings,
                            .files = files,
                            .notifier = notifier,
                            .mountEvents = mountEvents,
                            .stop = &stop};
    SyncEngine engine(seams);
    auto delegate = std::make_unique<AppDelegate>(engine, ShellSeams{.engine = seams});
    QObject::connect(&instance, &SingleInstance::showRequested, delegate.get(), [&delegate] {
        if (StatusItem* item = delegate->statusItem()) item->showWindow();
    });
    QTimer::singleShot(0, delegate.get(), &AppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    delegate.reset();
    return 0;
}
