// The Debian package, built once by cpack from this build folder: what it needs installed, what
// Debian's own checks (lintian) find in it, what it holds, and its agent's self-check run from the
// unpacked files.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <csignal>

using testing_support::fileBytes;

namespace {

struct Finished {
    int exitCode = -1;  // -1 when it did not end on its own in time
    QString out, err;
    std::string transcript() const { return (out + err).toStdString(); }
};

Finished run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {}) {
    QProcess process;
    if (!environment.isEmpty()) process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    if (!ended) process.kill(), process.waitForFinished(5000);
    return {ended ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// A session of its own for the agent: fresh XDG folders, no display, and a bus that leads nowhere.
QProcessEnvironment isolatedSession(const QTemporaryDir& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QDir(home.path()).mkpath("runtime");
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const auto& [name, folder] : {std::pair("HOME", ""), std::pair("XDG_CONFIG_HOME", "config"),
                                       std::pair("XDG_DATA_HOME", "data"), std::pair("XDG_RUNTIME_DIR", "runtime")})
        environment.insert(name, home.filePath(folder));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/spinforge-package-test-bus");
    return environment;
}

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const Finished cpack = run(SPINFORGE_CPACK_COMMAND, {"--config", SPINFORGE_CPACK_CONFIG, "-G", "DEB", "-B",
                                                             scratch().filePath("cpack")});
        const QStringList debs = QDir(scratch().filePath("cpack")).entryList({"*.deb"}, QDir::Files);
        if (cpack.exitCode != 0 || debs.size() != 1) return void(problem = "cpack failed: " + cpack.transcript());
        deb = scratch().filePath("cpack/" + debs.first());
        const Finished unpack = run("dpkg-deb", {"-x", deb, scratch().filePath("root")});
        if (unpack.exitCode != 0) problem = "dpkg-deb -x failed: " + unpack.transcript();
    }
    void SetUp() override { ASSERT_EQ(problem, ""); }
    static QTemporaryDir& scratch() {
        static QTemporaryDir folder;
        return folder;
    }
    static QString field(const char* name) { return run("dpkg-deb", {"--field", deb, name}).out.trimmed(); }
    // The packages a relation field names: "libc6 (>= 2.34), udisks2" holds libc6 and udisks2.
    static QSet<QString> packagesIn(const QString& relations) {
        QSet<QString> names;
        for (const QString& entry : relations.split(u',')) names << entry.trimmed().section(u' ', 0, 0);
        return names;
    }
    static QString installed(const QString& belowUsr) {
        return QDir(scratch().filePath("root")).canonicalPath() + "/usr/" + belowUsr;
    }

    static inline QString deb;
    static inline std::string problem;
};

TEST_F(Package, DependsOnThePackagesOfEveryLibraryItLinksAndAptCouldInstallIt) {
    const QString depends = field("Depends");
    const QSet<QString> names = packagesIn(depends);
    for (const QString& name : names) EXPECT_FALSE(name.endsWith("-dev")) << depends.toStdString();
    // Loaded at run time, so no linker names it: without it no icon is drawn.
    EXPECT_TRUE(names.contains("libqt6svg6")) << depends.toStdString();
    // Ejecting asks udisks2 over the system bus, which no linker sees either; the rest works without it.
    EXPECT_TRUE(packagesIn(field("Recommends")).contains("udisks2")) << field("Recommends").toStdString();
    // The libraries the agent names itself (not those they pull in), where the linker finds them.
    const QString needed = run("objdump", {"-p", installed("bin/spinforge")}).out;
    const QString resolved = run("ldd", {installed("bin/spinforge")}).out;
    for (const auto& name : QRegularExpression(R"(NEEDED\s+(\S+))").globalMatch(needed)) {
        const QString library = QRegularExpression(QRegularExpression::escape(name.captured(1)) + R"( => (\S+))")
                                    .match(resolved).captured(1);
        Finished owner = run("dpkg", {"-S", library});
        if (owner.exitCode != 0) owner = run("dpkg", {"-S", QFileInfo(library).canonicalFilePath()});
        const QString package = owner.out.section(u':', 0, 0);
        EXPECT_TRUE(names.contains(package)) << library.toStdString() << " comes with " << package.toStdString()
                                             << ", which Depends lacks: " << depends.toStdString();
    }
    const Finished apt = run("apt-get", {"install", "--simulate", "--no-install-recommends", deb});
    EXPECT_TRUE(apt.exitCode == 0 && apt.out.contains("Inst spinforge ")) << apt.transcript();
}

