#include "shell/CommandLine.h"

#include <algorithm>

namespace spinforge {

namespace {

bool isHelp(const QString& argument) { return argument == u"--help" || argument == u"-h"; }
bool isVersion(const QString& argument) { return argument == u"--version" || argument == u"-v"; }
bool isSelfCheck(const QString& argument) { return argument == u"--self-check"; }

}  // namespace

CommandLine readCommandLine(const QStringList& arguments) {
    CommandLine commandLine;
    const QStringList options = arguments.mid(1);
    for (const QString& argument : options)
        if (!isHelp(argument) && !isVersion(argument) && !isSelfCheck(argument)) commandLine.unrecognised << argument;
    if (std::any_of(options.begin(), options.end(), isHelp)) commandLine.mode = LaunchMode::help;
    else if (std::any_of(options.begin(), options.end(), isVersion)) commandLine.mode = LaunchMode::version;
    else if (std::any_of(options.begin(), options.end(), isSelfCheck)) commandLine.mode = LaunchMode::selfCheck;
    return commandLine;
}

QString helpText(const QString& programName) {
    return QStringLiteral(
                   "Usage: %1 [--self-check | --version | --help]\n"
                   "Keeps your USB drives in step with your Spinforge music library, from the tray.\n"
                   "Without options it starts the agent, or shows the running agent's status.\n"
                   "\n"
                   "  --self-check  check that the agent finds its icons and, when installed, its desktop\n"
                   "                entry; print one line per check, then wait for SIGTERM or SIGINT.\n"
                   "                Exits 1 at once when something is missing. Touches neither the\n"
                   "                keyring, the network, the settings nor a running agent.\n"
                   "  -v, --version print the version\n"
                   "  -h, --help    print this help\n"
                   "\n"
                   "Qt's own options (-platform offscreen, -style ...) are accepted too.\n")
            .arg(programName);
}

QString versionText() { return QStringLiteral("spinforge %1\n").arg(QStringLiteral(SPINFORGE_VERSION)); }

}  // namespace spinforge
