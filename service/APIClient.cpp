#include "service/APIClient.h"

#include "credentials/Keychain.h"
#include "platform/HostName.h"
#include "records/Decoding.h"
#include "records/SpinforgeError.h"
#include "service/ReplyErrors.h"
#include "service/TransportError.h"

#include <QCoroNetworkReply>
#include <QNetworkReply>
#include <QPointer>

#include <nlohmann/json.hpp>

#include <exception>
#include <memory>

namespace spinforge {
namespace {

constexpr qint64 kReadBlockSize = 1024 * 1024;

struct LaterDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, LaterDeleter>;

QString trimmedOf(const QString& text, QChar character) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == character) ++begin;
    while (end > begin && text[end - 1] == character) --end;
    return text.mid(begin, end - begin);
}

QByteArray jsonBody(const nlohmann::json& object) {
    return QByteArray::fromStdString(object.dump());
}

}  // namespace

APIClient::APIClient(Keyring& keyring, Settings& settings, Timeouts timeouts)
    : keyring_(keyring), settings_(settings), timeouts_(timeouts) {
    network_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

QUrl APIClient::url(const QString& reference) const { return requestURL(settings_.serverURL(), reference); }

bool APIClient::isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

std::optional<QUrl> APIClient::baseURLOf(const std::optional<QString>& serverURL) {
    if (!serverURL) return std::nullopt;
    const QUrl base(trimmedOf(*serverURL, u'/'), QUrl::StrictMode);
    if (!base.isValid()) return std::nullopt;
    return base;
}

QUrl APIClient::requestURL(const std::optional<QString>& serverURL, const QString& reference) {
    const std::optional<QUrl> base = baseURLOf(serverURL);
    if (!base) throw SpinforgeError::invalidServer();
    const QUrl relative(reference, QUrl::StrictMode);
    if (!relative.isValid()) throw SpinforgeError::invalidServer();
    const QUrl resolved = base->resolved(relative);
    // Only web requests leave the agent: a reference that resolved to a local file or another
    // scheme would read from this machine instead of the service. Resolving can also yield no
    // URL at all ("http:/a" with "..//b" gives a path starting "//" without a host).
    if (!resolved.isValid() || !isWebAddress(resolved)) throw SpinforgeError::invalidResponse();
    return resolved;
}

QNetworkRequest APIClient::authenticatedRequest(const QString& path) const {
    const std::optional<QString> token = Keychain::load(keyring_);
    if (!token) throw SpinforgeError::signedOut();
    QNetworkRequest request(url(path));
    request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    request.setTransferTimeout(int(timeouts_.request.count()));
    return request;
}

void APIClient::validate(std::optional<int> statusCode, const QByteArray& body) {
    if (!statusCode) throw SpinforgeError::invalidResponse();
    if (*statusCode >= 200 && *statusCode <= 299) return;
    const auto parsed = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_object()) {
        const auto error = parsed.find("error");
        if (error != parsed.end() && error->is_string())
            throw SpinforgeError::server(QString::fromStdString(error->get<std::string>()));
    }
    if (*statusCode == 401) throw SpinforgeError::signedOut();
    throw SpinforgeError::server(QStringLiteral("Server request failed (%1).").arg(*statusCode));
}

QCoro::Task<QByteArray> APIClient::fetch(QNetworkRequest request, QByteArray verb, QByteArray body, QString what) {
    ReplyPtr reply(network_.sendCustomRequest(request, verb, body));
    co_await reply.get();
    ReplyErrors::throwIfTransportFailure(*reply, what);
    const QByteArray replyBody = reply->readAll();
    validate(ReplyErrors::statusCode(*reply), replyBody);
    co_return replyBody;
}

