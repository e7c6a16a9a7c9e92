#pragma once

#include <cstdint>
#include <vector>
#include <xcb/xcb.h>

// A passive grab of one key with fixed modifiers on a root window, made on
// every Lock/NumLock variant so that the shortcut works whatever the state of
// those two locks. It is all or nothing: when any variant is refused
// (BadAccess: another client holds it) the variants already taken are given
// back. Plain xcb, no Qt, so that a test helper can use it as another client.
class XcbKeyGrab
{
public:
    XcbKeyGrab(xcb_connection_t *connection, xcb_window_t root);
    ~XcbKeyGrab();
    XcbKeyGrab(const XcbKeyGrab &) = delete;
    XcbKeyGrab &operator=(const XcbKeyGrab &) = delete;

    // Grabs keysym with exactly modifiers (plus Lock and NumLock variants);
    // false, holding nothing, when the key has no keycode or a variant is
    // refused.
    bool grab(xcb_keysym_t keysym, uint16_t modifiers);
    // Grabs only the given modifier sets, without adding lock variants.
    bool grabExactly(xcb_keysym_t keysym, const std::vector<uint16_t> &modifierSets);
    void release();
    // Forgets the grabs without talking to the server (its connection is gone).
    void abandon();

    bool isHeld() const { return !m_held.empty(); }
    // Whether a key press is the grabbed key with the grabbed modifiers,
    // whatever Lock and NumLock are.
    bool matches(const xcb_key_press_event_t &event) const;

    // The modifier mask that NumLock sets, from the server's modifier
    // mapping; 0 when no modifier holds the NumLock key.
    static uint16_t numLockMask(xcb_connection_t *connection);
    // Modifier sets for a shortcut: plain, with Lock, with NumLock, with both.
    static std::vector<uint16_t> lockVariants(uint16_t modifiers, uint16_t numLock);
    // The root window of the screen that DISPLAY names (the first screen
    // when DISPLAY names none that exists).
    static xcb_window_t defaultRoot(xcb_connection_t *connection);

private:
    struct Held {
        xcb_keycode_t keycode;
        uint16_t modifiers;
    };

    bool grabOne(xcb_keycode_t keycode, uint16_t modifiers);

    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    std::vector<xcb_keycode_t> m_keycodes;
    uint16_t m_modifiers = 0;
    uint16_t m_ignored = 0;
    std::vector<Held> m_held;
};
