#pragma once
// How often each client endpoint was asked, so tests can check what the agent did (retried,
// skipped an unchanged track, sent its token). Shared by httplib's worker threads.

#include "devserver/Faults.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace spinforge::devserver {

class Counters {
public:
    // Counts a request that reached `endpoint`, whatever its answer. `track` is the relative
    // path of a requested known track, or empty.
    void countRequest(Endpoint endpoint, const std::string& authorization, const std::string& track = {});
    void countDashboard();
    // Counts any request but the developer endpoints', whatever its path: what a server that a
    // redirect leads to was sent, and whether it carried an Authorization header.
    void countSeen(const std::string& authorization);
    // Counts a request that carried a Cookie header.
    void countCookie();
    // Counts bytes sent by an answer that runs on (past its end, or a header that never ends), and
    // such an answer that the client left.
    void countRunOn(std::uint64_t bytes);
    void countLeft();
    // Counts a TLS handshake whose client offered HTTP/2.
    void countHttp2Offer();
    void reset();

    // {"login":n,...,"dashboard":n,"download_by_track":{...},"last_authorization":"...",
    //  "requests_seen":n,"authorization_seen":n,"cookies_seen":n,"run_on_bytes":n,
    //  "run_on_left":n,"h2_offered":n}
    nlohmann::json snapshot() const;

private:
    mutable std::mutex mutex_;
    std::array<long long, kEndpointCount> requests_{};
    long long dashboard_ = 0;
    std::map<std::string, long long> downloadsByTrack_;
    std::string lastAuthorization_;
    long long seen_ = 0;
    long long authorizationSeen_ = 0;
    long long cookiesSeen_ = 0;
    std::uint64_t runOnBytes_ = 0;
    long long runOnLeft_ = 0;
    long long http2Offers_ = 0;
};

}  // namespace spinforge::devserver
