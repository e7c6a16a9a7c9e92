// One Tolvi per user: later starts hand over to the running one, a crash
// does not lock Tolvi out, and other local clients cannot confuse it.
#include "core/instance/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int slowMs = 30000;

// One start of the miniature Tolvi in its own process.
class Start
{
public:
    Start() { process.start(QStringLiteral(INSTANCE_HELPER)); }
    ~Start()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(slowMs);
        }
    }
    QByteArray nextLine()
    {
        while (!process.canReadLine() && process.waitForReadyRead(slowMs)) { }
        return process.readLine().trimmed();
    }
    bool endedWithStatusZero()
    {
        return process.waitForFinished(slowMs) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }
    QProcess process;
};

QString privateName(const char *name)
{
    return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(QString::fromLatin1(name));
}

} // namespace

class TestInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nameIsPrivateToTheUser()
    {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QVERIFY(!runtime.isEmpty());
        QCOMPARE(QFileInfo(SingleInstance::defaultServerName()).absolutePath(), QDir(runtime).absolutePath());
        qunsetenv("XDG_RUNTIME_DIR");
        const QString fallback = SingleInstance::defaultServerName();
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        QVERIFY2(fallback.contains(QString::number(::getuid())), qPrintable(fallback));
    }

    void laterStartShowsTheRunningOne()
    {
        Start first;
        QCOMPARE(first.nextLine(), QByteArray("primary"));
        for (int i = 0; i < 2; ++i) {
            Start later;
            QCOMPARE(later.nextLine(), QByteArray("secondary"));
            QVERIFY(later.endedWithStatusZero());
            QCOMPARE(first.nextLine(), QByteArray("show"));
        }
    }

    void killedInstanceDoesNotBlockNextStart()
    {
        {
            Start crashed;
            QCOMPARE(crashed.nextLine(), QByteArray("primary"));
            crashed.process.kill();
            QVERIFY(crashed.process.waitForFinished(slowMs));
        }
        QVERIFY2(
            QFile::exists(SingleInstance::defaultServerName()), "the crash should leave its socket behind");

        Start next;
        QCOMPARE(next.nextLine(), QByteArray("primary"));
        Start later;
        QCOMPARE(later.nextLine(), QByteArray("secondary"));
        QVERIFY(later.endedWithStatusZero());
        QCOMPARE(next.nextLine(), QByteArray("show"));
    }

    void simultaneousStartsElectOne()
    {
        // Also over a leftover socket, where each start might remove the
        // socket another has just made.
        {
            Start crashed;
            QCOMPARE(crashed.nextLine(), QByteArray("primary"));
            crashed.process.kill();
            QVERIFY(crashed.process.waitForFinished(slowMs));
        }
        std::vector<std::unique_ptr<Start>> starts;
        for (int i = 0; i < 4; ++i)
            starts.push_back(std::make_unique<Start>());
        Start *primary = nullptr;
        int secondaries = 0;
        for (const auto &start : starts) {
            const QByteArray word = start->nextLine();
            if (word == "primary") {
                QVERIFY2(!primary, "two primaries");
                primary = start.get();
            } else {
                QCOMPARE(word, QByteArray("secondary"));
                QVERIFY(start->endedWithStatusZero());
                ++secondaries;
            }
        }
        QVERIFY(primary);
        QCOMPARE(secondaries, 3);
        for (int i = 0; i < secondaries; ++i)
            QCOMPARE(primary->nextLine(), QByteArray("show"));
    }

    void foreignFileAtTheNameIsReplaced()
    {
        const QString name = privateName("leftover.sock");
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        SingleInstance instance(name);
        QVERIFY(instance.tryBecomePrimary());
        QVERIFY(instance.isListening());
        QVERIFY(instance.tryBecomePrimary());
    }

    void localGarbageIsIgnored_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("serverHangsUp");
        QTest::newRow("unknown word") << QByteArray("hello\n") << true;
        QTest::newRow("show with more") << QByteArray("show me everything\n") << true;
        QTest::newRow("binary") << QByteArray("\0\xff\xfe\n", 4) << true;
        QTest::newRow("endless line") << QByteArray(100000, 'x') << true;
        QTest::newRow("show unfinished") << QByteArray("sho") << false;
        QTest::newRow("nothing") << QByteArray() << false;
    }
    void localGarbageIsIgnored()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, serverHangsUp);
        SingleInstance primary(privateName("garbage.sock"));
        QVERIFY(primary.tryBecomePrimary());
        QSignalSpy shows(&primary, &SingleInstance::showRequested);

        QLocalSocket client;
        client.connectToServer(primary.serverName());
        QVERIFY(client.waitForConnected(slowMs));
        client.write(sent);
        client.flush();
        if (serverHangsUp)
            QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, slowMs);

        // A real later start still gets through, while a silent or
        // half-finished client is still connected.
        SingleInstance later(primary.serverName());
        QVERIFY(!later.tryBecomePrimary());
        QTRY_COMPARE_WITH_TIMEOUT(shows.count(), 1, slowMs);
        client.abort();
    }

    void silentClientIsDropped()
    {
        SingleInstance primary(privateName("silent.sock"));
        primary.setIdleClientTimeout(50);
        QVERIFY(primary.tryBecomePrimary());
        QLocalSocket client;
        client.connectToServer(primary.serverName());
        QVERIFY(client.waitForConnected(slowMs));
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, slowMs);
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
