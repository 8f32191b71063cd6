#pragma once
// Command line of spinforge-devserver. Parsing is strict: a development tool that silently
// ignores a mistyped flag wastes more time than one that refuses to start.

#include "devserver/Faults.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace spinforge::devserver {

struct Account {
    std::string email;
    std::string password;
    long long profileId = 0;
    std::string folder;
    std::string displayName;
};

struct Options {
    std::string libraryDir;
    std::string stateDir;
    std::vector<Account> accounts;
    std::vector<std::string> tokens;  // pre-issued, all for the first account
    std::string listenAddress = "127.0.0.1";
    int port = 8787;
    std::string tlsCert;
    std::string tlsKey;
    std::string downloadBase;  // without trailing '/'; empty: relative download URLs
    std::optional<int> sampleTracks;
    std::vector<Fault> faults;
    bool quiet = false;
    bool preferHttp2 = false;  // with TLS: choose HTTP/2 whenever a client offers it
    bool helpRequested = false;

    bool useTls() const { return !tlsCert.empty(); }
};

// A command line the server cannot run with. main() prints it and exits with status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `args` excludes the program name. Throws UsageError.
Options parseOptions(const std::vector<std::string>& args);

// EMAIL:PASSWORD:PROFILE_ID:FOLDER:DISPLAY NAME; the display name takes the rest, ':' included.
Account parseAccount(const std::string& spec);

const char* helpText();

}  // namespace spinforge::devserver
