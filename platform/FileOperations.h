#pragma once
// Every file operation of the sync engine goes through this seam, so that tests can make any one
// of them fail with the errno a real drive would give (a full drive, a FAT drive refusing a name,
// a drive pulled out). The real one is PosixFileOperations.
//
// A drive is outside input. A path through a FolderHandle ("/proc/self/fd/7/DJ-Music/a.mp3") is
// resolved beneath the held folder and never through a symbolic link: a link on the way, or where
// a file would be written, fails the operation with ELOOP, and queries read it as nothing there.
// Other paths (the library, the mount table) resolve as usual.
//
// Operations that change something return 0, or the errno value of the failure; the caller knows
// which track and which drive it was working on and words the message for the user. Queries
// return nullopt or false on any failure. Synchronous; main thread.

#include <QByteArray>
#include <QString>
#include <optional>

namespace spinforge {

class FileOperations {
public:
    virtual ~FileOperations() = default;

    // The size of the regular file at `path`, or nullopt when there is none or it can't be asked.
    virtual std::optional<qint64> fileSize(const QString& path) = 0;
    // An open file descriptor for reading, or -1. The caller closes it.
    virtual int openForReading(const QString& path) = 0;
    // The whole content of a regular file of at most `maxBytes` (the marker, the mount table), or
    // nullopt for anything else: a larger file, a link, a FIFO or a device. Opening never waits.
    virtual std::optional<QByteArray> readFile(const QString& path, qint64 maxBytes) = 0;
    // Whether the current user may write into the folder or file at `path`.
    virtual bool isWritable(const QString& path) = 0;
    // Whether `path` itself is a symbolic link.
    virtual bool isLink(const QString& path) = 0;
    // Whether both paths lead to one existing file: on a drive that ignores letter case (FAT,
    // exFAT) "a.mp3" and "A.mp3" do.
    virtual bool isSameFile(const QString& first, const QString& second) = 0;

    // Creates `folder` with its missing parents; an existing folder is no failure.
    virtual int createFolders(const QString& folder) = 0;
    // Removes one file.
    virtual int remove(const QString& path) = 0;
    // Copies `source` byte for byte to a new file at `target` (which must not exist), flushed to
    // the device before it returns. A copy that fails leaves nothing at `target`.
    virtual int copy(const QString& source, const QString& target) = 0;
    // Renames `source` over `target` in one step, then flushes the folder, so the move survives
    // the drive being pulled out right after.
    virtual int move(const QString& source, const QString& target) = 0;
    // Replaces `target` whole: a reader, or a drive pulled out, sees the old file or the new one.
    // The new bytes are staged in "<target>.spinforge-partial", which is removed first, so an
    // interrupted write leaves at most that one file, never a growing set.
    virtual int writeAtomically(const QString& target, const QByteArray& bytes) = 0;
};

}  // namespace spinforge
