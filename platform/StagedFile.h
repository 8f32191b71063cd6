#pragma once
// A download's file, written under the staging name its caller chose (the library's
// "<track>.spinforge-partial") and flushed to the device at commit. Whatever was at that name is
// removed first, so an interrupted earlier download never mixes in; until committed the file is
// removed again whenever its writer lets go of it, so a failed download leaves nothing behind.
// Not thread-safe; one owner. Every failure throws FileError naming the file.

#include <QByteArray>
#include <QString>

namespace spinforge {

class StagedFile {
public:
    // Creates the file at `path`, whose folder must exist.
    explicit StagedFile(const QString& path);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    void write(const char* data, qint64 size);
    void write(const QByteArray& bytes) { write(bytes.constData(), bytes.size()); }
    qint64 bytesWritten() const { return written_; }

    // Flushes the file to the device and keeps it.
    void commit();

private:
    void startWriteBack();

    QString path_;
    int fd_ = -1;
    qint64 written_ = 0;
    qint64 writeBackFrom_ = 0;  // bytes before this are already on their way to the device
    bool committed_ = false;
};

// Creates `folder` and its missing parents. Throws FileError.
void createFolders(const QString& folder);

}  // namespace spinforge
