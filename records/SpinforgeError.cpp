#include "records/SpinforgeError.h"

namespace spinforge {

SpinforgeError::SpinforgeError(Kind kind, const QString& payload)
    : kind_(kind), payload_(payload), utf8_(errorDescription().toUtf8()) {}

QString SpinforgeError::errorDescription() const {
    switch (kind_) {
    case Kind::server: return payload_;
    case Kind::checksum: return QStringLiteral("Integrity check failed for ") + payload_ + u'.';
    case Kind::invalidServer: return QStringLiteral("Enter a valid Spinforge server URL.");
    case Kind::signedOut: return QStringLiteral("Sign in to this Mac first.");
    case Kind::invalidResponse: return QStringLiteral("The server returned an invalid response.");
    case Kind::invalidUSB: return QStringLiteral("Choose a removable drive mounted under /Volumes.");
    }
    return payload_;
}

QString userDescription(const std::exception& error) {
    return QString::fromUtf8(error.what());
}

}  // namespace spinforge
