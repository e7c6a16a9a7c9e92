// The hot key through the desktop portal, against a fake portal on a private
// session bus: a connection of its own in this process that answers every
// request at once, before its method call returns, so that a client that
// subscribes to the answer late never hears it.

#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/PortalShortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString sessionPath = QStringLiteral("/org/freedesktop/portal/desktop/session/test/tolvi");

} // namespace

struct Bound {
    QString id;
    QVariantMap properties;
};

static QDBusArgument &operator<<(QDBusArgument &argument, const Bound &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

static const QDBusArgument &operator>>(const QDBusArgument &argument, Bound &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

Q_DECLARE_METATYPE(Bound)

namespace {

class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
public:
    explicit FakePortal(QDBusConnection bus)
        : m_bus(bus)
    {
        qDBusRegisterMetaType<Bound>();
        qDBusRegisterMetaType<QList<Bound>>();
    }

    uint bindAnswer = 0; // 0 bound, 1 refused by the person, 2 failed
    QString boundId;
    QVariantMap boundProperties;

    void activate(const QString &session, const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath,
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
        m_bus.send(signal);
    }

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap &options)
    {
        return answer(options, 0, { { QStringLiteral("session_handle"), sessionPath } });
    }

    QDBusObjectPath BindShortcuts(const QDBusObjectPath &session, const QList<Bound> &shortcuts,
        const QString &, const QVariantMap &options)
    {
        if (session.path() != sessionPath || shortcuts.size() != 1)
            return answer(options, 2, {});
        boundId = shortcuts[0].id;
        boundProperties = shortcuts[0].properties;
        return answer(options, bindAnswer, {});
    }

private:
    // Answers on the request path the caller worked out, before returning.
    QDBusObjectPath answer(const QVariantMap &options, uint response, const QVariantMap &results)
    {
        QString sender = message().service().mid(1);
        sender.replace(u'.', u'_');
        const QString request = portalPath + QStringLiteral("/request/") + sender + u'/'
            + options.value("handle_token").toString();
        QDBusMessage signal = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        m_bus.send(signal);
        return QDBusObjectPath(request);
    }

    QDBusConnection m_bus;
};

} // namespace

class TestPortalShortcut : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QString>("portal"); // what the bus offers
        QTest::addColumn<uint>("bindAnswer");
        QTest::addColumn<bool>("bound");
        QTest::newRow("the portal binds it") << "shortcuts" << 0u << true;
        QTest::newRow("the person refuses") << "shortcuts" << 1u << false;
        QTest::newRow("the portal fails") << "shortcuts" << 2u << false;
        QTest::newRow("a portal without global shortcuts") << "other" << 0u << false;
        QTest::newRow("no portal") << "none" << 0u << false;
    }
    void answers()
    {
        QFETCH(QString, portal);
        QFETCH(uint, bindAnswer);
        QFETCH(bool, bound);
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-portal");
        QVERIFY(service.isConnected());
        FakePortal fake(service);
        fake.bindAnswer = bindAnswer;
        QObject other;
        if (portal != QLatin1String("none")) {
            QVERIFY(service.registerObject(portalPath, portal == QLatin1String("shortcuts") ? &fake : &other,
                QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        }

        PortalShortcut shortcut(QDBusConnection::sessionBus());
        QSignalSpy answered(&shortcut, &PortalShortcut::bound);
        QSignalSpy activated(&shortcut, &PortalShortcut::activated);
        shortcut.bind();
        QVERIFY(answered.wait(10000) || answered.size() == 1);
        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered.at(0).at(0).toBool(), bound);
        if (portal == QLatin1String("shortcuts")) { // asked with the right shortcut, whatever the answer
            QCOMPARE(fake.boundId, QString(PortalShortcut::shortcutId));
            QCOMPARE(fake.boundProperties.value("preferred_trigger").toString(), "CTRL+ALT+space");
            QCOMPARE(fake.boundProperties.value("description").toString(), "Show Tolvi");
        }
        if (bound) {
            // Only our shortcut in our session shows the window.
            fake.activate(sessionPath + "/other", PortalShortcut::shortcutId);
            fake.activate(sessionPath, "another-shortcut");
            fake.activate(sessionPath, PortalShortcut::shortcutId);
            QVERIFY(activated.wait(10000));
            QTest::qWait(0);
            QCOMPARE(activated.size(), 1);
        }
        service.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        service.unregisterObject(portalPath);
        QDBusConnection::disconnectFromBus("fake-portal");
    }

    // In a Wayland session the hot key is the portal's: it reads as held
    // until the portal refuses, and then says so.
    void waylandUsesThePortal()
    {
        qputenv("WAYLAND_DISPLAY", "wayland-test");
        GlobalHotKey hotKey;
        QSignalSpy changed(&hotKey, &GlobalHotKey::registeredChanged);
        QVERIFY(hotKey.registerHotKey()); // no portal here: the answer comes later
        QVERIFY(changed.wait(10000));
        QCOMPARE(changed.at(0).at(0).toBool(), false);
        QVERIFY(!hotKey.isRegistered());
        qunsetenv("WAYLAND_DISPLAY");
    }
};

QTEST_GUILESS_MAIN(TestPortalShortcut)
#include "test_portal_shortcut.moc"
