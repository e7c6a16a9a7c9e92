// The key store and the keyring's worker thread against a real
// gnome-keyring in a private D-Bus session (started by with-keyring).
#include "KeyringGate.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/Keyring.h"
#include "core/auth/SecretLibrary.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <libsecret/secret.h>
#include <thread>

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

const QString oldKey = QStringLiteral("sk-or-v1-old");
const QString newKey = QStringLiteral("sk-or-v1-new");

// What a read through the keyring finds, once it has answered.
std::optional<QString> readThrough(Keyring &keyring)
{
    std::optional<std::optional<QString>> found;
    QObject::connect(
        keyring.read(), &KeyReadCall::finished, [&found](const std::optional<QString> &key) { found = key; });
    if (!QTest::qWaitFor([&] { return found.has_value(); }, 60000))
        return QStringLiteral("(no answer)");
    return *found;
}

// Connects a counter to the call's finished signal, whatever its kind.
void countDeliveries(KeyringCall *call, int &count)
{
    const auto counter = [&count] { ++count; };
    if (auto *read = qobject_cast<KeyReadCall *>(call))
        QObject::connect(read, &KeyReadCall::finished, counter);
    else if (auto *save = qobject_cast<KeySaveCall *>(call))
        QObject::connect(save, &KeySaveCall::finished, counter);
    else if (auto *removal = qobject_cast<KeyRemoveCall *>(call))
        QObject::connect(removal, &KeyRemoveCall::finished, counter);
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
    void keyringRunsCallsInOrderOffTheMainThread();
    void waitForFinishedDeliversAtOnce();
    void cancelledCallIsSilent_data();
    void cancelledCallIsSilent();
    void libraryLoadsOnlyWhole_data();
    void libraryLoadsOnlyWhole();
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

void KeychainStoreTest::keyringRunsCallsInOrderOffTheMainThread()
{
    Keyring keyring;
    std::mutex mutex;
    QList<std::thread::id> threads;
    keyring.setBeforeEachCall([&] {
        const std::lock_guard lock(mutex);
        threads.append(std::this_thread::get_id());
    });
    QStringList answers;
    const auto note = [&answers](const char *what) {
        return [&answers, what](bool ok) { answers.append(QLatin1String(what) + (ok ? " true" : " false")); };
    };
    const auto noteKey
        = [&answers](const std::optional<QString> &key) { answers.append("read " + key.value_or("-")); };
    // All queued at once; each sees what the one before it did.
    connect(keyring.save(oldKey), &KeySaveCall::finished, this, note("save"));
    connect(keyring.read(), &KeyReadCall::finished, this, noteKey);
    connect(keyring.save(newKey), &KeySaveCall::finished, this, note("save"));
    connect(keyring.read(), &KeyReadCall::finished, this, noteKey);
    connect(keyring.remove(), &KeyRemoveCall::finished, this, note("remove"));
    connect(keyring.remove(), &KeyRemoveCall::finished, this, note("remove"));
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 6, 60000);
    QCOMPARE(answers,
        QStringList(
            { "save true", "read " + oldKey, "save true", "read " + newKey, "remove true", "remove true" }));
    QCOMPARE(storedItemCount(), 0);

    const std::lock_guard lock(mutex);
    QCOMPARE(threads.size(), 6);
    QCOMPARE(threads.count(threads.first()), 6);
    QVERIFY(threads.first() != std::this_thread::get_id());
}

void KeychainStoreTest::waitForFinishedDeliversAtOnce()
{
    QVERIFY(KeychainStore::save(oldKey));
    Keyring keyring;
    KeyringGate gate(keyring);
    gate.close();
    KeyReadCall *read = keyring.read();
    QList<std::optional<QString>> delivered;
    connect(read, &KeyReadCall::finished, this,
        [&](const std::optional<QString> &key) { delivered.append(key); });
    QTRY_VERIFY(gate.isHolding());
    QVERIFY(!read->waitForFinished(std::chrono::milliseconds(50)));
    QVERIFY(delivered.isEmpty());

    gate.open();
    QVERIFY(read->waitForFinished(std::chrono::seconds(60)));
    QCOMPARE(delivered, QList<std::optional<QString>>{ oldKey });
    // Nothing comes a second time from the event loop.
    QCOMPARE(readThrough(keyring), oldKey);
    QCOMPARE(delivered.size(), 1);
}

void KeychainStoreTest::cancelledCallIsSilent_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("cancelled");
    QTest::addColumn<QString>("keptKey"); // empty: none
    QTest::newRow("read, running") << "read"
                                   << "running" << oldKey;
    QTest::newRow("save, queued: never runs") << "save"
                                              << "queued" << oldKey;
    QTest::newRow("save, running: cut short and undone") << "save"
                                                         << "running" << QString();
    QTest::newRow("save, stored: undone") << "save"
                                          << "stored" << QString();
    QTest::newRow("removal, running: runs all the same") << "remove"
                                                         << "running" << QString();
}

void KeychainStoreTest::cancelledCallIsSilent()
{
    QFETCH(QString, kind);
    QFETCH(QString, cancelled);
    QFETCH(QString, keptKey);
    QVERIFY(KeychainStore::save(oldKey));
    Keyring keyring;
    KeyringGate gate(keyring);
    int deliveries = 0;
    const auto start = [&]() -> KeyringCall * {
        KeyringCall *call = kind == "read" ? static_cast<KeyringCall *>(keyring.read())
            : kind == "save"               ? static_cast<KeyringCall *>(keyring.save(newKey))
                                           : static_cast<KeyringCall *>(keyring.remove());
        countDeliveries(call, deliveries);
        return call;
    };

    if (cancelled == "stored") {
        KeyringCall *call = start();
        // No event loop runs meanwhile: the answer waits, undelivered.
        const QDeadlineTimer limit(60000);
        while (KeychainStore::load() != newKey && !limit.hasExpired()) { }
        QCOMPARE(KeychainStore::load(), newKey);
        call->cancel();
    } else {
        gate.close();
        if (cancelled == "queued")
            keyring.read();
        KeyringCall *call = start();
        QTRY_VERIFY(gate.isHolding());
        call->cancel();
        gate.open();
    }
    // Calls run in order: what was cancelled has run (or been dropped) by
    // the time the next read answers.
    const std::optional<QString> kept = keptKey.isEmpty() ? std::nullopt : std::optional<QString>(keptKey);
    QCOMPARE(readThrough(keyring), kept);
    QCOMPARE(deliveries, 0);
    QCOMPARE(storedItemCount(), kept ? 1 : 0);
}

void KeychainStoreTest::libraryLoadsOnlyWhole_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loads");
    QTest::newRow("installed") << QByteArray("libsecret-1.so.0") << true;
    QTest::newRow("absent") << QByteArray("libtolvi-absent.so.0") << false;
    // Has the GLib functions but none of libsecret's.
    QTest::newRow("another library") << QByteArray("libglib-2.0.so.0") << false;
}

void KeychainStoreTest::libraryLoadsOnlyWhole()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loads);
    const std::unique_ptr<SecretLibrary> library = SecretLibrary::load(file.constData());
    QCOMPARE(library != nullptr, loads);
    if (library)
        QVERIFY(library->secret_service_lookup_sync && library->g_list_free_full);
}

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "test_keychain_store.moc"
