#pragma once
// What the platform reports when it fails the agent: the file system, the network, or the reply
// that does not decode. The agent's own kinds of failure are SpinforgeError's; these carry the
// platform's account, worded for the DJ: what failed, on which file or server, and why.
//   "Could not copy House/a.mp3 to DJSTICK: No space left on device"
//   "Could not reach 127.0.0.1:8787: Connection refused"
//   "The server's manifest is invalid: tracks[4].provider_id must be a string"
// Thrown; a plain value otherwise, copied freely.

#include <QByteArray>
#include <QString>

#include <exception>

namespace spinforge {

class PlatformError : public std::exception {
public:
    enum class Kind {
        file,      // the library's disk or a drive
        network,   // reaching the service, or a transfer that broke off
        decoding,  // a reply that is not the record it should be
    };

    // `failed` says what failed, on which file or server ("Could not write /x/a.mp3"); `why` the
    // reason in the system's or our words, or nothing when `failed` says it all.
    PlatformError(Kind kind, const QString& failed, const QString& why = {});

    Kind kind() const { return kind_; }
    // The text the user reads: "<failed>: <why>".
    QString description() const { return QString::fromUtf8(text_); }
    const char* what() const noexcept override { return text_.constData(); }

private:
    Kind kind_;
    QByteArray text_;
};

}  // namespace spinforge
