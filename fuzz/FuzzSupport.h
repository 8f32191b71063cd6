#pragma once
// What the fuzz targets share. A property that does not hold aborts: libFuzzer records that as a
// crash and keeps the input that caused it.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace spinforge::fuzz {

inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// `property` says what should have held; `detail` shows the values that broke it.
[[noreturn]] inline void violated(const char* property, const QString& detail) {
    std::fprintf(stderr, "\nproperty violated: %s\n  %s\n", property, qUtf8Printable(detail));
    std::fflush(stderr);
    std::abort();
}

// A value as it can be read in a report: control characters and quotes made visible.
inline QString shown(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\') out += u'\\' + QString(c);
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f) out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else out += c;
    }
    return out + u'"';
}

}  // namespace spinforge::fuzz
