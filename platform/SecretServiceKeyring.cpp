#include "platform/SecretServiceKeyring.h"

#include <libsecret/secret.h>

#include <memory>

namespace spinforge {
namespace {

// Items are matched by their attributes only: items stored by other tools (secret-tool) carry
// no schema name, and must still be found and replaced.
const SecretSchema* schema() {
    static const SecretSchema kSchema = {
        "com.spinforge.mac",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &kSchema;
}

struct ErrorDeleter { void operator()(GError* error) const { g_error_free(error); } };
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

struct ValueDeleter { void operator()(SecretValue* value) const { secret_value_unref(value); } };
using ValuePtr = std::unique_ptr<SecretValue, ValueDeleter>;

}  // namespace

std::optional<QByteArray> SecretServiceKeyring::find(const QString& service, const QString& account) {
    const QByteArray serviceUtf8 = service.toUtf8(), accountUtf8 = account.toUtf8();
    GError* rawError = nullptr;
    ValuePtr value(secret_password_lookup_binary_sync(schema(), nullptr, &rawError,
                                                      "service", serviceUtf8.constData(),
                                                      "account", accountUtf8.constData(), nullptr));
    ErrorPtr error(rawError);
    if (error || !value) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return QByteArray(bytes, qsizetype(length));
}

void SecretServiceKeyring::erase(const QString& service, const QString& account) {
    const QByteArray serviceUtf8 = service.toUtf8(), accountUtf8 = account.toUtf8();
    GError* rawError = nullptr;
    secret_password_clear_sync(schema(), nullptr, &rawError, "service", serviceUtf8.constData(),
                               "account", accountUtf8.constData(), nullptr);
    ErrorPtr ignored(rawError);
}

std::optional<int> SecretServiceKeyring::add(const QString& service, const QString& account, const QString& label,
                              const QByteArray& secret) {
    const QByteArray serviceUtf8 = service.toUtf8(), accountUtf8 = account.toUtf8();
    const QByteArray labelUtf8 = label.toUtf8();
    ValuePtr value(secret_value_new(secret.constData(), secret.size(), "application/octet-stream"));
    GError* rawError = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        schema(), SECRET_COLLECTION_DEFAULT, labelUtf8.constData(), value.get(), nullptr, &rawError,
        "service", serviceUtf8.constData(), "account", accountUtf8.constData(), nullptr);
    ErrorPtr error(rawError);
    if (stored) return std::nullopt;
    return error ? error->code : -1;
}

}  // namespace spinforge
