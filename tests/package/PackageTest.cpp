// What the package says about itself and what it holds: runtime dependencies only, the agent's
// files where a desktop looks for them, nothing of the build's other programs.
#include "PackageFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

using namespace package_testing;

namespace {

// The package names of a Depends-style field, version constraints and alternatives taken apart.
QSet<QString> packageNames(const QString& field) {
    QSet<QString> names;
    for (const QString& alternatives : field.split(QLatin1Char(','), Qt::SkipEmptyParts))
        for (const QString& choice : alternatives.split(QLatin1Char('|')))
            names << choice.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char('('), 0, 0);
    return names;
}

// The libraries the executable names itself (not those they pull in), resolved where the
// dynamic linker finds them.
QStringList linkedLibraries(const QString& executable) {
    QStringList needed;
    const QRegularExpression neededLine(QStringLiteral(R"(^\s*NEEDED\s+(\S+)$)"), QRegularExpression::MultilineOption);
    for (const auto& match :
         neededLine.globalMatch(run(QStringLiteral("objdump"), {QStringLiteral("-p"), executable}).out))
        needed << match.captured(1);
    const QString resolved = run(QStringLiteral("ldd"), {executable}).out;
    QStringList paths;
    for (const QString& library : needed) {
        const QRegularExpression line(QRegularExpression::escape(library) + QStringLiteral(R"( => (\S+))"));
        paths << line.match(resolved).captured(1);
    }
    return paths;
}

// The package that installed each of `paths` on this machine (empty where none did), asked of
// dpkg at once. dpkg knows a file by the path its package shipped it under: on a merged-/usr
// system that is either the /lib alias the linker reports or the real file below /usr/lib.
QStringList owningPackages(const QStringList& paths) {
    QStringList candidates;
    for (const QString& path : paths) candidates << path << QFileInfo(path).canonicalFilePath();
    QHash<QString, QString> ownerOf;  // "libqt6core6:amd64: /usr/lib/…/libQt6Core.so.6.4.2"
    for (const QString& line :
         run(QStringLiteral("dpkg"), QStringList{QStringLiteral("-S")} + candidates).out.split('\n'))
        ownerOf.insert(line.section(QStringLiteral(": "), 1), line.section(QLatin1Char(':'), 0, 0));
    QStringList owners;
    for (const QString& path : paths) owners << ownerOf.value(path, ownerOf.value(QFileInfo(path).canonicalFilePath()));
    return owners;
}

struct Entry {
    QString owner;  // user/group
    QString path;   // below the root, without "./"; folders end in "/"
};

std::vector<Entry> listing(const QString& deb) {
    std::vector<Entry> entries;
    const QRegularExpression line(QStringLiteral(R"(^\S+ (\S+)\s+\d+ \S+ \S+ \./(.*)$)"));
    for (const QString& text : run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), deb}).out.split('\n'))
        if (const auto match = line.match(text); match.hasMatch() && !match.captured(2).isEmpty())
            entries.push_back({match.captured(1), match.captured(2)});
    return entries;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(PackageTest, ControlFieldsNameTheAgentAndItsMaker) {
    const QString version = controlField(QStringLiteral("Version"));
    const QString architecture = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).out.trimmed();
    EXPECT_EQ(controlField(QStringLiteral("Package")), "spinforge");
    EXPECT_EQ(controlField(QStringLiteral("Architecture")), architecture);
    EXPECT_EQ(QFileInfo(builtPackage().deb).fileName(),
              QStringLiteral("spinforge_%1_%2.deb").arg(version, architecture));
    for (const char* field : {"Section", "Maintainer", "Homepage", "Description"})
        EXPECT_FALSE(controlField(QString::fromLatin1(field)).isEmpty()) << field;
    // The changelog's latest entry is this version: a release that forgot it shows here.
    const QString changelog =
            run(QStringLiteral("gzip"),
                {QStringLiteral("-dc"), installed(QStringLiteral("share/doc/spinforge/changelog.gz"))})
                    .out;
    EXPECT_TRUE(changelog.startsWith(QStringLiteral("spinforge (%1) ").arg(version))) << changelog.toStdString();
}

