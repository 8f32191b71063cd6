#pragma once
// The page at "/": what the server offers and what the agents last reported, for a person
// watching a test run in a browser.

#include "devserver/Library.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace spinforge::devserver {

std::string htmlEscape(std::string_view text);

// `reports` newest first, as ReportLog::newest() gives them.
std::string renderDashboard(const Library& library, const std::vector<nlohmann::json>& reports,
                            const std::string& startedAt);

}  // namespace spinforge::devserver
