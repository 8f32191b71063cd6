#include "engine/Integrity.h"

#include <openssl/evp.h>

#include <memory>
#include <unistd.h>

namespace spinforge::Integrity {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// One block buffer for the whole process, reused by every check (all run on the main thread).
char* blockBuffer() {
    static const std::unique_ptr<char[]> buffer(new char[blockSize]);
    return buffer.get();
}

}  // namespace

QByteArray sha256Hex(int fd) {
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    char* buffer = blockBuffer();
    for (;;) {
        // A failed read ends the digest as the end of the file would; the digest then can't match.
        const ssize_t n = ::read(fd, buffer, size_t(blockSize));
        if (n <= 0) break;
        EVP_DigestUpdate(context.get(), buffer, size_t(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

bool validFile(FileOperations& files, const QString& path, const QString& sha256, qint64 size) {
    const std::optional<qint64> actualSize = files.fileSize(path);
    if (!actualSize || *actualSize != size) return false;
    const int fd = files.openForReading(path);
    if (fd < 0) return false;
    const QByteArray digest = sha256Hex(fd);
    ::close(fd);
    return QString::fromLatin1(digest) == sha256.toLower();
}

}  // namespace spinforge::Integrity

#include "engine/SyncEngine.h"

namespace spinforge {

bool SyncEngine::validFile(const QString& path, const QString& sha256, qint64 size) {
    return Integrity::validFile(fileManager_, path, sha256, size);
}

}  // namespace spinforge
