#include "platform/FileSystem.h"

#include "platform/FileHandles.h"

namespace spinforge {
namespace {

// The handle for a newly opened object, or the failure to open it.
template <class Handle, class Impl>
FileResult<Handle> held(Opened<Impl> opened) {
    if (!opened.ok()) return opened.status();
    return Handle(std::move(*opened));
}

}  // namespace

QString pathBelow(const QString& folder, const QString& relative) {
    if (relative.isEmpty()) return folder;
    return folder.endsWith(u'/') ? folder + relative : folder + u'/' + relative;
}

Folder::Folder(FileSystem& files, std::unique_ptr<Impl> impl) : files_(&files), impl_(std::move(impl)) {}
Folder::~Folder() = default;
Folder::Folder(Folder&&) noexcept = default;
Folder& Folder::operator=(Folder&&) noexcept = default;

FileResult<Folder> Folder::openFolder(const QString& relative) const {
    Opened<Impl> opened = impl_->openFolder(relative);
    if (!opened.ok()) return opened.status();
    return Folder(*files_, std::move(*opened));
}
FileStatus Folder::makeFolders(const QString& relative) const { return impl_->makeFolders(relative); }
FileResult<FileInfo> Folder::inspect(const QString& relative) const { return impl_->inspect(relative); }
FileResult<QStringList> Folder::list(const QString& relative) const { return impl_->list(relative); }
FileResult<InputFile> Folder::openForReading(const QString& relative) const {
    return held<InputFile>(impl_->openForReading(relative));
}
FileResult<QByteArray> Folder::readSmallFile(const QString& relative, qint64 maxBytes) const {
    return impl_->readSmallFile(relative, maxBytes);
}
FileStatus Folder::checkWritable() const { return impl_->checkWritable(); }
FileResult<StagedFile> Folder::stage(const QString& relative) const { return held<StagedFile>(impl_->stage(relative)); }
FileStatus Folder::remove(const QString& relative) const { return impl_->remove(relative); }

InputFile::InputFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
InputFile::~InputFile() = default;
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;

qint64 InputFile::size() const { return impl_->size(); }
FileResult<qint64> InputFile::read(char* buffer, qint64 capacity) { return impl_->read(buffer, capacity); }

StagedFile::StagedFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
StagedFile::StagedFile(StagedFile&&) noexcept = default;

StagedFile::~StagedFile() {
    // Nothing half-done stays behind; should this fail, the next write of the name removes it.
    if (impl_) impl_->discard().ignore();
}

qint64 StagedFile::bytesWritten() const { return impl_->bytesWritten(); }
FileStatus StagedFile::write(const char* data, qint64 size) { return impl_->write(data, size); }
FileStatus StagedFile::copyFrom(InputFile& source) { return impl_->copyFrom(*source.impl_); }
FileStatus StagedFile::flush(bool dropCache) { return impl_->flush(dropCache); }
FileResult<InputFile> StagedFile::readBack() { return held<InputFile>(impl_->readBack()); }
FileStatus StagedFile::commit() { return impl_->commit(); }

FileResult<Folder> FileSystem::openFolder(const QString& path, Reach reach) {
    Opened<Folder::Impl> opened = openImpl(path, reach);
    if (!opened.ok()) return opened.status();
    return Folder(*this, std::move(*opened));
}

FileResult<Folder> openOrMakeFolder(FileSystem& files, const QString& path, Reach reach) {
    FileResult<Folder> root = files.openFolder(QStringLiteral("/"), Reach::anywhere);
    if (!root.ok()) return root;
    const QString below = path.mid(1);
    if (FileStatus made = root->makeFolders(below); !made.ok()) return made;
    return files.openFolder(path, reach);
}

FileStatus writeWhole(const Folder& folder, const QString& relative, const QByteArray& bytes) {
    FileResult<StagedFile> staged = folder.stage(relative);
    if (!staged.ok()) return staged.status();
    if (FileStatus written = staged->write(bytes.constData(), bytes.size()); !written.ok()) return written;
    if (FileStatus flushed = staged->flush(); !flushed.ok()) return flushed;
    return staged->commit();
}

}  // namespace spinforge
