#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

class XcbKeyGrab;
class HotKeyEventFilter;
class PortalShortcut;

// The system-wide shortcut Control+Alt+Space. In a Wayland session it is
// bound through the desktop portal, whose answer comes later; on X11 it is a
// passive key grab on the root window, whose presses are recognised in a
// native event filter. Either way the callback runs later from the main
// event loop, never inside the event dispatch. Elsewhere (offscreen) there
// is no global shortcut and registration reports false. The shortcut lasts
// until the object is destroyed.
class GlobalHotKey : public QObject
{
    Q_OBJECT

public:
    // The shortcut as X11 sees it: the space keysym with Control and Mod1
    // (Alt) held, and no other modifier but Lock and NumLock.
    static constexpr uint32_t keysym = 0x20;
    static constexpr uint16_t modifiers = 0x0004 | 0x0008;

    explicit GlobalHotKey(QObject *parent = nullptr);
    ~GlobalHotKey() override;

    // What to run on a press, given the press's X time (for activating a
    // window with it); the one set at the time of the call is used.
    using Callback = std::function<void(std::uint32_t timestamp)>;
    void setCallback(Callback callback);
    // True when the shortcut is now held by this application, or asked of
    // the portal and not yet refused; false when the platform has no global
    // shortcut or another client already holds it.
    bool registerHotKey();
    bool isRegistered() const;

Q_SIGNALS:
    // The portal's answer, when it changes what isRegistered() said.
    void registeredChanged(bool registered);

private:
    bool bindThroughPortal();

    friend class HotKeyEventFilter;
    void pressed(std::uint32_t timestamp);

    Callback m_callback;
    std::unique_ptr<XcbKeyGrab> m_grab;
    std::unique_ptr<HotKeyEventFilter> m_filter;
    std::unique_ptr<PortalShortcut> m_portal;
    bool m_portalBound = false;
};