// Debian's own checks of a package, down to its pedantic ones, find nothing: among them the agent's
// hardening as far as lintian can see it (read-only relocations bound at start, fortified calls,
// position independence) and its strip. The stack protector, which lintian no longer looks for,
// shows as the agent's call to its failure handler.
TEST_F(Package, PassesDebiansOwnChecksAndTheAgentIsHardened) {
    const Finished lintian = run("lintian", {"--display-info", "--pedantic", deb});
    EXPECT_TRUE(lintian.exitCode == 0 && lintian.out.isEmpty()) << lintian.transcript();
    const QString imported = run("objdump", {"--dynamic-syms", installed("bin/spinforge")}).out;
    EXPECT_TRUE(imported.contains("__stack_chk_fail")) << "the agent is built without the stack protector";
}

TEST_F(Package, HoldsTheAgentsFilesWhereADesktopLooksAndTheAgentFindsThem) {
    QStringList files = testing_support::filesBelow(scratch().filePath("root"));
    const QString metainfo = "usr/share/metainfo/io.spinforge.Spinforge.metainfo.xml";
    EXPECT_EQ(files, (QStringList{"usr/bin/spinforge", "usr/share/applications/spinforge.desktop",
                                  "usr/share/doc/spinforge/changelog.gz", "usr/share/doc/spinforge/copyright",
                                  "usr/share/icons/hicolor/scalable/apps/spinforge.svg", "usr/share/man/man1/spinforge.1.gz",
                                  metainfo}));
    EXPECT_EQ(fileBytes(installed("share/doc/spinforge/copyright")), fileBytes(SPINFORGE_SOURCE_DIR "/LICENSE"));
    const Finished validation = run("desktop-file-validate", {installed("share/applications/spinforge.desktop")});
    EXPECT_TRUE(validation.exitCode == 0 && validation.out.isEmpty()) << validation.transcript();
    // AppStream metadata valid without a warning, its launchable (validate-tree) and icon installed.
    const QString root = scratch().filePath("root");
    for (const QStringList& check : {QStringList{"validate", "--no-net", "--strict", root + u'/' + metainfo},
                                     QStringList{"validate-tree", "--no-net", "--strict", root}}) {
        const Finished appstream = run("appstreamcli", check);
        EXPECT_EQ(appstream.exitCode, 0) << appstream.transcript();
    }
    const QString icon = QRegularExpression(R"(<icon type="stock">([^<]+)</icon>)")
                                 .match(QString::fromUtf8(fileBytes(root + u'/' + metainfo))).captured(1);
    EXPECT_TRUE(QFileInfo::exists(installed("share/icons/hicolor/scalable/apps/" + icon + ".svg"))) << icon.toStdString();

    QTemporaryDir home;
    QProcess agent;
    agent.setProcessEnvironment(isolatedSession(home));
    agent.start(installed("bin/spinforge"), {"--self-check"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return agent.canReadLine() && agent.peek(1 << 16).contains("\nready"); }, 20000))
        << agent.readAll().toStdString();
    const QString output = QString::fromLocal8Bit(agent.readAllStandardOutput());
    EXPECT_TRUE(output.contains("ok: theme icon " + installed("share/icons/hicolor/scalable/apps/spinforge.svg")))
        << output.toStdString();
    ::kill(pid_t(agent.processId()), SIGTERM);
    ASSERT_TRUE(agent.waitForFinished(10000));
    EXPECT_EQ(agent.exitCode(), 0);

    // A broken installation: the self-check names what is missing and fails.
    ASSERT_TRUE(QFile::remove(installed("share/icons/hicolor/scalable/apps/spinforge.svg")));
    const Finished broken = run(installed("bin/spinforge"), {"--self-check"}, isolatedSession(home));
    EXPECT_EQ(broken.exitCode, 1) << broken.transcript();
    EXPECT_TRUE(broken.out.contains("MISSING: theme icon")) << broken.transcript();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
