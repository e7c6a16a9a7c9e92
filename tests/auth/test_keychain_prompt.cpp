// The keyring's calls on a locked login keyring with a display, where
// gnome-keyring asks the person through gcr-prompter (see with-keyring, mode
// "prompt"). The test plays the person with xdotool.
#include "core/auth/Keyring.h"
#include "core/auth/KeyringQueue.h"

#include <QProcess>
#include <QTest>
#include <gio/gio.h>

namespace {

const QString storedKey = QStringLiteral("sk-or-v1-stored-before");

QString xdotool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(60000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

bool promptShows()
{
    return !xdotool({ "search", "--onlyvisible", "--name", "^Unlock" }).isEmpty();
}

// Through the Secret Service's own Lock, which never prompts.
bool lockLogin()
{
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return false;
    const char *login[] = { "/org/freedesktop/secrets/collection/login", nullptr };
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
        "org.freedesktop.Secret.Service", "Lock", g_variant_new("(^ao)", login), G_VARIANT_TYPE("(aoo)"),
        G_DBUS_CALL_FLAGS_NONE, 60000, nullptr, nullptr);
    g_object_unref(bus);
    if (reply)
        g_variant_unref(reply);
    return reply;
}

} // namespace

class KeychainPromptTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void callWaitsForThePerson_data();
    void callWaitsForThePerson();
};

void KeychainPromptTest::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY") && qEnvironmentVariableIsSet("TOLVI_TEST_KEYRING_PASSWORD"),
        "run with TOLVI_KEYRING_MODE=prompt");
}

void KeychainPromptTest::callWaitsForThePerson_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("unlock");
    QTest::addColumn<int>("limitMs"); // 0: the usual
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("connectedAhead");
    // Answered after ten times its limit: the limit waits with the prompt.
    QTest::newRow("read, unlocked late") << "read" << true << 1000 << storedKey << false;
    QTest::newRow("read, dismissed") << "read" << false << 0 << QString() << false;
    // Had the session's opening prompted, the read's prompt would come
    // second and never be answered.
    QTest::newRow("read after connecting ahead, dismissed") << "read" << false << 0 << QString() << true;
    QTest::newRow("save, unlocked") << "save" << true << 0 << "stored" << false;
    QTest::newRow("save, dismissed") << "save" << false << 0 << "not stored" << false;
    QTest::newRow("removal, dismissed: the key stays") << "remove" << false << 0 << "kept" << false;
    QTest::newRow("removal, unlocked") << "remove" << true << 0 << "removed" << false;
}

void KeychainPromptTest::callWaitsForThePerson()
{
    QFETCH(QString, kind);
    QFETCH(bool, unlock);
    QFETCH(int, limitMs);
    QFETCH(QString, answer);
    QFETCH(bool, connectedAhead);
    QVERIFY(lockLogin());
    Keyring keyring(connectedAhead ? Keyring::connectAhead() : KeyringQueue::start());
    if (limitMs > 0)
        keyring.setCallLimit(std::chrono::milliseconds(limitMs));
    std::optional<QString> answered;
    if (kind == "read") {
        connect(keyring.read(), &KeyReadCall::finished, this,
            [&](const std::optional<QString> &key) { answered = key.value_or(QString()); });
    } else if (kind == "save") {
        connect(keyring.save(storedKey), &KeySaveCall::finished, this,
            [&](bool stored) { answered = stored ? "stored" : "not stored"; });
    } else {
        connect(keyring.remove(), &KeyRemoveCall::finished, this,
            [&](bool removed) { answered = removed ? "removed" : "kept"; });
    }
    QTRY_VERIFY_WITH_TIMEOUT(promptShows(), 60000);
    if (limitMs > 0)
        QTest::qWait(10 * limitMs);
    QVERIFY(!answered);

    // The prompter takes the keyboard.
    if (unlock) {
        xdotool({ "type", "--delay", "15", qEnvironmentVariable("TOLVI_TEST_KEYRING_PASSWORD") });
        xdotool({ "key", "Return" });
    } else {
        xdotool({ "key", "Escape" });
    }
    QTRY_VERIFY_WITH_TIMEOUT(answered.has_value(), 60000);
    QCOMPARE(*answered, answer);
    QTRY_VERIFY_WITH_TIMEOUT(!promptShows(), 60000);
}

QTEST_GUILESS_MAIN(KeychainPromptTest)
#include "test_keychain_prompt.moc"
