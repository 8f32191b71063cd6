#include "PackageFixture.h"

#include <QFile>

#include <memory>

namespace package_testing {

Finished run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
             int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Finished finished;
    if (!process.waitForStarted(10000)) {
        finished.err = QStringLiteral("%1 did not start: %2\n").arg(program, process.errorString());
        return finished;
    }
    finished.exited = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    finished.exitCode = process.exitCode();
    finished.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    finished.err = QString::fromLocal8Bit(process.readAllStandardError());
    return finished;
}

namespace {

void build(BuiltPackage& package) {
    if (!package.scratch.isValid()) {
        package.problem = QStringLiteral("no scratch folder: %1").arg(package.scratch.errorString());
        return;
    }
    const QString output = package.scratch.filePath(QStringLiteral("cpack"));
    const Finished cpack = run(QStringLiteral(SPINFORGE_CPACK_COMMAND),
                               {QStringLiteral("--config"), QStringLiteral(SPINFORGE_CPACK_CONFIG),
                                QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), output},
                               QProcessEnvironment::systemEnvironment(), 120000);
    if (!cpack.exited || cpack.exitCode != 0) {
        package.problem = QStringLiteral("cpack failed:\n") + cpack.out + cpack.err;
        return;
    }
    const QStringList debs = QDir(output).entryList({QStringLiteral("*.deb")}, QDir::Files);
    if (debs.size() != 1) {
        package.problem = QStringLiteral("cpack made %1 packages in %2, not one").arg(debs.size()).arg(output);
        return;
    }
    package.deb = QDir(output).filePath(debs.first());
    const QString root = package.scratch.filePath(QStringLiteral("root"));
    package.problem = unpack(package.deb, root);
    package.root = QDir(root).canonicalPath();
}

}  // namespace

const BuiltPackage& builtPackage() {
    static std::unique_ptr<BuiltPackage> package;
    if (!package) {
        package = std::make_unique<BuiltPackage>();
        build(*package);
    }
    return *package;
}

QString unpack(const QString& deb, const QString& folder) {
    const Finished extract = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, folder});
    if (extract.exited && extract.exitCode == 0) return {};
    return QStringLiteral("dpkg-deb -x %1 %2 failed:\n%3").arg(deb, folder, extract.out + extract.err);
}

QString controlField(const QString& name) {
    return run(QStringLiteral("dpkg-deb"), {QStringLiteral("--field"), builtPackage().deb, name}).out.trimmed();
}

QProcessEnvironment isolatedSession(const QTemporaryDir& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* folder : {"config", "data", "cache", "runtime"})
        QDir(home.path()).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent/spinforge-package-test-bus"));
    return environment;
}

}  // namespace package_testing
