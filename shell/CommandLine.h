#pragma once
// The agent's own command-line options. Everything else is left to Qt, which takes its own
// (-platform, -style and their kin) out of the arguments when the application starts.

#include <QString>
#include <QStringList>

namespace spinforge {

enum class LaunchMode {
    agent,      // no option: the tray agent
    selfCheck,  // --self-check: check the installation, then wait for SIGTERM/SIGINT
    help,       // --help, -h
    version,    // --version, -v
};

struct CommandLine {
    LaunchMode mode = LaunchMode::agent;
    QStringList unrecognised;  // in the order given; before Qt has run, Qt's options are here too
};

// `arguments` as main() receives them, the program's name first. When several of our options are
// given, --help wins over --version, and both over --self-check.
CommandLine readCommandLine(const QStringList& arguments);

QString helpText(const QString& programName);
QString versionText();

}  // namespace spinforge
