#include "credentials/Keychain.h"

#include "records/SpinforgeError.h"

#include <QStringDecoder>

namespace spinforge::Keychain {
namespace {
const QString account = QStringLiteral("device-token");
}

std::optional<QString> load(Keyring& keyring) {
    const std::optional<QByteArray> bytes = keyring.find(service, account);
    if (!bytes) return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = utf8.decode(*bytes);
    if (utf8.hasError()) return std::nullopt;
    return token;
}

void save(Keyring& keyring, const QString& token) {
    const QByteArray bytes = token.toUtf8();
    keyring.erase(service, account);
    if (const std::optional<int> status = keyring.add(service, account, label, bytes))
        throw SpinforgeError::server(
            QStringLiteral("Could not secure the device token (%1).").arg(*status));
}

}  // namespace spinforge::Keychain
