#include "core/auth/KeychainStore.h"

#include "core/auth/AuthLog.h"
#include "core/auth/SecretCallGuard.h"
#include "core/auth/SecretConnection.h"
#include "core/auth/SecretLibrary.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace KeychainStore {

namespace {

constexpr const char *serviceName = "com.tolvi.mac.openrouter";
constexpr const char *accountName = "api-key";
constexpr const char *itemLabel = "Tolvi: OpenRouter API key";

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

// One operation's use of the connection, with the item's attributes. A
// failure reported through check() drops the connection at the end. Without
// a service (or its library) there is nothing else to use.
class Operation
{
public:
    Operation(SecretConnection &connection, SecretCallGuard &guard, const char *name)
        : m_connection(connection)
        , m_guard(guard)
        , m_name(name)
        , m_service(connection.attach(guard))
        , m_library(m_service ? SecretLibrary::get() : nullptr)
        , m_attributes(m_library ? m_library->secret_attributes_build(
                           schema(), "service", serviceName, "account", accountName, nullptr)
                                 : nullptr)
    {
    }
    ~Operation()
    {
        if (m_attributes)
            m_library->g_hash_table_unref(m_attributes);
        m_connection.release(m_failed);
    }
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;

    SecretService *service() const { return m_service; }
    const SecretLibrary &library() const { return *m_library; }
    GHashTable *attributes() const { return m_attributes; }
    GCancellable *cancellable() const { return m_guard.cancellable(); }

    // Logs and clears error (when there is one); false when there was.
    bool check(GError *&error)
    {
        if (!error)
            return true;
        m_failed = true;
        qCWarning(lcAuth).nospace() << m_name << " failed" << (m_guard.wasCancelled() ? " (cut short)" : "")
                                    << ": " << error->message;
        m_library->g_clear_error(&error);
        return false;
    }

private:
    SecretConnection &m_connection;
    SecretCallGuard &m_guard;
    const char *m_name;
    SecretService *m_service;
    const SecretLibrary *m_library;
    GHashTable *m_attributes;
    bool m_failed = false;
};

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

// Unlocks the items (which may prompt) and deletes them. libsecret's own
// clear passes over locked items in silence; this says when one is left.
bool removeItems(Operation &operation)
{
    const SecretLibrary &library = operation.library();
    GError *error = nullptr;
    GList *items = library.secret_service_search_sync(operation.service(), schema(), operation.attributes(),
        SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK), operation.cancellable(), &error);
    bool removed = operation.check(error);
    for (GList *node = items; removed && node; node = node->next) {
        auto *item = static_cast<SecretItem *>(node->data);
        if (library.secret_item_get_locked(item)) {
            qCWarning(lcAuth) << "the key's keyring stayed locked; the key stays";
            removed = false;
            break;
        }
        library.secret_item_delete_sync(item, operation.cancellable(), &error);
        removed = operation.check(error);
    }
    library.g_list_free_full(items, library.g_object_unref);
    return removed;
}

} // namespace

std::optional<QString> load(SecretConnection &connection, SecretCallGuard &guard)
{
    Operation operation(connection, guard, "reading the key");
    if (!operation.service())
        return std::nullopt;
    const SecretLibrary &library = operation.library();
    GError *error = nullptr;
    SecretValue *value = library.secret_service_lookup_sync(
        operation.service(), schema(), operation.attributes(), operation.cancellable(), &error);
    operation.check(error);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = library.secret_value_get(value, &length);
    std::optional<QString> key = decodeKey(bytes, length);
    library.secret_value_unref(value);
    return key;
}

bool save(const QString &key, SecretConnection &connection, SecretCallGuard &guard)
{
    const std::optional<QByteArray> bytes = encodeKey(key);
    if (!bytes)
        return false;
    Operation operation(connection, guard, "saving the key");
    if (!operation.service() || !removeItems(operation))
        return false;

    const SecretLibrary &library = operation.library();
    SecretValue *value = library.secret_value_new(bytes->constData(), bytes->size(), "text/plain");
    GError *error = nullptr;
    const gboolean stored = library.secret_service_store_sync(operation.service(), schema(),
        operation.attributes(), SECRET_COLLECTION_DEFAULT, itemLabel, value, operation.cancellable(), &error);
    library.secret_value_unref(value);
    return operation.check(error) && stored;
}

bool remove(SecretConnection &connection, SecretCallGuard &guard)
{
    Operation operation(connection, guard, "removing the key");
    return operation.service() && removeItems(operation);
}

bool connect(SecretConnection &connection, SecretCallGuard &guard)
{
    const bool open = connection.attach(guard) != nullptr;
    connection.release(false);
    return open;
}

std::optional<QString> load()
{
    SecretConnection connection;
    SecretCallGuard guard(callLimit);
    return load(connection, guard);
}

bool save(const QString &key)
{
    SecretConnection connection;
    SecretCallGuard guard(callLimit);
    return save(key, connection, guard);
}

bool remove()
{
    SecretConnection connection;
    SecretCallGuard guard(callLimit);
    return remove(connection, guard);
}

} // namespace KeychainStore
