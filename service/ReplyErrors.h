#pragma once
// How a finished QNetworkReply is read: did an HTTP reply arrive, and if the transfer itself
// failed, what the user should read about it.

#include <QNetworkReply>
#include <QString>
#include <chrono>
#include <optional>

namespace spinforge::ReplyErrors {

// "host:port" (or just the host for a default port), as messages name a server.
QString serverName(const QUrl& url);

// The HTTP status, or nullopt when no HTTP reply arrived.
std::optional<int> statusCode(const QNetworkReply& reply);

// Whether the reply failed below HTTP (connection, TLS, a broken or stalled transfer). Errors
// that Qt derives from an HTTP status are not transport failures: the status says it all.
bool isTransportFailure(const QNetworkReply& reply);

// "Could not reach 127.0.0.1:8787: Connection refused", or, once the reply had begun,
// "The download from 127.0.0.1:8787 broke off: no data for 1800 seconds". `what` names the
// reply ("download", "manifest", "sign-in reply"); `idleTimeout` is the request's limit.
QString describeTransportFailure(const QNetworkReply& reply, const QString& what,
                                 std::chrono::milliseconds idleTimeout);

}  // namespace spinforge::ReplyErrors
