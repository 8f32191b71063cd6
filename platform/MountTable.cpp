#include "platform/MountTable.h"

#include "platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <libmount/libmount.h>

#include <algorithm>
#include <memory>

namespace spinforge::MountTable {
namespace {

struct TableUnref {
    void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterFree {
    void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};

// "/media" and "/media/" both mean the folder; the comparison wants it with one trailing "/".
QString asFolder(const QString& prefix) {
    const QString cleaned = QDir::cleanPath(prefix);
    return cleaned.endsWith(u'/') ? cleaned : cleaned + u'/';
}

}  // namespace

QList<Mount> read(const QString& path) {
    const std::unique_ptr<libmnt_table, TableUnref> table(mnt_new_table());
    const std::unique_ptr<libmnt_iter, IterFree> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!table || !iter || mnt_table_parse_file(table.get(), QFile::encodeName(path).constData()) != 0) return {};
    QList<Mount> mounts;
    libmnt_fs* entry = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &entry) == 0) {
        const char* target = mnt_fs_get_target(entry);
        if (!target || target[0] != '/') continue;
        mounts.append({FileNames::decode(target), quint64(std::max(mnt_fs_get_id(entry), 0)), mnt_fs_get_devno(entry)});
    }
    return mounts;
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
    return FileNames::readable(QFileInfo(QDir::cleanPath(mountPoint)).fileName());
}

}  // namespace spinforge::MountTable
