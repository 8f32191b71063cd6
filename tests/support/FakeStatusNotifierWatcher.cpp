// A panel's tray for the tray tests: a StatusNotifierWatcher on the session bus, with a host
// registered unless --no-host is given (then a host can register later, as a panel would).
// Another one started with --replace takes the name over, as a restarted panel may.
//
// Prints the bus name of every item that registers, one line each, on standard output.
//
// It is a process of its own because Qt's tray code calls the watcher and blocks for the reply:
// a watcher served by the test's own main thread could never answer. It ends with its parent,
// so a test that dies leaves no watcher behind on the bus.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    Watcher(QDBusConnection bus, bool hostRegistered)
        : hostRegistered_(hostRegistered),
          itemOwners_(QString(), bus, QDBusServiceWatcher::WatchForUnregistration) {
        connect(&itemOwners_, &QDBusServiceWatcher::serviceUnregistered, this, &Watcher::itemGone);
    }

    QStringList registeredItems() const { return items_; }
    bool hostRegistered() const { return hostRegistered_; }
    int protocolVersion() const { return 0; }

public slots:
    // Items name themselves by bus name, or by object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString& serviceOrPath) {
        const QString service = serviceOrPath.startsWith(QLatin1Char('/')) ? message().service() : serviceOrPath;
        if (!items_.contains(service)) {
            items_ << service;
            itemOwners_.addWatchedService(service);
        }
        std::printf("%s\n", qPrintable(service));
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(service);
    }

    void RegisterStatusNotifierHost(const QString&) {
        hostRegistered_ = true;
        emit StatusNotifierHostRegistered();
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    void itemGone(const QString& service) {
        items_.removeAll(service);
        itemOwners_.removeWatchedService(service);
        emit StatusNotifierItemUnregistered(service);
    }

    bool hostRegistered_;
    QStringList items_;
    QDBusServiceWatcher itemOwners_;
};

// Takes the watcher's name; with `replace`, also from a watcher that runs already.
bool ownWatcherName(QDBusConnection& bus, bool replace) {
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        watcherService,
        replace ? QDBusConnectionInterface::ReplaceExistingService : QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::AllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    const QStringList options = app.arguments();
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher(bus, !options.contains(QStringLiteral("--no-host")));
    // The object first, so that whoever sees the name finds the object in place.
    if (!bus.registerObject(watcherPath, &watcher, QDBusConnection::ExportAllContents) ||
        !ownWatcherName(bus, options.contains(QStringLiteral("--replace")))) {
        std::fprintf(stderr, "fake watcher: cannot serve %s on the session bus\n", qPrintable(watcherService));
        return 1;
    }
    return app.exec();
}

#include "FakeStatusNotifierWatcher.moc"
