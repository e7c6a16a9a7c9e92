// SIGTERM, SIGINT and SIGHUP end the event loop the ordinary way (exit
// status 0, aboutToQuit emitted), so that what is queued for writing still
// reaches the disk.
#include "ui/shell/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>

class QuitOnSignalsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signalQuitsTheLoop_data();
    void signalQuitsTheLoop();
    void signalBeforeTheLoopQuitsOnceItRuns();
};

void QuitOnSignalsTest::signalQuitsTheLoop_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void QuitOnSignalsTest::signalQuitsTheLoop()
{
    QFETCH(int, signal);
    QuitOnSignals quitOnSignals;
    QVERIFY(quitOnSignals.isInstalled());
    QSignalSpy aboutToQuit(QCoreApplication::instance(), &QCoreApplication::aboutToQuit);
    QTimer::singleShot(0, QCoreApplication::instance(), [signal] { ::raise(signal); });
    // Fails a hang instead of waiting for the test's time-out.
    QTimer::singleShot(60000, QCoreApplication::instance(), [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(aboutToQuit.count(), 1);
}

void QuitOnSignalsTest::signalBeforeTheLoopQuitsOnceItRuns()
{
    QuitOnSignals quitOnSignals;
    ::raise(SIGTERM);
    QTimer::singleShot(60000, QCoreApplication::instance(), [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_GUILESS_MAIN(QuitOnSignalsTest)
#include "test_quit_on_signals.moc"
