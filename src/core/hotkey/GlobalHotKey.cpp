#include "core/hotkey/GlobalHotKey.h"

#include "core/hotkey/HotKeyEventFilter.h"
#include "core/hotkey/PortalShortcut.h"
#include "core/hotkey/X11Connection.h"
#include "core/hotkey/XcbKeyGrab.h"
#include "core/shell/ShellLog.h"

#include <QCoreApplication>
#include <QGuiApplication>

static_assert(GlobalHotKey::modifiers == (XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));

GlobalHotKey::GlobalHotKey(QObject *parent)
    : QObject(parent)
{
}

GlobalHotKey::~GlobalHotKey()
{
    m_filter.reset();
    // Without the application its X connection is closed, and with it the grab.
    if (m_grab && !QCoreApplication::instance())
        m_grab->abandon();
    m_grab.reset();
}

void GlobalHotKey::setCallback(Callback callback)
{
    m_callback = std::move(callback);
}

bool GlobalHotKey::registerHotKey()
{
    m_filter.reset();
    m_grab.reset();
    m_portal.reset();
    // In a Wayland session an X11 grab through XWayland would only see keys
    // while an X11 window has the focus.
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return bindThroughPortal();
    xcb_connection_t *connection = applicationX11Connection();
    if (!connection) {
        qCWarning(lcShell) << "no hot key: the" << QGuiApplication::platformName()
                           << "platform offers no X11 key grab";
        return false;
    }
    const xcb_window_t root = XcbKeyGrab::defaultRoot(connection);
    if (root == XCB_WINDOW_NONE) {
        qCWarning(lcShell) << "no hot key: the X server names no root window";
        return false;
    }
    auto grab = std::make_unique<XcbKeyGrab>(connection, root);
    if (!grab->grab(keysym, modifiers)) {
        qCWarning(lcShell)
            << "no hot key: the X server refused Ctrl+Alt+Space (another application holds it)";
        return false;
    }
    qCDebug(lcShell) << "hot key Ctrl+Alt+Space grabbed";
    m_grab = std::move(grab);
    m_filter = std::make_unique<HotKeyEventFilter>(*this, *m_grab);
    QCoreApplication::instance()->installNativeEventFilter(m_filter.get());
    return true;
}

bool GlobalHotKey::bindThroughPortal()
{
    m_portal = std::make_unique<PortalShortcut>(QDBusConnection::sessionBus());
    connect(m_portal.get(), &PortalShortcut::activated, this, [this] { pressed(0); });
    connect(m_portal.get(), &PortalShortcut::bound, this, [this](bool ok) {
        if (ok == m_portalBound)
            return;
        m_portalBound = ok;
        Q_EMIT registeredChanged(ok);
    });
    m_portalBound = true; // until the portal says otherwise
    m_portal->bind();
    return m_portalBound;
}

bool GlobalHotKey::isRegistered() const
{
    if (m_portal)
        return m_portalBound;
    return m_grab && m_grab->isHeld();
}

void GlobalHotKey::pressed(std::uint32_t timestamp)
{
    QMetaObject::invokeMethod(
        this,
        [this, timestamp] {
            qCDebug(lcShell) << "hot key pressed";
            const Callback callback = m_callback;
            if (callback)
                callback(timestamp);
        },
        Qt::QueuedConnection);
}
