// The program path (UTF-8, no NUL) quoted for the autostart entry's Exec key reads back as a
// launcher reads it (string escapes, field codes, then quoting) as the one original argument, and
// the entry keeps exactly its own lines and keys.
#include "fuzz/FuzzSupport.h"
#include "platform/LoginAgent.h"

#include <QStringList>

#include <optional>

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

// A desktop entry's string value: "\s", "\n", "\t", "\r" and "\\" are its escapes; any other fails.
std::optional<QString> stringValue(const QString& written) {
    QString value;
    for (qsizetype i = 0; i < written.size(); ++i) {
        if (written[i] != u'\\') {
            value += written[i];
            continue;
        }
        if (++i == written.size()) return std::nullopt;
        switch (written[i].unicode()) {
        case u's': value += u' '; break;
        case u'n': value += u'\n'; break;
        case u't': value += u'\t'; break;
        case u'r': value += u'\r'; break;
        case u'\\': value += u'\\'; break;
        default: return std::nullopt;
        }
    }
    return value;
}

// "%%" is a literal percent; any other "%" starts a field code the launcher would expand.
std::optional<QString> withoutFieldCodes(const QString& line) {
    QString text;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'%') {
            if (i + 1 == line.size() || line[i + 1] != u'%') return std::nullopt;
            ++i;
        }
        text += line[i];
    }
    return text;
}

// The command line's one argument. Quoted: only '"', '`', '$' and '\\' are escaped inside, and
// the closing quote ends the line. Unquoted: none of the reserved characters may appear.
std::optional<QString> onlyArgument(const QString& line) {
    if (line.isEmpty()) return std::nullopt;
    if (line[0] != u'"') {
        const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
        for (const QChar c : line)
            if (reserved.contains(c)) return std::nullopt;
        return line;
    }
    QString argument;
    for (qsizetype i = 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'"') return i + 1 == line.size() ? std::optional<QString>(argument) : std::nullopt;
        if (c == u'`' || c == u'$') return std::nullopt;
        if (c == u'\\') {
            if (++i == line.size() || !QStringLiteral("\"`$\\").contains(line[i])) return std::nullopt;
        }
        argument += line[i];
    }
    return std::nullopt;  // no closing quote
}

std::optional<QString> readBack(const QString& execValue) {
    const std::optional<QString> line = stringValue(execValue);
    if (!line) return std::nullopt;
    const std::optional<QString> plain = withoutFieldCodes(*line);
    if (!plain) return std::nullopt;
    return onlyArgument(*plain);
}

// The entry's lines are exactly its five, the fourth the Exec key with `execValue`.
void checkEntry(const QString& entry, const QString& execValue) {
    const QStringList lines = entry.split(u'\n');
    const QStringList expected = {QStringLiteral("[Desktop Entry]"), QStringLiteral("Type=Application"),
                                  QStringLiteral("Name=Spinforge"), QStringLiteral("Exec=") + execValue,
                                  QStringLiteral("StartupNotify=false"), QString()};
    if (lines != expected) violated("the autostart entry keeps exactly its own lines and keys", shown(entry));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString argument = QString::fromUtf8(spinforge::fuzz::bytesOf(data, size));
    if (argument.contains(QChar(u'\0'))) return 0;
    const QString execValue = LoginAgent::quoteExecArgument(argument);
    if (execValue.contains(u'\n') || execValue.contains(u'\r'))
        violated("an Exec value has no line break", shown(argument) + QStringLiteral(" -> ") + shown(execValue));
    checkEntry(LoginAgent::autostartEntry(execValue), execValue);
    const std::optional<QString> read = readBack(execValue);
    if (read != argument)
        violated("the Exec value reads back as the one original argument",
                 shown(argument) + QStringLiteral(" -> ") + shown(execValue) + QStringLiteral(" -> ") + (read ? shown(*read) : QStringLiteral("(unreadable)")));
    return 0;
}
