#pragma once
// The keyring over the freedesktop Secret Service (gnome-keyring, KWallet) through libsecret's
// synchronous calls, in the default collection. A missing or locked service reads as "no
// secret"; a refused store returns the GError code (-1 when there is none).

#include "platform/Keyring.h"

namespace spinforge {

class SecretServiceKeyring final : public Keyring {
public:
    std::optional<QByteArray> find(const QString& service, const QString& account) override;
    void erase(const QString& service, const QString& account) override;
    std::optional<int> add(const QString& service, const QString& account, const QString& label,
            const QByteArray& secret) override;
};

}  // namespace spinforge
