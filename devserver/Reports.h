#pragma once
// Status reports the agents send after each run. Kept in memory for the dashboard and
// /_dev/reports, and appended to reports.jsonl so they outlive the process.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace spinforge::devserver {

struct StatusReport {
    long long trackCount = 0;
    bool synced = false;
};

// {"track_count": int >= 0, "synced": bool}, or nullopt for anything else.
std::optional<StatusReport> parseStatusBody(const std::string& body);

class ReportLog {
public:
    // Reads the reports an earlier run left in `file`, so the dashboard shows them too.
    explicit ReportLog(std::filesystem::path file);

    // Records one report (a malformed one with null fields) and returns the record.
    // Throws std::runtime_error when the file cannot be written.
    nlohmann::json append(const std::string& account, const std::string& rawBody,
                          const std::optional<StatusReport>& report);

    nlohmann::json all() const;
    std::vector<nlohmann::json> newest(std::size_t count) const;  // newest first

private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<nlohmann::json> records_;
};

}  // namespace spinforge::devserver
