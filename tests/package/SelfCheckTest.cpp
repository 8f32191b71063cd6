// The agent unpacked from the package, started as `spinforge --self-check` in a session of its
// own; and its other options, which must work where no desktop is.
#include "PackageFixture.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>

#include <csignal>
#include <functional>

using namespace package_testing;

namespace {

constexpr int startupMs = 20000;

// Reads the agent's output until a line starts with `prefix`; false when the agent ends or the
// time runs out first.
bool waitForLine(QProcess& agent, const QString& prefix, QString& output) {
    const QDeadlineTimer deadline(startupMs);
    while (!deadline.hasExpired()) {
        output += QString::fromLocal8Bit(agent.readAllStandardOutput());
        for (const QString& line : output.split(QLatin1Char('\n')))
            if (line.startsWith(prefix)) return true;
        if (agent.state() == QProcess::NotRunning) return false;
        agent.waitForReadyRead(int(deadline.remainingTime()));
    }
    return false;
}

// Every file below `folder`, one a line: the self-check must leave a session's folders as it
// found them.
std::string filesBelow(const QString& folder) {
    QStringList files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();)
        files << it.next();
    return files.join(QLatin1Char('\n')).toStdString();
}

class SelfCheckEndsOnSignal : public PackageTest, public ::testing::WithParamInterface<int> {};

TEST_P(SelfCheckEndsOnSignal, ReportsEveryCheckWaitsThenExitsZero) {
    QTemporaryDir home;
    QProcess agent;
    agent.setProcessEnvironment(isolatedSession(home));
    agent.start(installed(QStringLiteral("bin/spinforge")), {QStringLiteral("--self-check")});
    QString output;
    ASSERT_TRUE(waitForLine(agent, QStringLiteral("ready"), output))
            << output.toStdString() << agent.readAllStandardError().toStdString();
    const QString entry = installed(QStringLiteral("share/applications/spinforge.desktop"));
    const QString icon = installed(QStringLiteral("share/icons/hicolor/scalable/apps/spinforge.svg"));
    EXPECT_TRUE(output.contains(QStringLiteral("ok: desktop entry %1\n").arg(entry))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("ok: theme icon %1\n").arg(icon))) << output.toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("MISSING")) || output.contains(QStringLiteral("skipped")))
            << output.toStdString();
    EXPECT_TRUE(agent.state() == QProcess::Running) << "the self-check ended before it was asked to";
    // No settings file, no library, and no lock or socket that would keep the real agent out.
    // Looked at while it runs: an agent removes its lock when it ends.
    const auto expectUntouched = [&home] {
        for (const char* folder : {"config", "data", "runtime"})
            EXPECT_EQ(filesBelow(home.filePath(QString::fromLatin1(folder))), "") << folder;
    };
    expectUntouched();

    ::kill(pid_t(agent.processId()), GetParam());
    ASSERT_TRUE(agent.waitForFinished(10000));
    EXPECT_EQ(agent.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(agent.exitCode(), 0);
    expectUntouched();
}

