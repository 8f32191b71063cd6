#include "service/HttpSession.h"

#include "service/ReplyErrors.h"
#include "service/ReplyParser.h"
#include "records/PlatformError.h"
#include "service/ServiceAddress.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <coroutine>
#include <exception>

namespace spinforge {
namespace {

using Request = HttpSession::Request;
using Reading = HttpSession::Reading;

constexpr qint64 kReadBlockSize = 1024 * 1024;
// Of a refusal only its "error" text is read; past this a body holds no text worth showing.
constexpr qint64 kLargestErrorText = 64 << 10;
// Redirects followed for one request: a loop ends as a failure, not as a hang.
constexpr int kMostRedirects = 10;

using ServiceAddress::isEncrypted;
int portOf(const QUrl& url) { return url.port(isEncrypted(url) ? 443 : 80); }
bool isSuccess(int status) { return status >= 200 && status <= 299; }
bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// Scheme, host and port: how far the device token and a posted body may go.
bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host(QUrl::FullyEncoded).compare(b.host(QUrl::FullyEncoded), Qt::CaseInsensitive) == 0 &&
           portOf(a) == portOf(b);
}

QString originOf(const QUrl& url) {
    return url.scheme().toLower() + QStringLiteral("://") + url.host(QUrl::FullyEncoded).toLower() + u':' +
           QString::number(portOf(url));
}

QString from(const Request& sent) {
    return QStringLiteral("The %1 from %2").arg(sent.what, ReplyErrors::serverName(sent.request.url()));
}

std::exception_ptr failure(const QString& text) { return std::make_exception_ptr(PlatformError(PlatformError::Kind::network, text)); }

// The request as it goes on the wire. "identity" is all that is asked for: a reply of a few KiB
// could otherwise inflate to any size. The connection is kept for the next request.
QByteArray requestText(const Request& sent) {
    const QUrl& url = sent.request.url();
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) host = '[' + host + ']';
    if (url.port() >= 0 && url.port() != (isEncrypted(url) ? 443 : 80)) host += ':' + QByteArray::number(url.port());
    QByteArray text = sent.verb + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\nAccept-Encoding: identity\r\n";
    for (const QByteArray& name : sent.request.rawHeaderList()) text += name + ": " + sent.request.rawHeader(name) + "\r\n";
    if (sent.verb == "POST") text += "Content-Length: " + QByteArray::number(sent.body.size()) + "\r\n";
    return text + "\r\n" + sent.body;
}

// The exchange a redirect asks for, or nullopt when `head` is none to follow (a 3xx without a
// usable Location is left to its status). Throws a network PlatformError for a redirect that is refused.
std::optional<Request> redirectOf(const ReplyParser::Head& head, const Request& sent) {
    if (!isRedirect(head.status)) return std::nullopt;
    const QUrl location = QUrl::fromEncoded(head.field("Location"), QUrl::StrictMode);
    if (location.isEmpty() || !location.isValid()) return std::nullopt;
    const QUrl here = sent.request.url();
    const QUrl to = here.resolved(location);
    const auto refused = [&](const QString& why) {
        const QString where =
            to.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
        return PlatformError(PlatformError::Kind::network, QStringLiteral("%1 was redirected to %2%3").arg(from(sent), where, why));
    };
    if (!to.isValid() || !ServiceAddress::isWeb(to) || to.host().isEmpty())
        throw refused(QStringLiteral(", which is not a web address"));
    Request next{QNetworkRequest(to), sent.verb, sent.body, sent.what, sent.tag};
    // 303, and 301 or 302 after a POST, ask for the new address with GET, as browsers do.
    if (head.status == 303 || (sent.verb == "POST" && (head.status == 301 || head.status == 302))) {
        next.verb = "GET";
        next.body.clear();
    }
    const bool leaves = !sameOrigin(here, to);
    // What was posted (the password, at sign-in) is for the server it was posted to alone.
    if (leaves && next.verb == "POST") throw refused(QStringLiteral(": what was posted is not sent to another server"));
    if (isEncrypted(here) && !isEncrypted(to)) throw refused(QStringLiteral(", which is not encrypted"));
    next.request.setTransferTimeout(sent.request.transferTimeout());
    if (next.verb == "POST") next.request.setRawHeader("Content-Type", sent.request.rawHeader("Content-Type"));
    // The token stays with its origin. Once dropped, it stays dropped: the chain is then led by a
    // server that was never given it.
    if (!leaves && sent.request.hasRawHeader("Authorization"))
        next.request.setRawHeader("Authorization", sent.request.rawHeader("Authorization"));
    return next;
}

