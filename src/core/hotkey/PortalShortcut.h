#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class QDBusObjectPath;
class QDBusPendingCall;

// Control+Alt+Space through the desktop portal's GlobalShortcuts interface,
// for sessions where the compositor, not an X11 grab, owns the keyboard
// (Wayland). One session with one shortcut. The portal answers each request
// through the Response signal of a Request object whose path follows from
// our bus name and a token we choose, so that path is subscribed to before
// each call: a portal may answer before the call returns.
class PortalShortcut : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *shortcutId = "show-tolvi";
    static constexpr const char *description = "Show Tolvi";
    static constexpr const char *preferredTrigger = "CTRL+ALT+space";

    explicit PortalShortcut(const QDBusConnection &bus, QObject *parent = nullptr);

    // Creates the session and binds the shortcut; `bound` follows once.
    void bind();

Q_SIGNALS:
    // False when there is no portal, the portal has no global shortcuts, or
    // the person refused.
    void bound(bool ok);
    void activated();

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap &results);
    void onActivated(
        const QDBusObjectPath &session, const QString &id, qulonglong timestamp, const QVariantMap &options);

private:
    enum class Stage { Idle, CreatingSession, Binding, Bound, Failed };

    // Subscribes to the Response of the request that token names; returns
    // the request's path.
    QString expectResponse(const QString &token);
    void stopExpecting();
    void call(const QString &method, const QList<QVariant> &arguments);
    void bindShortcut();
    void finish(bool ok, const char *why);

    QDBusConnection m_bus;
    Stage m_stage = Stage::Idle;
    QString m_requestPath;
    QString m_session;
    int m_tokens = 0;
};
