#pragma once
// An in-memory keyring for tests that need a token but not the real Secret Service. It can be
// told to refuse stores with a given status.

#include "platform/Keyring.h"

#include <QMap>
#include <QPair>

namespace testing_support {

class MemoryKeyring final : public spinforge::Keyring {
public:
    std::optional<QByteArray> find(const QString& service, const QString& account) override {
        auto found = items_.find({service, account});
        if (found == items_.end()) return std::nullopt;
        return found.value();
    }
    void erase(const QString& service, const QString& account) override { items_.remove({service, account}); }
    std::optional<int> add(const QString& service, const QString& account, const QString&,
                           const QByteArray& secret) override {
        if (refuseWith) return refuseWith;
        items_.insert({service, account}, secret);
        return std::nullopt;
    }

    std::optional<int> refuseWith;  // when set, add() refuses with this status

private:
    QMap<QPair<QString, QString>, QByteArray> items_;
};

}  // namespace testing_support
