#pragma once

#include <QAbstractNativeEventFilter>

class GlobalHotKey;
class XcbKeyGrab;

// Watches the xcb event stream for presses of the grabbed key and tells the
// hot key. Removes itself from the application when destroyed.
class HotKeyEventFilter : public QAbstractNativeEventFilter
{
public:
    HotKeyEventFilter(GlobalHotKey &hotKey, const XcbKeyGrab &grab);
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    GlobalHotKey &m_hotKey;
    const XcbKeyGrab &m_grab;
};
