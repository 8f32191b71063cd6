#pragma once
// A file written beside its final path and moved over it only once it is complete and flushed to
// the device, so that neither a reader nor a drive pulled out mid-write ever finds half a file
// under the final name. Until committed the file has no name where the kernel allows it
// (O_TMPFILE), so a killed process leaves nothing behind; elsewhere (FAT) it is a hidden
// temporary file that the destructor removes.
// Not thread-safe; one owner. Every failure throws FileError naming the file.

#include <QByteArray>
#include <QString>

namespace spinforge {

class StagedFile {
public:
    // Opens the staging file in `target`'s folder, which must exist.
    explicit StagedFile(const QString& target);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    void write(const char* data, qint64 size);
    void write(const QByteArray& bytes) { write(bytes.constData(), bytes.size()); }
    qint64 bytesWritten() const { return written_; }

    // Flushes the file to the device, moves it over the target, and flushes the folder.
    void commit();

    // The whole-file write for small files (marker, playlist, autostart entry).
    static void writeAtomically(const QString& target, const QByteArray& bytes);

private:
    QString nameForLink() const;
    void startWriteBack();

    QString target_;
    QString folder_;
    QString tempPath_;  // empty while the file has no name
    int fd_ = -1;
    qint64 written_ = 0;
    qint64 writeBackFrom_ = 0;  // bytes before this are already on their way to the device
    bool committed_ = false;
};

// Creates `folder` and its missing parents. Throws FileError.
void createFolders(const QString& folder);

}  // namespace spinforge
