#include "service/ServiceAddress.h"

#include "records/PlatformError.h"
#include "records/SpinforgeError.h"
#include "service/ReplyErrors.h"

namespace spinforge::ServiceAddress {
namespace {

QString trimmedOf(const QString& text, QChar character) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == character) ++begin;
    while (end > begin && text[end - 1] == character) --end;
    return text.mid(begin, end - begin);
}

}  // namespace

QString entered(const QString& typed) {
    const QString address = trimmedOf(typed.trimmed(), u'/');
    const QUrl parsed(address, QUrl::StrictMode);
    if (!parsed.isValid() || !isWeb(parsed)) throw SpinforgeError::invalidServer();
    return address;
}

std::optional<QUrl> base(const std::optional<QString>& serverURL) {
    if (!serverURL) return std::nullopt;
    const QUrl base(trimmedOf(*serverURL, u'/'), QUrl::StrictMode);
    if (!base.isValid()) return std::nullopt;
    return base;
}

QUrl resolve(const std::optional<QString>& serverURL, const QString& reference) {
    const std::optional<QUrl> from = base(serverURL);
    if (!from) throw SpinforgeError::invalidServer();
    const QUrl relative(reference, QUrl::StrictMode);
    if (!relative.isValid()) throw SpinforgeError::invalidServer();
    const QUrl resolved = from->resolved(relative);
    // Only web requests leave the agent: a reference that resolved to a local file or another
    // scheme would read from this machine instead of the service. Resolving can also yield no
    // URL at all ("http:/a" with "..//b" gives a path starting "//" without a host).
    if (!resolved.isValid() || !isWeb(resolved)) throw SpinforgeError::invalidResponse();
    return resolved;
}

bool isWeb(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

bool isEncrypted(const QUrl& url) { return url.scheme().compare(u"https", Qt::CaseInsensitive) == 0; }

void requireTokenStaysEncrypted(const std::optional<QString>& serverURL, const QUrl& url) {
    const std::optional<QUrl> service = base(serverURL);
    if (!service || !isEncrypted(*service) || isEncrypted(url)) return;
    throw PlatformError(PlatformError::Kind::network,
                        QStringLiteral("The request to %1 would not be encrypted (%2), and the device token goes only over https")
                            .arg(ReplyErrors::serverName(url), url.scheme().toLower()));
}

}  // namespace spinforge::ServiceAddress
