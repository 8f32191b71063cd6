#pragma once
// JSON answers. Request bodies and file names may hold bytes that are not UTF-8; dumping
// replaces them instead of throwing, so no request can turn an answer into an exception.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>

namespace spinforge::devserver {

std::string dumpJson(const nlohmann::json& value);
void sendJson(httplib::Response& response, int status, const nlohmann::json& value);
void sendError(httplib::Response& response, int status, const std::string& message);

}  // namespace spinforge::devserver
