#include "service/ReplyErrors.h"

#include "records/SpinforgeError.h"

#include <nlohmann/json.hpp>

namespace spinforge::ReplyErrors {

QString duration(std::chrono::milliseconds span) {
    if (span < std::chrono::seconds(1)) return QStringLiteral("%1 ms").arg(span.count());
    const double seconds = double(span.count()) / 1000.0;
    return QStringLiteral("%1 %2").arg(seconds).arg(seconds == 1.0 ? u"second" : u"seconds");
}

QString serverName(const QUrl& url) {
    return url.port() >= 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

void validate(std::optional<int> statusCode, const QByteArray& body) {
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

}  // namespace spinforge::ReplyErrors
