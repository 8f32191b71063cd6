#include "service/ReplyParser.h"

#include "records/PlatformError.h"

#include <QString>

#include <algorithm>
#include <cstring>

namespace spinforge {
namespace {

// A header section, with the interim replies before it: as much as browsers take, and more than
// any reply of the service holds.
constexpr qint64 kMostHeaderBytes = 64 << 10;
constexpr int kMostFields = 100;
constexpr qint64 kMostChunkLine = 1 << 10;
constexpr qint64 kMostTrailerBytes = 64 << 10;
// Past 2^60 no length is a real one, and none overflows.
constexpr int kMostLengthDigits = 18;
constexpr int kMostChunkSizeDigits = 15;

const char* const kTooLarge = "its header is too large";
const char* const kMalformedHeader = "its header is malformed";
const char* const kMalformedChunks = "its chunks are malformed";

// The reply breaks its framing: `how` says so, for "... could not be read: ".
[[noreturn]] void broken(const std::string& how) {
    throw PlatformError(PlatformError::Kind::network, QString::fromStdString(how));
}

bool isToken(const QByteArray& name) {
    return !name.isEmpty() && std::none_of(name.begin(), name.end(), [](char c) {
        return c <= ' ' || c == 0x7f || std::strchr("\"(),/:;<=>?@[\\]{}", c) != nullptr;
    });
}

QList<QByteArray> listOf(const QByteArray& value) {
    QList<QByteArray> items;
    for (const QByteArray& item : value.split(',')) items << item.trimmed();
    return items;
}

std::optional<qint64> digitsOf(const QByteArray& text, int base, int most) {
    if (text.isEmpty() || text.size() > most) return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    if (!ok || value < 0 || text.startsWith('+') || text.startsWith('-')) return std::nullopt;
    return value;
}

}  // namespace

QByteArray ReplyParser::Head::field(const QByteArray& name) const {
    QByteArray joined;
    for (const auto& [key, value] : fields) {
        if (key.compare(name, Qt::CaseInsensitive) != 0) continue;
        if (!joined.isEmpty()) joined += ", ";
        joined += value;
    }
    return joined;
}

bool ReplyParser::Head::closesConnection() const {
    const QByteArray connection = field("Connection").toLower();
    return connection.contains("close") || (minorVersion == 0 && !connection.contains("keep-alive"));
}

void ReplyParser::feed(const char* data, qint64 size) {
    const char* at = data;
    const char* const end = data + size;
    while (at < end) {
        switch (state_) {
        case State::statusLine:
        case State::fields:
            if (!readLine(at, end, kMostHeaderBytes - headerBytes_)) return;
            break;
        case State::chunkSize:
        case State::chunkEnd:
            if (!readLine(at, end, kMostChunkLine)) return;
            break;
        case State::trailers:
            if (!readLine(at, end, kMostTrailerBytes - trailerBytes_)) return;
            break;
        case State::length:
        case State::chunkData:
        case State::untilClose: body(at, end); continue;
        case State::done:
        case State::stopped: return;
        }
        endOfLine();
    }
}

// Gathers bytes into line_ up to a line feed: true once the line is whole (its CR LF or LF taken
// off). `most` bounds the line with what has to come with it.
bool ReplyParser::readLine(const char*& at, const char* end, qint64 most) {
    const char* feed = static_cast<const char*>(std::memchr(at, '\n', std::size_t(end - at)));
    const char* upTo = feed ? feed + 1 : end;
    if (line_.size() + (upTo - at) > most) {
        const bool inHeader = state_ == State::statusLine || state_ == State::fields;
        broken(inHeader ? kTooLarge : state_ == State::trailers ? "its trailer is too large" : kMalformedChunks);
    }
    line_.append(at, upTo - at);
    at = upTo;
    if (!feed) return false;
    if (state_ == State::trailers) trailerBytes_ += line_.size();
    else if (state_ == State::statusLine || state_ == State::fields) headerBytes_ += line_.size();
    line_.chop(line_.endsWith("\r\n") ? 2 : 1);
    return true;
}

void ReplyParser::endOfLine() {
    const QByteArray line = std::exchange(line_, {});
    switch (state_) {
    case State::statusLine: statusLine(line); break;
    case State::fields: field(line); break;
    case State::chunkSize: {
        const qsizetype extension = line.indexOf(';');
        const QByteArray size = (extension < 0 ? line : line.left(extension)).trimmed();
        const std::optional<qint64> length = digitsOf(size, 16, kMostChunkSizeDigits);
        if (!length) broken(kMalformedChunks);
        left_ = *length;
        state_ = *length == 0 ? State::trailers : State::chunkData;
        break;
    }
    case State::chunkEnd:
        if (!line.isEmpty()) broken(kMalformedChunks);
        state_ = State::chunkSize;
        break;
    case State::trailers:
        if (line.isEmpty()) state_ = State::done;
        break;
    default: break;
    }
}

void ReplyParser::statusLine(const QByteArray& line) {
    // "HTTP/1.1 200 OK", the reason optional.
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || line[7] < '0' || line[7] > '9' || line[8] != ' ' ||
        (line.size() > 12 && line[12] != ' '))
        broken("it is not an HTTP/1.1 reply");
    const std::optional<qint64> status = digitsOf(line.mid(9, 3), 10, 3);
    if (!status || *status < 100) broken("it is not an HTTP/1.1 reply");
    head_ = {int(*status), line[7] - '0', {}};
    state_ = State::fields;
}

