#include "Digest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace bench {
namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::string hexOf(const unsigned char* digest, unsigned int length) {
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::string finish(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    return hexOf(digest, length);
}

// Hashes what remains of `fd`; false when a read fails.
bool hashAll(int fd, EVP_MD_CTX* context) {
    // One block for the whole run: the checks run on one thread and must not add to the
    // memory figures they watch.
    static std::vector<char> block(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        EVP_DigestUpdate(context, block.data(), std::size_t(n));
    }
}

}  // namespace

std::string sha256Hex(const char* data, std::size_t size) {
    Context context(EVP_MD_CTX_new());
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    EVP_DigestUpdate(context.get(), data, size);
    return finish(context.get());
}

std::optional<std::string> fileSha256Hex(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Context context(EVP_MD_CTX_new());
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    const bool complete = hashAll(fd, context.get());
    ::close(fd);
    if (!complete) return std::nullopt;
    return finish(context.get());
}

}  // namespace bench
