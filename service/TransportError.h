#pragma once
// A request that failed below HTTP: no connection, a dropped or stalled transfer, TLS.
// The text names the server and what went wrong: "Could not reach 127.0.0.1:8787: Connection
// refused".

#include <QString>
#include <stdexcept>

namespace spinforge {

class TransportError : public std::runtime_error {
public:
    explicit TransportError(const QString& description)
        : std::runtime_error(description.toStdString()) {}
};

}  // namespace spinforge
