#!/usr/bin/env python3
"""The desktop portal's global shortcuts, for the tests.

    fake_portal.py accept|refuse

Owns org.freedesktop.portal.Desktop on the session bus with the
org.freedesktop.portal.GlobalShortcuts interface. Every request is answered
at once, through the Request object's Response signal sent before the method
returns, so that a client that subscribes to its answer late never hears it.
BindShortcuts is granted or refused as the argument says, and each shortcut
asked for is written to stdout as "bound ID TRIGGER DESCRIPTION". The test
makes a bound shortcut fire with org.tolvi.test.Portal.Activate().
"""

import sys
import time

from gi.repository import Gio, GLib

PATH = "/org/freedesktop/portal/desktop"
INTERFACES = """
<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession">
      <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/>
    </method>
    <method name="BindShortcuts">
      <arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/>
    </method>
    <signal name="Activated">
      <arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.tolvi.test.Portal">
    <method name="Activate"/>
  </interface>
</node>
"""

state = {"session": None, "bound": []}


def request_path(sender, options):
    return "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["handle_token"])


def answer(connection, path, response, results):
    connection.emit_signal(None, path, "org.freedesktop.portal.Request", "Response",
                           GLib.Variant("(ua{sv})", (response, results)))


def on_call(connection, sender, path, interface, method, parameters, invocation):
    grant = sys.argv[1] == "accept"
    if method == "CreateSession":
        (options,) = parameters.unpack()
        state["session"] = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                                 options.get("session_handle_token", "s"))
        request = request_path(sender, options)
        answer(connection, request, 0, {"session_handle": GLib.Variant("o", state["session"])})
        invocation.return_value(GLib.Variant("(o)", (request,)))
    elif method == "BindShortcuts":
        session, shortcuts, _, options = parameters.unpack()
        for shortcut_id, properties in shortcuts:
            print("bound %s %s %s" % (shortcut_id, properties.get("preferred_trigger", ""),
                                      properties.get("description", "")), flush=True)
            state["bound"].append(shortcut_id)
        request = request_path(sender, options)
        answer(connection, request, 0 if grant else 1, {})
        invocation.return_value(GLib.Variant("(o)", (request,)))
    elif method == "Activate":
        for shortcut_id in state["bound"]:
            connection.emit_signal(None, PATH, "org.freedesktop.portal.GlobalShortcuts", "Activated",
                                   GLib.Variant("(osta{sv})", (state["session"], shortcut_id,
                                                               int(time.monotonic() * 1000), {})))
        invocation.return_value(None)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    for interface in Gio.DBusNodeInfo.new_for_xml(INTERFACES).interfaces:
        bus.register_object(PATH, interface, on_call, lambda *_: GLib.Variant("u", 1), None)
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: print("serving", flush=True), lambda *_: loop.quit())
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
