#pragma once
// The real file system with failures injected where a test asks for them: an errno at an operation
// on matching paths, a FAT drive's refusals, and a hook before every operation. Each folder and file
// it opens wraps the real one, so every operation on every handle comes here first, the removal of
// a staging file let go of uncommitted included. Paths are the ones the engine opened things by: a
// drive's files below its mount point, the library's below it.

#include "platform/PosixFileSystem.h"

#include <QList>
#include <QString>

#include <functional>

namespace testing_support {

class FaultyFileSystem final : public spinforge::FileSystem {
public:
    enum class Op {
        openFolder, inspect, list, openForReading, read, readSmallFile, checkWritable,
        makeFolders, stage, write, copy, flush, commit, remove,
        discard  // a staged file let go of: removed unless it was committed
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

    spinforge::FileResult<spinforge::FileInfo> inspect(const QString& path) override;
    spinforge::Opened<spinforge::Folder::Impl> openImpl(const QString& path, spinforge::Reach reach) override;

private:
    // The wrappers of the real file system's objects (FaultyFileSystem.cpp).
    class FolderImpl;
    class InputImpl;
    class StagedImpl;

    struct Rule {
        Op op;
        QString pathPart;
        int errnum;
        int times;
        bool afterDoing;
    };

    // The injected failure of `op` on `path`, else what `real` does; the hook runs first.
    template <class Real>
    auto guard(Op op, spinforge::FileAction action, const QString& path, Real real) -> decltype(real()) {
        if (const int error = fails(op, path)) return spinforge::FileStatus(action, path, error);
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
