// Without an X server (the offscreen platform, as on Wayland) there is no
// global grab to be had: registration reports false and nothing breaks.
#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/HotKeyStatus.h"

#include <QGuiApplication>
#include <QTest>

class TestHotKeyOffscreen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void registrationFailsWithoutX11()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        QVERIFY(HotKeyStatus::shared().registered());
        GlobalHotKey hotKey;
        hotKey.setCallback([](std::uint32_t) { QFAIL("no press can arrive"); });
        QVERIFY(!hotKey.registerHotKey());
        QVERIFY(!hotKey.isRegistered());
        QVERIFY(!hotKey.registerHotKey());
    }
};

QTEST_MAIN(TestHotKeyOffscreen)
#include "test_hotkey_offscreen.moc"
