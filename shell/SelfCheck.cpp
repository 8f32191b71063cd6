#include "shell/SelfCheck.h"

#include "shell/Symbols.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QStringList>
#include <QTextStream>

#include <vector>

namespace spinforge {

namespace {

struct CheckOutcome {
    QString subject;  // what was checked, with the file it looked at if any
    QString problem;  // empty when the check passed; otherwise what is missing or broken
    bool skipped = false;

    bool passed() const { return problem.isEmpty(); }
};

// Where the build installs things, relative to the install prefix and to the bin folder
// (GNUInstallDirs' choices, handed over by the build).
const QString installedBinFolder = QStringLiteral(SPINFORGE_INSTALL_BINDIR);
const QString dataFolderFromBin = QStringLiteral(SPINFORGE_DATADIR_FROM_BINDIR);
const QString desktopEntryFile = QStringLiteral("applications/spinforge.desktop");

// A tray panel's size, and the size a menu or launcher asks the theme for.
constexpr int traySize = 22;
constexpr int launcherSize = 48;

CheckOutcome passed(QString subject) { return {std::move(subject), {}}; }
CheckOutcome failed(QString subject, QString problem) { return {std::move(subject), std::move(problem)}; }
CheckOutcome skipped(QString subject) { return {std::move(subject), {}, true}; }

bool draws(const QIcon& icon) { return !icon.isNull() && !icon.pixmap(traySize).isNull(); }

CheckOutcome svgImagePlugin() {
    const QString subject = QStringLiteral("SVG image plugin");
    if (QImageReader::supportedImageFormats().contains("svg")) return passed(subject);
    return failed(subject, QStringLiteral("Qt finds no SVG image plugin (imageformats/libqsvg.so, Debian package "
                                          "libqt6svg6), so no icon can be drawn"));
}

CheckOutcome statusSymbol(const QString& name) {
    const QString subject = QStringLiteral("status symbol %1").arg(name);
    if (!Symbols::exists(name)) return failed(subject, QStringLiteral("not among the agent's resources"));
    if (!draws(Symbols::trayIcon(name)) || !draws(Symbols::icon(name, Qt::black)))
        return failed(subject, QStringLiteral("cannot be drawn"));
    return passed(subject);
}

CheckOutcome applicationIcon() {
    const QString subject = QStringLiteral("application icon");
    return draws(Symbols::applicationIcon()) ? passed(subject) : failed(subject, QStringLiteral("cannot be drawn"));
}

bool isInstalled(const QString& executableFolder) {
    return QDir::cleanPath(executableFolder).endsWith(QLatin1Char('/') + installedBinFolder);
}

// The value of `key` in the entry's [Desktop Entry] group: empty when the key is absent.
QString desktopEntryValue(const QByteArray& entry, const QString& key) {
    bool inMainGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) inMainGroup = line == u"[Desktop Entry]";
        else if (inMainGroup && line.section(QLatin1Char('='), 0, 0).trimmed() == key)
            return line.section(QLatin1Char('='), 1).trimmed();
    }
    return {};
}

// A name is looked up in the hicolor theme, where the build installs the scalable drawing; a
// path is taken as it stands.
QString themeIconPath(const QDir& dataFolder, const QString& iconName) {
    if (QFileInfo(iconName).isAbsolute()) return iconName;
    return dataFolder.filePath(QStringLiteral("icons/hicolor/scalable/apps/%1.svg").arg(iconName));
}

CheckOutcome themeIcon(const QString& path) {
    const QString subject = QStringLiteral("theme icon %1").arg(path);
    if (!QFileInfo::exists(path)) return failed(subject, QStringLiteral("no such file"));
    QImageReader reader(path);
    reader.setScaledSize(QSize(launcherSize, launcherSize));
    if (reader.read().isNull())
        return failed(subject, QStringLiteral("cannot be drawn: %1").arg(reader.errorString()));
    return passed(subject);
}

// The desktop entry beside the installed executable, and the icon it names.
std::vector<CheckOutcome> installedFiles(const QString& executableFolder) {
    if (!isInstalled(executableFolder))
        return {skipped(QStringLiteral("desktop entry and theme icon"))};
    const QDir dataFolder(QDir::cleanPath(executableFolder + QLatin1Char('/') + dataFolderFromBin));
    const QString entryPath = dataFolder.filePath(desktopEntryFile);
    const QString entrySubject = QStringLiteral("desktop entry %1").arg(entryPath);
    QFile entry(entryPath);
    if (!entry.open(QIODevice::ReadOnly))
        return {failed(entrySubject, QStringLiteral("cannot open: %1").arg(entry.errorString()))};
    const QString iconName = desktopEntryValue(entry.readAll(), QStringLiteral("Icon"));
    if (iconName.isEmpty()) return {failed(entrySubject, QStringLiteral("names no Icon"))};
    return {passed(entrySubject), themeIcon(themeIconPath(dataFolder, iconName))};
}

// Every check, in order. `executableFolder` is the folder the agent runs from: the installed
// files are looked for relative to it.
std::vector<CheckOutcome> selfCheck(const QString& executableFolder) {
    std::vector<CheckOutcome> outcomes{svgImagePlugin()};
    for (const QString& name : {Symbols::drive, Symbols::syncing, Symbols::attention})
        outcomes.push_back(statusSymbol(name));
    outcomes.push_back(applicationIcon());
    for (CheckOutcome& outcome : installedFiles(executableFolder)) outcomes.push_back(std::move(outcome));
    return outcomes;
}

// The line printed for one outcome: "ok: …", "skipped: …" or "MISSING: …".
QString reportLine(const CheckOutcome& outcome) {
    if (!outcome.passed()) return QStringLiteral("MISSING: %1: %2").arg(outcome.subject, outcome.problem);
    if (outcome.skipped) return QStringLiteral("skipped: %1 (not running from an installed %2 folder)")
                                 .arg(outcome.subject, installedBinFolder);
    return QStringLiteral("ok: %1").arg(outcome.subject);
}

}  // namespace

int runSelfCheck() {
    QTextStream out(stdout);
    QStringList missing;
    for (const CheckOutcome& outcome : selfCheck(QCoreApplication::applicationDirPath())) {
        out << reportLine(outcome) << Qt::endl;
        if (!outcome.passed()) missing << outcome.subject;
    }
    if (!missing.isEmpty()) {
        QTextStream(stderr) << "spinforge: self-check failed, missing: " << missing.join(QStringLiteral("; "))
                            << Qt::endl;
        return 1;
    }
    out << "ready: every check passed; waiting for SIGTERM or SIGINT" << Qt::endl;
    QCoreApplication::exec();
    return 0;
}

}  // namespace spinforge
