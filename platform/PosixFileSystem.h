#pragma once
// The real file system: POSIX calls and the kernel's own copy. A drive's files are reached beneath
// its held root without following links (see PosixPaths); every write is staged and flushed before
// it is renamed into place. Once `stop` is requested every operation fails with ECANCELED, a copy
// or a read in the middle of a large file at its next block. Stateless otherwise; one instance
// serves the whole process and must outlive every handle it gave out. Main thread.

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

    FileResult<FileInfo> inspect(const QString& path) override;
    Opened<Folder::Impl> openImpl(const QString& path, Reach reach) override;

private:
    // The objects it gives out, each holding its descriptors (PosixFileSystem.cpp).
    class FolderImpl;
    class InputImpl;
    class StagedImpl;

    bool stopped() const { return stop_ && stop_->isRequested(); }

    const StopRequest* const stop_;
    const PosixPaths::Walk walk_;
};

}  // namespace spinforge
