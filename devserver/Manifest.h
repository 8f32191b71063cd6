#pragma once

#include "devserver/Library.h"
#include "devserver/Options.h"

#include <nlohmann/json.hpp>

#include <string>

namespace spinforge::devserver {

// "/api/client/tracks/<id>/file"
std::string downloadPath(long long trackId);

nlohmann::json manifestTrack(const Track& track, const std::string& downloadBase);

// The manifest an agent of `account` receives. `generatedAt` stays fixed for a server run,
// since the library does not change while it runs.
nlohmann::json manifestFor(const Account& account, const Library& library, const std::string& generatedAt,
                           const std::string& downloadBase);

}  // namespace spinforge::devserver