// What a failed socket says, in the user's words.
QString reasonOf(const QAbstractSocket& socket) {
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError: return QStringLiteral("Connection refused");
    case QAbstractSocket::HostNotFoundError: return QStringLiteral("the server's name was not found");
    case QAbstractSocket::RemoteHostClosedError: return QStringLiteral("the server closed the connection");
    case QAbstractSocket::SslHandshakeFailedError: {
        QStringList errors;
        if (const auto* ssl = qobject_cast<const QSslSocket*>(&socket))
            for (const QSslError& error : ssl->sslHandshakeErrors()) errors << error.errorString();
        return QStringLiteral("the secure connection failed (SSL handshake failed: %1)")
            .arg(errors.isEmpty() ? socket.errorString() : errors.join(QStringLiteral(", ")));
    }
    default: return socket.errorString();
    }
}

}  // namespace

void HttpSession::SocketDeleter::operator()(QAbstractSocket* socket) const {
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
}

// One request and its reply, on a connection of its own or one kept from an earlier reply to the
// same origin. Reads the reply as it arrives and ends it (closing the connection) once it has what
// it needs or has failed; a complete reply leaves its connection to the session for the next.
class HttpSession::Hop {
public:
    Hop(HttpSession& session, const Request& sent, const Reading& reading)
        : session_(session), sent_(sent), reading_(reading) {
        session_.hops_.append(this);
        parser_.onHead = [this](const ReplyParser::Head& head) { onHead(head); };
        parser_.onBody = [this](const char* data, qint64 size) { onBody(data, size); };
        idle_.setSingleShot(true);
        cutoff_.setSingleShot(true);
        QObject::connect(&idle_, &QTimer::timeout, &context_, [this] { onIdle(); });
        QObject::connect(&cutoff_, &QTimer::timeout, &context_, [this] { onCutoff(); });
    }
    ~Hop() { session_.hops_.removeOne(this); }
    Hop(const Hop&) = delete;
    Hop& operator=(const Hop&) = delete;

    void start(bool mayReuse = true) {
        const QUrl url = sent_.request.url();
        if (mayReuse && sent_.verb == "GET") socket_ = session_.takeIdle(originOf(url));
        reused_ = socket_ != nullptr;
        if (!socket_) socket_.reset(isEncrypted(url) ? new QSslSocket : new QTcpSocket);
        socket_->setReadBufferSize(kReadBlockSize);
        QObject::connect(socket_.get(), &QAbstractSocket::readyRead, &context_, [this] { onReadyRead(); });
        QObject::connect(socket_.get(), &QAbstractSocket::bytesWritten, &context_, [this] { touch(); });
        QObject::connect(socket_.get(), &QAbstractSocket::errorOccurred, &context_, [this] { onSocketEnd(); });
        QObject::connect(socket_.get(), &QAbstractSocket::disconnected, &context_, [this] { onSocketEnd(); });
        touch();
        if (!cutoff_.isActive()) cutoff_.start(session_.headerTimeout_);
        if (reused_) return send();
        if (auto* ssl = qobject_cast<QSslSocket*>(socket_.get())) {
            // No protocol is offered by ALPN, whatever the process's defaults: no server may choose HTTP/2.
            QSslConfiguration tls = ssl->sslConfiguration();
            tls.setAllowedNextProtocols({});
            ssl->setSslConfiguration(tls);
            QObject::connect(ssl, &QSslSocket::encrypted, &context_, [this] { send(); });
            ssl->connectToHostEncrypted(url.host(), quint16(portOf(url)));
        } else {
            QObject::connect(socket_.get(), &QAbstractSocket::connected, &context_, [this] { send(); });
            socket_->connectToHost(url.host(), quint16(portOf(url)));
        }
    }

    // Ends the hop with `failure`, unless it ended already.
    void fail(std::exception_ptr failure) {
        if (!failure_ && !complete_) failure_ = failure;
        end();
    }
    // Aborted from outside: the exchange awaiting it goes on at once, from here.
    void cancel() {
        fail(failure(from(sent_) + QStringLiteral(" was cancelled")));
        resume();
    }
    const QString& tag() const { return sent_.tag; }

    // Awaited by the exchange until the hop has ended.
    struct Ending {
        Hop* hop;
        bool await_ready() const noexcept { return hop->complete_; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { hop->waiter_ = waiter; }
        void await_resume() const noexcept {}
    };
    Ending ended() { return {this}; }

    // Once ended: the redirect to follow, or what was answered. Throws the failure.
    std::optional<Request> next() { return std::move(next_); }
    Reply finish() {
        if (failure_) std::rethrow_exception(failure_);
        result_.url = sent_.request.url();
        return std::move(result_);
    }

private:
    enum class Phase { header, body, errorText, done };

