#include "service/ReplyErrors.h"

namespace spinforge::ReplyErrors {

QString duration(std::chrono::milliseconds span) {
    if (span < std::chrono::seconds(1)) return QStringLiteral("%1 ms").arg(span.count());
    const double seconds = double(span.count()) / 1000.0;
    return QStringLiteral("%1 %2").arg(seconds).arg(seconds == 1.0 ? u"second" : u"seconds");
}

QString serverName(const QUrl& url) {
    return url.port() >= 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

}  // namespace spinforge::ReplyErrors
