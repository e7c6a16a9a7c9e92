#include "core/hotkey/HotKeyEventFilter.h"

#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/XcbKeyGrab.h"

#include <QByteArray>

HotKeyEventFilter::HotKeyEventFilter(GlobalHotKey &hotKey, const XcbKeyGrab &grab)
    : m_hotKey(hotKey)
    , m_grab(grab)
{
}

bool HotKeyEventFilter::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != QByteArrayLiteral("xcb_generic_event_t") || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    // The high bit marks events sent by another client (SendEvent).
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *press = static_cast<const xcb_key_press_event_t *>(message);
    if (!m_grab.matches(*press))
        return false;
    m_hotKey.pressed(press->time);
    return true;
}
