#include "devserver/Reports.h"

#include "devserver/HttpJson.h"
#include "devserver/IsoTime.h"

#include <fstream>
#include <stdexcept>

namespace spinforge::devserver {

std::optional<StatusReport> parseStatusBody(const std::string& body) {
    const nlohmann::json object = nlohmann::json::parse(body, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    const auto count = object.find("track_count");
    const auto synced = object.find("synced");
    if (count == object.end() || !count->is_number_integer() || synced == object.end() || !synced->is_boolean())
        return std::nullopt;
    if (count->is_number_unsigned() ? count->get<std::uint64_t>() > (1ULL << 62) : count->get<long long>() < 0)
        return std::nullopt;
    return StatusReport{count->get<long long>(), synced->get<bool>()};
}

ReportLog::ReportLog(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);) {
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_object()) records_.push_back(std::move(record));
    }
}

nlohmann::json ReportLog::append(const std::string& account, const std::string& rawBody,
                                 const std::optional<StatusReport>& report) {
    nlohmann::json record = {{"at", isoUtc(std::chrono::system_clock::now())},
                             {"account", account},
                             {"track_count", report ? nlohmann::json(report->trackCount) : nlohmann::json()},
                             {"synced", report ? nlohmann::json(report->synced) : nlohmann::json()},
                             {"body", rawBody}};
    std::lock_guard lock(mutex_);
    std::ofstream out(file_, std::ios::app);
    out << dumpJson(record) << '\n';
    if (!out.flush()) throw std::runtime_error("cannot append to " + file_.string());
    records_.push_back(record);
    return record;
}

nlohmann::json ReportLog::all() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<nlohmann::json> ReportLog::newest(std::size_t count) const {
    std::lock_guard lock(mutex_);
    const std::size_t take = std::min(count, records_.size());
    return {records_.rbegin(), records_.rbegin() + std::ptrdiff_t(take)};
}

}  // namespace spinforge::devserver
