// One agent per session, across real processes: a later launch is this test binary started
// again, running only the last case below with the folder to claim in its environment.
#include "shell/SingleInstance.h"
#include "support/EnvironmentGuard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace spinforge;
using Role = SingleInstance::Role;

using testing_support::EnvironmentGuard;

namespace {

constexpr char kLaunchFolder[] = "SPINFORGE_TEST_LAUNCH_FOLDER";
constexpr char kLaunchStays[] = "SPINFORGE_TEST_LAUNCH_STAYS";
constexpr char kStaying[] = "launch-claimed-and-staying";
constexpr int kExitPrimary = 20;
constexpr int kExitSecondary = 21;

// Runs this thread's events, where an agent under test answers, until `done` holds or a guard
// far beyond any patience of the code under test has passed.
bool runEventsUntil(const std::function<bool()>& done) {
    QTimer wake;
    wake.start(20);
    const QDeadlineTimer guard(30000);
    while (!done() && !guard.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void runEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A later launch of the agent, claiming `folder`; one that stays runs until it is killed.
class Launch {
public:
    explicit Launch(const QString& folder, bool stays = false) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kLaunchFolder, folder);
        if (stays) environment.insert(kLaunchStays, QStringLiteral("1"));
        process_.setProcessEnvironment(environment);
        process_.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SingleInstanceLaunch.*")});
    }
    ~Launch() { kill(); }
    // Its role once it has ended; nullopt when it ended any other way.
    std::optional<Role> role() {
        runEventsUntil([this] { return process_.state() == QProcess::NotRunning; });
        if (process_.exitStatus() != QProcess::NormalExit) return std::nullopt;
        if (process_.exitCode() == kExitPrimary) return Role::primary;
        if (process_.exitCode() == kExitSecondary) return Role::secondary;
        return std::nullopt;
    }
    // Whether it became the agent and is running as one.
    bool staysAsAgent() {
        QByteArray output;
        return runEventsUntil([&] {
            output += process_.readAllStandardOutput();
            return output.contains(kStaying) || process_.state() == QProcess::NotRunning;
        }) && output.contains(kStaying);
    }
    void kill() {
        process_.kill();
        process_.waitForFinished();
    }
    QByteArray errors() { return process_.readAllStandardError(); }

private:
    QProcess process_;
};

// What this process writes to stderr while it lives.
class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    QString text() {
        std::fflush(stderr);
        QFile written(file_.fileName());
        return written.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(written.readAll()) : QString();
    }

private:
    const int saved_ = ::dup(STDERR_FILENO);
    QTemporaryFile file_;
};

// A socket file as a crashed process leaves it: bound, then closed without removing the file.
void leaveDeadSocket(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(native.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, native.constData(), native.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    ::close(fd);
}

// What the agent on `socketPath` answers to `pieces`, sent one at a time, before it closes the
// connection; nullopt when it keeps the connection open.
std::optional<QByteArray> exchange(const QString& socketPath, const QList<QByteArray>& pieces) {
    QLocalSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] { answer += socket.readAll(); });
    socket.connectToServer(socketPath);
    for (const QByteArray& piece : pieces) {
        socket.write(piece);
        socket.flush();
        runEventsFor(100);  // so that the agent reads each piece on its own
    }
    if (!runEventsUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; })) return std::nullopt;
    return answer;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    QString folder() const { return folder_.path(); }
    QString lockPath() const { return folder_.filePath(QStringLiteral("spinforge.lock")); }
    QString socketPath() const { return folder_.filePath(QStringLiteral("spinforge.socket")); }
    // An agent on folder(), counting the requests to show itself in `shown_`.
    std::unique_ptr<SingleInstance> agent() {
        auto instance = std::make_unique<SingleInstance>(folder());
        QObject::connect(instance.get(), &SingleInstance::showRequested, [this] { ++shown_; });
        return instance;
    }

    QTemporaryDir folder_;
    int shown_ = 0;
};

TEST_F(SingleInstanceTest, TheAgentShowsItselfOncePerLaterLaunchAndFreesTheSlotWhenItEnds) {
    auto running = agent();
    ASSERT_EQ(running->claim(), Role::primary);
    // Started together, as when autostart and the user both start it at login.
    std::vector<std::unique_ptr<Launch>> launches;
    for (int i = 0; i < 3; ++i) launches.push_back(std::make_unique<Launch>(folder()));
    for (auto& launch : launches) {
        EXPECT_EQ(launch->role(), Role::secondary);
        EXPECT_FALSE(launch->errors().contains("spinforge:"));
    }
    EXPECT_EQ(shown_, 3);

    running.reset();
    EXPECT_FALSE(QFile::exists(socketPath()));
    EXPECT_EQ(Launch(folder()).role(), Role::primary);
}