QCoro::Task<LoginResponse> APIClient::login(QString server, QString email, QString password) {
    const QString address = trimmedOf(server.trimmed(), u'/');
    const QUrl parsed(address, QUrl::StrictMode);
    if (!parsed.isValid() || !isWebAddress(parsed)) throw SpinforgeError::invalidServer();
    settings_.setServerURL(address);

    QNetworkRequest request(url(QStringLiteral("/api/client/login")));
    request.setTransferTimeout(int(timeouts_.login.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray body = jsonBody({{"email", email.toStdString()},
                                      {"password", password.toStdString()},
                                      {"device_name", HostName::localizedName().toStdString()}});
    const QByteArray reply = co_await fetch(request, "POST", body, QStringLiteral("sign-in reply"));
    co_return decodeLoginResponse(reply);
}

QCoro::Task<Manifest> APIClient::manifest() {
    const QNetworkRequest request = authenticatedRequest(QStringLiteral("/api/client/manifest"));
    const QByteArray reply = co_await fetch(request, "GET", {}, QStringLiteral("manifest"));
    co_return decodeManifest(reply);
}

QCoro::Task<> APIClient::download(QString path, Destination destination) {
    const QNetworkRequest request = authenticatedRequest(path);
    ReplyPtr reply(network_.get(request));
    reply->setReadBufferSize(kReadBlockSize);
    // The body goes to the destination as it arrives. An error reply's body is let through
    // unread: only its status counts.
    std::exception_ptr destinationFailure;
    qint64 received = 0;
    // One block reused for the whole body: memory stays flat whatever the track's size.
    QByteArray block(kReadBlockSize, Qt::Uninitialized);
    const auto drain = [&] {
        const std::optional<int> status = ReplyErrors::statusCode(*reply);
        if (destinationFailure || (status && (*status < 200 || *status > 299))) {
            reply->skip(reply->bytesAvailable());
            return;
        }
        try {
            while (reply->bytesAvailable() > 0) {
                const qint64 count = reply->read(block.data(), kReadBlockSize);
                if (count <= 0) break;
                received += count;
                destination(block.constData(), count);
            }
        } catch (...) {
            destinationFailure = std::current_exception();
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), drain);
    co_await reply.get();
    if (destinationFailure) std::rethrow_exception(destinationFailure);
    // A body that ends short of its announced length is a broken transfer, even when the
    // connection closed cleanly; told the same way whichever side noticed first. (A compressed
    // body's length counts the compressed bytes.)
    const auto requireWholeBody = [&] {
        const QVariant expected = reply->header(QNetworkRequest::ContentLengthHeader);
        const QByteArray encoding = reply->rawHeader("Content-Encoding").toLower();
        const bool compressed = !encoding.isEmpty() && encoding != "identity";
        if (expected.isValid() && !compressed && expected.toLongLong() != received)
            throw TransportError(QStringLiteral("The download from %1 ended early: %2 of %3 bytes arrived")
                                     .arg(ReplyErrors::serverName(request.url()))
                                     .arg(received)
                                     .arg(expected.toLongLong()));
    };
    if (reply->error() == QNetworkReply::RemoteHostClosedError && ReplyErrors::statusCode(*reply) == 200) {
        drain();
        if (destinationFailure) std::rethrow_exception(destinationFailure);
        requireWholeBody();
    }
    ReplyErrors::throwIfTransportFailure(*reply, QStringLiteral("download"));
    drain();
    if (destinationFailure) std::rethrow_exception(destinationFailure);
    validate(ReplyErrors::statusCode(*reply), {});
    requireWholeBody();
}

void APIClient::abortRequests() {
    // Listed first: an operation that ends here may start another request or let its reply go.
    QList<QPointer<QNetworkReply>> inFlight;
    for (QNetworkReply* reply : network_.findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly)) inFlight << reply;
    for (const QPointer<QNetworkReply>& reply : inFlight)
        if (reply && reply->isRunning()) reply->abort();
}

QCoro::Task<> APIClient::report(qint64 trackCount, bool synced) {
    QNetworkRequest request;
    try {
        request = authenticatedRequest(QStringLiteral("/api/client/status"));
    } catch (const SpinforgeError&) {
        co_return;  // not signed in, or no usable server: nothing to report to
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray body = jsonBody({{"track_count", trackCount}, {"synced", synced}});
    ReplyPtr reply(network_.post(request, body));
    co_await reply.get();
}

}  // namespace spinforge
