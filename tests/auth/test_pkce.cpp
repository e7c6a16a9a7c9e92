#include "core/auth/PKCE.h"

#include <QSet>
#include <QTest>

class PkceTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void challengeOfRfc7636Example();
    void challengeIsUnpaddedBase64url();
    void randomStringLengthAndAlphabet_data();
    void randomStringLengthAndAlphabet();
    void everyCharacterIsDrawn();
    void drawsDiffer();
};

void PkceTest::challengeOfRfc7636Example()
{
    QCOMPARE(PKCE::challenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
        QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
}

void PkceTest::challengeIsUnpaddedBase64url()
{
    for (int i = 0; i < 200; ++i) {
        const QString challenge = PKCE::challenge(PKCE::randomString(64));
        QCOMPARE(challenge.size(), 43);
        QVERIFY2(!challenge.contains(QLatin1Char('=')) && !challenge.contains(QLatin1Char('+'))
                && !challenge.contains(QLatin1Char('/')),
            qPrintable(challenge));
    }
}

void PkceTest::randomStringLengthAndAlphabet_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("state") << 24;
    QTest::newRow("verifier") << 64;
    QTest::newRow("long") << 5000;
}

void PkceTest::randomStringLengthAndAlphabet()
{
    QFETCH(int, length);
    const QString text = PKCE::randomString(length);
    QCOMPARE(text.size(), length);
    const QString alphabet = QString::fromLatin1(PKCE::alphabet);
    for (QChar c : text)
        QVERIFY2(alphabet.contains(c), qPrintable(QString(c)));
}

void PkceTest::everyCharacterIsDrawn()
{
    // 132000 draws: a reachable character is missed with a chance of about
    // e^-2000, so a missing one means it cannot be drawn.
    QSet<QChar> seen;
    for (QChar c : PKCE::randomString(66 * 2000))
        seen.insert(c);
    QCOMPARE(seen.size(), 66);
    QCOMPARE(QString::fromLatin1(PKCE::alphabet).size(), 66);
}

void PkceTest::drawsDiffer()
{
    QVERIFY(PKCE::randomString(64) != PKCE::randomString(64));
    QVERIFY(PKCE::randomString(24) != PKCE::randomString(24));
}

QTEST_GUILESS_MAIN(PkceTest)
#include "test_pkce.moc"
