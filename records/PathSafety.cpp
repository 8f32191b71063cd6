#include "records/PathSafety.h"

#include <QStringList>

#include <algorithm>

namespace spinforge::PathSafety {
namespace {

bool isControl(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; }

std::optional<QString> lineBreakProblem(const QString& text) {
    if (text.contains(QChar(u'\0'))) return QStringLiteral("contains a NUL character");
    for (const QChar c : text) {
        if (c == QChar(0x2028) || c == QChar(0x2029)) return QStringLiteral("contains a line separator");
        if (breaksLine(c)) return QStringLiteral("contains a control character");
    }
    return std::nullopt;
}

}  // namespace

std::optional<QString> relativePathProblem(const QString& path) {
    if (path.isEmpty()) return QStringLiteral("is empty");
    if (auto problem = lineBreakProblem(path)) return problem;
    if (path.startsWith(u'/')) return QStringLiteral("is absolute");
    for (const QString& component : path.split(u'/')) {
        if (component.isEmpty()) return QStringLiteral("has an empty component");
        if (component == u"." || component == u"..")
            return QStringLiteral("has a '%1' component").arg(component);
    }
    return std::nullopt;
}

std::optional<QString> displayNameProblem(const QString& name) { return lineBreakProblem(name); }

bool holdsControlCharacter(const QString& text) { return std::any_of(text.begin(), text.end(), isControl); }

bool breaksLine(QChar c) {
    const char16_t unit = c.unicode();
    return isControl(c) || (unit >= 0x80 && unit <= 0x9f) || unit == 0x2028 || unit == 0x2029;
}

QString quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QStringLiteral("\\\""); break;
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        case u'\t': out += QStringLiteral("\\t"); break;
        default:
            if (breaksLine(c)) out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
            else out += c;
        }
    }
    return out + u'"';
}

}  // namespace spinforge::PathSafety
