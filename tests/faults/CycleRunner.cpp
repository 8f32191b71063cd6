// The agent's process for the kill test: one sync cycle of the real engine, file system and client,
// handling termination signals as the agent does; status 0 on success or when stopped by a signal.
//
//   spinforge-cycle-runner SERVER DATA_HOME MOUNT_TABLE MEDIA_PREFIX [copy|commit|playlist:N]
//   spinforge-cycle-runner SERVER DATA_HOME MOUNT_TABLE MEDIA_PREFIX TERM|INT|HUP:copy|read:PATH_PART
//
// The first kills itself (SIGKILL) before the Nth copy to the drive, rename into place or playlist
// write; the second sends itself that signal (printing "SIGNAL") 100 ms into the first copy or read
// of PATH_PART.

#include "credentials/Keychain.h"
#include "engine/SyncEngine.h"
#include "platform/StopOnSignal.h"
#include "support/Fakes.h"
#include "support/FaultyFileSystem.h"

#include <QCoreApplication>
#include <QTextStream>

#include <chrono>
#include <map>
#include <csignal>
#include <thread>
#include <unistd.h>

using testing_support::FaultyFileSystem;
using Op = FaultyFileSystem::Op;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) return 2;
    const QString server = args[1], dataHome = args[2], mountTable = args[3], media = args[4];

    testing_support::MemoryKeyring keyring;
    spinforge::Settings settings(dataHome + QStringLiteral("/Spinforge.conf"));
    settings.setServerURL(server);
    spinforge::Keychain::save(keyring, QStringLiteral("kill-test-token"));
    static spinforge::StopRequest stop;
    spinforge::stopOnTerminationSignals(stop);
    FaultyFileSystem files(&stop);
    const std::map<QString, int> stopSignals{{"TERM", SIGTERM}, {"INT", SIGINT}, {"HUP", SIGHUP}};
    if (args.size() > 5 && stopSignals.count(args[5].section(u':', 0, 0))) {
        const QStringList at = args[5].split(u':');
        const int signal = stopSignals.at(at[0]);
        files.onceBefore(at.value(1) == u"copy" ? Op::copy : Op::read, at.value(2), [signal] {
            std::thread([signal] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                QTextStream(stdout) << "SIGNAL" << Qt::endl;
                ::kill(::getpid(), signal);
            }).detach();
        });
    } else if (args.size() > 5 && !args[5].isEmpty()) {
        const QStringList killAt = args[5].split(u':');
        const std::map<QString, Op> kinds{{"copy", Op::copy}, {"commit", Op::commit}, {"playlist", Op::stage}};
        const int nth = killAt.value(1).toInt();
        if (!kinds.count(killAt.value(0)) || nth < 1) return 2;
        const bool playlist = killAt[0] == u"playlist";
        files.beforeEach = [kind = kinds.at(killAt[0]), playlist, nth, seen = 0](Op op, const QString& path) mutable {
            if (op == kind && (!playlist || path.endsWith(".m3u8")) && ++seen == nth) ::raise(SIGKILL);
        };
    }
    testing_support::RecordingNotifier notifier;
    spinforge::MountEvents mountEvents;
    spinforge::SyncEngine engine(spinforge::EngineSeams{.keyring = keyring, .settings = settings, .files = files,
                                                        .notifier = notifier, .mountEvents = mountEvents,
                                                        .volumes = {mountTable, {media}}, .dataHome = dataHome,
                                                        .stop = &stop});
    // As the agent runs: the event loop until the cycle or a signal ends it, then the engine stopped.
    QCoro::connect(engine.sync(QStringLiteral("kill test")), &app, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    engine.stop();
    if (stop.isRequested()) return 0;
    QTextStream(stdout) << engine.state().message << '\n';
    return engine.state().kind == spinforge::SyncEngine::State::Kind::success ? 0 : 1;
}
