// A panel's tray for the tray test: a StatusNotifierWatcher with a host, printing the bus name of
// every item that registers. A process of its own, since Qt's tray code blocks on its calls to the
// watcher; it ends with its parent.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusReply>
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
    QStringList registeredItems() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    // Items name themselves by bus name, or by object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString& serviceOrPath) {
        const QString service = serviceOrPath.startsWith(QLatin1Char('/')) ? message().service() : serviceOrPath;
        if (!items_.contains(service)) items_ << service;
        std::printf("%s\n", qPrintable(service));
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    // The object first, so that whoever sees the name finds the object in place.
    if (!bus.registerObject(watcherPath, &watcher, QDBusConnection::ExportAllContents) ||
        !bus.registerService(watcherService)) {
        std::fprintf(stderr, "fake watcher: cannot serve %s on the session bus\n", qPrintable(watcherService));
        return 1;
    }
    return app.exec();
}

#include "FakeStatusNotifierWatcher.moc"
