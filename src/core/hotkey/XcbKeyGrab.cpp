#include "core/hotkey/XcbKeyGrab.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <xcb/xcb_keysyms.h>

namespace {

constexpr xcb_keysym_t numLockKeysym = 0xff7f; // XK_Num_Lock
// The eight core modifier bits; the higher bits of a key event's state are
// pointer buttons and the XKB group.
constexpr uint16_t coreModifierBits = 0xff;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

template <typename T> using CPtr = std::unique_ptr<T, FreeDeleter>;

std::vector<xcb_keycode_t> keycodesOf(xcb_connection_t *connection, xcb_keysym_t keysym)
{
    std::vector<xcb_keycode_t> codes;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    if (!symbols)
        return codes;
    CPtr<xcb_keycode_t> list(xcb_key_symbols_get_keycode(symbols, keysym));
    for (const xcb_keycode_t *code = list.get(); code && *code != XCB_NO_SYMBOL; ++code) {
        if (std::find(codes.begin(), codes.end(), *code) == codes.end())
            codes.push_back(*code);
    }
    xcb_key_symbols_free(symbols);
    return codes;
}

} // namespace

XcbKeyGrab::XcbKeyGrab(xcb_connection_t *connection, xcb_window_t root)
    : m_connection(connection)
    , m_root(root)
{
}

XcbKeyGrab::~XcbKeyGrab()
{
    release();
}

bool XcbKeyGrab::grab(xcb_keysym_t keysym, uint16_t modifiers)
{
    const uint16_t numLock = numLockMask(m_connection);
    if (!grabExactly(keysym, lockVariants(modifiers, numLock)))
        return false;
    m_modifiers = modifiers;
    m_ignored = XCB_MOD_MASK_LOCK | numLock;
    return true;
}

bool XcbKeyGrab::grabExactly(xcb_keysym_t keysym, const std::vector<uint16_t> &modifierSets)
{
    release();
    m_keycodes = keycodesOf(m_connection, keysym);
    if (m_keycodes.empty() || modifierSets.empty())
        return false;
    for (xcb_keycode_t keycode : m_keycodes) {
        for (uint16_t modifiers : modifierSets) {
            if (!grabOne(keycode, modifiers)) {
                release();
                return false;
            }
        }
    }
    m_modifiers = modifierSets.front();
    m_ignored = 0;
    return true;
}

bool XcbKeyGrab::grabOne(xcb_keycode_t keycode, uint16_t modifiers)
{
    const xcb_void_cookie_t cookie = xcb_grab_key_checked(
        m_connection, 0, m_root, modifiers, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    CPtr<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie));
    if (error)
        return false;
    m_held.push_back({ keycode, modifiers });
    return true;
}

void XcbKeyGrab::release()
{
    if (m_held.empty())
        return;
    for (const Held &held : m_held)
        xcb_ungrab_key(m_connection, held.keycode, m_root, held.modifiers);
    m_held.clear();
    // A round trip: when this returns the server has dropped the grabs, so
    // another client that asks for the key next is not refused.
    CPtr<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

void XcbKeyGrab::abandon()
{
    m_held.clear();
}

bool XcbKeyGrab::matches(const xcb_key_press_event_t &event) const
{
    if (m_held.empty())
        return false;
    if (std::find(m_keycodes.begin(), m_keycodes.end(), event.detail) == m_keycodes.end())
        return false;
    const uint16_t state = event.state & coreModifierBits & ~m_ignored;
    return state == m_modifiers;
}

uint16_t XcbKeyGrab::numLockMask(xcb_connection_t *connection)
{
    const std::vector<xcb_keycode_t> numLockCodes = keycodesOf(connection, numLockKeysym);
    if (numLockCodes.empty())
        return 0;
    CPtr<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!mapping)
        return 0;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[modifier * perModifier + i];
            if (code != 0 && std::find(numLockCodes.begin(), numLockCodes.end(), code) != numLockCodes.end())
                return uint16_t(1u << modifier);
        }
    }
    return 0;
}

std::vector<uint16_t> XcbKeyGrab::lockVariants(uint16_t modifiers, uint16_t numLock)
{
    std::vector<uint16_t> sets;
    const uint16_t candidates[] = { modifiers, uint16_t(modifiers | XCB_MOD_MASK_LOCK),
        uint16_t(modifiers | numLock), uint16_t(modifiers | XCB_MOD_MASK_LOCK | numLock) };
    for (uint16_t set : candidates) {
        if (std::find(sets.begin(), sets.end(), set) == sets.end())
            sets.push_back(set);
    }
    return sets;
}

xcb_window_t XcbKeyGrab::defaultRoot(xcb_connection_t *connection)
{
    int screenNumber = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber))
        std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    const xcb_window_t first = it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
    for (int i = 0; it.rem; xcb_screen_next(&it), ++i) {
        if (i == screenNumber)
            return it.data->root;
    }
    return first;
}
