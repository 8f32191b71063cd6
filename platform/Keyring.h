#pragma once
// The system keyring as the agent needs it: one secret per (service, account) pair.
// Synchronous calls; main thread. The real one is SecretServiceKeyring; tests may use an
// in-memory one.

#include <QByteArray>
#include <QString>
#include <optional>

namespace spinforge {

class Keyring {
public:
    virtual ~Keyring() = default;

    // The stored secret's bytes, or nullopt when there is none or the keyring can't be reached.
    virtual std::optional<QByteArray> find(const QString& service, const QString& account) = 0;
    // Removes every item for the pair. Failures are ignored: there may be nothing to remove.
    virtual void erase(const QString& service, const QString& account) = 0;
    // Adds one item. Returns nullopt once stored, or the keyring's status code when it refused
    // (which may be 0: a status is not a success flag).
    virtual std::optional<int> add(const QString& service, const QString& account, const QString& label,
                    const QByteArray& secret) = 0;
};

}  // namespace spinforge
