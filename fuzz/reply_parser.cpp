// An HTTP/1.1 reply from any bytes, however they arrive: read the same in one piece as in many,
// within its bounds (100 header fields), with no more body than was sent, and a body of its
// announced length when it says it is complete.
#include "fuzz/FuzzSupport.h"
#include "records/PlatformError.h"
#include "service/ReplyParser.h"

#include <algorithm>
#include <string>

using spinforge::ReplyParser;
using spinforge::fuzz::violated;

namespace {

struct Outcome {
    int status = 0;
    qsizetype fields = -1;  // -1: no head
    QByteArray body;
    bool complete = false;
    std::string failure;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// Reads `bytes` in pieces of `piece` bytes (0: one piece), then the connection closes.
Outcome read(const QByteArray& bytes, qsizetype piece) {
    Outcome outcome;
    ReplyParser parser;
    parser.onHead = [&](const ReplyParser::Head& head) {
        outcome.status = head.status;
        outcome.fields = head.fields.size();
    };
    parser.onBody = [&](const char* data, qint64 size) { outcome.body.append(data, size); };
    try {
        const qsizetype step = piece > 0 ? piece : std::max<qsizetype>(bytes.size(), 1);
        for (qsizetype at = 0; at < bytes.size(); at += step)
            parser.feed(bytes.constData() + at, std::min(step, bytes.size() - at));
        parser.closed();
        outcome.complete = parser.complete();
        if (outcome.complete && parser.length() && *parser.length() != outcome.body.size())
            violated("a complete reply's body has its announced length", QString::number(outcome.body.size()));
    } catch (const spinforge::PlatformError& broken) {
        outcome.failure = broken.what();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = spinforge::fuzz::bytesOf(data, size);
    const Outcome whole = read(bytes, 0);
    if (whole.fields > 100) violated("a head holds at most 100 fields", QString::number(whole.fields));
    if (whole.body.size() > bytes.size()) violated("no more body than was sent", QString::number(whole.body.size()));
    for (const qsizetype piece : {1, 2, 7, 4096})
        if (read(bytes, piece) != whole)
            violated("a reply reads the same in any pieces", QStringLiteral("pieces of %1 bytes").arg(piece));
    return 0;
}
