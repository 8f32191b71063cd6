// The request address made from the "serverURL" setting and a reference (an API path or a track's
// download_url) is a refusal or an http(s) URL, never a local file or another scheme. Input: the
// setting, a line feed, the reference; without a line feed, no setting and all of it the reference.
#include "fuzz/FuzzSupport.h"
#include "records/SpinforgeError.h"
#include "service/ServiceAddress.h"

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

bool isWebScheme(const QString& scheme) { return scheme == u"http" || scheme == u"https"; }

void checkWebURL(const QUrl& url, const QString& context) {
    if (!url.isValid()) violated("a request URL is valid", context);
    if (!isWebScheme(url.scheme()) || url.isLocalFile())
        violated("a request URL is http(s), never a local file", context + QStringLiteral(" -> ") + shown(url.toString()));
    // The request goes out as the encoded form; read back, it must still be a web address.
    const QUrl sent(QString::fromLatin1(url.toEncoded()), QUrl::StrictMode);
    if (!sent.isValid() || !isWebScheme(sent.scheme()) || sent.isLocalFile())
        violated("a request URL stays http(s) once encoded", context + QStringLiteral(" -> ") + shown(QString::fromLatin1(url.toEncoded())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input = spinforge::fuzz::bytesOf(data, size);
    const qsizetype lineEnd = input.indexOf('\n');
    const std::optional<QString> setting =
        lineEnd < 0 ? std::nullopt : std::optional<QString>(QString::fromUtf8(input.left(lineEnd)));
    const QString reference = QString::fromUtf8(lineEnd < 0 ? input : input.mid(lineEnd + 1));
    const QString context = (setting ? shown(*setting) : QStringLiteral("(no setting)")) + QStringLiteral(" + ") + shown(reference);

    const std::optional<QUrl> base = ServiceAddress::base(setting);
    if (base && !base->isValid()) violated("a base URL is valid", context);
    try {
        const QUrl url = ServiceAddress::resolve(setting, reference);
        if (!base) violated("no request URL without a base URL", context);
        checkWebURL(url, context);
    } catch (const SpinforgeError& error) {
        if (error.kind() != SpinforgeError::Kind::invalidServer && error.kind() != SpinforgeError::Kind::invalidResponse)
            violated("a refused request URL is an invalid server or response", context + QStringLiteral(": ") + error.errorDescription());
    }
    return 0;
}
