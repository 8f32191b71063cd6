#include "service/ReplyErrors.h"

#include "service/TransportError.h"

#include <chrono>

namespace spinforge::ReplyErrors {
namespace {

QString reason(const QNetworkReply& reply, std::chrono::milliseconds idleTimeout) {
    switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError: return QStringLiteral("Connection refused");
    case QNetworkReply::HostNotFoundError: return QStringLiteral("the server's name was not found");
    case QNetworkReply::RemoteHostClosedError: return QStringLiteral("the server closed the connection");
    case QNetworkReply::TimeoutError:
    // The client never cancels a request on its own, so a cancellation is the idle timeout.
    case QNetworkReply::OperationCanceledError: {
        if (idleTimeout < std::chrono::seconds(1)) return QStringLiteral("no data for %1 ms").arg(idleTimeout.count());
        const double seconds = double(idleTimeout.count()) / 1000.0;
        return QStringLiteral("no data for %1 %2").arg(seconds).arg(seconds == 1.0 ? u"second" : u"seconds");
    }
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("the secure connection failed (%1)").arg(reply.errorString());
    default: return reply.errorString();
    }
}

}  // namespace

QString serverName(const QUrl& url) {
    return url.port() >= 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

std::optional<int> statusCode(const QNetworkReply& reply) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return std::nullopt;
    return status.toInt();
}

// Whether the reply failed below HTTP (connection, TLS, a broken or stalled transfer). Errors
// that Qt derives from an HTTP status are not transport failures: the status says it all.
static bool isTransportFailure(const QNetworkReply& reply) {
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError) return false;
    const std::optional<int> status = statusCode(reply);
    // No HTTP reply, or a successful one whose body then failed (a broken compressed stream):
    // either way what arrived is not the service's answer.
    if (!status || (*status >= 200 && *status <= 299)) return true;
    const bool fromHttpStatus = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
                                (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError) ||
                                error == QNetworkReply::ProtocolInvalidOperationError;
    return !fromHttpStatus;
}

void throwIfTransportFailure(const QNetworkReply& reply, const QString& what) {
    if (!isTransportFailure(reply)) return;
    const QString server = serverName(reply.url());
    const QString why = reason(reply, std::chrono::milliseconds(reply.request().transferTimeout()));
    if (!statusCode(reply)) throw TransportError(QStringLiteral("Could not reach %1: %2").arg(server, why));
    throw TransportError(QStringLiteral("The %1 from %2 broke off: %3").arg(what, server, why));
}

}  // namespace spinforge::ReplyErrors
