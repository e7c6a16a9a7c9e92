// The key store against a real gnome-keyring in a private D-Bus session
// (started by with-keyring).
#include "auth/KeychainStore.h"
#include "auth/SecretCallDeadline.h"
#include "auth/StoredKeyRead.h"

#include <QProcess>
#include <QTest>
#include <libsecret/secret.h>

namespace {

const SecretSchema *keySchema()
{
    static const SecretSchema schema = {
        "com.tolvi.test.raw",
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
    return &schema;
}

// Writes the item's secret as these exact bytes, behind the store's back.
bool storeRawBytes(const QByteArray &bytes)
{
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    GError *error = nullptr;
    const gboolean stored
        = secret_password_store_binary_sync(keySchema(), SECRET_COLLECTION_DEFAULT, "raw test item", value,
            nullptr, &error, "service", "com.tolvi.mac.openrouter", "account", "api-key", nullptr);
    secret_value_unref(value);
    g_clear_error(&error);
    return stored;
}

int storedItemCount()
{
    GError *error = nullptr;
    GList *items = secret_password_search_sync(keySchema(), SECRET_SEARCH_ALL, nullptr, &error, "service",
        "com.tolvi.mac.openrouter", "account", "api-key", nullptr);
    g_clear_error(&error);
    const int count = int(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

struct ToolResult {
    int exitCode = -1;
    QByteArray output;
};

ToolResult secretTool(const QStringList &command)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
        command + QStringList{ "service", "com.tolvi.mac.openrouter", "account", "api-key" });
    if (!tool.waitForFinished(60000))
        return {};
    return { tool.exitCode(), tool.readAllStandardOutput() };
}

} // namespace

class KeychainStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { KeychainStore::remove(); }
    void loadWithoutItemFindsNothing();
    void keyRoundTripsByteForByte_data();
    void keyRoundTripsByteForByte();
    void saveReplacesEarlierItem();
    void removeTwice();
    void unusableItemFindsNothing_data();
    void unusableItemFindsNothing();
    void unencodableKeyLeavesStoreUntouched();
    void readOnItsOwnThreadThenTheMainThreadGoesOn();
    void cancellingTheOuterCancellableEndsTheCall();
};

void KeychainStoreTest::loadWithoutItemFindsNothing()
{
    QCOMPARE(KeychainStore::load(), std::nullopt);
    QCOMPARE(storedItemCount(), 0);
}

void KeychainStoreTest::keyRoundTripsByteForByte_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("service key") << QStringLiteral("sk-or-v1-0123456789abcdef0123456789abcdef");
    QTest::newRow("surrounding spaces") << QStringLiteral("  sk-or-v1-spaced \t");
    QTest::newRow("line break inside") << QStringLiteral("first\nsecond");
    QTest::newRow("non-ASCII") << QStringLiteral("ключ-🔑-clé");
}

void KeychainStoreTest::keyRoundTripsByteForByte()
{
    QFETCH(QString, key);
    QVERIFY(KeychainStore::save(key));
    QCOMPARE(KeychainStore::load(), std::optional<QString>(key));

    const ToolResult lookup = secretTool({ QStringLiteral("lookup") });
    QCOMPARE(lookup.exitCode, 0);
    QCOMPARE(lookup.output, key.toUtf8());
}

void KeychainStoreTest::saveReplacesEarlierItem()
{
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-first")));
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-second")));
    QCOMPARE(KeychainStore::load(), std::optional<QString>(QStringLiteral("sk-or-v1-second")));
    QCOMPARE(storedItemCount(), 1);

    // An item someone else added under the same attributes is replaced too.
    QVERIFY(storeRawBytes("sk-or-v1-foreign"));
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-third")));
    QCOMPARE(storedItemCount(), 1);
    QCOMPARE(KeychainStore::load(), std::optional<QString>(QStringLiteral("sk-or-v1-third")));
}

void KeychainStoreTest::removeTwice()
{
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-gone")));
    KeychainStore::remove();
    QCOMPARE(KeychainStore::load(), std::nullopt);
    QVERIFY(secretTool({ QStringLiteral("lookup") }).exitCode != 0);
    KeychainStore::remove();
    QCOMPARE(KeychainStore::load(), std::nullopt);
    QCOMPARE(storedItemCount(), 0);
}

void KeychainStoreTest::unusableItemFindsNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("invalid UTF-8") << QByteArray("sk-or-v1-\xff\xfe");
    QTest::newRow("cut multi-byte character") << QByteArray("sk-or-v1-\xd0");
    QTest::newRow("overlong encoding") << QByteArray("\xc0\xaf");
}

void KeychainStoreTest::unusableItemFindsNothing()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(storeRawBytes(bytes));
    QCOMPARE(storedItemCount(), 1);
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

void KeychainStoreTest::unencodableKeyLeavesStoreUntouched()
{
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-kept")));
    const QString loneSurrogate = QStringLiteral("sk-or-v1-") + QChar(0xd800);
    QVERIFY(!KeychainStore::save(loneSurrogate));
    QCOMPARE(KeychainStore::load(), std::optional<QString>(QStringLiteral("sk-or-v1-kept")));
}


void KeychainStoreTest::readOnItsOwnThreadThenTheMainThreadGoesOn()
{
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-at-start")));
    {
        StoredKeyRead read;
        QCOMPARE(read.take(), std::optional<QString>(QStringLiteral("sk-or-v1-at-start")));
        QCOMPARE(read.take(), std::nullopt);
    }
    // The session the thread opened serves the main thread's calls.
    QVERIFY(KeychainStore::save(QStringLiteral("sk-or-v1-later")));
    QCOMPARE(KeychainStore::load(), std::optional<QString>(QStringLiteral("sk-or-v1-later")));
    KeychainStore::remove();
    QCOMPARE(storedItemCount(), 0);

    // Never taken: the read is waited for when it goes.
    StoredKeyRead untaken;
}

void KeychainStoreTest::cancellingTheOuterCancellableEndsTheCall()
{
    GCancellable *outer = g_cancellable_new();
    {
        const SecretCallDeadline deadline(std::chrono::hours(1), outer);
        QVERIFY(!g_cancellable_is_cancelled(deadline.cancellable()));
        g_cancellable_cancel(outer);
        QVERIFY(g_cancellable_is_cancelled(deadline.cancellable()));
    }
    {
        // Cancelled before the call began.
        const SecretCallDeadline deadline(std::chrono::hours(1), outer);
        QVERIFY(g_cancellable_is_cancelled(deadline.cancellable()));
    }
    g_object_unref(outer);
}
QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "tst_keychain_store.moc"
