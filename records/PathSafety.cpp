#include "records/PathSafety.h"

#include <QStringList>

#include <stdexcept>

namespace spinforge::PathSafety {

std::optional<QString> relativePathProblem(const QString& path) {
    if (path.isEmpty()) return QStringLiteral("is empty");
    if (path.contains(QChar(u'\0'))) return QStringLiteral("contains a NUL character");
    if (path.startsWith(u'/')) return QStringLiteral("is absolute");
    for (const QString& component : path.split(u'/')) {
        if (component.isEmpty()) return QStringLiteral("has an empty component");
        if (component == u"." || component == u"..")
            return QStringLiteral("has a '%1' component").arg(component);
    }
    return std::nullopt;
}

std::optional<QString> displayNameProblem(const QString& name) {
    if (name.contains(QChar(u'\0'))) return QStringLiteral("contains a NUL character");
    return std::nullopt;
}

void requireSafeRelativePath(const QString& path) {
    if (auto problem = relativePathProblem(path))
        throw std::invalid_argument(
            QStringLiteral("Refusing the unsafe path \"%1\": it %2.").arg(path, *problem).toStdString());
}

void requireSafeDisplayName(const QString& name) {
    if (auto problem = displayNameProblem(name))
        throw std::invalid_argument(
            QStringLiteral("Refusing the unsafe display name \"%1\": it %2.").arg(name, *problem).toStdString());
}

}  // namespace spinforge::PathSafety
