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

void Counters::reset() {
    std::lock_guard lock(mutex_);
    requests_.fill(0);
    dashboard_ = 0;
    downloadsByTrack_.clear();
    lastAuthorization_.clear();
    seen_ = authorizationSeen_ = 0;
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
    return counts;
}

}  // namespace spinforge::devserver