    // Data moved: the idle timeout starts again (a request without one has none).
    void touch() {
        if (sent_.request.transferTimeout() > 0) idle_.start(sent_.request.transferTimeout());
    }

    void send() {
        touch();
        socket_->write(requestText(sent_));
    }

    void onReadyRead() {
        touch();
        if (block_.isEmpty()) block_.resize(kReadBlockSize);
        try {
            while (!complete_ && socket_->bytesAvailable() > 0) {
                const qint64 count = socket_->read(block_.data(), block_.size());
                if (count <= 0) break;
                received_ += count;
                parser_.feed(block_.constData(), count);
            }
            if (!complete_ && parser_.complete()) done();
        } catch (const PlatformError& broken) {  // the reply's own framing: callbacks throw nothing
            fail(failure(from(sent_) + QStringLiteral(" could not be read: ") + broken.description()));
        }
    }

    void onHead(const ReplyParser::Head& head) {
        cutoff_.stop();
        result_.status = head.status;
        connectionCloses_ = head.closesConnection();
        try {
            // Asked for uncompressed, it comes uncompressed, or not at all.
            for (const QByteArray& coding : head.field("Content-Encoding").split(',') + head.field("Transfer-Encoding").split(',')) {
                const QByteArray name = coding.trimmed().toLower();
                if (!name.isEmpty() && name != "identity" && name != "chunked")
                    throw PlatformError(PlatformError::Kind::network, from(sent_) + QStringLiteral(" came compressed (%1), which Spinforge does not accept")
                                                           .arg(QString::fromLatin1(name.left(40))));
            }
            next_ = redirectOf(head, sent_);
        } catch (...) {
            return fail(std::current_exception());
        }
        // A redirect's body, and a reply whose body is not wanted, are not read.
        if (next_ || (isSuccess(head.status) && reading_.body == Reading::Body::none)) return end();
        if (!isSuccess(head.status)) {
            // A refusal's error text is read only so far and only for so long: what arrived by
            // then is what the refusal says.
            phase_ = Phase::errorText;
            cutoff_.start(session_.headerTimeout_);
            return;
        }
        phase_ = Phase::body;
        if (reading_.body == Reading::Body::keep && parser_.length()) {
            if (*parser_.length() > reading_.mostKept) return tooLarge();
            result_.kept.reserve(*parser_.length());
        }
    }

    void onBody(const char* data, qint64 size) {
        if (phase_ == Phase::errorText) {
            result_.kept.append(data, std::min(size, kLargestErrorText - result_.kept.size()));
            if (result_.kept.size() >= kLargestErrorText) end();
            return;
        }
        if (reading_.body == Reading::Body::keep) {
            if (result_.kept.size() + size > reading_.mostKept) return tooLarge();
            result_.kept.append(data, size);
            return;
        }
        try {
            reading_.handOn(data, size);
        } catch (...) {
            fail(std::current_exception());
        }
    }

    void tooLarge() {
        result_.tooLarge = true;
        result_.kept = QByteArray();
        end();
    }

    // The connection closed or failed.
    void onSocketEnd() {
        if (complete_) return;
        onReadyRead();  // what arrived before the end
        if (complete_) return;
        const bool unused = received_ == 0;
        if (socket_->error() == QAbstractSocket::RemoteHostClosedError || socket_->state() == QAbstractSocket::UnconnectedState) {
            try {
                parser_.closed();
                return done();
            } catch (const PlatformError& broken) {
                // A kept connection the server closed meanwhile: the request goes again, on a new one.
                if (reused_ && unused) return retry();
                if (parser_.headComplete() && phase_ == Phase::body)
                    return fail(failure(from(sent_) + QStringLiteral(" ended early: ") + broken.description()));
            }
        }
        if (reused_ && unused) return retry();
        fail(failure(parser_.headComplete()
                         ? from(sent_) + QStringLiteral(" broke off: ") + reasonOf(*socket_)
                         : QStringLiteral("Could not reach %1: %2").arg(ReplyErrors::serverName(sent_.request.url()), reasonOf(*socket_))));
    }

    void retry() {
        QObject::disconnect(socket_.get(), nullptr, &context_, nullptr);
        socket_.reset();
        start(false);
    }

    void onIdle() {
        const QString why = QStringLiteral("no data for ") + ReplyErrors::duration(std::chrono::milliseconds(sent_.request.transferTimeout()));
        fail(failure(parser_.headComplete()
                         ? from(sent_) + QStringLiteral(" broke off: ") + why
                         : QStringLiteral("Could not reach %1: %2").arg(ReplyErrors::serverName(sent_.request.url()), why)));
    }

