#include "devserver/FileDigest.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace spinforge::devserver {
namespace {

constexpr std::size_t kBlockBytes = 1024 * 1024;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

}  // namespace

std::string toHex(const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

FileDigest digestFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + file.string());
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("cannot start SHA-256");
    FileDigest digest;
    std::vector<char> block(kBlockBytes);
    while (in) {
        in.read(block.data(), std::streamsize(block.size()));
        const auto count = std::size_t(in.gcount());
        EVP_DigestUpdate(context.get(), block.data(), count);
        digest.byteSize += count;
    }
    if (in.bad()) throw std::runtime_error("cannot read " + file.string());
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), value, &length);
    digest.sha256 = toHex(value, length);
    return digest;
}

}  // namespace spinforge::devserver
