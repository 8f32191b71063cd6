// The login item: which file is written where, its exact text, and the Exec quoting, checked by
// reading the value back the way a launcher does.
#include "shell/LoginAgent.h"
#include "support/EnvironmentGuard.h"

#include "platform/StagedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace spinforge;

using testing_support::EnvironmentGuard;

namespace {

QString str(const char* utf8) { return QString::fromUtf8(utf8); }

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

QStringList everythingBelow(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
    return found;
}

QByteArray expectedPropertyList(const char* escapedBundle) {
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\"><dict>\n"
               "  <key>Label</key><string>com.spinforge.mac</string>\n"
               "  <key>ProgramArguments</key><array><string>/usr/bin/open</string><string>") +
           escapedBundle +
           "</string></array>\n"
           "  <key>RunAtLoad</key><true/>\n"
           "  <key>ProcessType</key><string>Interactive</string>\n"
           "</dict></plist>";
}

// What a launcher makes of an Exec value: first the string value's escapes, then the quoting,
// then the field codes. Strict: whatever the rules leave undefined, or a launcher would expand
// or split, gives nullopt.
std::optional<QString> unescapeStringValue(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            text += value[i];
            continue;
        }
        if (++i == value.size()) return std::nullopt;
        const char16_t escaped = value[i].unicode();
        if (escaped == u's') text += u' ';
        else if (escaped == u'n') text += u'\n';
        else if (escaped == u't') text += u'\t';
        else if (escaped == u'r') text += u'\r';
        else if (escaped == u'\\') text += u'\\';
        else return std::nullopt;
    }
    return text;
}

// One argument quoted in whole, from the opening quote at `i`; leaves `i` on the closing quote.
// Inside, '"', '`', '$' and '\\' must come escaped, and nothing else may be.
std::optional<QString> quotedArgument(const QString& line, qsizetype& i) {
    const QString escapable = QStringLiteral("\"`$\\");
    QString argument;
    for (++i; i < line.size() && line[i] != u'"'; ++i) {
        if (line[i] == u'`' || line[i] == u'$') return std::nullopt;
        if (line[i] == u'\\' && (++i == line.size() || !escapable.contains(line[i]))) return std::nullopt;
        argument += line[i];
    }
    if (i == line.size()) return std::nullopt;
    if (i + 1 < line.size() && line[i + 1] != u' ') return std::nullopt;
    return argument;
}

std::optional<QString> withoutFieldCodes(const QString& argument) {
    QString text;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument[i] == u'%' && (++i == argument.size() || argument[i] != u'%')) return std::nullopt;
        text += argument[i];
    }
    return text;
}

std::optional<QStringList> execArguments(const QString& value) {
    const std::optional<QString> line = unescapeStringValue(value);
    if (!line) return std::nullopt;
    const QString reserved = QStringLiteral("\t\n\"'\\><~|&;$*?#`()");
    QStringList arguments;
    QString current;
    for (qsizetype i = 0; i < line->size(); ++i) {
        const QChar c = (*line)[i];
        if (c == u' ') {
            if (!current.isEmpty()) arguments << current;
            current.clear();
        } else if (c == u'"' && current.isEmpty()) {
            const std::optional<QString> quoted = quotedArgument(*line, i);
            if (!quoted) return std::nullopt;
            arguments << *quoted;
        } else if (reserved.contains(c)) {
            return std::nullopt;
        } else {
            current += c;
        }
    }
    if (!current.isEmpty()) arguments << current;
    for (QString& argument : arguments) {
        const std::optional<QString> plain = withoutFieldCodes(argument);
        if (!plain) return std::nullopt;
        argument = *plain;
    }
    return arguments;
}

class LoginAgentTest : public ::testing::Test {
protected:
    LoginAgent::Locations at(const QString& executable, const QString& appImage = {}) const {
        return {executable, home.path(), config.path(), appImage};
    }
    QString plistPath() const { return home.filePath(QStringLiteral("Library/LaunchAgents/com.spinforge.mac.plist")); }
    QString entryPath() const { return config.filePath(QStringLiteral("autostart/com.spinforge.mac.desktop")); }
    // The Exec value of the installed entry, as written in the file.
    QString installedExec() const {
        for (const QByteArray& line : contents(entryPath()).split('\n'))
            if (line.startsWith("Exec=")) return QString::fromUtf8(line.mid(5));
        return QStringLiteral("<no Exec line>");
    }

    QTemporaryDir home;
    QTemporaryDir config;
};

TEST_F(LoginAgentTest, AnAppBundleGetsItsLaunchAgentWithTheExactText) {
    LoginAgent::install(at(QStringLiteral("/Applications/X.app/Contents/MacOS/X")));
    EXPECT_EQ(contents(plistPath()), expectedPropertyList("/Applications/X.app"));
    EXPECT_EQ(everythingBelow(config.path()), QStringList());
}

