#include "devserver/Sessions.h"

#include "devserver/FileDigest.h"

#include <openssl/rand.h>

#include <array>
#include <cctype>
#include <stdexcept>

namespace spinforge::devserver {

Sessions::Sessions(std::vector<Account> accounts, const std::vector<std::string>& preissuedTokens)
    : accounts_(std::move(accounts)) {
    if (accounts_.empty()) throw std::invalid_argument("Sessions need at least one account");
    for (const std::string& token : preissuedTokens) accountByToken_[token] = 0;
}

std::optional<IssuedDevice> Sessions::login(const std::string& email, const std::string& password) {
    for (std::size_t i = 0; i < accounts_.size(); ++i) {
        if (accounts_[i].email != email || accounts_[i].password != password) continue;
        IssuedDevice device{randomToken(), 0, accounts_[i].displayName};
        std::lock_guard lock(mutex_);
        device.deviceId = nextDeviceId_++;
        accountByToken_[device.token] = i;
        return device;
    }
    return std::nullopt;
}

const Account* Sessions::accountFor(const std::string& authorizationHeader) const {
    const std::optional<std::string> token = bearerToken(authorizationHeader);
    if (!token) return nullptr;
    std::lock_guard lock(mutex_);
    const auto found = accountByToken_.find(*token);
    return found == accountByToken_.end() ? nullptr : &accounts_[found->second];
}

std::optional<std::string> bearerToken(const std::string& header) {
    constexpr std::string_view kScheme = "bearer ";
    if (header.size() <= kScheme.size()) return std::nullopt;
    for (std::size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != kScheme[i]) return std::nullopt;
    std::string token = header.substr(kScheme.size());
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) token.pop_back();
    if (token.empty()) return std::nullopt;
    return token;
}

std::string randomToken() {
    std::array<unsigned char, 32> bytes{};
    if (RAND_bytes(bytes.data(), int(bytes.size())) != 1) throw std::runtime_error("no random bytes for a token");
    return toHex(bytes.data(), bytes.size());
}

}  // namespace spinforge::devserver
