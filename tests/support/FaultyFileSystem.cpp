#include "support/FaultyFileSystem.h"

#include "platform/FileHandles.h"

#include <QDir>

#include <cerrno>

namespace testing_support {

using spinforge::FileAction;
using spinforge::FileInfo;
using spinforge::FileResult;
using spinforge::FileStatus;
using spinforge::Folder;
using spinforge::InputFile;
using spinforge::Opened;
using spinforge::StagedFile;

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

// What the real file system opened, wrapped so that its operations come here first.
template <class Wrapper, class Impl>
Opened<Impl> wrapped(FaultyFileSystem& files, const QString& path, Opened<Impl> real) {
    if (!real.ok()) return real;
    return Opened<Impl>(std::make_unique<Wrapper>(files, path, std::move(*real)));
}

}  // namespace

class FaultyFileSystem::InputImpl final : public InputFile::Impl {
public:
    InputImpl(FaultyFileSystem& files, QString path, std::unique_ptr<InputFile::Impl> real)
        : files_(files), path_(std::move(path)), real_(std::move(real)) {}

    InputFile::Impl& real() { return *real_; }
    qint64 size() const override { return real_->size(); }
    FileResult<qint64> read(char* buffer, qint64 capacity) override {
        return files_.guard(Op::read, FileAction::read, path_, [&] { return real_->read(buffer, capacity); });
    }

private:
    FaultyFileSystem& files_;
    const QString path_;
    const std::unique_ptr<InputFile::Impl> real_;
};

class FaultyFileSystem::StagedImpl final : public StagedFile::Impl {
public:
    StagedImpl(FaultyFileSystem& files, QString path, std::unique_ptr<StagedFile::Impl> real)
        : files_(files), path_(std::move(path)), real_(std::move(real)) {}

    qint64 bytesWritten() const override { return real_->bytesWritten(); }
    FileStatus write(const char* data, qint64 size) override {
        return files_.guard(Op::write, FileAction::write, path_, [&] { return real_->write(data, size); });
    }
    FileStatus copyFrom(InputFile::Impl& source) override {
        if (const int error = files_.fails(Op::copy, path_)) return {FileAction::write, path_, error};
        if (files_.isOnFat(path_) && source.size() > files_.fatMaxFileSize_) return {FileAction::write, path_, EFBIG};
        // The real file's own object, so that the kernel copies between the two descriptors.
        auto* input = dynamic_cast<InputImpl*>(&source);
        return real_->copyFrom(input ? input->real() : source);
    }
    FileStatus flush(bool dropCache) override {
        return files_.guard(Op::flush, FileAction::flush, path_, [&] { return real_->flush(dropCache); });
    }
    Opened<InputFile::Impl> readBack() override { return wrapped<InputImpl>(files_, path_, real_->readBack()); }
    FileStatus commit() override {
        if (const int error = files_.refusal(Op::commit, path_)) return {FileAction::rename, path_, error};
        const FileStatus done = real_->commit();
        if (!done.ok()) return done;
        if (const int error = files_.take(Op::commit, path_, true)) return {FileAction::flush, path_, error};
        return done;
    }
    // A failure injected here leaves the staging file, as a failed removal would.
    FileStatus discard() override {
        return files_.guard(Op::discard, FileAction::remove, path_, [&] { return real_->discard(); });
    }

private:
    FaultyFileSystem& files_;
    const QString path_;
    const std::unique_ptr<StagedFile::Impl> real_;
};

class FaultyFileSystem::FolderImpl final : public Folder::Impl {
public:
    FolderImpl(FaultyFileSystem& files, QString path, std::unique_ptr<Folder::Impl> real)
        : files_(files), path_(std::move(path)), real_(std::move(real)) {}

    Opened<Folder::Impl> openFolder(const QString& relative) const override {
        return files_.guard(Op::openFolder, FileAction::open, pathOf(relative),
                            [&] { return wrapped<FolderImpl>(files_, pathOf(relative), real_->openFolder(relative)); });
    }
    FileStatus makeFolders(const QString& relative) const override {
        if (const int error = files_.refusal(Op::makeFolders, pathOf(relative)))
            return {FileAction::createFolder, pathOf(relative), error};
        return real_->makeFolders(relative);
    }
    FileResult<FileInfo> inspect(const QString& relative) const override;
    FileResult<QStringList> list(const QString& relative) const override {
        return files_.guard(Op::list, FileAction::list, pathOf(relative), [&] { return real_->list(relative); });
    }
    Opened<InputFile::Impl> openForReading(const QString& relative) const override {
        return files_.guard(Op::openForReading, FileAction::open, pathOf(relative), [&] {
            return wrapped<InputImpl>(files_, pathOf(relative), real_->openForReading(relative));
        });
    }
    FileResult<QByteArray> readSmallFile(const QString& relative, qint64 maxBytes) const override {
        return files_.guard(Op::readSmallFile, FileAction::open, pathOf(relative),
                            [&] { return real_->readSmallFile(relative, maxBytes); });
    }
    FileStatus checkWritable() const override {
        return files_.guard(Op::checkWritable, FileAction::write, path_, [&] { return real_->checkWritable(); });
    }
    Opened<StagedFile::Impl> stage(const QString& relative) const override {
        if (const int error = files_.refusal(Op::stage, pathOf(relative)))
            return FileStatus(FileAction::write, pathOf(relative), error);
        return wrapped<StagedImpl>(files_, pathOf(relative), real_->stage(relative));
    }
    FileStatus remove(const QString& relative) const override {
        return files_.guard(Op::remove, FileAction::remove, pathOf(relative), [&] { return real_->remove(relative); });
    }

private:
    QString pathOf(const QString& relative) const { return spinforge::pathBelow(path_, relative); }

    FaultyFileSystem& files_;
    const QString path_;
    const std::unique_ptr<Folder::Impl> real_;
};

FileResult<FileInfo> FaultyFileSystem::FolderImpl::inspect(const QString& relative) const {
    const QString path = pathOf(relative);
    FileResult<FileInfo> info =
        files_.guard(Op::inspect, FileAction::inspect, path, [&] { return real_->inspect(relative); });
    if (info.ok() || info.status().errnum() != ENOENT || !files_.isOnFat(path)) return info;
    // A FAT drive finds a name under any spelling of its letters.
    const QString spelled = ignoringCase(files_.fatRoot_, path.mid(files_.fatRoot_.size()));
    return spelled.isEmpty() ? info : files_.real_.inspect(spelled);
}

FileResult<FileInfo> FaultyFileSystem::inspect(const QString& path) {
    return guard(Op::inspect, FileAction::inspect, path, [&] { return real_.inspect(path); });
}

Opened<Folder::Impl> FaultyFileSystem::openImpl(const QString& path, spinforge::Reach reach) {
    return guard(Op::openFolder, FileAction::open, path,
                 [&] { return wrapped<FolderImpl>(*this, path, real_.openImpl(path, reach)); });
}

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

}  // namespace testing_support
