#include "core/shell/FirstCloseHint.h"

#include <QSettings>
#include <QTest>

class FirstCloseHintTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi")).clear(); }
    void saidOnceWhereTheTrayCanSayIt_data();
    void saidOnceWhereTheTrayCanSayIt();
};

void FirstCloseHintTest::saidOnceWhereTheTrayCanSayIt_data()
{
    QTest::addColumn<bool>("showsMessages");
    QTest::addColumn<bool>("hotKeyRegistered");
    QTest::newRow("tray and hot key") << true << true;
    QTest::newRow("tray, hot key refused") << true << false;
    QTest::newRow("tray without messages") << false << true;
}

void FirstCloseHintTest::saidOnceWhereTheTrayCanSayIt()
{
    QFETCH(bool, showsMessages);
    QFETCH(bool, hotKeyRegistered);
    const QString first = FirstCloseHint::take(showsMessages, hotKeyRegistered);
    QCOMPARE(!first.isEmpty(), showsMessages);
    // The hot key is offered only while it works.
    QCOMPARE(first.contains(QLatin1String("Control-Alt-Space")), showsMessages && hotKeyRegistered);
    // Remembered across runs once said; left for a tray that can say it.
    QCOMPARE(
        QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi")).value("trayHintShown", false).toBool(),
        showsMessages);
    QVERIFY(FirstCloseHint::take(showsMessages, hotKeyRegistered).isEmpty());
    QCOMPARE(FirstCloseHint::take(true, hotKeyRegistered).isEmpty(), showsMessages);
}

QTEST_GUILESS_MAIN(FirstCloseHintTest)
#include "test_first_close_hint.moc"
