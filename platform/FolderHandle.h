#pragma once
// An open folder, reached by a path that goes through the open descriptor rather than through
// the folder's name ("/proc/self/fd/7"). Held on a drive's root, it pins the drive: once the drive
// is unmounted, a write through it still lands on the drive (which the kernel keeps until the
// handle is closed) and never in the empty mount folder on the computer's own disk.
// One owner; closes on destruction. Main thread.

#include <QString>

namespace spinforge {

class FolderHandle {
public:
    explicit FolderHandle(const QString& folder);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int error() const { return error_; }  // errno of a failed open
    // The path through the descriptor; paths below it resolve inside the opened folder.
    QString path() const;

private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace spinforge