TEST_F(LoginAgentTest, TheBundlePathIsEscapedForXmlAmpersandFirst) {
    struct Case { const char* bundle; const char* escaped; };
    const Case cases[] = {
        {"/Applications/R&D.app", "/Applications/R&amp;D.app"},
        {"/Applications/a<b.app", "/Applications/a&lt;b.app"},
        {"/Applications/&lt;.app", "/Applications/&amp;lt;.app"},
        {"/Applications/<&>.app", "/Applications/&lt;&amp;>.app"},
        {"/Applications/Kim's \"Set\" >.app", "/Applications/Kim's \"Set\" >.app"},
        {"/Applications/Zoë.app", "/Applications/Zoë.app"},
        // A CDATA end is not allowed in text; a lone ">" is.
        {"/Applications/a]]>b.app", "/Applications/a]]&gt;b.app"},
        // A carriage return would be read back as a line feed.
        {"/Applications/a\rb.app", "/Applications/a&#13;b.app"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bundle);
        EXPECT_EQ(LoginAgent::propertyList(str(c.bundle)).toUtf8(), expectedPropertyList(c.escaped));
    }
}

TEST_F(LoginAgentTest, OnlyALowerCaseAppBundleGetsALaunchAgentAndAnUpperCaseAPPOneTheLinuxAutostartEntry) {
    struct Case { const char* executable; const char* bundle; };  // bundle null: the autostart entry
    const Case cases[] = {
        {"/Applications/My.Set.app/Contents/MacOS/Spinforge", "/Applications/My.Set.app"},
        {"/X.app/Contents/MacOS/X", "/X.app"},
        {"/Applications/X.app//Contents/MacOS/X", "/Applications/X.app"},
        {"/Applications/X.APP/Contents/MacOS/X", nullptr},
        {"/Applications/X.apps/Contents/MacOS/X", nullptr},
        {"/Applications/app/Contents/MacOS/X", nullptr},
        {"/Applications/X.app/Contents/X", nullptr},
        {"/opt/spinforge/bin/spinforge", nullptr},
        {"/spinforge", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        QFile::remove(plistPath());
        QFile::remove(entryPath());
        LoginAgent::install(at(str(c.executable)));
        EXPECT_EQ(QFile::exists(plistPath()), c.bundle != nullptr);
        EXPECT_EQ(QFile::exists(entryPath()), c.bundle == nullptr);
        if (c.bundle) {
            EXPECT_EQ(contents(plistPath()), expectedPropertyList(c.bundle));
        }
    }
}

TEST_F(LoginAgentTest, TheAutostartEntryRunsTheProgramWithoutAStartupCursor) {
    LoginAgent::install(at(QStringLiteral("/opt/spinforge/bin/spinforge")));
    EXPECT_EQ(contents(entryPath()), QByteArray("[Desktop Entry]\n"
                                                "Type=Application\n"
                                                "Name=Spinforge\n"
                                                "Exec=/opt/spinforge/bin/spinforge\n"
                                                "StartupNotify=false\n"));
    EXPECT_EQ(everythingBelow(home.path()), QStringList());
}

TEST_F(LoginAgentTest, TheAppImageIsStartedRatherThanTheProgramInsideIt) {
    LoginAgent::install(at(QStringLiteral("/tmp/.mount_SpinfoXYZ/usr/bin/spinforge"),
                           str("/home/kim/Apps/Spinforge 1.0 (x86_64).AppImage")));
    EXPECT_EQ(installedExec(), str("\"/home/kim/Apps/Spinforge 1.0 (x86_64).AppImage\""));
}

TEST_F(LoginAgentTest, AnExistingFileIsReplacedWhole) {
    const QByteArray longer(4096, 'x');
    QDir().mkpath(QFileInfo(plistPath()).path());
    QDir().mkpath(QFileInfo(entryPath()).path());
    StagedFile::writeAtomically(plistPath(), longer);
    StagedFile::writeAtomically(entryPath(), longer);
    LoginAgent::install(at(QStringLiteral("/Applications/X.app/Contents/MacOS/X")));
    LoginAgent::install(at(QStringLiteral("/opt/spinforge/bin/spinforge")));
    EXPECT_EQ(contents(plistPath()), expectedPropertyList("/Applications/X.app"));
    EXPECT_EQ(contents(entryPath()), LoginAgent::autostartEntry(QStringLiteral("/opt/spinforge/bin/spinforge")).toUtf8());
}

TEST_F(LoginAgentTest, WithoutAnExecutableNothingIsWritten) {
    LoginAgent::install(at(QString(), QStringLiteral("/home/kim/Spinforge.AppImage")));
    EXPECT_EQ(everythingBelow(home.path()), QStringList());
    EXPECT_EQ(everythingBelow(config.path()), QStringList());
}

TEST_F(LoginAgentTest, FoldersThatCannotBeWrittenOrAreRelativeAreQuietlySkipped) {
    StagedFile::writeAtomically(home.filePath(QStringLiteral("file")), "x");
    const QString intoAFile = home.filePath(QStringLiteral("file/sub"));
    EXPECT_NO_THROW(LoginAgent::install({QStringLiteral("/opt/spinforge/bin/spinforge"), home.path(), intoAFile, {}}));
    EXPECT_NO_THROW(LoginAgent::install({QStringLiteral("/Applications/X.app/Contents/MacOS/X"), intoAFile, config.path(), {}}));

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(config.path()));
    LoginAgent::install({QStringLiteral("/opt/spinforge/bin/spinforge"), home.path(), QStringLiteral("relative"), {}});
    LoginAgent::install({QStringLiteral("/Applications/X.app/Contents/MacOS/X"), QStringLiteral("relative"), home.path(), {}});
    QDir::setCurrent(previous);

    EXPECT_EQ(everythingBelow(home.path()), QStringList{home.filePath(QStringLiteral("file"))});
    EXPECT_EQ(everythingBelow(config.path()), QStringList());
}

