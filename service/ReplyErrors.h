#pragma once
// What a reply's status and error text make the user read, and how failures of replies name
// things: the server, and spans of time. Stateless.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace spinforge::ReplyErrors {

// Nothing for a 2xx status. Otherwise throws: the service's "error" text when the body is a JSON
// object that holds one as a string, else signedOut for 401, else "Server request failed (N).";
// invalidResponse when `statusCode` is nullopt (no HTTP reply).
void validate(std::optional<int> statusCode, const QByteArray& body);

// "host:port" (or just the host for a default port), as messages name a server.
QString serverName(const QUrl& url);

// A span of time as messages give it: "500 ms", "1 second", "1.5 seconds".
QString duration(std::chrono::milliseconds span);

}  // namespace spinforge::ReplyErrors
