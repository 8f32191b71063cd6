#include "devserver/Answers.h"
#include "devserver/Dashboard.h"
#include "devserver/Downloads.h"
#include "devserver/HttpJson.h"
#include "devserver/Manifest.h"
#include "devserver/Routes.h"

#include <charconv>

namespace spinforge::devserver {
namespace {

using httplib::Request;
using httplib::Response;

constexpr const char* kBadToken = "Invalid device token.";

struct LoginBody {
    std::string email;
    std::string password;
    std::string deviceName;
};

std::optional<LoginBody> parseLoginBody(const std::string& body) {
    const nlohmann::json object = nlohmann::json::parse(body, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    for (const char* key : {"email", "password", "device_name"})
        if (!object.contains(key) || !object[key].is_string()) return std::nullopt;
    return LoginBody{object["email"], object["password"], object["device_name"]};
}

std::string authorizationOf(const Request& request) { return request.get_header_value("Authorization"); }

// httplib applies a Range header to whatever answer a handler gives, error texts and JSON
// included. Only a track's bytes may go out in part; everything else is sent whole, which
// HTTP allows. (httplib's Request object is not const; it only reaches handlers as const.)
void setRanges(const Request& request, httplib::Ranges ranges) {
    const_cast<Request&>(request).ranges = std::move(ranges);
}

bool isDownloadPath(const std::string& path) {
    return path.starts_with("/api/client/tracks/") && path.ends_with("/file");
}

bool rangesFit(const httplib::Ranges& ranges, std::uint64_t size) {
    for (const auto& [first, last] : ranges)
        if (first >= 0 && (std::uint64_t(first) >= size || (last >= 0 && last < first))) return false;
    return true;
}

// Answers with the refusal a test switched on for this endpoint, if any.
bool answeredByFault(ServiceState& state, Endpoint endpoint, const std::string& track, Response& response) {
    const std::optional<Refusal> refusal = state.faults.takeRefusal(endpoint, track);
    if (!refusal) return false;
    response.status = refusal->status;
    if (refusal->error) sendJson(response, response.status, {{"error", *refusal->error}});
    if (refusal->body) response.set_content(*refusal->body, refusal->contentType);
    if (refusal->location) response.set_header("Location", *refusal->location);
    if (refusal->runOn > 0) {
        const std::string text = response.body, type = response.get_header_value("Content-Type");
        response.body.clear();
        response.headers.erase("Content-Type");
        serveRunningOn(text, type.empty() ? "text/html" : type.c_str(), refusal->runOn, state.stop, state.counters, response);
    }
    return true;
}

const Track* trackNamed(const Library& library, const std::string& idText) {
    long long id = 0;
    const auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
    if (error != std::errc() || end != idText.data() + idText.size()) return nullptr;
    return library.find(id);
}

void login(ServiceState& state, const Request& request, Response& response) {
    state.counters.countRequest(Endpoint::Login, authorizationOf(request));
    if (answeredByFault(state, Endpoint::Login, {}, response)) return;
    const std::optional<LoginBody> body = parseLoginBody(request.body);
    if (!body)
        return sendError(response, 400, "Expected a JSON object with string fields email, password and device_name.");
    const std::optional<IssuedDevice> device = state.sessions.login(body->email, body->password);
    if (!device) return sendError(response, 401, "Invalid e-mail or password.");
    const nlohmann::json answer{{"token", device->token}, {"device_id", device->deviceId}, {"display_name", device->displayName}};
    serveJson(dumpJson(answer), state.faults.takeBodyFault(Endpoint::Login), state, response);
}

void manifest(ServiceState& state, const Request& request, Response& response) {
    state.counters.countRequest(Endpoint::Manifest, authorizationOf(request));
    if (answeredByFault(state, Endpoint::Manifest, {}, response)) return;
    const Account* account = state.sessions.accountFor(authorizationOf(request));
    if (!account) return sendError(response, 401, kBadToken);
    const nlohmann::json answer = manifestFor(*account, state.library, state.startedAt, state.options.downloadBase);
    serveJson(dumpJson(answer), state.faults.takeBodyFault(Endpoint::Manifest), state, response);
}

void download(ServiceState& state, const Request& request, Response& response) {
    const Track* track = trackNamed(state.library, request.matches[1]);
    const std::string trackPath = track ? track->relativePath : std::string();
    state.counters.countRequest(Endpoint::Download, authorizationOf(request), trackPath);
    const httplib::Ranges wanted = request.ranges;
    setRanges(request, {});
    if (answeredByFault(state, Endpoint::Download, trackPath, response)) return;
    if (!state.sessions.accountFor(authorizationOf(request))) return sendError(response, 401, kBadToken);
    if (!track) return sendError(response, 404, "No such track.");
    if (!rangesFit(wanted, track->byteSize)) {
        response.set_header("Content-Range", "bytes */" + std::to_string(track->byteSize));
        return sendError(response, 416, "The requested range is outside the track.");
    }
    setRanges(request, wanted);
    std::optional<BodyFault> fault = state.faults.takeBodyFault(Endpoint::Download, trackPath);
    if (fault && fault->kind == BodyFault::Kind::EndlessHeader) return serveEndlessHeader(state, response);
    if (fault && addHeaderDamage(*fault, response)) fault.reset();
    serveTrackFile(*track, fault, state.stop, state.counters, response);
}

void status(ServiceState& state, const Request& request, Response& response) {
    state.counters.countRequest(Endpoint::Status, authorizationOf(request));
    if (answeredByFault(state, Endpoint::Status, {}, response)) return;
    const Account* account = state.sessions.accountFor(authorizationOf(request));
    if (!account) return sendError(response, 401, kBadToken);
    const std::optional<StatusReport> report = parseStatusBody(request.body);
    // A malformed report is kept too: seeing exactly what a broken agent sent is the point.
    state.reports.append(account->email, request.body, report);
    if (!report) return sendError(response, 400, "Expected {\"track_count\": int, \"synced\": bool}.");
    serveJson(dumpJson({{"ok", true}}), state.faults.takeBodyFault(Endpoint::Status), state, response);
}

void dashboard(ServiceState& state, Response& response) {
    state.counters.countDashboard();
    response.set_content(renderDashboard(state.library, state.reports.newest(20), state.startedAt),
                         "text/html; charset=utf-8");
}

}  // namespace

// As common servers do, a request whose cookies run past 4 KiB is refused (431) before it is read
// (past 8 KiB httplib refuses any header line itself, with 400).
constexpr std::size_t kLongestCookies = 4 * 1024;

void installClientRoutes(httplib::Server& server, ServiceState& state) {
    server.set_pre_routing_handler([&state](const Request& request, Response& response) {
        if (!request.path.starts_with("/_dev/")) state.counters.countSeen(authorizationOf(request));
        if (!isDownloadPath(request.path)) setRanges(request, {});
        std::size_t cookies = 0;
        for (auto [at, end] = request.headers.equal_range("Cookie"); at != end; ++at) cookies += at->second.size();
        if (cookies > 0) state.counters.countCookie();
        if (cookies > kLongestCookies) {
            sendError(response, 431, "Request header fields too large.");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Post("/api/client/login", [&state](const Request& q, Response& r) { login(state, q, r); });
    server.Get("/api/client/manifest", [&state](const Request& q, Response& r) { manifest(state, q, r); });
    server.Get(R"(/api/client/tracks/([^/]+)/file)", [&state](const Request& q, Response& r) { download(state, q, r); });
    server.Post("/api/client/status", [&state](const Request& q, Response& r) { status(state, q, r); });
    server.Get("/", [&state](const Request&, Response& r) { dashboard(state, r); });
}

}  // namespace spinforge::devserver
