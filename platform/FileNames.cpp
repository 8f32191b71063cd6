#include "platform/FileNames.h"

namespace spinforge::FileNames {
namespace {

constexpr char16_t kEscapeBase = 0xdc00;

bool isEscape(const QString& name, qsizetype at) {
    const char16_t unit = name[at].unicode();
    // Lone: a low surrogate that follows a high one is half of a real character.
    return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xff && (at == 0 || !name[at - 1].isHighSurrogate());
}

// The length of the valid UTF-8 sequence starting at `at`, or 0 when none starts there.
qsizetype validSequence(const QByteArray& bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0u; };
    const uint lead = byte(at);
    const auto continuation = [&](qsizetype i) { return (byte(i) & 0xc0) == 0x80; };
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) return continuation(at + 1) ? 2 : 0;
    if (lead >= 0xe0 && lead <= 0xef) {
        const uint second = byte(at + 1);
        // No overlong forms, no surrogates.
        if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f)) return 0;
        return continuation(at + 1) && continuation(at + 2) ? 3 : 0;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        const uint second = byte(at + 1);
        // No overlong forms, nothing past U+10FFFF.
        if ((lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second > 0x8f)) return 0;
        return continuation(at + 1) && continuation(at + 2) && continuation(at + 3) ? 4 : 0;
    }
    return 0;
}

}  // namespace

QString decode(const QByteArray& bytes) {
    QString name;
    name.reserve(bytes.size());
    qsizetype start = 0;  // of the valid text not yet added
    for (qsizetype at = 0; at < bytes.size();) {
        if (const qsizetype length = validSequence(bytes, at)) {
            at += length;
            continue;
        }
        name += QString::fromUtf8(bytes.constData() + start, at - start);
        name += QChar(char16_t(kEscapeBase + uchar(bytes[at])));
        start = ++at;
    }
    return name + QString::fromUtf8(bytes.constData() + start, bytes.size() - start);
}

QByteArray encode(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype start = 0;
    for (qsizetype at = 0; at < name.size(); ++at) {
        if (!isEscape(name, at)) continue;
        bytes += QStringView(name).mid(start, at - start).toUtf8();
        bytes += char(name[at].unicode() - kEscapeBase);
        start = at + 1;
    }
    return bytes + QStringView(name).mid(start).toUtf8();
}

QString readable(const QString& name) {
    QString shown = name;
    for (qsizetype at = 0; at < shown.size(); ++at)
        if (isEscape(name, at)) shown[at] = QChar(QChar::ReplacementCharacter);
    return shown;
}

}  // namespace spinforge::FileNames
