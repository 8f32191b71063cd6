#include "devserver/HttpJson.h"

namespace spinforge::devserver {

std::string dumpJson(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void sendJson(httplib::Response& response, int status, const nlohmann::json& value) {
    response.status = status;
    response.set_content(dumpJson(value), "application/json");
}

void sendError(httplib::Response& response, int status, const std::string& message) {
    sendJson(response, status, {{"error", message}});
}

}  // namespace spinforge::devserver
