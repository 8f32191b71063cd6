#include "support/FaultyFileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace testing_support {

using namespace spinforge;

namespace {

FileStatus failed(FileAction action, const QString& path, int errnum) { return {action, path, errnum}; }

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

template <class Handle>
FileResult<Handle> rebound(FileResult<Handle> result, FileSystem& files) {
    if (result.ok()) result->rebind(files);
    return result;
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

bool FaultyFileSystem::isOnFat(const QString& path) const { return !fatRoot_.isEmpty() && path.startsWith(fatRoot_ + u'/'); }

FileResult<Folder> FaultyFileSystem::openFolder(const QString& path, Reach reach) {
    if (const int error = fails(Op::openFolder, path)) return failed(FileAction::open, path, error);
    return rebound(real_.openFolder(path, reach), *this);
}

FileResult<FileInfo> FaultyFileSystem::inspect(const QString& path) {
    if (const int error = fails(Op::inspect, path)) return failed(FileAction::inspect, path, error);
    return real_.inspect(path);
}

FileResult<Folder> FaultyFileSystem::openFolder(const Folder& folder, const QString& relative) {
    if (const int error = fails(Op::openFolder, folder.pathOf(relative))) return failed(FileAction::open, folder.pathOf(relative), error);
    return real_.openFolder(folder, relative);
}

FileStatus FaultyFileSystem::makeFolders(const Folder& folder, const QString& relative) {
    if (const int error = refusal(Op::makeFolders, folder.pathOf(relative)))
        return failed(FileAction::createFolder, folder.pathOf(relative), error);
    return real_.makeFolders(folder, relative);
}

FileResult<FileInfo> FaultyFileSystem::inspect(const Folder& folder, const QString& relative) {
    const QString path = folder.pathOf(relative);
    if (const int error = fails(Op::inspect, path)) return failed(FileAction::inspect, path, error);
    FileResult<FileInfo> info = real_.inspect(folder, relative);
    if (info.ok() || info.status().errnum() != ENOENT || !isOnFat(path)) return info;
    // A FAT drive finds a name under any spelling of its letters.
    const QString spelled = ignoringCase(fatRoot_, path.mid(fatRoot_.size()));
    return spelled.isEmpty() ? info : real_.inspect(spelled);
}

FileResult<QStringList> FaultyFileSystem::list(const Folder& folder, const QString& relative) {
    if (const int error = fails(Op::list, folder.pathOf(relative))) return failed(FileAction::list, folder.pathOf(relative), error);
    FileResult<QStringList> names = real_.list(folder, relative);
    const QString spelled = isOnFat(folder.pathOf(relative)) && !names.ok()
                                ? ignoringCase(fatRoot_, folder.pathOf(relative).mid(fatRoot_.size()))
                                : QString();
    if (spelled.isEmpty()) return names;
    return QDir(spelled).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

FileResult<InputFile> FaultyFileSystem::openForReading(const Folder& folder, const QString& relative) {
    if (const int error = fails(Op::openForReading, folder.pathOf(relative)))
        return failed(FileAction::open, folder.pathOf(relative), error);
    return real_.openForReading(folder, relative);
}

FileResult<QByteArray> FaultyFileSystem::readSmallFile(const Folder& folder, const QString& relative, qint64 maxBytes) {
    if (const int error = fails(Op::readSmallFile, folder.pathOf(relative)))
        return failed(FileAction::open, folder.pathOf(relative), error);
    return real_.readSmallFile(folder, relative, maxBytes);
}

FileStatus FaultyFileSystem::checkWritable(const Folder& folder) {
    if (const int error = fails(Op::checkWritable, folder.path())) return failed(FileAction::write, folder.path(), error);
    return real_.checkWritable(folder);
}

FileResult<StagedFile> FaultyFileSystem::stage(const Folder& folder, const QString& relative) {
    if (const int error = refusal(Op::stage, folder.pathOf(relative))) return failed(FileAction::write, folder.pathOf(relative), error);
    return real_.stage(folder, relative);
}

FileStatus FaultyFileSystem::remove(const Folder& folder, const QString& relative) {
    if (const int error = fails(Op::remove, folder.pathOf(relative))) return failed(FileAction::remove, folder.pathOf(relative), error);
    return real_.remove(folder, relative);
}

FileResult<qint64> FaultyFileSystem::read(InputFile& file, char* buffer, qint64 capacity) {
    if (const int error = fails(Op::read, file.path())) return failed(FileAction::read, file.path(), error);
    return real_.read(file, buffer, capacity);
}

FileStatus FaultyFileSystem::write(StagedFile& file, const char* data, qint64 size) {
    if (const int error = fails(Op::write, file.path())) return failed(FileAction::write, file.path(), error);
    return real_.write(file, data, size);
}

FileStatus FaultyFileSystem::copy(InputFile& source, StagedFile& target) {
    if (const int error = fails(Op::copy, target.path())) return failed(FileAction::write, target.path(), error);
    if (isOnFat(target.path()) && QFileInfo(source.path()).size() > fatMaxFileSize_)
        return failed(FileAction::write, target.path(), EFBIG);
    return real_.copy(source, target);
}

FileStatus FaultyFileSystem::flush(StagedFile& file, bool dropCache) {
    if (const int error = fails(Op::flush, file.path())) return failed(FileAction::flush, file.path(), error);
    return real_.flush(file, dropCache);
}

FileResult<InputFile> FaultyFileSystem::readBack(StagedFile& file) {
    return real_.readBack(file);
}

FileStatus FaultyFileSystem::commit(StagedFile& file) {
    if (const int error = refusal(Op::commit, file.path())) return failed(FileAction::rename, file.path(), error);
    const FileStatus done = real_.commit(file);
    if (!done.ok()) return done;
    if (const int error = take(Op::commit, file.path(), true)) return failed(FileAction::flush, file.path(), error);
    return done;
}

}  // namespace testing_support
