#include "service/APIClient.h"

#include "credentials/Keychain.h"
#include "platform/HostName.h"
#include "records/Decoding.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"
#include "service/ReplyErrors.h"
#include "service/TransportError.h"

#include <QCoroNetworkReply>
#include <QNetworkReply>
#include <QPointer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <memory>

namespace spinforge {
namespace {

constexpr qint64 kReadBlockSize = 1024 * 1024;
// A reply read whole (the manifest, the sign-in reply) is held in memory to be decoded: a body
// past this is no reply of the service's, and is refused before it is parsed.
constexpr qint64 kLargestReply = qint64(256) << 20;
// Of a refusal only its "error" text is read; past this a body holds no text worth showing.
constexpr qint64 kLargestErrorText = 64 << 10;
// Redirects followed for one request: a loop ends as a failure, not as a hang.
constexpr int kMostRedirects = 10;

struct LaterDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, LaterDeleter>;
// Sees each reply of an exchange as it is made, before any byte of its body has arrived.
using Watch = std::function<void(QNetworkReply&)>;

// One request as sent, and as a redirect carries it on.
struct Exchange {
    QNetworkRequest request;
    QByteArray verb;  // "GET" or "POST"
    QByteArray body;
};

QString trimmedOf(const QString& text, QChar character) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == character) ++begin;
    while (end > begin && text[end - 1] == character) --end;
    return text.mid(begin, end - begin);
}

bool isHttps(const QUrl& url) { return url.scheme().compare(u"https", Qt::CaseInsensitive) == 0; }

bool isSuccess(std::optional<int> status) { return status && *status >= 200 && *status <= 299; }

// Scheme, host and port: how far the device token and a posted body may go.
bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host(QUrl::FullyEncoded).compare(b.host(QUrl::FullyEncoded), Qt::CaseInsensitive) == 0 &&
           a.port(isHttps(a) ? 443 : 80) == b.port(isHttps(b) ? 443 : 80);
}

QByteArray jsonBody(const nlohmann::json& object) {
    return QByteArray::fromStdString(object.dump());
}

QNetworkReply* start(QNetworkAccessManager& network, const Exchange& exchange) {
    if (exchange.verb == "POST") return network.post(exchange.request, exchange.body);
    return network.get(exchange.request);
}

// The exchange a redirect asks for, or nullopt when `reply` is none to follow (a 3xx without a
// usable Location is left to its status). Throws TransportError for a redirect that is refused.
std::optional<Exchange> redirectOf(const QNetworkReply& reply, const Exchange& sent, const QString& what) {
    const std::optional<int> status = ReplyErrors::statusCode(reply);
    if (reply.error() != QNetworkReply::NoError || !status) return std::nullopt;
    if (*status != 301 && *status != 302 && *status != 303 && *status != 307 && *status != 308) return std::nullopt;
    const QUrl location = QUrl::fromEncoded(reply.rawHeader("Location"), QUrl::StrictMode);
    if (location.isEmpty() || !location.isValid()) return std::nullopt;
    const QUrl from = reply.url();
    const QUrl to = from.resolved(location);
    const auto refused = [&](const QString& why) {
        const QString where =
            to.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
        return TransportError(
            QStringLiteral("The %1 from %2 was redirected to %3%4").arg(what, ReplyErrors::serverName(from), where, why));
    };
    if (!to.isValid() || !APIClient::isWebAddress(to)) throw refused(QStringLiteral(", which is not a web address"));
    Exchange next{QNetworkRequest(to), sent.verb, sent.body};
    // 303, and 301 or 302 after a POST, ask for the new address with GET, as browsers do.
    if (*status == 303 || (sent.verb == "POST" && (*status == 301 || *status == 302))) {
        next.verb = "GET";
        next.body.clear();
    }
    const bool leaves = !sameOrigin(from, to);
    // What was posted (the password, at sign-in) is for the server it was posted to alone.
    if (leaves && next.verb == "POST") throw refused(QStringLiteral(": what was posted is not sent to another server"));
    if (isHttps(from) && !isHttps(to)) throw refused(QStringLiteral(", which is not encrypted"));
    next.request.setTransferTimeout(sent.request.transferTimeout());
    next.request.setDecompressedSafetyCheckThreshold(sent.request.decompressedSafetyCheckThreshold());
    if (next.verb == "POST")
        next.request.setHeader(QNetworkRequest::ContentTypeHeader, sent.request.header(QNetworkRequest::ContentTypeHeader));
    // The token stays with its origin. Once dropped, it stays dropped: the chain is then led by a
    // server that was never given it.
    if (!leaves && sent.request.hasRawHeader("Authorization"))
        next.request.setRawHeader("Authorization", sent.request.rawHeader("Authorization"));
    return next;
}

// The one place replies are obtained. Sends `sent` and follows the service's redirects by hand:
// the network layer's own following would carry the token to wherever a redirect points. Returns
// the last reply once it has finished; throws TransportError naming `what` for a redirect refused.
QCoro::Task<ReplyPtr> exchange(QNetworkAccessManager* network, Exchange sent, QString what, Watch watch) {
    for (int redirects = 0;; ++redirects) {
        ReplyPtr reply(start(*network, sent));
        if (watch) watch(*reply);
        co_await reply.get();
        std::optional<Exchange> next = redirectOf(*reply, sent, what);
        if (!next) co_return reply;
        if (redirects == kMostRedirects)
            throw TransportError(QStringLiteral("The %1 from %2 was redirected more than %3 times")
                                     .arg(what, ReplyErrors::serverName(reply->url()))
                                     .arg(kMostRedirects));
        sent = std::move(*next);
    }
}

}  // namespace

