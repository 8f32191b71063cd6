#include "platform/MountTable.h"

#include <QFileInfo>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <optional>

namespace spinforge::MountTable {
namespace {

// A mountinfo line: ID, parent ID, major:minor, root, mount point, options, then any number of
// optional tags ("shared:1 master:2"), a lone "-", and the file system's own fields.
constexpr qsizetype kMountPointField = 4;
constexpr qsizetype kFirstOptionalField = 6;

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The kernel writes the bytes that would break the table's layout as "\ooo". Anything else after
// a backslash is kept as it stands, so that no input can make the decoder read past the field.
QByteArray decodeEscapes(const QByteArray& field) {
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const bool escape = field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
                            field[i + 1] <= '3' && isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3]);
        if (!escape) {
            bytes.append(field[i]);
            continue;
        }
        bytes.append(char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
        i += 3;
    }
    return bytes;
}

QList<QByteArray> fieldsOf(const QByteArray& line) {
    QList<QByteArray> fields = line.split(' ');
    fields.removeAll(QByteArray());
    return fields;
}

// The mount point of one line, or nullopt when the line does not have the layout above or names
// something that cannot be a folder.
std::optional<QString> mountPointOf(const QByteArray& line) {
    const QList<QByteArray> fields = fieldsOf(line);
    const qsizetype separator = fields.indexOf(QByteArray("-"), kFirstOptionalField);
    if (separator < 0 || separator + 1 >= fields.size()) return std::nullopt;
    const QByteArray path = decodeEscapes(fields[kMountPointField]);
    if (!path.startsWith('/') || path.contains('\0')) return std::nullopt;
    return QFile::decodeName(path);
}

// "/media" and "/media/" both mean the folder; the comparison wants it with one trailing "/".
QString asFolder(const QString& prefix) {
    const QString cleaned = QDir::cleanPath(prefix);
    return cleaned.endsWith(u'/') ? cleaned : cleaned + u'/';
}

}  // namespace

QStringList mountPoints(const QByteArray& mountinfo) {
    QStringList points;
    for (const QByteArray& line : mountinfo.split('\n')) {
        if (std::optional<QString> point = mountPointOf(line)) points.append(*point);
    }
    return points;
}

bool isBelowPrefix(const QString& path, const QStringList& prefixes) {
    const QString cleaned = QDir::cleanPath(path);
    return std::any_of(prefixes.begin(), prefixes.end(), [&](const QString& prefix) {
        if (prefix.isEmpty()) return false;
        const QString folder = asFolder(prefix);
        return cleaned.size() > folder.size() && cleaned.startsWith(folder);
    });
}

bool isCandidate(const QString& mountPoint, const QStringList& prefixes) {
    if (!isBelowPrefix(mountPoint, prefixes)) return false;
    const QStringList components = QDir::cleanPath(mountPoint).split(u'/', Qt::SkipEmptyParts);
    return std::none_of(components.begin(), components.end(),
                        [](const QString& component) { return component.startsWith(u'.'); });
}

QString volumeName(const QString& mountPoint) {
    return QFileInfo(QDir::cleanPath(mountPoint)).fileName();
}

}  // namespace spinforge::MountTable
