#include "devserver/Dashboard.h"

#include "devserver/HttpJson.h"

#include <sstream>

namespace spinforge::devserver {
namespace {

constexpr const char* kStyle = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 2em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.1em; margin-top: 2em; }
table { border-collapse: collapse; } th, td { padding: .25em .8em; text-align: left; }
th { border-bottom: 1px solid #999; } tr:nth-child(even) td { background: #f3f3f3; }
td.num { text-align: right; } code { font-family: ui-monospace, monospace; }
.muted { color: #777; })";

std::string fieldText(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    if (found == record.end() || found->is_null()) return "–";
    return found->is_string() ? found->get<std::string>() : dumpJson(*found);
}

void writeLibrary(std::ostream& out, const Library& library) {
    out << "<h2>Library (" << library.tracks().size() << " tracks)</h2>\n";
    if (library.tracks().empty()) {
        out << "<p class=\"muted\">The library folder is empty.</p>\n";
        return;
    }
    out << "<table>\n<tr><th>#</th><th>Path</th><th>Bytes</th><th>SHA-256</th></tr>\n";
    for (const Track& track : library.tracks())
        out << "<tr><td class=\"num\">" << track.id << "</td><td>" << htmlEscape(track.relativePath)
            << "</td><td class=\"num\">" << track.byteSize << "</td><td><code>" << htmlEscape(track.sha256.substr(0, 12))
            << "…</code></td></tr>\n";
    out << "</table>\n";
}

void writeReports(std::ostream& out, const std::vector<nlohmann::json>& reports) {
    out << "<h2>Latest reports</h2>\n";
    if (reports.empty()) {
        out << "<p class=\"muted\">No agent has reported yet.</p>\n";
        return;
    }
    out << "<table>\n<tr><th>At</th><th>Account</th><th>Tracks</th><th>Synced</th><th>Body</th></tr>\n";
    for (const nlohmann::json& record : reports)
        out << "<tr><td>" << htmlEscape(fieldText(record, "at")) << "</td><td>" << htmlEscape(fieldText(record, "account"))
            << "</td><td class=\"num\">" << htmlEscape(fieldText(record, "track_count")) << "</td><td>"
            << htmlEscape(fieldText(record, "synced")) << "</td><td><code>" << htmlEscape(fieldText(record, "body"))
            << "</code></td></tr>\n";
    out << "</table>\n";
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

std::string renderDashboard(const Library& library, const std::vector<nlohmann::json>& reports,
                            const std::string& startedAt) {
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        << "<title>Spinforge dev server</title><style>" << kStyle << "</style></head><body>\n"
        << "<h1>Spinforge dev server</h1>\n<p class=\"muted\">Running since " << htmlEscape(startedAt) << ".</p>\n";
    writeLibrary(out, library);
    writeReports(out, reports);
    out << "</body></html>\n";
    return out.str();
}

}  // namespace spinforge::devserver
