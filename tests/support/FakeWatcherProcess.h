#pragma once
// Runs FakeStatusNotifierWatcher (a panel's tray on the session bus) for a test, and reads the
// items that register with it. Main thread; stops the watcher when destroyed.

#include "sanitizers/Findings.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

namespace testing_support {

class FakeWatcherProcess {
public:
    static inline const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");

    FakeWatcherProcess() { process_.setProcessChannelMode(QProcess::ForwardedErrorChannel); }
    ~FakeWatcherProcess() { (void)stop(); }
    FakeWatcherProcess(const FakeWatcherProcess&) = delete;
    FakeWatcherProcess& operator=(const FakeWatcherProcess&) = delete;

    // Starts the watcher and waits until the name is its own. False when it is not in time.
    bool start(const QStringList& arguments = {}) {
        process_.start(QStringLiteral(SPINFORGE_FAKE_WATCHER_PATH), arguments);
        if (!process_.waitForStarted()) return false;
        pid_ = process_.processId();
        return QTest::qWaitFor([this] { return ownsName(); }, 10000);
    }

    // Stops the watcher and waits until the name is no longer its own. False when it stays so.
    bool stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(10000);
        }
        // Its stderr is the test's: a sanitizer's report is already in the test's output.
        if (process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == sanitizerExitStatus)
            ADD_FAILURE() << "the fake tray ended with a sanitizer's report";
        return QTest::qWaitFor([this] { return !ownsName(); }, 10000);
    }

    // The bus name of the next item that registers, or empty when none does in time.
    QString nextItem(int timeoutMs = 10000) {
        if (!QTest::qWaitFor([this] { return process_.canReadLine(); }, timeoutMs)) return {};
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

    static bool nameOwned() { return QDBusConnection::sessionBus().interface()->isServiceRegistered(service); }

private:
    bool ownsName() const {
        const QDBusReply<uint> owner = QDBusConnection::sessionBus().interface()->servicePid(service);
        return pid_ > 0 && owner.isValid() && owner.value() == uint(pid_);
    }

    QProcess process_;
    qint64 pid_ = 0;
};

}  // namespace testing_support
