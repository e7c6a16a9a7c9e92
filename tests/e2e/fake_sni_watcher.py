#!/usr/bin/env python3
"""A StatusNotifierWatcher for the tests: owns org.kde.StatusNotifierWatcher on
the session bus, says that a host is registered, and writes each item that
registers to stdout, one "item SERVICE PATH" line each, as a tray host would
see them. It also owns org.freedesktop.Notifications, through which such a
tray shows an item's messages, and keeps each message's body; its method
Bodies (not in the standard) returns them, in order, to the test.

    fake_sni_watcher.py
"""

import sys

from gi.repository import Gio, GLib

WATCHER = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""

NOTIFICATIONS = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
    <method name="Bodies"><arg type="as" direction="out"/></method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>
"""

items = []
bodies = []


def on_notification_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "Notify":
        bodies.append(parameters.unpack()[4])
        invocation.return_value(GLib.Variant("(u)", (len(bodies),)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body"],)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("fake", "tolvi-tests", "1", "1.2")))
    elif method == "Bodies":
        invocation.return_value(GLib.Variant("(as)", (bodies,)))
    else:
        invocation.return_value(None)


def on_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "RegisterStatusNotifierItem":
        # An item names its bus name, or only its object path (then the
        # caller's unique name is the service).
        name = parameters.unpack()[0]
        service, item_path = (sender, name) if name.startswith("/") else (name, "/StatusNotifierItem")
        items.append(service + item_path)
        print("item %s %s" % (service, item_path), flush=True)
        connection.emit_signal(None, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                               "StatusNotifierItemRegistered", GLib.Variant("(s)", (service + item_path,)))
    invocation.return_value(None)


def on_get(connection, sender, path, interface, name):
    return {
        "RegisteredStatusNotifierItems": GLib.Variant("as", items),
        "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
        "ProtocolVersion": GLib.Variant("i", 0),
    }[name]


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    node = Gio.DBusNodeInfo.new_for_xml(WATCHER)
    bus.register_object("/StatusNotifierWatcher", node.interfaces[0], on_call, on_get, None)
    notifications = Gio.DBusNodeInfo.new_for_xml(NOTIFICATIONS)
    bus.register_object("/org/freedesktop/Notifications", notifications.interfaces[0], on_notification_call,
                        None, None)
    loop = GLib.MainLoop()
    owned = []

    def acquired(*_):
        owned.append(True)
        if len(owned) == 2:
            print("watching", flush=True)

    for name in ("org.freedesktop.Notifications", "org.kde.StatusNotifierWatcher"):
        Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, acquired, lambda *_: loop.quit())
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