void ReplyParser::field(const QByteArray& line) {
    if (line.isEmpty()) return headEnded();
    // A line folded onto the one before (obsolete, but allowed): one value, joined by a space.
    if (line.startsWith(' ') || line.startsWith('\t')) {
        if (head_.fields.isEmpty()) broken(kMalformedHeader);
        head_.fields.last().second += ' ' + line.trimmed();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon < 0) broken(kMalformedHeader);
    const QByteArray name = line.left(colon);
    if (!isToken(name)) broken(kMalformedHeader);
    if (head_.fields.size() == kMostFields) broken(kTooLarge);
    head_.fields.append({name, line.mid(colon + 1).trimmed()});
}

void ReplyParser::headEnded() {
    if (head_.status == 101) broken("it switches to another protocol");
    if (head_.status < 200) {  // an interim reply: the real one follows
        state_ = State::statusLine;
        return;
    }
    headComplete_ = true;
    const QList<QByteArray> codings = listOf(head_.field("Transfer-Encoding"));
    const QByteArray lengths = head_.field("Content-Length");
    if (head_.status == 204 || head_.status == 304) {
        length_ = 0;
        state_ = State::done;
    } else if (!head_.field("Transfer-Encoding").isEmpty()) {
        state_ = codings.last().compare("chunked", Qt::CaseInsensitive) == 0 ? State::chunkSize : State::untilClose;
    } else if (!lengths.isEmpty()) {
        const QList<QByteArray> given = listOf(lengths);
        length_ = digitsOf(given.first(), 10, kMostLengthDigits);
        if (!length_ || std::any_of(given.begin(), given.end(), [&](const QByteArray& other) { return other != given.first(); }))
            broken("its length is malformed");
        left_ = *length_;
        state_ = left_ == 0 ? State::done : State::length;
    } else {
        state_ = State::untilClose;
    }
    if (onHead) onHead(head_);
}

void ReplyParser::body(const char*& at, const char* end) {
    const qint64 available = end - at;
    const qint64 count = state_ == State::untilClose ? available : std::min(available, left_);
    const char* piece = at;
    at += count;
    bodyBytes_ += count;
    if (state_ != State::untilClose) left_ -= count;
    if (state_ == State::length && left_ == 0) state_ = State::done;
    if (state_ == State::chunkData && left_ == 0) state_ = State::chunkEnd;
    if (count > 0 && onBody) onBody(piece, count);
    if (state_ == State::stopped) at = end;
}

void ReplyParser::closed() {
    switch (state_) {
    case State::untilClose: state_ = State::done; return;
    case State::done:
    case State::stopped: return;
    case State::length:
        broken(QStringLiteral("%1 of %2 bytes arrived").arg(bodyBytes_).arg(*length_).toStdString());
    default:
        if (!headComplete_) broken("the server closed the connection");
        broken(QStringLiteral("%1 bytes arrived before the connection closed").arg(bodyBytes_).toStdString());
    }
}

}  // namespace spinforge
