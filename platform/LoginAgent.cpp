#include "platform/LoginAgent.h"


#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace spinforge::LoginAgent {
namespace {

const QString kAutostartName = QStringLiteral("com.spinforge.mac.desktop");

// Characters that the Exec command line would take as a separator, a quote or a shell
// expansion: an argument holding any of them is quoted.
const QString kReservedInExec = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");

// The AppImage when there is one: the executable is then inside its temporary mount, which is
// gone once the program exits.
QString programToStart(const Locations& locations) {
    if (!locations.appImage.isEmpty()) return locations.appImage;
    return QFileInfo(locations.executable).absoluteFilePath();
}

// A missing login item only means the agent is not started at the next login; signing in has
// succeeded all the same, so nothing is reported.
void writeQuietly(FileSystem& files, const QString& folder, const QString& name, const QString& text) {
    if (!QDir::isAbsolutePath(folder)) return;
    const FileResult<Folder> autostart = openOrMakeFolder(files, QDir::cleanPath(folder), Reach::anywhere);
    if (autostart.ok()) writeWhole(*autostart, name, text.toUtf8()).ignore();
}

bool needsQuoting(const QString& argument) {
    return argument.isEmpty() || std::any_of(argument.begin(), argument.end(), [](QChar c) {
               return kReservedInExec.contains(c) || c.category() == QChar::Other_Control;
           });
}

// Inside double quotes only these four keep a meaning, so only they are escaped.
QString doubleQuoted(const QString& argument) {
    QString text = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') text += u'\\';
        text += c;
    }
    return text + u'"';
}

// Quoting and field codes: what the launcher reads once the string value has been unescaped.
QString forCommandLine(const QString& argument) {
    QString text = needsQuoting(argument) ? doubleQuoted(argument) : argument;
    return text.replace(u'%', QStringLiteral("%%"));
}

// The escapes of a desktop file string value; a raw line break would end the entry's line.
QString asStringValue(const QString& text) {
    QString value;
    for (const QChar c : text) {
        if (c == u'\\') value += QStringLiteral("\\\\");
        else if (c == u'\n') value += QStringLiteral("\\n");
        else if (c == u'\t') value += QStringLiteral("\\t");
        else if (c == u'\r') value += QStringLiteral("\\r");
        else value += c;
    }
    return value;
}

}  // namespace

Locations currentLocations() {
    Locations locations;
    if (QCoreApplication::instance()) locations.executable = QCoreApplication::applicationFilePath();
    // Relative values are invalid by the XDG rules and are ignored.
    const QString xdgConfig = qEnvironmentVariable("XDG_CONFIG_HOME");
    locations.configHome = QDir::isAbsolutePath(xdgConfig) ? xdgConfig : QDir::homePath() + QStringLiteral("/.config");
    locations.appImage = qEnvironmentVariable("APPIMAGE");
    return locations;
}

void install(FileSystem& files, const Locations& locations) {
    if (locations.executable.isEmpty()) return;
    writeQuietly(files, locations.configHome + QStringLiteral("/autostart"), kAutostartName,
                 autostartEntry(quoteExecArgument(programToStart(locations))));
}

QString autostartEntry(const QString& execCommand) {
    // StartupNotify=false: the agent opens no window, so a desktop that waits for one would show
    // a busy cursor until it gives up.
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Spinforge\nExec=") + execCommand +
           QStringLiteral("\nStartupNotify=false\n");
}

QString quoteExecArgument(const QString& argument) { return asStringValue(forCommandLine(argument)); }

}  // namespace spinforge::LoginAgent
