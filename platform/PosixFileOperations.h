#pragma once
// The real file operations: POSIX calls and the kernel's own copy, reaching a drive's files beneath
// its held root without following links (see FilePlace). Stateless; one instance may serve the
// whole process. Main thread.

#include "platform/FileOperations.h"

namespace spinforge {

class PosixFileOperations final : public FileOperations {
public:
    std::optional<qint64> fileSize(const QString& path) override;
    int openForReading(const QString& path) override;
    std::optional<QByteArray> readFile(const QString& path, qint64 maxBytes) override;
    bool isWritable(const QString& path) override;
    bool isLink(const QString& path) override;
    bool isSameFile(const QString& first, const QString& second) override;

    int createFolders(const QString& folder) override;
    int remove(const QString& path) override;
    int copy(const QString& source, const QString& target) override;
    int move(const QString& source, const QString& target) override;
    int writeAtomically(const QString& target, const QByteArray& bytes) override;
};

}  // namespace spinforge
