#include "core/hotkey/PortalShortcut.h"

#include "core/shell/ShellLog.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// A session handle comes as an object path, or from some portals as a string.
QString pathOf(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

PortalShortcut::PortalShortcut(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

void PortalShortcut::bind()
{
    if (!m_bus.isConnected()) {
        finish(false, "there is no session bus");
        return;
    }
    m_stage = Stage::CreatingSession;
    const QString token = QStringLiteral("tolvi%1").arg(++m_tokens);
    expectResponse(token);
    call(QStringLiteral("CreateSession"),
        { QVariantMap{ { QStringLiteral("handle_token"), token },
            { QStringLiteral("session_handle_token"), QStringLiteral("tolvi") } } });
}

QString PortalShortcut::expectResponse(const QString &token)
{
    stopExpecting();
    // The sender part is our unique name without its colon, dots made
    // underscores.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    m_requestPath = portalPath + QStringLiteral("/request/") + sender + u'/' + token;
    m_bus.connect(portalService, m_requestPath, requestInterface, QStringLiteral("Response"), this,
        SLOT(onResponse(uint, QVariantMap)));
    return m_requestPath;
}

void PortalShortcut::stopExpecting()
{
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(portalService, m_requestPath, requestInterface, QStringLiteral("Response"), this,
        SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

void PortalShortcut::call(const QString &method, const QList<QVariant> &arguments)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    const QString expected = m_requestPath;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, method, expected](QDBusPendingCallWatcher *call) {
            call->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *call;
            if (reply.isError()) {
                qCWarning(lcShell) << "no hot key: the portal's" << method
                                   << "failed:" << reply.error().name();
                finish(false, nullptr);
                return;
            }
            // A portal older than the handle_token convention answers on
            // another path: follow the one it names, while still waiting.
            const QString path = reply.value().path();
            if (path != expected && m_requestPath == expected) {
                stopExpecting();
                m_requestPath = path;
                m_bus.connect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
            }
        });
}

void PortalShortcut::onResponse(uint response, const QVariantMap &results)
{
    stopExpecting();
    if (response != 0) {
        finish(false, response == 1 ? "the person refused it" : "the portal could not bind it");
        return;
    }
    if (m_stage == Stage::CreatingSession) {
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        if (m_session.isEmpty()) {
            finish(false, "the portal named no session");
            return;
        }
        bindShortcut();
    } else if (m_stage == Stage::Binding) {
        finish(true, nullptr);
    }
}

void PortalShortcut::bindShortcut()
{
    m_stage = Stage::Binding;
    m_bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QString token = QStringLiteral("tolvi%1").arg(++m_tokens);
    expectResponse(token);
    const QList<Shortcut> shortcuts{ { QString::fromLatin1(shortcutId),
        { { QStringLiteral("description"), QString::fromLatin1(description) },
            { QStringLiteral("preferred_trigger"), QString::fromLatin1(preferredTrigger) } } } };
    call(QStringLiteral("BindShortcuts"),
        { QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
            QVariantMap{ { QStringLiteral("handle_token"), token } } });
}

void PortalShortcut::onActivated(
    const QDBusObjectPath &session, const QString &id, qulonglong, const QVariantMap &)
{
    if (m_stage == Stage::Bound && session.path() == m_session && id == QLatin1String(shortcutId))
        Q_EMIT activated();
}

void PortalShortcut::finish(bool ok, const char *why)
{
    if (m_stage == Stage::Bound || m_stage == Stage::Failed)
        return;
    stopExpecting();
    m_stage = ok ? Stage::Bound : Stage::Failed;
    if (ok)
        qCDebug(lcShell) << "hot key Ctrl+Alt+Space bound through the desktop portal";
    else if (why)
        qCWarning(lcShell) << "no hot key:" << why;
    Q_EMIT bound(ok);
}
