#include "service/ReplyErrors.h"

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
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(idleTimeout).count();
        return seconds > 0 ? QStringLiteral("no data for %1 seconds").arg(seconds)
                           : QStringLiteral("no data for %1 ms").arg(idleTimeout.count());
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

bool isTransportFailure(const QNetworkReply& reply) {
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError) return false;
    if (!statusCode(reply)) return true;
    const bool fromHttpStatus = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
                                (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError) ||
                                error == QNetworkReply::ProtocolInvalidOperationError;
    return !fromHttpStatus;
}

QString describeTransportFailure(const QNetworkReply& reply, const QString& what,
                                 std::chrono::milliseconds idleTimeout) {
    const QString server = serverName(reply.url());
    if (!statusCode(reply))
        return QStringLiteral("Could not reach %1: %2").arg(server, reason(reply, idleTimeout));
    return QStringLiteral("The %1 from %2 broke off: %3").arg(what, server, reason(reply, idleTimeout));
}

}  // namespace spinforge::ReplyErrors
