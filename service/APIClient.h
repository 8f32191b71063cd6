#pragma once
// The agent's only connection to the service: sign-in, manifest, track downloads and status
// reports. Every request is resolved against the "serverURL" setting and, after sign-in,
// carries the device token from the keyring; both are read afresh for each request. Every request
// goes out and every reply is read through one HttpSession, which bounds what a reply can make
// the agent hold, wait for or read (see HttpSession.h). The token never reaches a header unless it
// is one header value, free of control characters, and never travels in clear from a client whose
// server address is https.
//
// Owned by the sync engine for the life of the process. Main thread only: operations are
// coroutines resumed on the Qt event loop, and several may be in flight at once. Failures are
// thrown: SpinforgeError for what the agent detects, PlatformError for what the network, the
// decoder or (a download's destination) the file system report.

#include "credentials/Settings.h"
#include "platform/Keyring.h"
#include "records/Records.h"
#include "service/HttpSession.h"

#include <QCoroTask>
#include <QNetworkRequest>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace spinforge {

struct APITimeouts {
    // Sign-in: how long its reply may take in all, and how long it may wait for data.
    std::chrono::milliseconds login = std::chrono::seconds(60);
    // Every other request: how long it may wait for data before it fails.
    std::chrono::milliseconds request = std::chrono::seconds(1800);
    // How long a reply's header section may take to arrive after the request went out, and a
    // refusal's error text after its header.
    std::chrono::milliseconds header = std::chrono::seconds(60);
};

class APIClient {
public:
    using Timeouts = APITimeouts;

    APIClient(Keyring& keyring, Settings& settings, Timeouts timeouts = {});
    Q_DISABLE_COPY_MOVE(APIClient)

    // Stores the trimmed server address (before any traffic, whatever the outcome), then signs
    // in. The caller stores the returned token. One sign-in at a time: a sign-in still awaiting its
    // reply is aborted by the next one. A reply whose token is blank or holds a control character
    // fails with invalidResponse.
    QCoro::Task<LoginResponse> login(QString server, QString email, QString password);
    QCoro::Task<Manifest> manifest();
    // Receives a download's body block by block, in order, as it arrives; never called for an
    // error reply, whose body is not read. It may throw to end the transfer: the request is aborted
    // and the exception reaches the caller of download.
    using Destination = std::function<void(const char* data, qint64 size)>;
    // Hands the body of a 2xx reply to `destination` and returns once all of it has arrived. A
    // refusal fails before any byte is handed over; a transfer that breaks off fails after. With an
    // https server address, a download that would go over plain http fails before it is sent.
    QCoro::Task<> download(QString path, Destination destination);
    // Tells the service how the cycle went. Never fails; returns once the reply's status has
    // arrived (its body is not read) or the request has failed.
    QCoro::Task<> report(qint64 trackCount, bool synced);
    // Aborts every request in flight: each fails at once as cancelled, so the operations awaiting
    // them end now instead of staying suspended for good. For the end of the process.
    void abortRequests();

private:
    // `reference` resolved against the stored server address (see ServiceAddress::resolve).
    QUrl url(const QString& reference) const;
    // A request for `path` carrying the device token: signedOut without one (checked first),
    // invalidServer or invalidResponse for the address, and a network failure where the token
    // would leave the encrypted line the user chose.
    QNetworkRequest authenticatedRequest(const QString& path) const;
    // Sends `request` and returns the body of its 2xx reply, held in memory: past `mostKept` bytes
    // the reply is dropped and nullopt returned. Throws what the session and validate throw.
    QCoro::Task<std::optional<QByteArray>> fetch(HttpSession::Request request, qint64 mostKept,
                                                 std::optional<std::chrono::milliseconds> deadline);

    // Set once at construction.
    Keyring& keyring_;
    Settings& settings_;
    const Timeouts timeouts_;
    // Main thread only.
    HttpSession session_;
};

}  // namespace spinforge
