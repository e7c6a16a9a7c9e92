#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

class XcbKeyGrab;
class HotKeyEventFilter;

// The system-wide shortcut Control+Alt+Space. On X11 it is a passive key grab
// on the root window; presses are recognised in a native event filter and the
// callback runs later from the main event loop, never inside the event
// dispatch. Other platforms (Wayland, offscreen) offer no global grab here and
// registration reports false. The grab lasts until the object is destroyed.
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
    // True when the shortcut is now held by this application; false when the
    // platform has no global grab or another client already holds it.
    bool registerHotKey();
    bool isRegistered() const;

private:
    friend class HotKeyEventFilter;
    void pressed(std::uint32_t timestamp);

    Callback m_callback;
    std::unique_ptr<XcbKeyGrab> m_grab;
    std::unique_ptr<HotKeyEventFilter> m_filter;
};
