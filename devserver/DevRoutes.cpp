#include "devserver/HttpJson.h"
#include "devserver/Routes.h"

namespace spinforge::devserver {
namespace {

using httplib::Request;
using httplib::Response;

void addFault(ServiceState& state, const Request& request, Response& response) {
    try {
        state.faults.add(parseFault(request.body));
        sendJson(response, 200, {{"ok", true}});
    } catch (const FaultError& e) {
        sendError(response, 400, e.what());
    }
}

void reset(ServiceState& state, Response& response) {
    state.faults.clear();
    state.counters.reset();
    sendJson(response, 200, {{"ok", true}});
}

}  // namespace

void installDevRoutes(httplib::Server& server, ServiceState& state) {
    server.Post("/_dev/fault", [&state](const Request& q, Response& r) { addFault(state, q, r); });
    server.Post("/_dev/reset", [&state](const Request&, Response& r) { reset(state, r); });
    server.Get("/_dev/counters", [&state](const Request&, Response& r) {
        nlohmann::json counts = state.counters.snapshot();
        counts["faults_used"] = state.faults.uses();
        sendJson(r, 200, counts);
    });
    server.Get("/_dev/reports", [&state](const Request&, Response& r) { sendJson(r, 200, state.reports.all()); });
}

void installFallbackRoutes(httplib::Server& server) {
    const auto noSuchEndpoint = [](const Request&, Response& r) { sendError(r, 404, "No such endpoint."); };
    server.Get(".*", noSuchEndpoint);
    server.Post(".*", noSuchEndpoint);
    server.Put(".*", noSuchEndpoint);
    server.Delete(".*", noSuchEndpoint);
}

}  // namespace spinforge::devserver
