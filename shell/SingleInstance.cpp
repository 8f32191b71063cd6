#include "shell/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace spinforge {
namespace {

const QString kLockName = QStringLiteral("spinforge.lock");
const QString kSocketName = QStringLiteral("spinforge.socket");
const QByteArray kShowRequest = "show\n";
const QByteArray kShown = "ok\n";

// The running agent takes the lock a moment before it listens, so a later launch keeps trying
// to connect for this long, then waits this long for the answer.
constexpr int kConnectPatienceMs = 3000;
constexpr int kRetryPauseMs = 100;
constexpr int kAnswerPatienceMs = 2000;
// A client whose request has not arrived whole by then is dropped, so a stuck or hostile one
// cannot hold a connection open in the agent.
constexpr int kRequestPatienceMs = 1000;
// Longer than any request or answer: more without a line break is not one of ours.
constexpr qint64 kLongestLine = 64;

// The agent has no log and may run without a terminal; stderr reaches whoever started it by
// hand, which is when these messages matter.
void warn(const QString& text) { std::fprintf(stderr, "spinforge: %s\n", text.toLocal8Bit().constData()); }

QString describeErrno(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Empty when `path` is a real folder only we can enter; otherwise what is wrong with it.
QString whyNotPrivate(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) return describeErrno(errno);
    if (!S_ISDIR(info.st_mode)) return QStringLiteral("it is not a folder");
    if (info.st_uid != ::geteuid()) return QStringLiteral("it belongs to another user");
    if ((info.st_mode & 077) != 0) return QStringLiteral("other users have access to it");
    return {};
}

// Another user could create the folder first in the shared temporary folder and then see or
// replace our lock and socket; such a folder is never used. Empty when there is no usable one.
QString privateTempFolder() {
    const QString path = QDir::tempPath() + QStringLiteral("/spinforge-") + QString::number(::geteuid());
    const QByteArray native = QFile::encodeName(path);
    QString problem;
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) problem = describeErrno(errno);
    else problem = whyNotPrivate(native);
    if (problem.isEmpty()) return path;
    warn(QStringLiteral("not using %1 (%2); starting without checking for a running agent").arg(path, problem));
    return {};
}

// Where the lock and the socket go: $XDG_RUNTIME_DIR, or a private folder in the temporary folder
// when that is unset; empty when neither can be used.
QString runtimeFolder() {
    // Relative values are invalid by the XDG rules and are ignored.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime)) return runtime;
    return privateTempFolder();
}

QString whyNoLock(const QLockFile& lock, int error) {
    if (error != 0) return describeErrno(error);
    return lock.error() == QLockFile::PermissionError ? QStringLiteral("permission denied")
                                                       : QStringLiteral("unknown error");
}

bool connectPatiently(QLocalSocket& socket, const QString& socketPath) {
    const QDeadlineTimer deadline(kConnectPatienceMs);
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(int(deadline.remainingTime()))) return true;
        if (deadline.hasExpired()) return false;
        QThread::msleep(kRetryPauseMs);
    }
}

// Whether the agent listening on `socketPath` took the request. Sent once at most: an agent
// that is only slow would otherwise show itself once per attempt.
bool askToShow(const QString& socketPath) {
    QLocalSocket socket;
    if (!connectPatiently(socket, socketPath)) return false;
    const QDeadlineTimer deadline(kAnswerPatienceMs);
    socket.write(kShowRequest);
    while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return socket.canReadLine() && socket.readLine(kLongestLine) == kShown;
}

// Closes the connection at once and unanswered: the client learns only that nothing was taken.
void drop(QLocalSocket* client) {
    client->abort();
    client->deleteLater();
}

}  // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() {
    // Closing removes the socket file; only then may a new agent take the lock and make its own.
    server_.reset();
    lock_.reset();
}

SingleInstance::Role SingleInstance::claim() {
    const QString folder = runtimeFolder();
    if (folder.isEmpty()) return Role::primary;
    const QString socketPath = folder + u'/' + kSocketName;
    auto lock = std::make_unique<QLockFile>(folder + u'/' + kLockName);
    // A lock whose process is gone is removed by tryLock: that is how a crashed agent's slot is
    // taken over. A running agent's lock must never count as stale by its age, which Qt's own
    // file lock prevents only where the file system supports it.
    lock->setStaleLockTime(0);
    errno = 0;
    const bool locked = lock->tryLock(0);
    const int error = errno;
    if (locked) {
        lock_ = std::move(lock);
        listen(socketPath);
        return Role::primary;
    }
    if (lock->error() != QLockFile::LockFailedError) {
        warn(QStringLiteral("cannot create %1 (%2); starting without checking for a running agent")
                 .arg(lock->fileName(), whyNoLock(*lock, error)));
        return Role::primary;
    }
    if (!askToShow(socketPath))
        warn(QStringLiteral("Spinforge is already running but does not answer on %1; not starting a second "
                            "agent. If it is stuck, end it and start Spinforge again.")
                 .arg(socketPath));
    return Role::secondary;
}

void SingleInstance::listen(const QString& socketPath) {
    server_ = std::make_unique<QLocalServer>();
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptRequests);
    // Whatever is there was left by an agent that ended without cleaning up: we hold the lock.
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath))
        warn(QStringLiteral("cannot listen on %1 (%2); a later launch will not be able to show this agent")
                 .arg(socketPath, server_->errorString()));
}

void SingleInstance::acceptRequests() {
    while (QLocalSocket* client = server_->nextPendingConnection()) serve(client);
}

void SingleInstance::serve(QLocalSocket* client) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] { readRequest(client); });
    QTimer::singleShot(kRequestPatienceMs, client, [client] { drop(client); });
}

void SingleInstance::readRequest(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > kLongestLine) drop(client);
        return;
    }
    if (client->readLine(kLongestLine) != kShowRequest) {
        drop(client);
        return;
    }
    // One request per connection: whatever follows it is ignored.
    client->disconnect(this);
    client->write(kShown);
    client->disconnectFromServer();
    emit showRequested();
}

}  // namespace spinforge