APIClient::APIClient(Keyring& keyring, Settings& settings, Timeouts timeouts)
    : keyring_(keyring), settings_(settings), timeouts_(timeouts) {
    // Redirects are followed by exchange() above, which decides what goes on to the new address.
    network_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
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
    // A token is a header value: one holding a control character would end the header line and
    // add lines of its own to every request. Stored so (by hand, or before sign-in refused such
    // tokens), it is as good as none.
    if (!token || PathSafety::holdsControlCharacter(*token)) throw SpinforgeError::signedOut();
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
    // The final reply's body, kept as it arrives and within bounds; a redirect's is dropped with it.
    QByteArray kept;
    bool tooLarge = false;
    const auto keep = [&](QNetworkReply& reply) {
        const bool success = isSuccess(ReplyErrors::statusCode(reply));
        const qint64 room = (success ? kLargestReply : kLargestErrorText) - kept.size();
        if (success && reply.bytesAvailable() > room) {
            tooLarge = true;
            kept.clear();
            reply.abort();
            return;
        }
        kept += reply.read(std::min(reply.bytesAvailable(), room));
        reply.skip(reply.bytesAvailable());
    };
    // Its size is bounded here as it is decompressed, with the invalid-response text; Qt's own
    // check would end a well-compressed body past 10 MiB as broken.
    request.setDecompressedSafetyCheckThreshold(-1);
    // Named, not temporaries of the co_await's expression: g++ 12 frees those twice.
    const Exchange sent{request, verb, body};
    const Watch watch = [&](QNetworkReply& hop) {
        kept.clear();
        hop.setReadBufferSize(kReadBlockSize);  // what the network layer holds on top of `kept`
        QObject::connect(&hop, &QNetworkReply::readyRead, &hop, [&keep, &hop] { keep(hop); });
    };
    const ReplyPtr reply = co_await exchange(&network_, sent, what, watch);
    if (tooLarge) throw SpinforgeError::invalidResponse();
    ReplyErrors::throwIfTransportFailure(*reply, what);
    keep(*reply);
    if (tooLarge) throw SpinforgeError::invalidResponse();
    validate(ReplyErrors::statusCode(*reply), kept);
    co_return kept;
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
    LoginResponse response = decodeLoginResponse(reply);
    // Every later request carries the token in a header line (see authenticatedRequest).
    if (PathSafety::holdsControlCharacter(response.token)) throw SpinforgeError::invalidResponse();
    co_return response;
}

QCoro::Task<Manifest> APIClient::manifest() {
    const QNetworkRequest request = authenticatedRequest(QStringLiteral("/api/client/manifest"));
    const QByteArray reply = co_await fetch(request, "GET", {}, QStringLiteral("manifest"));
    co_return decodeManifest(reply);
}

QCoro::Task<> APIClient::download(QString path, Destination destination) {
    std::exception_ptr destinationFailure;
    qint64 received = 0;
    // One block reused for the whole body: memory stays flat whatever the track's size.
    QByteArray block(kReadBlockSize, Qt::Uninitialized);
    // The body goes to the destination as it arrives. Any other reply's body (a refusal, a
    // redirect) is let through unread: only its status counts.
    const auto drain = [&](QNetworkReply& reply) {
        if (destinationFailure || !isSuccess(ReplyErrors::statusCode(reply))) {
            reply.skip(reply.bytesAvailable());
            return;
        }
        try {
            while (reply.bytesAvailable() > 0) {
                const qint64 count = reply.read(block.data(), kReadBlockSize);
                if (count <= 0) break;
                received += count;
                destination(block.constData(), count);
            }
        } catch (...) {
            destinationFailure = std::current_exception();
            reply.abort();
        }
    };
    const Exchange sent{authenticatedRequest(path), "GET", {}};
    const QString what = QStringLiteral("download");
    const Watch watch = [&](QNetworkReply& hop) {
        hop.setReadBufferSize(kReadBlockSize);
        QObject::connect(&hop, &QNetworkReply::readyRead, &hop, [&drain, &hop] { drain(hop); });
    };
    const ReplyPtr reply = co_await exchange(&network_, sent, what, watch);
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
                                     .arg(ReplyErrors::serverName(reply->url()))
                                     .arg(received)
                                     .arg(expected.toLongLong()));
    };
    if (reply->error() == QNetworkReply::RemoteHostClosedError && ReplyErrors::statusCode(*reply) == 200) {
        drain(*reply);
        if (destinationFailure) std::rethrow_exception(destinationFailure);
        requireWholeBody();
    }
    ReplyErrors::throwIfTransportFailure(*reply, what);
    drain(*reply);
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
    const Exchange sent{request, "POST", body};
    const QString what = QStringLiteral("status report");
    const Watch unwatched;
    try {
        co_await exchange(&network_, sent, what, unwatched);
    } catch (const TransportError&) {
        // A redirect refused ends the report as any failure of it does: unexamined.
    }
}

}  // namespace spinforge
