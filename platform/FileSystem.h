#pragma once
// The one seam through which the engine touches files: the library, the drives, the autostart
// entry. Everything is reached below an open folder, by a path relative to it ("House/a.mp3"),
// through move-only handles that own their descriptors:
//
//   Folder      a folder held open; on a drive nothing below it is reached through a link
//   InputFile   a file open for reading
//   StagedFile  a file being written beside its final name, renamed into place at commit;
//               removed again when its owner lets go of it uncommitted
//
// Every operation returns a FileStatus or a FileResult that names what failed. The real file
// system is PosixFileSystem; tests wrap it to make any one operation fail as a full disk, a FAT
// drive or a pulled stick would. A handle calls the file system it came from, so a wrapper sees
// every operation on every handle it gave out. Synchronous; main thread.

#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

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
    Folder(FileSystem& files, UniqueFd fd, QString path, Reach reach)
        : files_(&files), fd_(std::move(fd)), path_(std::move(path)), reach_(reach) {}
    Folder(Folder&&) noexcept = default;
    Folder& operator=(Folder&&) noexcept = default;

    // The path it was opened by: for messages, and for tests to know it by.
    const QString& path() const { return path_; }
    QString pathOf(const QString& relative) const;
    Reach reach() const { return reach_; }
    int fd() const { return fd_.get(); }
    FileSystem& files() const { return *files_; }
    // For a file system that wraps another: handles then call the wrapper.
    void rebind(FileSystem& files) { files_ = &files; }

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
    UniqueFd fd_;
    QString path_;
    Reach reach_;
};

class InputFile {
public:
    InputFile(FileSystem& files, UniqueFd fd, QString path, qint64 size)
        : files_(&files), fd_(std::move(fd)), path_(std::move(path)), size_(size) {}
    InputFile(InputFile&&) noexcept = default;
    InputFile& operator=(InputFile&&) noexcept = default;

    const QString& path() const { return path_; }
    int fd() const { return fd_.get(); }
    // The size the file system gave when the file was opened.
    qint64 size() const { return size_; }
    FileSystem& files() const { return *files_; }
    void rebind(FileSystem& files) { files_ = &files; }

    // Reads the next bytes into `buffer`: how many (0 at the end).
    FileResult<qint64> read(char* buffer, qint64 capacity);

private:
    FileSystem* files_;
    UniqueFd fd_;
    QString path_;
    qint64 size_;
};

class StagedFile {
public:
    StagedFile(FileSystem& files, UniqueFd file, UniqueFd folder, QByteArray stagingName, QByteArray finalName,
               QString path, Reach reach);
    ~StagedFile();  // removes the staging file unless committed
    StagedFile(StagedFile&&) noexcept = default;
    StagedFile& operator=(StagedFile&&) = delete;

    // The final name's path, as failures name it.
    const QString& path() const { return path_; }
    const QByteArray& stagingName() const { return stagingName_; }
    const QByteArray& finalName() const { return finalName_; }
    int fd() const { return file_.get(); }
    int folderFd() const { return folder_.get(); }
    Reach reach() const { return reach_; }
    qint64 bytesWritten() const { return written_; }
    FileSystem& files() const { return *files_; }
    void rebind(FileSystem& files) { files_ = &files; }

    FileStatus write(const char* data, qint64 size);
    // Appends what `source` holds from where it stands to its end, with the kernel's copy.
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

    // For file systems: record progress and the end.
    void countWritten(qint64 bytes) { written_ += bytes; }
    void markCommitted() { committed_ = true; }

private:
    FileSystem* files_;
    UniqueFd file_;
    UniqueFd folder_;
    QByteArray stagingName_;
    QByteArray finalName_;
    QString path_;
    Reach reach_;
    qint64 written_ = 0;
    bool committed_ = false;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // A folder by its absolute path; `reach` says how paths below it are reached.
    virtual FileResult<Folder> openFolder(const QString& path, Reach reach) = 0;
    // The file at an absolute path, links followed (a drive's mount point).
    virtual FileResult<FileInfo> inspect(const QString& path) = 0;

    // The operations of the handles; see there.
    virtual FileResult<Folder> openFolder(const Folder& folder, const QString& relative) = 0;
    virtual FileStatus makeFolders(const Folder& folder, const QString& relative) = 0;
    virtual FileResult<FileInfo> inspect(const Folder& folder, const QString& relative) = 0;
    virtual FileResult<QStringList> list(const Folder& folder, const QString& relative) = 0;
    virtual FileResult<InputFile> openForReading(const Folder& folder, const QString& relative) = 0;
    virtual FileResult<QByteArray> readSmallFile(const Folder& folder, const QString& relative, qint64 maxBytes) = 0;
    virtual FileStatus checkWritable(const Folder& folder) = 0;
    virtual FileResult<StagedFile> stage(const Folder& folder, const QString& relative) = 0;
    virtual FileStatus remove(const Folder& folder, const QString& relative) = 0;
    virtual FileResult<qint64> read(InputFile& file, char* buffer, qint64 capacity) = 0;
    virtual FileStatus write(StagedFile& file, const char* data, qint64 size) = 0;
    virtual FileStatus copy(InputFile& source, StagedFile& target) = 0;
    virtual FileStatus flush(StagedFile& file, bool dropCache) = 0;
    virtual FileResult<InputFile> readBack(StagedFile& file) = 0;
    virtual FileStatus commit(StagedFile& file) = 0;
};

// The folder at the absolute `path`, made with its missing parents first.
FileResult<Folder> openOrMakeFolder(FileSystem& files, const QString& path, Reach reach);
// Replaces the file at `relative` whole (the marker, the playlist, the autostart entry): staged,
// flushed and renamed into place, so a reader, or a drive pulled out, sees the old file or the new
// one, never a mixture.
FileStatus writeWhole(const Folder& folder, const QString& relative, const QByteArray& bytes);

}  // namespace spinforge
