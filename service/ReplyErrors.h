#pragma once
// How a finished QNetworkReply is read: did an HTTP reply arrive, and if the transfer itself
// failed, what the user should read about it.

#include <QNetworkReply>
#include <QString>
#include <optional>

namespace spinforge::ReplyErrors {

// "host:port" (or just the host for a default port), as messages name a server.
QString serverName(const QUrl& url);

// The HTTP status, or nullopt when no HTTP reply arrived.
std::optional<int> statusCode(const QNetworkReply& reply);

// Throws TransportError when the reply failed below HTTP, with a text naming the server and,
// once the reply had begun, `what` broke off ("download", "manifest", "sign-in reply"):
// "Could not reach 127.0.0.1:8787: Connection refused",
// "The download from 127.0.0.1:8787 broke off: no data for 1800 seconds".
void throwIfTransportFailure(const QNetworkReply& reply, const QString& what);

}  // namespace spinforge::ReplyErrors
