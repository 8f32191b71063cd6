#include "support/FaultyFileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace testing_support {
namespace {

// The existing path below `root` that `relative` names when letter case is ignored, or empty.
QString ignoringCase(const QString& root, const QString& relative) {
    QString found = root;
    for (const QString& part : relative.split(u'/', Qt::SkipEmptyParts)) {
        const QStringList entries = QDir(found).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        const auto match = std::find_if(entries.begin(), entries.end(),
                                        [&](const QString& entry) { return entry.compare(part, Qt::CaseInsensitive) == 0; });
        if (match == entries.end()) return {};
        found += u'/' + *match;
    }
    return found;
}

}  // namespace


int FaultyFileSystem::fails(Op op, const QString& path) {
    if (beforeEach) beforeEach(op, path);
    return take(op, path, false);
}

int FaultyFileSystem::take(Op op, const QString& path, bool afterDoing) {
    for (Rule& rule : rules_) {
        if (rule.op != op || rule.afterDoing != afterDoing || rule.times == 0 || !path.contains(rule.pathPart)) continue;
        if (rule.times > 0) --rule.times;
        return rule.errnum;
    }
    return 0;
}

int FaultyFileSystem::refusal(Op op, const QString& path) {
    if (const int error = fails(op, path)) return error;
    if (!isOnFat(path)) return 0;
    for (QChar c : path.mid(fatRoot_.size()))
        if (QStringLiteral(":*?\"<>|\\").contains(c)) return EINVAL;
    return 0;
}

FaultyFileSystem::FileResult<FaultyFileSystem::Folder> FaultyFileSystem::openFolder(const QString& path, Reach reach) {
    // A folder opened from a path is the start of every handle: they call this file system.
    FileResult<Folder> folder = guard(Op::openFolder, FileAction::open, path, [&] { return real_.openFolder(path, reach); });
    if (folder.ok()) folder->rebind(*this);
    return folder;
}

FaultyFileSystem::FileResult<FaultyFileSystem::FileInfo> FaultyFileSystem::inspect(const Folder& folder, const QString& relative) {
    const QString path = folder.pathOf(relative);
    FileResult<FileInfo> info = guard(Op::inspect, FileAction::inspect, path, [&] { return real_.inspect(folder, relative); });
    if (info.ok() || info.status().errnum() != ENOENT || !isOnFat(path)) return info;
    // A FAT drive finds a name under any spelling of its letters.
    const QString spelled = ignoringCase(fatRoot_, path.mid(fatRoot_.size()));
    return spelled.isEmpty() ? info : real_.inspect(spelled);
}

FaultyFileSystem::FileStatus FaultyFileSystem::copy(InputFile& source, StagedFile& target) {
    if (const int error = fails(Op::copy, target.path())) return {FileAction::write, target.path(), error};
    if (isOnFat(target.path()) && QFileInfo(source.path()).size() > fatMaxFileSize_) return {FileAction::write, target.path(), EFBIG};
    return real_.copy(source, target);
}

FaultyFileSystem::FileStatus FaultyFileSystem::commit(StagedFile& file) {
    if (const int error = refusal(Op::commit, file.path())) return {FileAction::rename, file.path(), error};
    const FileStatus done = real_.commit(file);
    if (!done.ok()) return done;
    if (const int error = take(Op::commit, file.path(), true)) return {FileAction::flush, file.path(), error};
    return done;
}

}  // namespace testing_support