TEST_F(SingleInstanceTest, TheSlotOfAKilledAgentIsTakenOverWithItsSocket) {
    Launch killed(folder(), /*stays=*/true);
    ASSERT_TRUE(killed.staysAsAgent());
    EXPECT_EQ(SingleInstance(folder()).claim(), Role::secondary);  // it answers while it runs
    killed.kill();
    ASSERT_TRUE(QFile::exists(lockPath()) && QFile::exists(socketPath()));

    auto next = agent();
    EXPECT_EQ(next->claim(), Role::primary);
    EXPECT_EQ(Launch(folder()).role(), Role::secondary);
    EXPECT_EQ(shown_, 1);
}

TEST_F(SingleInstanceTest, ASocketFileLeftWithoutALockIsReplaced) {
    const std::function<void()> leftovers[] = {
        [&] { leaveDeadSocket(socketPath()); },
        [&] { QFile(socketPath()).open(QIODevice::WriteOnly); },
    };
    for (const auto& leave : leftovers) {
        leave();
        ASSERT_TRUE(QFile::exists(socketPath()));
        auto running = agent();
        EXPECT_EQ(running->claim(), Role::primary);
        EXPECT_EQ(Launch(folder()).role(), Role::secondary);
    }
    EXPECT_EQ(shown_, 2);
}

TEST_F(SingleInstanceTest, ALaterLaunchWaitsForAnAgentThatHoldsTheLockButDoesNotListenYet) {
    QLockFile starting(lockPath());
    ASSERT_TRUE(starting.tryLock(0));
    Launch later(folder());
    runEventsFor(500);
    QLocalServer late;  // answering as the agent does
    QByteArrayList requests;
    QObject::connect(&late, &QLocalServer::newConnection, [&] {
        QLocalSocket* client = late.nextPendingConnection();
        QObject::connect(client, &QLocalSocket::readyRead, [client, &requests] {
            if (!client->canReadLine()) return;
            requests << client->readLine();
            client->write("ok\n");
        });
    });
    ASSERT_TRUE(late.listen(socketPath()));
    EXPECT_EQ(later.role(), Role::secondary);
    EXPECT_FALSE(later.errors().contains("spinforge:"));
    EXPECT_EQ(requests, QByteArrayList{"show\n"});
}

TEST_F(SingleInstanceTest, OnlyAWholeShowRequestIsAnsweredAndAnythingElseIsDropped) {
    auto running = agent();
    ASSERT_EQ(running->claim(), Role::primary);
    const QList<QByteArray> dropped[] = {
        {"garbage\n"}, {"SHOW\n"}, {"show \n"}, {QByteArray(200, 's')}, {QByteArray("\0show\n", 6)},
        {"show"}, {},  // never completed
    };
    for (const QList<QByteArray>& pieces : dropped) {
        SCOPED_TRACE(pieces.join('|').toStdString());
        EXPECT_EQ(exchange(socketPath(), pieces), QByteArray());
    }
    EXPECT_EQ(shown_, 0);
    EXPECT_EQ(exchange(socketPath(), {"sh", "ow\n"}), QByteArray("ok\n"));
    EXPECT_EQ(shown_, 1);
}

TEST_F(SingleInstanceTest, ALaterLaunchEndsAndSaysWhereWhenTheRunningAgentDoesNotAnswer) {
    QLockFile running(lockPath());
    ASSERT_TRUE(running.tryLock(0));
    for (const bool listening : {false, true}) {  // not listening yet, or hung
        SCOPED_TRACE(listening);
        QLocalServer hung;
        if (listening) {
            ASSERT_TRUE(hung.listen(socketPath()));
        }
        StderrCapture errors;
        EXPECT_EQ(SingleInstance(folder()).claim(), Role::secondary);
        EXPECT_TRUE(errors.text().contains(socketPath())) << errors.text().toStdString();
    }
}

TEST_F(SingleInstanceTest, WhereNoLockCanBeMadeThisProcessIsTheAgentAndSaysWhy) {
    ASSERT_TRUE(QFile(folder_.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly));
    std::vector<std::pair<QString, int>> cases = {
        {folder_.filePath(QStringLiteral("missing")), ENOENT},
        {folder_.filePath(QStringLiteral("file/below")), ENOTDIR},
    };
    if (::geteuid() != 0) {  // root may write anywhere
        const QString readOnly = folder_.filePath(QStringLiteral("read-only"));
        ASSERT_TRUE(QDir().mkdir(readOnly) && ::chmod(QFile::encodeName(readOnly).constData(), 0500) == 0);
        cases.push_back({readOnly, EACCES});
    }
    for (const auto& [where, error] : cases) {
        SCOPED_TRACE(where.toStdString());
        StderrCapture errors;
        EXPECT_EQ(SingleInstance(where).claim(), Role::primary);
        EXPECT_TRUE(errors.text().contains(where + QStringLiteral("/spinforge.lock")));
        EXPECT_TRUE(errors.text().contains(QString::fromLocal8Bit(std::strerror(error)))) << errors.text().toStdString();
    }
}

