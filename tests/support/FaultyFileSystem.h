#pragma once
// The real file system with failures injected where a test asks for them: one errno at one
// operation on matching paths, the refusals of a FAT drive below a folder, and a hook that runs
// before every operation (to pull a drive out mid-cycle, or kill the process). Paths are the ones
// the engine opened things by: a drive's files below its mount point, the library's below it.

#include "platform/PosixFileSystem.h"

#include <QList>
#include <QString>

#include <functional>

namespace testing_support {

class FaultyFileSystem final : public spinforge::FileSystem {
public:
    enum class Op {
        openFolder, inspect, list, openForReading, read, readSmallFile, checkWritable,
        makeFolders, stage, write, copy, flush, commit, remove
    };

    // `stop`: what the real file system below is to heed, as the agent's does.
    explicit FaultyFileSystem(const spinforge::StopRequest* stop = nullptr) : real_(stop) {}

    // The next `times` calls of `op` whose path contains `pathPart` fail with `errnum`
    // (times < 0: every call).
    void failOn(Op op, const QString& pathPart, int errnum, int times = -1) { rules_.append({op, pathPart, errnum, times, false}); }
    // The same, but a commit is carried out first and then reported failed, as when the rename
    // happened but flushing the folder failed.
    void failAfterDoing(Op op, const QString& pathPart, int errnum, int times = -1) {
        rules_.append({op, pathPart, errnum, times, true});
    }
    // Below `root`, behave as a FAT drive does: names holding : * ? " < > | or \ are refused with
    // EINVAL, a copy of a file larger than `maxFileSize` with EFBIG, and a name that differs only
    // in letter case from an existing one leads to it. An empty root ends it.
    void emulateFat(const QString& root, qint64 maxFileSize = (qint64(1) << 32) - 1) {
        fatRoot_ = root;
        fatMaxFileSize_ = maxFileSize;
    }
    // Forgets every failure asked for; the FAT behaviour and the hook stay.
    void clearFaults() { rules_.clear(); }
    std::function<void(Op, const QString&)> beforeEach;

    using Folder = spinforge::Folder;
    using FileStatus = spinforge::FileStatus;
    template <class T>
    using FileResult = spinforge::FileResult<T>;

    FileResult<Folder> openFolder(const QString& path, spinforge::Reach reach) override;
    FileResult<spinforge::FileInfo> inspect(const QString& path) override;
    FileResult<Folder> openFolder(const Folder& folder, const QString& relative) override;
    FileStatus makeFolders(const Folder& folder, const QString& relative) override;
    FileResult<spinforge::FileInfo> inspect(const Folder& folder, const QString& relative) override;
    FileResult<QStringList> list(const Folder& folder, const QString& relative) override;
    FileResult<spinforge::InputFile> openForReading(const Folder& folder, const QString& relative) override;
    FileResult<QByteArray> readSmallFile(const Folder& folder, const QString& relative, qint64 maxBytes) override;
    FileStatus checkWritable(const Folder& folder) override;
    FileResult<spinforge::StagedFile> stage(const Folder& folder, const QString& relative) override;
    FileStatus remove(const Folder& folder, const QString& relative) override;
    FileResult<qint64> read(spinforge::InputFile& file, char* buffer, qint64 capacity) override;
    FileStatus write(spinforge::StagedFile& file, const char* data, qint64 size) override;
    FileStatus copy(spinforge::InputFile& source, spinforge::StagedFile& target) override;
    FileStatus flush(spinforge::StagedFile& file, bool dropCache) override;
    FileResult<spinforge::InputFile> readBack(spinforge::StagedFile& file) override;
    FileStatus commit(spinforge::StagedFile& file) override;

private:
    struct Rule {
        Op op;
        QString pathPart;
        int errnum;
        int times;
        bool afterDoing;
    };

    // The injected failure of `op` on `path`, or 0; runs the hook first.
    int fails(Op op, const QString& path);
    int take(Op op, const QString& path, bool afterDoing);
    // An injected failure, else what a FAT drive would say about the name.
    int refusal(Op op, const QString& path);
    bool isOnFat(const QString& path) const;

    spinforge::PosixFileSystem real_;
    QList<Rule> rules_;
    QString fatRoot_;
    qint64 fatMaxFileSize_ = 0;
};

}  // namespace testing_support
