#pragma once
// How a finished QNetworkReply is read: did an HTTP reply arrive, and if the transfer itself
// failed, what the user should read about it.

#include <QNetworkReply>
#include <QString>
#include <chrono>
#include <optional>

namespace spinforge::ReplyErrors {

// The HTTP status, or nullopt when no HTTP reply arrived.
std::optional<int> statusCode(const QNetworkReply& reply);

// Whether the reply failed below HTTP (connection, TLS, a broken or stalled transfer). Errors
// that Qt derives from an HTTP status are not transport failures: the status says it all.
bool isTransportFailure(const QNetworkReply& reply);

// "Could not reach 127.0.0.1:8787: Connection refused", or, once the reply had begun,
// "The connection to 127.0.0.1:8787 broke off: the server closed the connection".
// `idleTimeout` names the limit when the reply was cancelled for inactivity.
QString describeTransportFailure(const QNetworkReply& reply, std::chrono::milliseconds idleTimeout);

}  // namespace spinforge::ReplyErrors
