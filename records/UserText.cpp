#include "records/UserText.h"

#include "records/PathSafety.h"

namespace spinforge::UserText {
namespace {

// Marks that change the order in which a text is displayed: a name holding one could show other
// words than it holds.
bool isDirectionControl(char16_t unit) {
    return unit == 0x061c || unit == 0x200e || unit == 0x200f || (unit >= 0x202a && unit <= 0x202e) ||
           (unit >= 0x2066 && unit <= 0x2069);
}

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\n') out += QStringLiteral("\\n");
        else if (c == u'\r') out += QStringLiteral("\\r");
        else if (c == u'\t') out += QStringLiteral("\\t");
        else if (PathSafety::breaksLine(c) || isDirectionControl(c.unicode()))
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
        else out += c;
    }
    return out;
}

}  // namespace

QString shown(const QString& text) {
    QString out = escaped(text.size() > 8 * kLongest ? text.left(4 * kLongest) + text.right(4 * kLongest) : text);
    if (out.size() <= kLongest) return out;
    // Two thirds from the start, the rest from the end, neither half of a surrogate pair.
    qsizetype head = (kLongest - 1) * 2 / 3, tail = out.size() - (kLongest - 1 - head);
    if (out[head - 1].isHighSurrogate()) --head;
    if (out[tail].isLowSurrogate()) ++tail;
    return out.left(head) + QChar(0x2026) + out.mid(tail);
}

}  // namespace spinforge::UserText
