#include "service/APIClient.h"

#include "credentials/Keychain.h"
#include "platform/HostName.h"
#include "records/Decoding.h"
#include "records/PathSafety.h"
#include "records/SpinforgeError.h"
#include "service/ReplyErrors.h"
#include "service/ServiceAddress.h"

#include <nlohmann/json.hpp>

namespace spinforge {
namespace {

// A reply read whole to be decoded is held in memory: past this a manifest is no reply of the
// service's, and is refused before it is parsed.
constexpr qint64 kLargestManifest = qint64(256) << 20;
// A sign-in reply is three short fields.
constexpr qint64 kLargestSignInReply = 64 << 10;
// Names the sign-in's exchanges, so that the next sign-in can end them.
const QString kSignInTag = QStringLiteral("sign-in");

QByteArray jsonBody(const nlohmann::json& object) {
    return QByteArray::fromStdString(object.dump());
}

}  // namespace

APIClient::APIClient(Keyring& keyring, Settings& settings, Timeouts timeouts)
    : keyring_(keyring), settings_(settings), timeouts_(timeouts), session_(timeouts.header) {}

QUrl APIClient::url(const QString& reference) const { return ServiceAddress::resolve(settings_.serverURL(), reference); }

QNetworkRequest APIClient::authenticatedRequest(const QString& path) const {
    const std::optional<QString> token = Keychain::load(keyring_);
    // A token is a header value: one holding a control character would end the header line and
    // add lines of its own to every request. Stored so (by hand, or before sign-in refused such
    // tokens), it is as good as none.
    if (!token || PathSafety::holdsControlCharacter(*token)) throw SpinforgeError::signedOut();
    QNetworkRequest request(url(path));
    // The user chose an encrypted line to the service: the token never leaves it in clear, not even
    // for an address the manifest gives. (Redirects are held to the same rule by the session.)
    ServiceAddress::requireTokenStaysEncrypted(settings_.serverURL(), request.url());
    request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    request.setTransferTimeout(int(timeouts_.request.count()));
    return request;
}

QCoro::Task<std::optional<QByteArray>> APIClient::fetch(HttpSession::Request request, qint64 mostKept,
                                                        std::optional<std::chrono::milliseconds> deadline) {
    HttpSession::Reading reading{HttpSession::Reading::Body::keep, mostKept};
    reading.deadline = deadline;
    HttpSession::Reply reply = co_await session_.exchange(std::move(request), std::move(reading));
    if (reply.tooLarge) co_return std::nullopt;
    ReplyErrors::validate(reply.status, reply.kept);
    co_return std::move(reply.kept);
}

QCoro::Task<LoginResponse> APIClient::login(QString server, QString email, QString password) {
    const QString address = ServiceAddress::entered(server);
    // The newest sign-in wins: one still waiting would store its token with this one's address.
    session_.abort(kSignInTag);
    settings_.setServerURL(address);

    QNetworkRequest request(url(QStringLiteral("/api/client/login")));
    request.setTransferTimeout(int(timeouts_.login.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray body = jsonBody({{"email", email.toStdString()},
                                      {"password", password.toStdString()},
                                      {"device_name", HostName::localizedName().toStdString()}});
    HttpSession::Request sent{request, "POST", body, QStringLiteral("sign-in reply"), kSignInTag};
    const std::optional<QByteArray> reply = co_await fetch(std::move(sent), kLargestSignInReply, timeouts_.login);
    if (!reply)
        throw PlatformError(PlatformError::Kind::decoding, QStringLiteral("The server's sign-in reply is too large"),
                            QStringLiteral("more than 64 KiB"));
    LoginResponse response = decodeLoginResponse(*reply);
    // Every later request carries the token in a header line (see authenticatedRequest); a blank
    // one would be stored as a sign-in and fail every cycle.
    if (PathSafety::holdsControlCharacter(response.token) || response.token.trimmed().isEmpty())
        throw SpinforgeError::invalidResponse();
    co_return response;
}

QCoro::Task<Manifest> APIClient::manifest() {
    HttpSession::Request sent{authenticatedRequest(QStringLiteral("/api/client/manifest")), "GET", {},
                              QStringLiteral("manifest")};
    std::optional<QByteArray> reply = co_await fetch(std::move(sent), kLargestManifest, std::nullopt);
    if (!reply)
        throw PlatformError(PlatformError::Kind::decoding, QStringLiteral("The server's manifest is too large"),
                            QStringLiteral("more than 256 MiB"));
    co_return decodeManifest(std::move(*reply));
}

QCoro::Task<> APIClient::download(QString path, Destination destination) {
    HttpSession::Request sent{authenticatedRequest(path), "GET", {}, QStringLiteral("download")};
    // The body goes to the destination as it arrives; a refusal's is not handed on.
    HttpSession::Reading reading{HttpSession::Reading::Body::handOn};
    reading.handOn = std::move(destination);
    const HttpSession::Reply reply = co_await session_.exchange(std::move(sent), std::move(reading));
    // A download never shows a service's error text: only the status counts.
    ReplyErrors::validate(reply.status, {});
}

void APIClient::abortRequests() { session_.abort(); }

QCoro::Task<> APIClient::report(qint64 trackCount, bool synced) {
    QNetworkRequest request;
    try {
        request = authenticatedRequest(QStringLiteral("/api/client/status"));
    } catch (const std::exception&) {
        co_return;  // not signed in, or no usable server: nothing to report to
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray body = jsonBody({{"track_count", trackCount}, {"synced", synced}});
    HttpSession::Request sent{request, "POST", body, QStringLiteral("status report")};
    // Its status and body are not examined: the exchange ends once the status has arrived.
    HttpSession::Reading reading{HttpSession::Reading::Body::none};
    try {
        co_await session_.exchange(std::move(sent), std::move(reading));
    } catch (const PlatformError&) {
        // A failure ends the report as any end of it does: unexamined.
    }
}

}  // namespace spinforge
