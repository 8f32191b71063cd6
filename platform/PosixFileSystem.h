#pragma once
// The real file system: POSIX calls and the kernel's own copy. A drive's files are reached beneath
// its held root without following links (see PosixPaths); every write is staged and flushed before
// it is renamed into place. Once `stop` is requested every operation fails with ECANCELED, a copy
// or a read in the middle of a large file at its next block. Stateless otherwise; one instance
// serves the whole process. Main thread.

#include "platform/FileSystem.h"
#include "platform/PosixPaths.h"
#include "platform/StopRequest.h"

namespace spinforge {

class PosixFileSystem final : public FileSystem {
public:
    // `stop`, when given, must outlive this. `walk`: how paths beneath a drive are resolved; step
    // by step only to test that walk.
    explicit PosixFileSystem(const StopRequest* stop = nullptr, PosixPaths::Walk walk = PosixPaths::Walk::openat2)
        : stop_(stop), walk_(walk) {}

    FileResult<Folder> openFolder(const QString& path, Reach reach) override;
    FileResult<FileInfo> inspect(const QString& path) override;

    FileResult<Folder> openFolder(const Folder& folder, const QString& relative) override;
    FileStatus makeFolders(const Folder& folder, const QString& relative) override;
    FileResult<FileInfo> inspect(const Folder& folder, const QString& relative) override;
    FileResult<QStringList> list(const Folder& folder, const QString& relative) override;
    FileResult<InputFile> openForReading(const Folder& folder, const QString& relative) override;
    FileResult<QByteArray> readSmallFile(const Folder& folder, const QString& relative, qint64 maxBytes) override;
    FileStatus checkWritable(const Folder& folder) override;
    FileResult<StagedFile> stage(const Folder& folder, const QString& relative) override;
    FileStatus remove(const Folder& folder, const QString& relative) override;
    FileResult<qint64> read(InputFile& file, char* buffer, qint64 capacity) override;
    FileStatus write(StagedFile& file, const char* data, qint64 size) override;
    FileStatus copy(InputFile& source, StagedFile& target) override;
    FileStatus flush(StagedFile& file, bool dropCache) override;
    FileResult<InputFile> readBack(StagedFile& file) override;
    FileStatus commit(StagedFile& file) override;

private:
    bool stopped() const { return stop_ && stop_->isRequested(); }

    const StopRequest* const stop_;
    const PosixPaths::Walk walk_;
};

}  // namespace spinforge
