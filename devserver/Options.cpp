#include "devserver/Options.h"

#include <charconv>
#include <limits>
#include <set>
#include <string_view>

namespace spinforge::devserver {
namespace {

constexpr const char* kHelp = R"(Usage: spinforge-devserver --library DIR --state DIR --account ACCOUNT [options]

Development stand-in for the Spinforge music service. Serves the client API
(login, manifest, track downloads, status reports) for the files of one folder,
a dashboard at /, and fault switches under /_dev/ for tests.

Required:
  --library DIR          folder whose files are the library; hidden files and
                         folders (name starting with '.') are skipped
  --state DIR            folder for reports.jsonl (created if missing)
  --account ACCOUNT      an account, as EMAIL:PASSWORD:PROFILE_ID:FOLDER:DISPLAY NAME;
                         repeatable; the display name may contain ':'

Options:
  --token TOKEN          pre-issued device token for the first account (repeatable)
  --listen ADDR          address to listen on (default 127.0.0.1)
  --port N               port (default 8787; 0 picks a free port)
  --tls-cert FILE        serve HTTPS with this PEM certificate (needs --tls-key)
  --tls-key FILE         PEM private key for --tls-cert
  --download-base URL    make each download_url absolute: URL/api/client/tracks/ID/file
  --sample-library N     if the library folder is empty or missing, first fill it
                         with N generated sample tracks
  --fault JSON           install a fault from the start (repeatable; see below)
  --prefer-h2            with TLS, choose HTTP/2 (ALPN "h2") whenever a client offers
                         it; this service speaks only HTTP/1.1, so such a client
                         fails. Offers are counted ("h2_offered")
  --quiet                do not log each request to stderr
  -h, --help             show this text

Once listening, exactly one line goes to stdout: "listening on http://ADDR:PORT"
(https:// with TLS). Everything else goes to stderr. SIGINT or SIGTERM stops the
server with status 0; a bad command line exits with status 2.

Faults (--fault, or POST /_dev/fault at run time; POST /_dev/reset clears them):
  "endpoint": "login" | "manifest" | "download" | "status"    required
  "times": N                    forget the fault after N uses (default: never)
  and exactly one action:
  "status": CODE                answer CODE instead of the normal answer, with
     "error": TEXT              ... body {"error": TEXT} (application/json), or
     "body": TEXT               ... that raw body, "content_type" default text/html
     "location": URL            ... and that Location header (a redirect with 3xx)
     "trailing_bytes": N        ... then N spaces more, chunked without a length
  any endpoint:
  "header_fields": N            the answer's header section holds N fields more
  "endless_header": true        a header section that never ends (an interim 100
                                answer whose body is header fields without end)
  "set_cookies": N              the answer sets N new cookies of 200 bytes; any
                                request whose cookies pass 4 KiB is refused (431)
  download faults only:
  "wrong_bytes": true           one byte changed in the middle, same length
  "drop_after": N               full Content-Length, N bytes, then close
  "stall_after": N              N bytes, then silence for "stall_seconds"
                                (default 600) or until shutdown, then close
  "bytes_per_second": N         (download or login) send the body at that rate
  "trailing_bytes": N           (download, manifest, login or status) the whole
                                answer, then N spaces more, chunked without a
                                length; a huge N runs on until the client leaves
  "delay_seconds": N            (manifest) the whole answer, N seconds late: the
                                reply to a request made long before
  "compressed_bomb": N          (manifest) gzip-compressed whatever was asked,
                                its "tracks" N bytes of empty objects
  "track": "RELATIVE/PATH"      limit a download fault to one track
  A refusal is answered before the device token is checked; the other actions
  apply to authorised downloads of known tracks (and manifests).

Developer endpoints (no token needed):
  POST /_dev/fault   GET /_dev/counters   GET /_dev/reports   POST /_dev/reset
  The counters include every request made to any other path ("requests_seen"),
  how many of them carried an Authorization header ("authorization_seen") or a
  Cookie header ("cookies_seen"), the spaces and header fields sent by answers
  that run on ("run_on_bytes") and how many of those the client left
  ("run_on_left").

Examples:
  spinforge-devserver --library /tmp/lib --state /tmp/state --sample-library 12 \
      --account 'dj@example.com:secret:7:Demo Set:DJ Demo'
  curl -d '{"endpoint": "download", "drop_after": 100000, "times": 1}' \
      http://127.0.0.1:8787/_dev/fault
  curl -d '' http://127.0.0.1:8787/_dev/reset
)";

long long parseInteger(std::string_view flag, std::string_view text, long long min, long long max) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        throw UsageError(std::string(flag) + " needs a whole number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", not '" + std::string(text) + "'");
    return value;
}

const std::string& nonEmpty(std::string_view flag, const std::string& value) {
    if (value.empty()) throw UsageError(std::string(flag) + " needs a non-empty value");
    return value;
}

std::string downloadBaseFrom(const std::string& url) {
    if (!url.starts_with("http://") && !url.starts_with("https://"))
        throw UsageError("--download-base must start with http:// or https://, not '" + url + "'");
    std::string base = url;
    while (base.ends_with('/')) base.pop_back();
    return base;
}

Fault faultFrom(const std::string& json) {
    try {
        return parseFault(json);
    } catch (const FaultError& e) {
        throw UsageError(std::string("--fault: ") + e.what());
    }
}

using Setter = void (*)(Options&, const std::string&);
struct Flag {
    std::string_view name;
    Setter set;
};

const Flag kValueFlags[] = {
    {"--library", [](Options& o, const std::string& v) { o.libraryDir = nonEmpty("--library", v); }},
    {"--state", [](Options& o, const std::string& v) { o.stateDir = nonEmpty("--state", v); }},
    {"--account", [](Options& o, const std::string& v) { o.accounts.push_back(parseAccount(v)); }},
    {"--token", [](Options& o, const std::string& v) { o.tokens.push_back(nonEmpty("--token", v)); }},
    {"--listen", [](Options& o, const std::string& v) { o.listenAddress = nonEmpty("--listen", v); }},
    {"--port", [](Options& o, const std::string& v) { o.port = int(parseInteger("--port", v, 0, 65535)); }},
    {"--tls-cert", [](Options& o, const std::string& v) { o.tlsCert = nonEmpty("--tls-cert", v); }},
    {"--tls-key", [](Options& o, const std::string& v) { o.tlsKey = nonEmpty("--tls-key", v); }},
    {"--download-base", [](Options& o, const std::string& v) { o.downloadBase = downloadBaseFrom(v); }},
    {"--sample-library",
     [](Options& o, const std::string& v) { o.sampleTracks = int(parseInteger("--sample-library", v, 1, 100000)); }},
    {"--fault", [](Options& o, const std::string& v) { o.faults.push_back(faultFrom(v)); }},
};

const Flag* valueFlagNamed(std::string_view name) {
    for (const Flag& flag : kValueFlags)
        if (flag.name == name) return &flag;
    return nullptr;
}

void requireComplete(const Options& options) {
    if (options.libraryDir.empty()) throw UsageError("--library DIR is required");
    if (options.stateDir.empty()) throw UsageError("--state DIR is required");
    if (options.accounts.empty()) throw UsageError("at least one --account is required");
    if (options.tlsCert.empty() != options.tlsKey.empty())
        throw UsageError("--tls-cert and --tls-key must be given together");
    std::set<std::string> emails;
    for (const Account& account : options.accounts)
        if (!emails.insert(account.email).second)
            throw UsageError("--account: e-mail " + account.email + " is given twice");
}

}  // namespace

Account parseAccount(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() < 4) {
        const std::size_t colon = text.find(':', start);
        if (colon == std::string::npos) break;
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    if (fields.size() < 4)
        throw UsageError("--account needs EMAIL:PASSWORD:PROFILE_ID:FOLDER:DISPLAY NAME, not '" + text + "'");
    fields.push_back(text.substr(start));
    for (const std::string& field : fields)
        if (field.empty()) throw UsageError("--account '" + text + "' has an empty field");
    return Account{fields[0], fields[1],
                   parseInteger("--account PROFILE_ID", fields[2], 1, std::numeric_limits<int>::max()),
                   fields[3], fields[4]};
}

Options parseOptions(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.helpRequested = true;
            return options;
        }
        if (arg == "--quiet" || arg == "--prefer-h2") {
            (arg == "--quiet" ? options.quiet : options.preferHttp2) = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Flag* flag = arg.starts_with("--") ? valueFlagNamed(name) : nullptr;
        if (!flag) throw UsageError("unknown option '" + arg + "'");
        if (equals != std::string::npos) {
            flag->set(options, arg.substr(equals + 1));
        } else {
            if (i + 1 == args.size()) throw UsageError(name + " needs a value");
            flag->set(options, args[++i]);
        }
    }
    requireComplete(options);
    return options;
}

const char* helpText() { return kHelp; }

}  // namespace spinforge::devserver
