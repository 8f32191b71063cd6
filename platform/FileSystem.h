#pragma once
// The one seam through which the engine touches files: the library, the drives, the autostart
// entry. Everything is reached below an open folder, by a path relative to it ("House/a.mp3"),
// through move-only handles:
//
//   Folder      a folder held open; on a drive nothing below it is reached through a link
//   InputFile   a file open for reading
//   StagedFile  a file being written beside its final name, renamed into place at commit;
//               removed again when its owner lets go of it uncommitted
//
// Every operation returns a FileStatus or a FileResult that names what failed. Each handle owns
// the object its file system gave out for it (see FileHandles.h), and every operation, the removal
// of an uncommitted staging file included, is that object's: the real file system is
// PosixFileSystem; tests wrap its objects to make any one operation fail as a full disk, a FAT
// drive or a pulled stick would. Synchronous; main thread.

#include "platform/FileStatus.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <sys/types.h>

namespace spinforge {

class FileSystem;
class InputFile;
class StagedFile;

// How paths below a folder are reached.
enum class Reach {
    anywhere,  // the computer's own folders: links are followed as everywhere else
    beneath,   // a drive, which is outside input: never through a link, never above the folder
};

// What a look at one file gives.
struct FileInfo {
    enum class Type { file, folder, link, other };
    Type type = Type::other;  // a link is reported as one only where links are not followed
    qint64 size = 0;
    dev_t device = 0;     // the file system
    ino_t inode = 0;
    quint64 mountId = 0;  // the mount it was reached through, as the mount table numbers it
};

class Folder {
public:
    class Impl;  // what a file system gives out for it
    Folder(FileSystem& files, std::unique_ptr<Impl> impl);
    ~Folder();
    Folder(Folder&&) noexcept;
    Folder& operator=(Folder&&) noexcept;

    // The file system it was opened through: absolute paths (a drive's mount point) go there.
    FileSystem& files() const { return *files_; }

    FileResult<Folder> openFolder(const QString& relative) const;
    // Creates the folder at `relative` with its missing parents; an existing one is no failure.
    FileStatus makeFolders(const QString& relative) const;
    // An empty `relative` is this folder itself.
    FileResult<FileInfo> inspect(const QString& relative = {}) const;
    // The names in the folder at `relative`, "." and ".." left out.
    FileResult<QStringList> list(const QString& relative = {}) const;
    // A regular file, open for reading; anything else fails (EISDIR, EINVAL). Opening never waits.
    FileResult<InputFile> openForReading(const QString& relative) const;
    // The whole content of a small regular file: a larger file, a link, a FIFO or a device fails
    // (EFBIG, ELOOP, EINVAL). Opening never waits.
    FileResult<QByteArray> readSmallFile(const QString& relative, qint64 maxBytes) const;
    // Whether the current user may write here: EROFS for a read-only mount.
    FileStatus checkWritable() const;
    // A new staging file for the final name `relative`, whose folder must exist. Whatever an
    // interrupted earlier write left under the same staging name is removed first.
    FileResult<StagedFile> stage(const QString& relative) const;
    FileStatus remove(const QString& relative) const;

private:
    FileSystem* files_;
    std::unique_ptr<Impl> impl_;
};

class InputFile {
public:
    class Impl;
    explicit InputFile(std::unique_ptr<Impl> impl);
    ~InputFile();
    InputFile(InputFile&&) noexcept;
    InputFile& operator=(InputFile&&) noexcept;

    // The size the file system gave when the file was opened.
    qint64 size() const;
    // Reads the next bytes into `buffer`: how many (0 at the end).
    FileResult<qint64> read(char* buffer, qint64 capacity);

private:
    friend class StagedFile;  // a copy hands the source's object to the target's
    std::unique_ptr<Impl> impl_;
};

class StagedFile {
public:
    class Impl;
    explicit StagedFile(std::unique_ptr<Impl> impl);
    ~StagedFile();  // removes the staging file unless committed
    StagedFile(StagedFile&&) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;

    qint64 bytesWritten() const;
    FileStatus write(const char* data, qint64 size);
    // Appends what `source` holds from where it stands to its end, with the kernel's copy.
    // `source` must come from the same file system (EXDEV otherwise).
    FileStatus copyFrom(InputFile& source);
    // To the device. With `dropCache` the pages the kernel keeps of the file go too, so that what
    // is read next comes from the device itself, not from the computer's memory of what was sent.
    FileStatus flush(bool dropCache = false);
    // The staged bytes from their start, read through this file's own descriptor.
    FileResult<InputFile> readBack();
    // Renames the staged file over the final name in one step and flushes the folder, so the move
    // survives the drive being pulled right after. Beneath a drive a link at the final name fails
    // (ELOOP). After a failure the staging file is still removed when the owner lets go.
    FileStatus commit();

private:
    std::unique_ptr<Impl> impl_;
};

// A newly opened object of a file system (see FileHandles.h), or why it could not be opened.
template <class Impl>
using Opened = FileResult<std::unique_ptr<Impl>>;

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // A folder by its absolute path; `reach` says how paths below it are reached.
    FileResult<Folder> openFolder(const QString& path, Reach reach);
    // The file at an absolute path, links followed (a drive's mount point).
    virtual FileResult<FileInfo> inspect(const QString& path) = 0;

    // For openFolder, and for a file system that wraps this one: the object behind the folder.
    virtual Opened<Folder::Impl> openImpl(const QString& path, Reach reach) = 0;
};

// The folder at the absolute `path`, made with its missing parents first.
FileResult<Folder> openOrMakeFolder(FileSystem& files, const QString& path, Reach reach);
// Replaces the file at `relative` whole (the marker, the playlist, the autostart entry): staged,
// flushed and renamed into place, so a reader, or a drive pulled out, sees the old file or the new
// one, never a mixture.
FileStatus writeWhole(const Folder& folder, const QString& relative, const QByteArray& bytes);

}  // namespace spinforge
