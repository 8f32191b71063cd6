#pragma once
// Accounts and the device tokens issued to them. Every login issues a fresh token and a new
// device id, as the real service does for each agent that signs in.

#include "devserver/Options.h"

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace spinforge::devserver {

struct IssuedDevice {
    std::string token;
    long long deviceId = 0;
    std::string displayName;
};

class Sessions {
public:
    // `preissuedTokens` are valid from the start, all for the first account.
    Sessions(std::vector<Account> accounts, const std::vector<std::string>& preissuedTokens);

    std::optional<IssuedDevice> login(const std::string& email, const std::string& password);

    // The account owning the bearer token in an Authorization header, or null.
    const Account* accountFor(const std::string& authorizationHeader) const;

private:
    mutable std::mutex mutex_;
    std::vector<Account> accounts_;  // never resized after construction: pointers stay valid
    std::unordered_map<std::string, std::size_t> accountByToken_;
    long long nextDeviceId_ = 1;
};

// The token of "Bearer <token>" (scheme in any case), or nullopt.
std::optional<std::string> bearerToken(const std::string& authorizationHeader);

// 32 random bytes as 64 lower-case hex digits.
std::string randomToken();

}  // namespace spinforge::devserver
