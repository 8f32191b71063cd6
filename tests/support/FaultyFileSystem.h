#pragma once
// The real file system with failures injected where a test asks for them: an errno at an operation
// on matching paths, a FAT drive's refusals, and a hook before every operation. Paths are the ones
// the engine opened things by: a drive's files below its mount point, the library's below it.

#include "platform/PosixFileSystem.h"

#include <QList>
#include <QString>

#include <functional>

namespace testing_support {

class FaultyFileSystem final : public spinforge::FileSystem {
public:
    using FileAction = spinforge::FileAction;
    using FileInfo = spinforge::FileInfo;
    using FileStatus = spinforge::FileStatus;
    using Folder = spinforge::Folder;
    using InputFile = spinforge::InputFile;
    using Reach = spinforge::Reach;
    using StagedFile = spinforge::StagedFile;
    template <class T>
    using FileResult = spinforge::FileResult<T>;

    enum class Op {
        openFolder, inspect, list, openForReading, read, readSmallFile, checkWritable,
        makeFolders, stage, write, copy, flush, commit, remove
    };

    // `stop`: what the real file system below is to heed, as the agent's does.
    explicit FaultyFileSystem(const spinforge::StopRequest* stop = nullptr) : real_(stop) {}

    // The next `times` calls of `op` whose path contains `pathPart` fail with `errnum` (< 0: every call).
    void failOn(Op op, const QString& pathPart, int errnum, int times = -1) { rules_.append({op, pathPart, errnum, times, false}); }
    // The same, but a commit is carried out first, as when the rename happened but its flush failed.
    void failAfterDoing(Op op, const QString& pathPart, int errnum, int times = -1) {
        rules_.append({op, pathPart, errnum, times, true});
    }
    // Below `root` (empty: nowhere), behave as FAT: names holding : * ? " < > | or \ refused with
    // EINVAL, copies past `maxFileSize` with EFBIG, a name found under any spelling of its letters.
    void emulateFat(const QString& root, qint64 maxFileSize = (qint64(1) << 32) - 1) {
        fatRoot_ = root;
        fatMaxFileSize_ = maxFileSize;
    }
    // Forgets every failure asked for; the FAT behaviour and the hook stay.
    void clearFaults() { rules_.clear(); }
    std::function<void(Op, const QString&)> beforeEach;
    // Runs `happen` once, just before the first `op` on a path that holds `pathPart`.
    void onceBefore(Op op, const QString& pathPart, std::function<void()> happen) {
        beforeEach = [=, this](Op seen, const QString& path) {
            if (seen != op || !path.contains(pathPart)) return;
            const auto once = happen;  // the hook, and what it holds, goes with the next line
            beforeEach = nullptr;
            once();
        };
    }

    FileResult<Folder> openFolder(const QString& path, Reach reach) override;
    FileResult<FileInfo> inspect(const QString& path) override {
        return guard(Op::inspect, FileAction::inspect, path, [&] { return real_.inspect(path); });
    }
    FileResult<Folder> openFolder(const Folder& folder, const QString& relative) override {
        return guard(Op::openFolder, FileAction::open, folder.pathOf(relative), [&] { return real_.openFolder(folder, relative); });
    }
    FileStatus makeFolders(const Folder& folder, const QString& relative) override {
        if (const int error = refusal(Op::makeFolders, folder.pathOf(relative))) return {FileAction::createFolder, folder.pathOf(relative), error};
        return real_.makeFolders(folder, relative);
    }
    FileResult<FileInfo> inspect(const Folder& folder, const QString& relative) override;
    FileResult<QStringList> list(const Folder& folder, const QString& relative) override {
        return guard(Op::list, FileAction::list, folder.pathOf(relative), [&] { return real_.list(folder, relative); });
    }
    FileResult<InputFile> openForReading(const Folder& folder, const QString& relative) override {
        return guard(Op::openForReading, FileAction::open, folder.pathOf(relative),
                     [&] { return real_.openForReading(folder, relative); });
    }
    FileResult<QByteArray> readSmallFile(const Folder& folder, const QString& relative, qint64 maxBytes) override {
        return guard(Op::readSmallFile, FileAction::open, folder.pathOf(relative),
                     [&] { return real_.readSmallFile(folder, relative, maxBytes); });
    }
    FileStatus checkWritable(const Folder& folder) override {
        return guard(Op::checkWritable, FileAction::write, folder.path(), [&] { return real_.checkWritable(folder); });
    }
    FileResult<StagedFile> stage(const Folder& folder, const QString& relative) override {
        if (const int error = refusal(Op::stage, folder.pathOf(relative))) return FileStatus(FileAction::write, folder.pathOf(relative), error);
        return real_.stage(folder, relative);
    }
    FileStatus remove(const Folder& folder, const QString& relative) override {
        return guard(Op::remove, FileAction::remove, folder.pathOf(relative), [&] { return real_.remove(folder, relative); });
    }
    FileResult<qint64> read(InputFile& file, char* buffer, qint64 capacity) override {
        return guard(Op::read, FileAction::read, file.path(), [&] { return real_.read(file, buffer, capacity); });
    }
    FileStatus write(StagedFile& file, const char* data, qint64 size) override {
        return guard(Op::write, FileAction::write, file.path(), [&] { return real_.write(file, data, size); });
    }
    FileStatus copy(InputFile& source, StagedFile& target) override;
    FileStatus flush(StagedFile& file, bool dropCache) override {
        return guard(Op::flush, FileAction::flush, file.path(), [&] { return real_.flush(file, dropCache); });
    }
    FileResult<InputFile> readBack(StagedFile& file) override { return real_.readBack(file); }
    FileStatus commit(StagedFile& file) override;

private:
    struct Rule {
        Op op;
        QString pathPart;
        int errnum;
        int times;
        bool afterDoing;
    };

    // The injected failure of `op` on `path`, else what `real` does; the hook runs first.
    template <class Real>
    auto guard(Op op, FileAction action, const QString& path, Real real) -> decltype(real()) {
        if (const int error = fails(op, path)) return FileStatus(action, path, error);
        return real();
    }
    int fails(Op op, const QString& path);
    int take(Op op, const QString& path, bool afterDoing);
    // An injected failure, else what a FAT drive would say about the name.
    int refusal(Op op, const QString& path);
    bool isOnFat(const QString& path) const { return !fatRoot_.isEmpty() && path.startsWith(fatRoot_ + u'/'); }

    spinforge::PosixFileSystem real_;
    QList<Rule> rules_;
    QString fatRoot_;
    qint64 fatMaxFileSize_ = 0;
};

}  // namespace testing_support
