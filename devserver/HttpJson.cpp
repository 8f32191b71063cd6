#include "devserver/HttpJson.h"

namespace spinforge::devserver {

std::string dumpJson(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// With its charset named, httplib leaves JSON uncompressed. Otherwise it answers a client that
// accepts brotli at brotli's slowest setting: most of a second for a large manifest on loopback,
// which would swamp every measurement of the agent.
const char* const kJsonContentType = "application/json; charset=utf-8";

void sendJson(httplib::Response& response, int status, const nlohmann::json& value) {
    response.status = status;
    response.set_content(dumpJson(value), kJsonContentType);
}

void sendError(httplib::Response& response, int status, const std::string& message) {
    sendJson(response, status, {{"error", message}});
}

}  // namespace spinforge::devserver
