#pragma once
// The device token's one keyring item: service "com.spinforge.mac", account "device-token".
// Stateless; the keyring to use is passed in. Synchronous, main thread.

#include "platform/Keyring.h"

#include <QString>
#include <optional>

namespace spinforge::Keychain {

inline const QString service = QStringLiteral("com.spinforge.mac");
inline const QString label = QStringLiteral("Spinforge device token");

// The stored token, or nullopt when there is none, the keyring can't be reached, or the stored
// bytes are not UTF-8 text.
std::optional<QString> load(Keyring& keyring);

// Replaces the stored token: every old item is removed first, then one new item holding the
// token's UTF-8 bytes is added. Throws SpinforgeError::server("Could not secure the device
// token (N).") when the add is refused; the device then has no token at all.
void save(Keyring& keyring, const QString& token);

}  // namespace spinforge::Keychain