    void onCutoff() {
        if (phase_ == Phase::errorText) return end();
        fail(failure(from(sent_) + QStringLiteral(" did not arrive: no complete header within ") +
                     ReplyErrors::duration(session_.headerTimeout_)));
    }

    // The reply is whole: its connection serves the next request to its origin, unless it says
    // it closes or ends with the connection.
    void done() {
        complete_ = true;
        phase_ = Phase::done;
        idle_.stop();
        cutoff_.stop();
        if (reusable()) {
            QObject::disconnect(socket_.get(), nullptr, &context_, nullptr);
            session_.keepIdle(originOf(sent_.request.url()), std::move(socket_));
        } else {
            socket_.reset();
        }
        resumeLater();
    }

    bool reusable() const {
        return socket_->state() == QAbstractSocket::ConnectedState && socket_->bytesAvailable() == 0 && !connectionCloses_;
    }

    // Nothing more of the reply is read: its connection is closed at once.
    void end() {
        if (complete_) return;
        complete_ = true;
        phase_ = Phase::done;
        parser_.stop();
        idle_.stop();
        cutoff_.stop();
        socket_.reset();
        resumeLater();
    }

    void resume() {
        if (std::coroutine_handle<> waiter = std::exchange(waiter_, nullptr)) waiter.resume();
    }
    // The exchange goes on from the event loop, not from inside a socket's signal.
    void resumeLater() {
        QMetaObject::invokeMethod(&context_, [this] { resume(); }, Qt::QueuedConnection);
    }

    HttpSession& session_;
    const Request& sent_;
    const Reading& reading_;
    QObject context_;  // its connections and queued calls go with it
    Socket socket_;
    ReplyParser parser_;
    QTimer idle_;    // the request's idle timeout
    QTimer cutoff_;  // the header section's time, then a refusal's text's
    QByteArray block_;
    Phase phase_ = Phase::header;
    bool reused_ = false;
    bool connectionCloses_ = false;
    qint64 received_ = 0;
    bool complete_ = false;
    std::coroutine_handle<> waiter_;
    std::exception_ptr failure_;
    std::optional<Request> next_;
    Reply result_;
};

HttpSession::HttpSession(std::chrono::milliseconds headerTimeout) : headerTimeout_(headerTimeout) {}

HttpSession::~HttpSession() {
    abort();  // every exchange still waiting ends while the session is whole
}

QCoro::Task<HttpSession::Reply> HttpSession::exchange(Request sent, Reading reading) {
    Hop* current = nullptr;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        if (current)
            current->fail(failure(from(sent) + QStringLiteral(" took more than ") + ReplyErrors::duration(*reading.deadline)));
    });
    if (reading.deadline) deadline.start(*reading.deadline);
    for (int redirects = 0;; ++redirects) {
        Hop hop(*this, sent, reading);
        current = &hop;
        hop.start();
        co_await hop.ended();
        current = nullptr;
        Reply answer = hop.finish();
        std::optional<Request> next = hop.next();
        if (!next) co_return answer;
        if (redirects == kMostRedirects)
            throw PlatformError(PlatformError::Kind::network, QStringLiteral("%1 was redirected more than %2 times").arg(from(sent)).arg(kMostRedirects));
        sent = std::move(*next);
    }
}

void HttpSession::abort(const QString& tag) {
    // Listed first: an exchange that ends here may start another request or end another.
    const QList<Hop*> inFlight = hops_;
    for (Hop* hop : inFlight)
        if (hops_.contains(hop) && (tag.isEmpty() || hop->tag() == tag)) hop->cancel();
    if (tag.isEmpty()) idle_.clear();
}

HttpSession::Socket HttpSession::takeIdle(const QString& origin) {
    const auto kept = idle_.find(origin);
    if (kept == idle_.end()) return {};
    Socket socket = std::move(kept->second.socket);
    idle_.erase(kept);  // and its watch with it
    if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0) return {};
    return socket;
}

void HttpSession::keepIdle(const QString& origin, Socket socket) {
    Idle& idle = idle_[origin];
    idle = {std::move(socket), std::make_unique<QObject>()};
    // Whatever an idle connection says or does, it is of no use any more.
    QAbstractSocket* kept = idle.socket.get();
    const auto drop = [this, origin, kept] {
        const auto found = idle_.find(origin);
        if (found != idle_.end() && found->second.socket.get() == kept) idle_.erase(found);
    };
    QObject::connect(kept, &QAbstractSocket::readyRead, idle.watch.get(), drop, Qt::QueuedConnection);
    QObject::connect(kept, &QAbstractSocket::disconnected, idle.watch.get(), drop, Qt::QueuedConnection);
}

}  // namespace spinforge