// The exact form: unquoted when nothing needs it, and escaped for the command line and then again
// for the string value ("\\$" for a dollar, four backslashes for one).
TEST(LoginAgentExec, ArgumentsAreQuotedOnlyWhenNeededAndEscapedTwiceInside) {
    struct Case { const char* argument; const char* written; };
    const Case cases[] = {
        {"/home/zoë/a=b/spinforge", "/home/zoë/a=b/spinforge"},
        {"/home/kim/100%/spinforge", "/home/kim/100%%/spinforge"},
        {"/home/kim/My Apps/100%", "\"/home/kim/My Apps/100%%\""},
        {"/a\"b`c$d", "\"/a\\\\\"b\\\\`c\\\\$d\""},
        {"/a\\b", "\"/a\\\\\\\\b\""},
        {"/a\nb", "\"/a\\nb\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(LoginAgent::quoteExecArgument(str(c.argument)), str(c.written));
    }
}

TEST_F(LoginAgentTest, AwkwardProgramPathsReadBackAsOneArgumentFromTheInstalledEntry) {
    const char* const paths[] = {
        "/opt/spinforge/bin/spinforge",
        "/home/kim/My Apps/Spinforge.AppImage",
        " /leading and trailing space ",
        "/quotes/\"double\" and 'single'",
        "/shell/$HOME `id` $(id) ${x}",
        "/globs/*?[a]~#",
        "/ops/a|b&c;d<e>f(g)",
        "/back\\slash/\\\\two/\\",
        "/escapes/\\s\\n\\t\\\"",
        "/percent/%f %U %% %%% 100%",
        "/tab\tnew\nline\rreturn",
        "/unicode/Zoë Böhm/ДиДжей/🎧 Set",
        "/equals/a=b c=d",
        "/mixed/\\\"$`%\\",
    };
    QStringList all;
    for (const char* path : paths) all << str(path);
    for (const QChar reserved : QStringLiteral(" \t\n\"'\\><~|&;$*?#`()"))  // each alone, unquoted it would break
        all << QStringLiteral("/opt/a") + reserved + QStringLiteral("b");
    for (const QString& path : all) {
        SCOPED_TRACE(path.toStdString());
        LoginAgent::install(at(QStringLiteral("/opt/spinforge/bin/spinforge"), path));
        EXPECT_EQ(execArguments(installedExec()), std::optional<QStringList>(QStringList{path}))
            << installedExec().toStdString();
    }
}

TEST(LoginAgentLocations, ComeFromTheApplicationAndTheEnvironment) {
    const EnvironmentGuard guard({"HOME", "XDG_CONFIG_HOME", "APPIMAGE"});
    qputenv("HOME", "/home/kim");
    struct Case { const char* xdgConfig; const char* configHome; };  // xdgConfig null: unset
    const Case cases[] = {
        {"/srv/kim/config", "/srv/kim/config"},
        {nullptr, "/home/kim/.config"},
        {"", "/home/kim/.config"},
        {"relative/config", "/home/kim/.config"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdgConfig ? c.xdgConfig : "(unset)");
        c.xdgConfig ? qputenv("XDG_CONFIG_HOME", c.xdgConfig) : qunsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(LoginAgent::currentLocations().configHome, str(c.configHome));
    }
    qunsetenv("APPIMAGE");
    const LoginAgent::Locations plain = LoginAgent::currentLocations();
    EXPECT_EQ(plain.appImage, QString());
    EXPECT_EQ(plain.home, str("/home/kim"));
    EXPECT_EQ(plain.executable, QCoreApplication::applicationFilePath());
    EXPECT_FALSE(plain.executable.isEmpty());
    qputenv("APPIMAGE", "/home/kim/Spinforge.AppImage");
    EXPECT_EQ(LoginAgent::currentLocations().appImage, str("/home/kim/Spinforge.AppImage"));
}

}  // namespace
