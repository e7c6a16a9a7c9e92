#include "core/hotkey/X11Activation.h"

#include "core/hotkey/X11Connection.h"
#include "core/shell/ShellLog.h"

#include <QGuiApplication>
#include <QWindow>
#include <memory>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window that carries the user time: Qt keeps it on a window of its own
// that the top-level names (_NET_WM_USER_TIME_WINDOW), when it made one.
xcb_window_t userTimeWindow(xcb_connection_t *connection, xcb_window_t window)
{
    const xcb_atom_t name = atom(connection, "_NET_WM_USER_TIME_WINDOW");
    const xcb_get_property_cookie_t cookie
        = xcb_get_property(connection, 0, window, name, XCB_ATOM_WINDOW, 0, 1);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &free);
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 4)
        return *static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
    return window;
}

xcb_window_t rootOf(xcb_connection_t *connection, xcb_window_t window)
{
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> reply(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &free);
    return reply ? reply->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

namespace X11Activation {

void activate(QWindow &window, std::uint32_t timestamp)
{
    xcb_connection_t *connection = applicationX11Connection();
    if (!connection || timestamp == XCB_CURRENT_TIME || !window.handle())
        return;
    const auto id = xcb_window_t(window.winId());
    const xcb_window_t root = rootOf(connection, id);
    if (root == XCB_WINDOW_NONE)
        return;
    // The person acted in this window at that time, as far as the window
    // manager is to know: it compares this with the other program's.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, userTimeWindow(connection, id),
        atom(connection, "_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL, 32, 1, &timestamp);

    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = id;
    request.type = atom(connection, "_NET_ACTIVE_WINDOW");
    request.data.data32[0] = 1; // from an application, not a pager
    request.data.data32[1] = timestamp;
    request.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(connection, 0, root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&request));
    xcb_flush(connection);
    qCDebug(lcShell) << "asked the window manager to activate the window at X time" << timestamp;
}

} // namespace X11Activation
