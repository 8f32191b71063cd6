// A stand-in for the agent's process in the kill tests: one sync cycle with the real engine, the
// real file operations and the service client, and a way to be killed (SIGKILL, no cleanup) just
// before the Nth file operation of a kind. Exit status 0 when the cycle ended in success.
//
//   spinforge-cycle-runner SERVER DATA_HOME MOUNT_TABLE MEDIA_PREFIX [copy|move|writeAtomically:N]

#include "credentials/Keychain.h"
#include "credentials/Settings.h"
#include "engine/SyncEngine.h"
#include "support/Await.h"
#include "support/FaultyFileOperations.h"
#include "support/MemoryKeyring.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

using testing_support::FaultyFileOperations;
using Op = FaultyFileOperations::Op;

namespace {

class SilentNotifier final : public spinforge::Notifier {
public:
    void requestPermission() override {}
    void post(const QString&, const QString&, bool) override {}
};

std::optional<Op> opNamed(const QString& name) {
    if (name == "copy") return Op::copy;
    if (name == "move") return Op::move;
    if (name == "writeAtomically") return Op::writeAtomically;
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) return 2;
    const QString server = args[1], dataHome = args[2], mountTable = args[3], media = args[4];

    testing_support::MemoryKeyring keyring;
    spinforge::Settings settings(dataHome + QStringLiteral("/Spinforge.conf"));
    settings.setServerURL(server);
    spinforge::Keychain::save(keyring, QStringLiteral("kill-test-token"));
    FaultyFileOperations files;
    if (args.size() > 5) {
        const QStringList killAt = args[5].split(u':');
        const std::optional<Op> kind = opNamed(killAt.value(0));
        const int nth = killAt.value(1).toInt();
        if (!kind || nth < 1) return 2;
        files.beforeEach = [kind, nth, seen = 0](Op op, const QString&) mutable {
            if (op == *kind && ++seen == nth) ::raise(SIGKILL);
        };
    }
    SilentNotifier notifier;
    spinforge::MountEvents mountEvents;
    spinforge::SyncEngine engine(spinforge::EngineSeams{keyring, settings, files, notifier, mountEvents,
                                                        {mountTable, {media}}, dataHome, {}});
    testing_support::await(engine.sync(QStringLiteral("kill test")));
    QTextStream(stdout) << engine.state().message << '\n';
    return engine.state().kind == spinforge::SyncEngine::State::Kind::success ? 0 : 1;
}
