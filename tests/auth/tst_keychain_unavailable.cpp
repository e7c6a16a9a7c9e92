// The key store where the Secret Service cannot be used: a locked keyring
// with no display for a prompt, a bus address where nothing listens, and a
// bus socket that accepts but never answers (see with-keyring). Every call
// must come back, with no key and no success.
#include "auth/KeychainStore.h"
#include "auth/StoredKeyRead.h"

#include <QLocalServer>
#include <QTest>

class KeychainUnavailableTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loadFindsNothing();
    void saveFails();
    void removeReturns();
    void loadAfterFailedSaveFindsNothing();
    void readOnItsOwnThreadFindsNothing();
    void cancelledReadFindsNothing();

private:
    QLocalServer m_muteBus;
};

void KeychainUnavailableTest::initTestCase()
{
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

void KeychainUnavailableTest::loadFindsNothing()
{
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

void KeychainUnavailableTest::saveFails()
{
    QVERIFY(!KeychainStore::save(QStringLiteral("sk-or-v1-new")));
}

void KeychainUnavailableTest::removeReturns()
{
    KeychainStore::remove();
    KeychainStore::remove();
}

void KeychainUnavailableTest::loadAfterFailedSaveFindsNothing()
{
    QVERIFY(!KeychainStore::save(QStringLiteral("sk-or-v1-other")));
    QCOMPARE(KeychainStore::load(), std::nullopt);
}

void KeychainUnavailableTest::readOnItsOwnThreadFindsNothing()
{
    StoredKeyRead read;
    QCOMPARE(read.take(), std::nullopt);
}

// On the bus that never answers the read would wait out its limit; a process
// that turns out not to be needed ends it at once.
void KeychainUnavailableTest::cancelledReadFindsNothing()
{
    StoredKeyRead read;
    read.cancel();
    QCOMPARE(read.take(), std::nullopt);
}

QTEST_GUILESS_MAIN(KeychainUnavailableTest)
#include "tst_keychain_unavailable.moc"
