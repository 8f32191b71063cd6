// spinforge-devserver: a local stand-in for the Spinforge music service, for tests,
// benchmarks and trying the agent. See --help.

#include "devserver/Options.h"
#include "devserver/Service.h"

#include <csignal>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    using namespace spinforge::devserver;
    // A client that hangs up mid-download must not kill the server.
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "spinforge-devserver: %s\nTry 'spinforge-devserver --help'.\n", e.what());
        return 2;
    }
    if (options.helpRequested) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    try {
        return runService(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "spinforge-devserver: %s\n", e.what());
        return 1;
    }
}
