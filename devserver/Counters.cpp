#include "devserver/Counters.h"

namespace spinforge::devserver {

void Counters::countRequest(Endpoint endpoint, const std::string& authorization, const std::string& track) {
    std::lock_guard lock(mutex_);
    ++requests_[std::size_t(endpoint)];
    if (!track.empty()) ++downloadsByTrack_[track];
    lastAuthorization_ = authorization;
}

void Counters::countDashboard() {
    std::lock_guard lock(mutex_);
    ++dashboard_;
}

void Counters::countSeen(const std::string& authorization) {
    std::lock_guard lock(mutex_);
    ++seen_;
    if (!authorization.empty()) ++authorizationSeen_;
}

void Counters::countCookie() {
    std::lock_guard lock(mutex_);
    ++cookiesSeen_;
}

void Counters::countRunOn(std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    runOnBytes_ += bytes;
}

void Counters::countLeft() {
    std::lock_guard lock(mutex_);
    ++runOnLeft_;
}

void Counters::countHttp2Offer() {
    std::lock_guard lock(mutex_);
    ++http2Offers_;
}

void Counters::reset() {
    std::lock_guard lock(mutex_);
    requests_.fill(0);
    dashboard_ = 0;
    downloadsByTrack_.clear();
    lastAuthorization_.clear();
    seen_ = authorizationSeen_ = cookiesSeen_ = runOnLeft_ = http2Offers_ = 0;
    runOnBytes_ = 0;
}

nlohmann::json Counters::snapshot() const {
    std::lock_guard lock(mutex_);
    nlohmann::json counts = nlohmann::json::object();
    for (std::size_t i = 0; i < kEndpointCount; ++i) counts[endpointName(Endpoint(i))] = requests_[i];
    counts["dashboard"] = dashboard_;
    counts["download_by_track"] = downloadsByTrack_;
    counts["last_authorization"] = lastAuthorization_;
    counts["requests_seen"] = seen_;
    counts["authorization_seen"] = authorizationSeen_;
    counts["cookies_seen"] = cookiesSeen_;
    counts["run_on_bytes"] = runOnBytes_;
    counts["run_on_left"] = runOnLeft_;
    counts["h2_offered"] = http2Offers_;
    return counts;
}

}  // namespace spinforge::devserver
