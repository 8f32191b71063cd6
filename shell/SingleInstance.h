#pragma once
// One agent per user session. The first launch holds a lock file and listens on a local socket,
// both in the user's runtime folder; a later launch finds the lock held, asks the running agent
// through the socket to show itself, and ends. A lock left by a crashed agent is taken over.
// Main thread.

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;

namespace spinforge {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,    // this process is the session's agent
        secondary,  // another agent runs and has been asked to show itself; this one should end
    };

    SingleInstance();
    // Stops listening and releases the lock, so the next launch becomes the agent.
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    // Claims the session's agent slot; call once. Never fails: when the slot can be neither
    // claimed nor the running agent reached (a broken runtime folder), this process runs as
    // primary rather than leave the user without an agent, and says so on stderr. A running
    // agent that does not answer still makes this one secondary, after about five seconds and a
    // line on stderr: two agents would race each other on the same cache and drives. Blocks
    // while it waits for the running agent; events are not processed meanwhile.
    Role claim();

signals:
    // A later launch asked the agent to show itself.
    void showRequested();

private:
    void listen(const QString& socketPath);
    void acceptRequests();
    void serve(QLocalSocket* client);
    void readRequest(QLocalSocket* client);

    // Held from a primary claim() to destruction; null otherwise.
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace spinforge