INSTANTIATE_TEST_SUITE_P(Signals, SelfCheckEndsOnSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT"); });

// An installation with a part broken or gone: the self-check says which, and ends at once.
struct Breakage {
    const char* name;
    std::function<void(const QString& usr)> breakIt;
    QString expectedLine;  // below `usr`, with %1 for it
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

const QString iconBelowUsr = QStringLiteral("/share/icons/hicolor/scalable/apps/spinforge.svg");
const QString entryBelowUsr = QStringLiteral("/share/applications/spinforge.desktop");

class SelfCheckOfBrokenInstallation : public PackageTest, public ::testing::WithParamInterface<Breakage> {};

TEST_P(SelfCheckOfBrokenInstallation, NamesWhatIsMissingAndExitsOne) {
    QTemporaryDir scratch;
    const QString root = scratch.filePath(QStringLiteral("root"));
    ASSERT_EQ(unpack(builtPackage().deb, root), QString());
    const QString usr = QDir(root).canonicalPath() + QStringLiteral("/usr");
    GetParam().breakIt(usr);
    if (HasFatalFailure()) return;

    QTemporaryDir home;
    const Finished check = run(usr + QStringLiteral("/bin/spinforge"), {QStringLiteral("--self-check")},
                               isolatedSession(home), startupMs);
    ASSERT_TRUE(check.exited) << "still running, or killed by a signal: " << check.transcript();
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.out.contains(GetParam().expectedLine.arg(usr))) << check.transcript();
    EXPECT_FALSE(check.out.contains(QStringLiteral("ready"))) << check.transcript();
    EXPECT_TRUE(check.err.contains(QStringLiteral("self-check failed"))) << check.transcript();
}

INSTANTIATE_TEST_SUITE_P(
        Installations, SelfCheckOfBrokenInstallation,
        ::testing::Values(
                Breakage{"IconRemoved", [](const QString& usr) { ASSERT_TRUE(QFile::remove(usr + iconBelowUsr)); },
                         QStringLiteral("MISSING: theme icon %1") + iconBelowUsr + QStringLiteral(": no such file\n")},
                Breakage{"IconNotADrawing",
                         [](const QString& usr) { writeFile(usr + iconBelowUsr, "<html>not a drawing</html>"); },
                         QStringLiteral("MISSING: theme icon %1") + iconBelowUsr + QStringLiteral(": cannot be drawn")},
                Breakage{"DesktopEntryRemoved",
                         [](const QString& usr) { ASSERT_TRUE(QFile::remove(usr + entryBelowUsr)); },
                         QStringLiteral("MISSING: desktop entry %1") + entryBelowUsr + QStringLiteral(": cannot open")},
                Breakage{"EntryNamesAnotherIcon",
                         [](const QString& usr) {
                             writeFile(usr + entryBelowUsr,
                                       "[Desktop Entry]\nType=Application\nName=Spinforge\nExec=spinforge\n"
                                       "Icon=spinforge-classic\n");
                         },
                         QStringLiteral(
                                 "MISSING: theme icon %1/share/icons/hicolor/scalable/apps/spinforge-classic.svg")},
                Breakage{"EntryNamesNoIcon",
                         [](const QString& usr) {
                             writeFile(usr + entryBelowUsr,
                                       "[Desktop Entry]\nType=Application\nName=Spinforge\nExec=spinforge\n"
                                       "[Desktop Action Other]\nIcon=spinforge\n");
                         },
                         QStringLiteral("MISSING: desktop entry %1") + entryBelowUsr +
                                 QStringLiteral(": names no Icon")}),
        [](const auto& info) { return std::string(info.param.name); });

// The executable in the build folder is not installed: the self-check has no desktop entry to
// look for, says so, and still checks its icons.
TEST(SelfCheckOutsideAnInstallation, SkipsTheInstalledFiles) {
    QTemporaryDir home;
    QProcess agent;
    agent.setProcessEnvironment(isolatedSession(home));
    agent.start(QStringLiteral(SPINFORGE_AGENT_PATH), {QStringLiteral("--self-check")});
    QString output;
    ASSERT_TRUE(waitForLine(agent, QStringLiteral("ready"), output)) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("skipped: desktop entry and theme icon"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("ok: status symbol exclamationmark.icloud\n"))) << output.toStdString();
    agent.terminate();
    ASSERT_TRUE(agent.waitForFinished(10000));
    EXPECT_EQ(agent.exitCode(), 0);
}

class CommandLineOptions : public PackageTest {
protected:
    // No display and no platform named: Qt could not start here.
    static QProcessEnvironment withoutDesktop() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        return environment;
    }
    const QString agent = installed(QStringLiteral("bin/spinforge"));
};

TEST_F(CommandLineOptions, VersionAndHelpAnswerWithoutADesktop) {
    const Finished version = run(agent, {QStringLiteral("--version")}, withoutDesktop());
    ASSERT_TRUE(version.exited) << version.transcript();
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("spinforge %1\n").arg(controlField(QStringLiteral("Version"))));

    const Finished help = run(agent, {QStringLiteral("--help")}, withoutDesktop());
    ASSERT_TRUE(help.exited) << help.transcript();
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--self-check", "--version", "--help"})
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(option))) << help.transcript();
}

TEST_F(CommandLineOptions, RefusesAnUnknownOptionButLeavesQtItsOwn) {
    QTemporaryDir home;
    QProcessEnvironment session = isolatedSession(home);
    session.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const Finished typo = run(
            agent, {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--selfcheck")}, session);
    ASSERT_TRUE(typo.exited) << typo.transcript();
    EXPECT_EQ(typo.exitCode, 2);
    EXPECT_TRUE(typo.err.contains(QStringLiteral("unknown option --selfcheck"))) << typo.transcript();
    EXPECT_FALSE(typo.err.contains(QStringLiteral("offscreen"))) << typo.transcript();
}

}  // namespace
