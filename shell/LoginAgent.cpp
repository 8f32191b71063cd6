#include "shell/LoginAgent.h"

#include "platform/FileError.h"
#include "platform/StagedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace spinforge::LoginAgent {
namespace {

const QString kPropertyListName = QStringLiteral("com.spinforge.mac.plist");
const QString kAutostartName = QStringLiteral("com.spinforge.mac.desktop");

// Characters that the Exec command line would take as a separator, a quote or a shell
// expansion: an argument holding any of them is quoted.
const QString kReservedInExec = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");

// An .app bundle keeps its program in Bundle.app/Contents/MacOS/Program.
QString bundleOf(const QString& executable) {
    QString path = QDir::cleanPath(executable);
    for (int level = 0; level < 3; ++level) {
        const qsizetype slash = path.lastIndexOf(u'/');
        if (slash < 0) return {};
        path.truncate(slash);
    }
    return path;
}

bool isAppBundle(const QString& path) { return !path.isEmpty() && QFileInfo(path).suffix() == u"app"; }

// The AppImage when there is one: the executable is then inside its temporary mount, which is
// gone once the program exits.
QString programToStart(const Locations& locations) {
    if (!locations.appImage.isEmpty()) return locations.appImage;
    return QFileInfo(locations.executable).absoluteFilePath();
}

// A missing login item only means the agent is not started at the next login; signing in has
// succeeded all the same, so nothing is reported.
void writeQuietly(const QString& folder, const QString& name, const QString& text) {
    if (!QDir::isAbsolutePath(folder)) return;
    try {
        createFolders(folder);
        StagedFile::writeAtomically(folder + u'/' + name, text.toUtf8());
    } catch (const FileError&) {
    }
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

// XML 1.0's Char production: anything else cannot stand in a document, not even as a reference.
bool isXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

QString escapedForXml(const QString& text) {
    QString escaped;
    for (const char32_t c : text.toUcs4()) {  // a lone surrogate comes out as U+FFFD
        if (c == U'&') escaped += QStringLiteral("&amp;");
        else if (c == U'<') escaped += QStringLiteral("&lt;");
        // "]]>" is not allowed in text; a '>' elsewhere is plain text.
        else if (c == U'>' && escaped.endsWith(QStringLiteral("]]"))) escaped += QStringLiteral("&gt;");
        // A raw carriage return would reach the reader as a line feed.
        else if (c == U'\r') escaped += QStringLiteral("&#13;");
        else if (!isXmlCharacter(c)) escaped += QChar(QChar::ReplacementCharacter);
        else escaped += QChar::fromUcs4(c);
    }
    return escaped;
}

}  // namespace

Locations currentLocations() {
    Locations locations;
    if (QCoreApplication::instance()) locations.executable = QCoreApplication::applicationFilePath();
    locations.home = QDir::homePath();
    // Relative values are invalid by the XDG rules and are ignored.
    const QString xdgConfig = qEnvironmentVariable("XDG_CONFIG_HOME");
    locations.configHome = QDir::isAbsolutePath(xdgConfig) ? xdgConfig : locations.home + QStringLiteral("/.config");
    locations.appImage = qEnvironmentVariable("APPIMAGE");
    return locations;
}

void install() { install(currentLocations()); }

void install(const Locations& locations) {
    if (locations.executable.isEmpty()) return;
    const QString bundle = bundleOf(locations.executable);
    if (isAppBundle(bundle)) {
        writeQuietly(locations.home + QStringLiteral("/Library/LaunchAgents"), kPropertyListName, propertyList(bundle));
        return;
    }
    writeQuietly(locations.configHome + QStringLiteral("/autostart"), kAutostartName,
                 autostartEntry(quoteExecArgument(programToStart(locations))));
}

QString propertyList(const QString& bundlePath) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\"><dict>\n"
               "  <key>Label</key><string>com.spinforge.mac</string>\n"
               "  <key>ProgramArguments</key><array><string>/usr/bin/open</string><string>") +
           escapedForXml(bundlePath) +
           QStringLiteral(
               "</string></array>\n"
               "  <key>RunAtLoad</key><true/>\n"
               "  <key>ProcessType</key><string>Interactive</string>\n"
               "</dict></plist>");
}

QString autostartEntry(const QString& execCommand) {
    // StartupNotify=false: the agent opens no window, so a desktop that waits for one would show
    // a busy cursor until it gives up.
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Spinforge\nExec=") + execCommand +
           QStringLiteral("\nStartupNotify=false\n");
}

QString quoteExecArgument(const QString& argument) { return asStringValue(forCommandLine(argument)); }

}  // namespace spinforge::LoginAgent
