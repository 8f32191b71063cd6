#pragma once
// Reads an HTTP/1.1 reply as its bytes arrive, within bounds set here: a header section of at most
// 64 KiB and 100 fields (interim 1xx replies counted in), chunk lines and trailers as small. The
// body is handed on as it comes, framed by its length, its chunks or the end of the connection.
// Nothing is buffered but the line being read.
//
// A value type; one per reply. Not thread-safe.

#include <QByteArray>
#include <QList>
#include <QPair>

#include <functional>
#include <optional>

namespace spinforge {

class ReplyParser {
public:
    struct Head {
        int status = 0;
        int minorVersion = 1;                          // HTTP/1.x
        QList<QPair<QByteArray, QByteArray>> fields;  // in order, names as sent, values trimmed
        // The values of every field named `name` (in any letter case), joined by ", ".
        QByteArray field(const QByteArray& name) const;
        // Whether the server closes the connection after this reply.
        bool closesConnection() const;
    };

    // Receives the head once it is complete, before any byte of the body.
    std::function<void(const Head&)> onHead;
    // Receives each piece of the body, in order.
    std::function<void(const char* data, qint64 size)> onBody;

    // Reads the next bytes. A reply that is no HTTP/1 reply, or breaks its own framing, throws a
    // network PlatformError saying how, for "... could not be read: ": "its header is too large",
    // "its chunks are malformed". Once stop() is called (by a callback, say) the rest is
    // not read.
    void feed(const char* data, qint64 size);
    // The connection closed. Throws the same when that cut the reply short: the message then says
    // how much of the body had arrived.
    void closed();
    void stop() { state_ = State::stopped; }

    bool headComplete() const { return headComplete_; }
    bool complete() const { return state_ == State::done; }
    // The body's announced length, when it had one.
    std::optional<qint64> length() const { return length_; }
    qint64 bodyBytes() const { return bodyBytes_; }

private:
    enum class State { statusLine, fields, length, chunkSize, chunkData, chunkEnd, trailers, untilClose, done, stopped };

    bool readLine(const char*& at, const char* end, qint64 most);
    void endOfLine();
    void statusLine(const QByteArray& line);
    void field(const QByteArray& line);
    void headEnded();
    void body(const char*& at, const char* end);

    State state_ = State::statusLine;
    QByteArray line_;
    qint64 headerBytes_ = 0;  // of every header section, interim replies' too
    qint64 trailerBytes_ = 0;
    bool headComplete_ = false;
    Head head_;
    std::optional<qint64> length_;
    qint64 left_ = 0;  // of the body's length, or of the chunk
    qint64 bodyBytes_ = 0;
};

}  // namespace spinforge
