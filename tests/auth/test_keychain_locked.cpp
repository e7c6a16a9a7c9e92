// The key store where the Secret Service cannot be used: a locked keyring
// with no display for a prompt, a bus address where nothing listens, a bus
// socket that accepts but never answers (see with-keyring), and a working
// keyring whose client library cannot be loaded (TOLVI_TEST_SECRET_LIBRARY
// names a file that is not there). Every call must come back, with no key
// and no success.
#include "KeyringGate.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/Keyring.h"
#include "core/auth/KeyringQueue.h"
#include "core/auth/SecretLibrary.h"

#include <QLocalServer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class KeychainUnavailableTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void onlyACallStartsABus();
    void loadFindsNothing();
    void saveFails();
    void removeFails();
    void loadAfterFailedSaveFindsNothing();
    void cancelledReadIsCutShort();

private:
    QLocalServer m_muteBus;
};

void KeychainUnavailableTest::initTestCase()
{
    static const QByteArray library = qgetenv("TOLVI_TEST_SECRET_LIBRARY");
    if (!library.isEmpty())
        SecretLibrary::setFileName(library.constData());
    const QString mutePath = qEnvironmentVariable("TOLVI_TEST_MUTE_BUS");
    if (!mutePath.isEmpty()) {
        // Accepts connections (the system does, on the backlog) and never
        // says a word: the D-Bus handshake waits for an answer forever.
        QVERIFY2(m_muteBus.listen(mutePath), qPrintable(m_muteBus.errorString()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(mutePath));
    }
    QVERIFY(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"));
    QVERIFY(!qEnvironmentVariableIsSet("DISPLAY"));
}

// With no bus known, GLib starts one through dbus-launch (here a stand-in
// that leaves a mark), which opens the display: a call may, connecting ahead
// of the application's own display must not. First of all, before GLib has
// a bus to keep.
void KeychainUnavailableTest::onlyACallStartsABus()
{
    if (!SecretLibrary::get())
        QSKIP("without the library nothing looks for a bus");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString mark = dir.filePath(QStringLiteral("launched"));
    QFile launcher(dir.filePath(QStringLiteral("dbus-launch")));
    QVERIFY(launcher.open(QIODevice::WriteOnly));
    launcher.write("#!/bin/sh\ntouch '" + QFile::encodeName(mark) + "'\nexit 1\n");
    launcher.close();
    QVERIFY(launcher.setPermissions(launcher.permissions() | QFile::ExeOwner));

    const QByteArray names[] = { "PATH", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY" };
    QList<std::optional<QByteArray>> saved;
    for (const QByteArray &name : names)
        saved.append(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    const auto restore = qScopeGuard([&] {
        for (int i = 0; i < saved.size(); ++i)
            saved[i] ? qputenv(names[i], *saved[i]) : qunsetenv(names[i]);
    });
    qputenv("PATH", QFile::encodeName(dir.path()) + ':' + qgetenv("PATH"));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    qputenv("DISPLAY", ":97"); // GLib autolaunches only with one

    Keyring::connectAhead()->close(KeychainStore::callLimit);
    QVERIFY(!QFile::exists(mark));
    QCOMPARE(KeychainStore::load(), std::nullopt);
    QVERIFY(QFile::exists(mark));
}

void KeychainUnavailableTest::loadFindsNothing()
{
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

void KeychainUnavailableTest::saveFails()
{
    QVERIFY(!KeychainStore::save(QStringLiteral("sk-or-v1-new")));
}

void KeychainUnavailableTest::removeFails()
{
    // Nothing can say that no key is left.
    QVERIFY(!KeychainStore::remove());
    QVERIFY(!KeychainStore::remove());
}

void KeychainUnavailableTest::loadAfterFailedSaveFindsNothing()
{
    QVERIFY(!KeychainStore::save(QStringLiteral("sk-or-v1-other")));
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

// On the bus that never answers, a read given an hour would hold up every
// later call; cancelling it ends it at once (no prompt can be showing).
void KeychainUnavailableTest::cancelledReadIsCutShort()
{
    Keyring keyring;
    const KeyringGate gate(keyring);
    keyring.setCallLimit(std::chrono::hours(1));
    // Where the service refuses at once, the read may be over already.
    QPointer<KeyReadCall> stuck = keyring.read();
    QTRY_COMPARE(gate.calls(), 1);
    cancelOperation(stuck);

    keyring.setCallLimit(KeychainStore::callLimit);
    bool answered = false;
    connect(keyring.read(), &KeyReadCall::finished, this, [&](const std::optional<QString> &key) {
        QCOMPARE(key, std::nullopt);
        answered = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 120000);
}

QTEST_GUILESS_MAIN(KeychainUnavailableTest)
#include "test_keychain_locked.moc"
