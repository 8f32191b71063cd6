#include "platform/FileSystem.h"

#include <unistd.h>

namespace spinforge {

QString Folder::pathOf(const QString& relative) const {
    if (relative.isEmpty()) return path_;
    return path_.endsWith(u'/') ? path_ + relative : path_ + u'/' + relative;
}

FileResult<Folder> Folder::openFolder(const QString& relative) const { return files_->openFolder(*this, relative); }
FileStatus Folder::makeFolders(const QString& relative) const { return files_->makeFolders(*this, relative); }
FileResult<FileInfo> Folder::inspect(const QString& relative) const { return files_->inspect(*this, relative); }
FileResult<QStringList> Folder::list(const QString& relative) const { return files_->list(*this, relative); }
FileResult<InputFile> Folder::openForReading(const QString& relative) const {
    return files_->openForReading(*this, relative);
}
FileResult<QByteArray> Folder::readSmallFile(const QString& relative, qint64 maxBytes) const {
    return files_->readSmallFile(*this, relative, maxBytes);
}
FileStatus Folder::checkWritable() const { return files_->checkWritable(*this); }
FileResult<StagedFile> Folder::stage(const QString& relative) const { return files_->stage(*this, relative); }
FileStatus Folder::remove(const QString& relative) const { return files_->remove(*this, relative); }

FileResult<qint64> InputFile::read(char* buffer, qint64 capacity) { return files_->read(*this, buffer, capacity); }

StagedFile::StagedFile(FileSystem& files, UniqueFd file, UniqueFd folder, QByteArray stagingName, QByteArray finalName,
                       QString path, Reach reach)
    : files_(&files),
      file_(std::move(file)),
      folder_(std::move(folder)),
      stagingName_(std::move(stagingName)),
      finalName_(std::move(finalName)),
      path_(std::move(path)),
      reach_(reach) {}

StagedFile::~StagedFile() {
    file_.reset();
    // Nothing half-done stays behind; should this fail, the next write of the name removes it.
    if (!committed_ && folder_.isOpen()) ::unlinkat(folder_.get(), stagingName_.constData(), 0);
}

FileStatus StagedFile::write(const char* data, qint64 size) { return files_->write(*this, data, size); }
FileStatus StagedFile::copyFrom(InputFile& source) { return files_->copy(source, *this); }
FileStatus StagedFile::flush(bool dropCache) { return files_->flush(*this, dropCache); }
FileResult<InputFile> StagedFile::readBack() { return files_->readBack(*this); }
FileStatus StagedFile::commit() { return files_->commit(*this); }

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
