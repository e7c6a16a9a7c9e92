// The global shortcut under a real X server (run through with-xvfb): key
// presses are sent with xdotool through the XTEST extension, so they travel
// the same road as a person's, and another X client stands in for an
// application that already owns Control+Alt+Space.
#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/HotKeyStatus.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <memory>
#include <xcb/xcb.h>

namespace {

constexpr int slowMs = 30000;

// Counts presses of the space key that reach this process, whoever handles
// them next. Installed after the hot key's filter, so it sees them first.
class SpacePressCounter : public QAbstractNativeEventFilter
{
public:
    int presses = 0;
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS)
            ++presses;
        return false;
    }
};

// Another X client holding the shortcut.
class Holder
{
public:
    explicit Holder(const QString &variant)
    {
        process.start(QStringLiteral(XGRAB_HELPER), { QStringLiteral("hold"), variant });
    }
    ~Holder()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(slowMs))
            process.kill();
        process.waitForFinished(slowMs);
    }
    QByteArray nextLine()
    {
        while (!process.canReadLine() && process.waitForReadyRead(slowMs)) { }
        return process.readLine().trimmed();
    }
    QProcess process;
};

bool probeSucceeds()
{
    QProcess probe;
    probe.start(QStringLiteral(XGRAB_HELPER), { QStringLiteral("probe") });
    return probe.waitForFinished(slowMs) && probe.exitStatus() == QProcess::NormalExit
        && probe.exitCode() == 0;
}

} // namespace

class TestHotKey : public QObject
{
    Q_OBJECT

private:
    QString m_xdotool;

    void xdotool(const QStringList &arguments)
    {
        QProcess process;
        process.start(m_xdotool, arguments);
        QVERIFY2(process.waitForFinished(slowMs), "xdotool hung");
        QCOMPARE(process.exitCode(), 0);
    }
    void pressShortcut() { xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+space") }); }
    // Runs the event loop until every call queued before now has run.
    static void drainQueuedCalls()
    {
        bool reached = false;
        QObject marker;
        QMetaObject::invokeMethod(
            &marker, [&reached] { reached = true; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(reached, slowMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (m_xdotool.isEmpty()) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL("xdotool is not installed");
            QSKIP("xdotool is not installed");
        }
    }

    void statusReadsTrueUntilWritten()
    {
        HotKeyStatus &status = HotKeyStatus::shared();
        QVERIFY(status.registered());
        QSignalSpy changed(&status, &HotKeyStatus::registeredChanged);
        status.setRegistered(true);
        QCOMPARE(changed.count(), 0);
        status.setRegistered(false);
        status.setRegistered(false);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(status.property("registered").toBool(), false);
        status.setRegistered(true);
        QCOMPARE(changed.count(), 2);
    }

    void pressRunsCallbackFromMainLoop()
    {
        GlobalHotKey hotKey;
        QVERIFY(hotKey.registerHotKey());
        QVERIFY(hotKey.isRegistered());
        SpacePressCounter counter;
        qApp->installNativeEventFilter(&counter);

        // Without a callback a press is swallowed and nothing runs.
        pressShortcut();
        QTRY_COMPARE_WITH_TIMEOUT(counter.presses, 1, slowMs);
        drainQueuedCalls();

        int calls = 0;
        bool onMainThread = false;
        std::uint32_t pressedAt = 0;
        hotKey.setCallback([&](std::uint32_t timestamp) {
            ++calls;
            onMainThread = QThread::currentThread() == qApp->thread();
            pressedAt = timestamp;
        });
        pressShortcut();
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, slowMs);
        QVERIFY(onMainThread);
        QVERIFY(pressedAt != 0); // the press's own time, to activate the window with
        QCOMPARE(counter.presses, 2);
        qApp->removeNativeEventFilter(&counter);
    }

    void locksDoNotMatter_data()
    {
        QTest::addColumn<QStringList>("lockKeys");
        QTest::newRow("caps lock") << QStringList{ QStringLiteral("Caps_Lock") };
        QTest::newRow("num lock") << QStringList{ QStringLiteral("Num_Lock") };
        QTest::newRow("both") << QStringList{ QStringLiteral("Caps_Lock"), QStringLiteral("Num_Lock") };
    }
    void locksDoNotMatter()
    {
        QFETCH(QStringList, lockKeys);
        GlobalHotKey hotKey;
        int calls = 0;
        hotKey.setCallback([&calls](std::uint32_t) { ++calls; });
        QVERIFY(hotKey.registerHotKey());
        for (const QString &key : lockKeys)
            xdotool({ QStringLiteral("key"), key });
        pressShortcut();
        // Turn the locks off again before checking, so a failure leaves the
        // next case a clean keyboard.
        for (const QString &key : lockKeys)
            xdotool({ QStringLiteral("key"), key });
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, slowMs);
    }

    void takenShortcutIsRefusedWholly_data()
    {
        QTest::addColumn<QString>("heldVariant");
        QTest::newRow("plain") << QStringLiteral("plain");
        QTest::newRow("with lock") << QStringLiteral("lock");
        QTest::newRow("with num lock") << QStringLiteral("numlock");
        QTest::newRow("with both locks") << QStringLiteral("both");
    }
    void takenShortcutIsRefusedWholly()
    {
        QFETCH(QString, heldVariant);
        Holder holder(heldVariant);
        QCOMPARE(holder.nextLine(), QByteArray("held"));

        GlobalHotKey hotKey;
        QVERIFY(!hotKey.registerHotKey());
        QVERIFY(!hotKey.isRegistered());

        // Once the other client lets go, every variant is free: the ones this
        // process took before it was refused were given back.
        holder.process.write("release\n");
        QCOMPARE(holder.nextLine(), QByteArray("released"));
        QVERIFY(probeSucceeds());
    }

    void destroyingGivesTheShortcutBack()
    {
        {
            GlobalHotKey hotKey;
            QVERIFY(hotKey.registerHotKey());
            QVERIFY(!probeSucceeds());
        }
        QVERIFY(probeSucceeds());
    }

    void registeringAgainKeepsOneGrab()
    {
        GlobalHotKey hotKey;
        int calls = 0;
        hotKey.setCallback([&calls](std::uint32_t) { ++calls; });
        QVERIFY(hotKey.registerHotKey());
        QVERIFY(hotKey.registerHotKey());
        pressShortcut();
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, slowMs);
        drainQueuedCalls();
        QCOMPARE(calls, 1);
    }
};

QTEST_MAIN(TestHotKey)
#include "test_hotkey.moc"
