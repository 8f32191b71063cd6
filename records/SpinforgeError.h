#pragma once
// The system's one error type. Every failure the agent itself detects is one of these cases,
// each carrying the sentence the user reads. Failures from the platform (transport, decoding,
// file system) are other exception types and are shown by their own description.

#include <QString>
#include <QByteArray>
#include <exception>

namespace spinforge {

class SpinforgeError : public std::exception {
public:
    enum class Kind { server, checksum, invalidServer, signedOut, invalidResponse, invalidUSB };

    static SpinforgeError server(const QString& message) { return {Kind::server, message}; }
    static SpinforgeError checksum(const QString& filename) { return {Kind::checksum, filename}; }
    static SpinforgeError invalidServer() { return {Kind::invalidServer, {}}; }
    static SpinforgeError signedOut() { return {Kind::signedOut, {}}; }
    static SpinforgeError invalidResponse() { return {Kind::invalidResponse, {}}; }
    static SpinforgeError invalidUSB() { return {Kind::invalidUSB, {}}; }

    Kind kind() const { return kind_; }
    // The text the user reads, in the tray, a notification or an alert.
    QString errorDescription() const;
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    SpinforgeError(Kind kind, const QString& payload);

    Kind kind_;
    QString payload_;  // the message for `server`, the file name for `checksum`
    QByteArray utf8_;
};

// What the user reads for any failure: every exception the system raises carries its
// user-facing text, UTF-8 encoded, in what().
QString userDescription(const std::exception& error);

}  // namespace spinforge
