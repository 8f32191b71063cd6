#pragma once
// How failures of the service's replies name things: the server, and spans of time.

#include <QString>
#include <QUrl>

#include <chrono>

namespace spinforge::ReplyErrors {

// "host:port" (or just the host for a default port), as messages name a server.
QString serverName(const QUrl& url);

// A span of time as messages give it: "500 ms", "1 second", "1.5 seconds".
QString duration(std::chrono::milliseconds span);

}  // namespace spinforge::ReplyErrors
