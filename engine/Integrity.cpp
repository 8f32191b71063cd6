#include "engine/Integrity.h"

#include <openssl/evp.h>

#include <memory>

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

QByteArray sha256Hex(InputFile& file) {
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    char* buffer = blockBuffer();
    for (;;) {
        // A failed read ends the digest as the end of the file would; the digest then can't match.
        const FileResult<qint64> n = file.read(buffer, blockSize);
        if (!n.ok() || *n == 0) break;
        EVP_DigestUpdate(context.get(), buffer, size_t(*n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

bool isDigest(const QByteArray& digest, const QString& sha256) {
    return QString::fromLatin1(digest) == sha256.toLower();
}

bool validFile(const Folder& folder, const QString& relative, const QString& sha256, qint64 size) {
    // Opening reads nothing: a file of another size costs no more than a look at it.
    FileResult<InputFile> file = folder.openForReading(relative);
    return file.ok() && file->size() == size && isDigest(sha256Hex(*file), sha256);
}

}  // namespace spinforge::Integrity
