#include "auth/KeychainStore.h"

#include "auth/SecretCallDeadline.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <libsecret/secret.h>

namespace KeychainStore {

namespace {

constexpr const char *serviceName = "com.tolvi.mac.openrouter";
constexpr const char *accountName = "api-key";
constexpr const char *itemLabel = "Tolvi: OpenRouter API key";

// A whole operation (a save is a delete and a store) gets this long.
constexpr std::chrono::milliseconds callLimit{ 5000 };

const SecretSchema *schema()
{
    static const SecretSchema keySchema = {
        "com.tolvi.mac.openrouter",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &keySchema;
}

void clearItems(GCancellable *cancellable)
{
    GError *error = nullptr;
    secret_password_clear_sync(
        schema(), cancellable, &error, "service", serviceName, "account", accountName, nullptr);
    g_clear_error(&error);
}

std::optional<QString> decodeKey(const char *bytes, gsize length)
{
    if (!bytes || length == 0)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes, qsizetype(length)));
    if (decoder.hasError() || text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> encodeKey(const QString &key)
{
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder.encode(key);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<QString> load(GCancellable *cancellable)
{
    SecretCallDeadline deadline(callLimit, cancellable);
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(
        schema(), deadline.cancellable(), &error, "service", serviceName, "account", accountName, nullptr);
    g_clear_error(&error);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    std::optional<QString> key = decodeKey(bytes, length);
    secret_value_unref(value);
    return key;
}

bool save(const QString &key)
{
    const std::optional<QByteArray> bytes = encodeKey(key);
    if (!bytes)
        return false;

    SecretCallDeadline deadline(callLimit);
    clearItems(deadline.cancellable());

    SecretValue *value = secret_value_new(bytes->constData(), bytes->size(), "text/plain");
    GError *error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, itemLabel,
        value, deadline.cancellable(), &error, "service", serviceName, "account", accountName, nullptr);
    secret_value_unref(value);
    g_clear_error(&error);
    return stored;
}

void remove()
{
    SecretCallDeadline deadline(callLimit);
    clearItems(deadline.cancellable());
}

} // namespace KeychainStore
