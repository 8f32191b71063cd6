#pragma once
// The one way the agent talks HTTP. Every exchange with the service (sign-in, manifest, downloads,
// reports, and each one's redirects and refusals) is sent and read here, on a socket of its own
// (QTcpSocket, QSslSocket), so that every bound holds for all of them, whatever the endpoint, and
// ending an exchange closes its connection there and then. (Qt's own HTTP layer has no bound on
// an HTTP/2 header block, and its network thread reads on, for good, a header section that never
// ends, even after its reply is aborted.)
// - HTTP/1.1 only, replies uncompressed ("identity" is all that is asked for; a reply compressed
//   anyway fails), and no cookies kept or sent;
// - a header section of more than 100 fields or 64 KiB fails at once, and one that is not complete
//   `headerTimeout` after the request went out fails then, as transport failures naming the server;
// - a 2xx body is kept within a bound, handed on block by block, or not read at all, as the caller
//   says; of a refusal only its first 64 KiB (its error text) is read, within `headerTimeout`;
//   nothing of a redirect's body is read;
// - nothing is read past the end of an exchange, nor past its failure: the reply is aborted and
//   its connection closed.
// Redirects are followed here by hand, so that the token and a posted body never go on to another
// origin (scheme, host, port) and a redirect never leaves https for http.
//
// Owned by the service client. Main thread only; several exchanges may run at once.

#include <QAbstractSocket>
#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace spinforge {

class HttpSession {
public:
    // One request as the caller builds it: `request` carries the URL, the headers of the caller's
    // own and the idle timeout (QNetworkRequest::transferTimeout).
    struct Request {
        QNetworkRequest request;
        QByteArray verb = "GET";  // "GET" or "POST"
        QByteArray body = {};
        QString what;                 // "manifest", "download": how failures name the reply
        QString tag = {};             // names the exchange for abort(tag)
    };

    // What is done with the body of a 2xx reply.
    struct Reading {
        enum class Body { keep, handOn, none };
        Body body = Body::none;
        qint64 mostKept = 0;  // keep: past this many bytes the exchange ends as `tooLarge`
        // handOn: receives each block, in order, as it arrives. It may throw to end the exchange:
        // the reply is aborted and the exception reaches the caller.
        std::function<void(const char* data, qint64 size)> handOn = {};
        // How long the whole exchange may take, redirects included; none: no limit of its own.
        std::optional<std::chrono::milliseconds> deadline = {};
    };

    struct Reply {
        std::optional<int> status;  // nullopt: the reply was not an HTTP response
        QByteArray kept;            // keep: the 2xx body; any reading: the start of a refusal's body
        bool tooLarge = false;      // keep: the body ran past `mostKept` (nothing of it is kept)
        QUrl url;                   // where the last request went
    };

    explicit HttpSession(std::chrono::milliseconds headerTimeout);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Sends `request`, follows the redirects allowed, and reads the final reply as `reading` says.
    // A refusal (a non-2xx status) is returned, not thrown. Throws a network PlatformError naming
    // `request.what` and the server: no reply, a broken or stalled transfer, a body that ended short
    // of its announced length, an unreadable or late header section, a compressed reply, a refused
    // redirect, the deadline passed. Throws what `handOn` throws.
    QCoro::Task<Reply> exchange(Request request, Reading reading);

    // Aborts every exchange in flight, or those tagged `tag`: each fails at once, so the operations
    // awaiting them end now instead of staying suspended.
    void abort(const QString& tag = {});

private:
    class Hop;
    // Sockets go later: one may be let go of inside its own signal.
    struct SocketDeleter {
        void operator()(QAbstractSocket* socket) const;
    };
    using Socket = std::unique_ptr<QAbstractSocket, SocketDeleter>;
    // A connection kept after a whole reply, for the next request to the same origin, and what
    // drops it when it closes or speaks out of turn.
    struct Idle {
        Socket socket;
        std::unique_ptr<QObject> watch;
    };

    Socket takeIdle(const QString& origin);
    void keepIdle(const QString& origin, Socket socket);

    // Set once at construction.
    const std::chrono::milliseconds headerTimeout_;
    // Main thread only.
    QList<Hop*> hops_;                 // in flight
    std::map<QString, Idle> idle_;     // by origin ("https://host:443")
};

}  // namespace spinforge
