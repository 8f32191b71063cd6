#pragma once
// What a file system implements: one object for each folder or file it opens, owned by the handle
// a caller holds (Folder, InputFile, StagedFile in FileSystem.h), which hands it each operation of
// the same name; see there for what each does. Objects give out objects, never handles, so a file
// system that wraps another (the tests' FaultyFileSystem) wraps each object the other gives out and
// sees every operation on it. Only file systems include this.

#include "platform/FileSystem.h"

#include <memory>

namespace spinforge {

// The path of `relative` below the folder at `folder`, as failures name it.
QString pathBelow(const QString& folder, const QString& relative);

class InputFile::Impl {
public:
    virtual ~Impl() = default;
    virtual qint64 size() const = 0;
    virtual FileResult<qint64> read(char* buffer, qint64 capacity) = 0;
};

class StagedFile::Impl {
public:
    // Letting go of the object closes what it holds and nothing more: the removal is discard().
    virtual ~Impl() = default;
    virtual qint64 bytesWritten() const = 0;
    virtual FileStatus write(const char* data, qint64 size) = 0;
    // `source` is an object of the same file system.
    virtual FileStatus copyFrom(InputFile::Impl& source) = 0;
    virtual FileStatus flush(bool dropCache) = 0;
    virtual Opened<InputFile::Impl> readBack() = 0;
    virtual FileStatus commit() = 0;
    // Closes the file and removes it unless it was committed; called once, as the handle lets go,
    // committed or not.
    virtual FileStatus discard() = 0;
};

class Folder::Impl {
public:
    virtual ~Impl() = default;
    virtual Opened<Folder::Impl> openFolder(const QString& relative) const = 0;
    virtual FileStatus makeFolders(const QString& relative) const = 0;
    virtual FileResult<FileInfo> inspect(const QString& relative) const = 0;
    virtual FileResult<QStringList> list(const QString& relative) const = 0;
    virtual Opened<InputFile::Impl> openForReading(const QString& relative) const = 0;
    virtual FileResult<QByteArray> readSmallFile(const QString& relative, qint64 maxBytes) const = 0;
    virtual FileStatus checkWritable() const = 0;
    virtual Opened<StagedFile::Impl> stage(const QString& relative) const = 0;
    virtual FileStatus remove(const QString& relative) const = 0;
};

}  // namespace spinforge