TEST_F(PackageTest, DependsOnRuntimePackagesOnly) {
    const QString depends = controlField(QStringLiteral("Depends"));
    const QSet<QString> names = packageNames(depends);
    for (const QString& name : names) EXPECT_FALSE(name.endsWith(QStringLiteral("-dev"))) << depends.toStdString();
    const QStringList libraries = linkedLibraries(installed(QStringLiteral("bin/spinforge")));
    ASSERT_FALSE(libraries.isEmpty());
    const QStringList owners = owningPackages(libraries);
    for (qsizetype index = 0; index < libraries.size(); ++index) {
        EXPECT_FALSE(owners[index].isEmpty()) << "no package holds " << libraries[index].toStdString();
        EXPECT_TRUE(names.contains(owners[index]))
                << libraries[index].toStdString() << " comes with " << owners[index].toStdString()
                << ", which Depends lacks: " << depends.toStdString();
    }
    // Loaded at run time, so no linker would name it: without it no icon is drawn.
    EXPECT_TRUE(names.contains(QStringLiteral("libqt6svg6"))) << depends.toStdString();
}

// apt resolves every name in Depends from the configured archives (a misspelt or dropped package
// shows here), without installing anything.
TEST_F(PackageTest, AptCouldInstallIt) {
    const QString apt = QStandardPaths::findExecutable(QStringLiteral("apt-get"));
    if (apt.isEmpty()) GTEST_SKIP() << "no apt-get on this system";
    const Finished simulation = run(apt, {QStringLiteral("install"), QStringLiteral("--simulate"),
                                          QStringLiteral("--no-install-recommends"), builtPackage().deb});
    EXPECT_TRUE(simulation.exited && simulation.exitCode == 0) << simulation.transcript();
    EXPECT_TRUE(simulation.out.contains(QStringLiteral("Inst spinforge "))) << simulation.transcript();
}

TEST_F(PackageTest, HoldsTheAgentsFilesWhereADesktopLooksAndNothingElse) {
    QSet<QString> files;
    for (const Entry& entry : listing(builtPackage().deb)) {
        EXPECT_EQ(entry.owner, "root/root") << entry.path.toStdString();
        if (!entry.path.endsWith(QLatin1Char('/'))) files << entry.path;
    }
    const QSet<QString> expected{
            QStringLiteral("usr/bin/spinforge"),
            QStringLiteral("usr/share/applications/spinforge.desktop"),
            QStringLiteral("usr/share/icons/hicolor/scalable/apps/spinforge.svg"),
            QStringLiteral("usr/share/doc/spinforge/copyright"),
            QStringLiteral("usr/share/doc/spinforge/changelog.gz"),
            QStringLiteral("usr/share/man/man1/spinforge.1.gz"),
    };
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/spinforge"))).isExecutable());
    EXPECT_EQ(fileBytes(installed(QStringLiteral("share/doc/spinforge/copyright"))),
              fileBytes(QStringLiteral(SPINFORGE_SOURCE_DIR "/LICENSE")));
    // Debugging data stays in the build folder.
    const QString sections =
            run(QStringLiteral("objdump"), {QStringLiteral("-h"), installed(QStringLiteral("bin/spinforge"))}).out;
    EXPECT_FALSE(sections.contains(QStringLiteral(".debug_info")));
}

TEST_F(PackageTest, DesktopEntryIsValid) {
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is missing (scripts/bootstrap installs desktop-file-utils)";
    const Finished validation = run(validator, {installed(QStringLiteral("share/applications/spinforge.desktop"))});
    EXPECT_TRUE(validation.exited && validation.exitCode == 0) << validation.transcript();
    // Hints are not errors, but each one is something a desktop may show oddly.
    EXPECT_EQ(validation.out + validation.err, QString()) << validation.transcript();
}

}  // namespace
