// A stand-in for the agent's process in the kill test: one sync cycle with the real engine, the
// real file operations and the service client, and a way to be killed (SIGKILL, no cleanup) just
// before the Nth file operation of a kind. Exit status 0 when the cycle ended in success.
//
//   spinforge-cycle-runner SERVER DATA_HOME MOUNT_TABLE MEDIA_PREFIX [copy|commit|playlist:N]
//
// copy and commit count every copy to the drive and every rename into place (library and drive);
// playlist counts the playlist's writes.

#include "credentials/Keychain.h"
#include "engine/SyncEngine.h"
#include "support/Await.h"
#include "support/Fakes.h"
#include "support/FaultyFileSystem.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

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
    FaultyFileSystem files;
    if (args.size() > 5 && !args[5].isEmpty()) {
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
    spinforge::SyncEngine engine(spinforge::EngineSeams{keyring, settings, files, notifier, mountEvents,
                                                        {mountTable, {media}}, dataHome, {}});
    testing_support::await(engine.sync(QStringLiteral("kill test")));
    QTextStream(stdout) << engine.state().message << '\n';
    return engine.state().kind == spinforge::SyncEngine::State::Kind::success ? 0 : 1;
}
