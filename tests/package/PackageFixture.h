#pragma once
// The Debian package as a user gets it: built once per run by cpack from this build folder into a
// scratch folder, read with dpkg-deb, and unpacked into a scratch root the agent can run from.

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Failure messages show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace package_testing {

struct Finished {
    bool exited = false;  // on its own, within the time allowed
    int exitCode = -1;
    QString out;
    QString err;

    // Both streams, for a failure message.
    std::string transcript() const { return (out + err).toStdString(); }
};

Finished run(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(), int timeoutMs = 60000);

struct BuiltPackage {
    QTemporaryDir scratch;
    QString deb;      // the .deb cpack made
    QString root;     // where it is unpacked (canonical)
    QString problem;  // why there is no package; empty when there is one
};

// Built on first use, kept for the whole run.
const BuiltPackage& builtPackage();

// Unpacks the package into `folder`; empty on success, else what went wrong.
QString unpack(const QString& deb, const QString& folder);

// One control field of the package.
QString controlField(const QString& name);

// Fails the test when the package could not be built; every test needs it.
class PackageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(builtPackage().problem.isEmpty()) << builtPackage().problem.toStdString(); }
    static QString installed(const QString& pathBelowUsr) {
        return builtPackage().root + QStringLiteral("/usr/") + pathBelowUsr;
    }
};

// The environment of a session of its own: fresh home and XDG folders below `home`, Qt's
// offscreen platform, and a session bus address that leads nowhere, so the agent can reach no
// keyring, no running agent and no settings but those in `home`.
QProcessEnvironment isolatedSession(const QTemporaryDir& home);

}  // namespace package_testing