class SingleInstanceFolderTest : public ::testing::Test {
protected:
    SingleInstanceFolderTest() { qputenv("TMPDIR", QFile::encodeName(temp_.path())); }
    QString privateFolder() const { return temp_.path() + QStringLiteral("/spinforge-") + QString::number(::geteuid()); }
    static int modeOf(const QString& path) {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
    }

    const EnvironmentGuard guard_{"XDG_RUNTIME_DIR", "TMPDIR"};
    QTemporaryDir temp_;
    QTemporaryDir runtime_;
};

TEST_F(SingleInstanceFolderTest, WithoutAnAbsoluteXdgRuntimeDirAPrivateFolderIsMadeInTheTemporaryFolder) {
    struct Case { std::optional<QByteArray> xdgRuntimeDir; bool inRuntime; };
    const Case cases[] = {
        {std::nullopt, false}, {"", false}, {"relative/run", false}, {QFile::encodeName(runtime_.path()), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdgRuntimeDir.value_or("(unset)").toStdString());
        c.xdgRuntimeDir ? qputenv("XDG_RUNTIME_DIR", *c.xdgRuntimeDir) : qunsetenv("XDG_RUNTIME_DIR");
        QDir(privateFolder()).removeRecursively();
        SingleInstance running;
        EXPECT_EQ(running.claim(), Role::primary);
        const QString used = c.inRuntime ? runtime_.path() : privateFolder();
        EXPECT_TRUE(QFile::exists(used + QStringLiteral("/spinforge.lock")));
        EXPECT_TRUE(QFile::exists(used + QStringLiteral("/spinforge.socket")));
        EXPECT_EQ(modeOf(privateFolder()), c.inRuntime ? -1 : 0700);
    }
}

TEST_F(SingleInstanceFolderTest, APrivateFolderThatOthersCouldReachIsNotUsed) {
    qunsetenv("XDG_RUNTIME_DIR");
    const QByteArray path = QFile::encodeName(privateFolder());
    struct Case { const char* what; int mode; bool symlink; uid_t owner; };
    std::vector<Case> cases = {
        {"open to the group", 0770, false, ::geteuid()},
        {"open to everyone", 0755, false, ::geteuid()},
        {"others may pass through", 0701, false, ::geteuid()},
        {"a link to a private folder", 0700, true, ::geteuid()},
    };
    if (::geteuid() == 0) cases.push_back({"another user's", 0700, false, 65534});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(privateFolder());
        QDir(privateFolder()).removeRecursively();
        if (c.symlink) {
            ASSERT_EQ(::symlink(QFile::encodeName(runtime_.path()).constData(), path.constData()), 0);
        } else {
            ASSERT_TRUE(::mkdir(path.constData(), 0700) == 0 && ::chmod(path.constData(), c.mode) == 0 &&
                        ::chown(path.constData(), c.owner, gid_t(-1)) == 0);
        }
        StderrCapture errors;
        EXPECT_EQ(SingleInstance().claim(), Role::primary);
        EXPECT_TRUE(errors.text().contains(privateFolder())) << errors.text().toStdString();
        EXPECT_FALSE(QFile::exists(privateFolder() + QStringLiteral("/spinforge.lock")));
        EXPECT_EQ(modeOf(privateFolder()), c.symlink ? 0777 : c.mode);
    }
}

// The body of a later launch, started by the tests above; skipped in an ordinary run.
TEST(SingleInstanceLaunch, ClaimsTheFolderNamedInItsEnvironment) {
    const QString folder = qEnvironmentVariable(kLaunchFolder);
    if (folder.isEmpty()) GTEST_SKIP() << "runs only as a later launch started by the other SingleInstance tests";
    SingleInstance instance(folder);
    const Role role = instance.claim();
    if (role == Role::primary && qEnvironmentVariableIsSet(kLaunchStays)) {
        std::printf("%s\n", kStaying);
        std::fflush(stdout);
        QCoreApplication::exec();
    }
    std::fflush(nullptr);
    // Straight out, past the test framework's report, with the role as the exit status.
    std::_Exit(role == Role::primary ? kExitPrimary : kExitSecondary);
}

}  // namespace
