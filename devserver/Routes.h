#pragma once

#include "devserver/ServiceState.h"

#include <httplib.h>

namespace spinforge::devserver {

// The client API the agent talks to, and the dashboard at "/".
void installClientRoutes(httplib::Server& server, ServiceState& state);

// /_dev/*: fault switches, counters and reports for tests. No token: loopback tool only.
void installDevRoutes(httplib::Server& server, ServiceState& state);

// JSON 404 for every path nothing else answers; install last.
void installFallbackRoutes(httplib::Server& server);

}  // namespace spinforge::devserver
