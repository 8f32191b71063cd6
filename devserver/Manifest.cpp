#include "devserver/Manifest.h"

namespace spinforge::devserver {

std::string downloadPath(long long trackId) { return "/api/client/tracks/" + std::to_string(trackId) + "/file"; }

nlohmann::json manifestTrack(const Track& track, const std::string& downloadBase) {
    return {{"id", track.id},
            {"provider_id", "dev-" + std::to_string(track.id)},
            {"title", track.title},
            {"artist", track.artist},
            {"source", "devserver"},
            {"filename", track.filename},
            {"relative_path", track.relativePath},
            {"sha256", track.sha256},
            {"byte_size", track.byteSize},
            {"download_url", downloadBase + downloadPath(track.id)}};
}

nlohmann::json manifestFor(const Account& account, const Library& library, const std::string& generatedAt,
                           const std::string& downloadBase) {
    nlohmann::json tracks = nlohmann::json::array();
    for (const Track& track : library.tracks()) tracks.push_back(manifestTrack(track, downloadBase));
    return {{"version", 1},
            {"generated_at", generatedAt},
            {"profile", {{"id", account.profileId}, {"display_name", account.displayName}, {"folder", account.folder}}},
            {"tracks", std::move(tracks)}};
}

}  // namespace spinforge::devserver
