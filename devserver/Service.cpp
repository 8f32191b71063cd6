#include "devserver/Service.h"

#include "devserver/HttpJson.h"
#include "devserver/IsoTime.h"
#include "devserver/Routes.h"
#include "devserver/SampleLibrary.h"
#include "devserver/ServiceState.h"
#include "devserver/TerminationSignals.h"

#include <httplib.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

namespace spinforge::devserver {
namespace fs = std::filesystem;
namespace {

// Stalled and throttled downloads each hold a worker for their whole length, and agents keep
// several connections alive; httplib's default of eight workers would soon run out.
constexpr std::size_t kWorkerThreads = 32;

void note(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

void prepareSamples(const Options& options) {
    if (!options.sampleTracks) return;
    const fs::path root(options.libraryDir);
    if (!isEmptyOrMissing(root)) {
        note("library " + root.string() + " is not empty; not generating sample tracks");
        return;
    }
    const std::vector<SampleTrack> plan = planSampleLibrary(*options.sampleTracks);
    writeSampleLibrary(root, plan);
    std::uint64_t bytes = 0;
    for (const SampleTrack& track : plan) bytes += track.byteSize;
    note("generated " + std::to_string(plan.size()) + " sample tracks (" + std::to_string(bytes) + " bytes) in " +
         root.string() + ":");
    for (const SampleTrack& track : plan) note("  " + track.relativePath);
}

void createStateFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) throw std::runtime_error("cannot create state folder " + folder + ": " + error.message());
}

Library loadLibrary(const Options& options) {
    const auto progress = [](std::size_t hashed, std::size_t total) {
        const std::size_t step = std::max<std::size_t>(1, total / 10);
        if (hashed % step == 0 || hashed == total)
            std::fprintf(stderr, "hashing library: %zu/%zu tracks\n", hashed, total);
    };
    Library library = Library::load(options.libraryDir, progress, note);
    note("library " + options.libraryDir + ": " + std::to_string(library.tracks().size()) + " tracks");
    return library;
}

// Chooses "h2" when the client offers it (counting the offer), and nothing otherwise.
int chooseHttp2(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in, unsigned int inLength,
                void* counters) {
    for (unsigned int at = 0; at < inLength; at += 1 + in[at]) {
        if (in[at] == 2 && at + 3 <= inLength && std::string_view(reinterpret_cast<const char*>(in + at + 1), 2) == "h2") {
            static_cast<Counters*>(counters)->countHttp2Offer();
            *out = in + at + 1;
            *outLength = 2;
            return SSL_TLSEXT_ERR_OK;
        }
    }
    return SSL_TLSEXT_ERR_NOACK;
}

std::unique_ptr<httplib::Server> makeServer(const Options& options, Counters& counters) {
    if (!options.useTls()) return std::make_unique<httplib::Server>();
    auto server = std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
    if (!server->is_valid())
        throw std::runtime_error("cannot use TLS certificate " + options.tlsCert + " with key " + options.tlsKey);
    if (options.preferHttp2) SSL_CTX_set_alpn_select_cb(server->ssl_context(), chooseHttp2, &counters);
    return server;
}

void configure(httplib::Server& server, const Options& options) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // Idle keep-alive connections hold a worker until this runs out, also during shutdown.
    server.set_keep_alive_timeout(1);
    server.set_payload_max_length(1024 * 1024);
    server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        sendError(response, 500, "Internal error: " + what);
    });
    if (!options.quiet)
        server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
            std::fprintf(stderr, "%s %s -> %d\n", request.method.c_str(), request.path.c_str(), response.status);
        });
}

int bindPort(httplib::Server& server, const Options& options) {
    const int port = options.port == 0 ? server.bind_to_any_port(options.listenAddress)
                                       : (server.bind_to_port(options.listenAddress, options.port) ? options.port : -1);
    if (port <= 0)
        throw std::runtime_error("cannot listen on " + options.listenAddress + " port " + std::to_string(options.port));
    return port;
}

std::string urlOf(const Options& options, int port) {
    const bool ipv6 = options.listenAddress.find(':') != std::string::npos;
    const std::string host = ipv6 ? "[" + options.listenAddress + "]" : options.listenAddress;
    return (options.useTls() ? "https://" : "http://") + host + ":" + std::to_string(port);
}

// httplib's stop() only takes effect once the accept loop runs, so a signal that comes right
// after the listening line waits for that before stopping it.
void stopWhenRunning(httplib::Server& server, const std::atomic<bool>& listenEnded) {
    while (!server.is_running() && !listenEnded) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!listenEnded) server.stop();
}

}  // namespace

int runService(const Options& options) {
    prepareSamples(options);
    createStateFolder(options.stateDir);
    ServiceState state(options, loadLibrary(options), isoUtc(std::chrono::system_clock::now()));
    auto server = makeServer(options, state.counters);
    configure(*server, options);
    installClientRoutes(*server, state);
    installDevRoutes(*server, state);
    installFallbackRoutes(*server);
    const int port = bindPort(*server, options);

    TerminationSignals signals;
    std::atomic<bool> listenEnded{false};
    signals.watch([&] {
        note("stopping");
        state.stop.request();
        stopWhenRunning(*server, listenEnded);
    });
    std::printf("listening on %s\n", urlOf(options, port).c_str());
    std::fflush(stdout);
    const bool cleanEnd = server->listen_after_bind();
    listenEnded = true;
    if (!cleanEnd && !state.stop.requested()) throw std::runtime_error("the server stopped unexpectedly");
    note("stopped");
    return 0;
}

}  // namespace spinforge::devserver
