#pragma once
// Where the agent's requests go, as the "serverURL" setting and the service's own references
// decide: only web addresses (http, https), the client API's paths at the root of the server's
// host, and the device token never sent in clear from a service the user reached over https.
// Stateless; any thread.

#include <QString>
#include <QUrl>

#include <optional>

namespace spinforge::ServiceAddress {

// The server address as the user typed it, trimmed of surrounding white space, then of "/": what
// sign-in stores as "serverURL". Throws invalidServer unless it is an http(s) URL.
QString entered(const QString& typed);

// The base URL of a "serverURL" setting, its surrounding "/" trimmed: nullopt when there is none
// or it does not parse.
std::optional<QUrl> base(const std::optional<QString>& serverURL);

// `reference` (a path or a URL) resolved against the setting as RFC 3986 resolves it. Throws
// invalidServer when there is no usable base or reference, and invalidResponse when it resolves to
// anything but an http(s) URL, so no request ever reads a local file.
QUrl resolve(const std::optional<QString>& serverURL, const QString& reference);

// Whether the agent may send a request to `url`, or open it in a browser: http or https, in any
// letter case.
bool isWeb(const QUrl& url);
// Whether `url` is reached over https.
bool isEncrypted(const QUrl& url);

// Throws a network PlatformError when a request carrying the device token to `url` would leave
// in clear the encrypted line the user chose to the service.
void requireTokenStaysEncrypted(const std::optional<QString>& serverURL, const QUrl& url);

}  // namespace spinforge::ServiceAddress
