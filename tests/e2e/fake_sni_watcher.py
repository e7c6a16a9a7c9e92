#!/usr/bin/env python3
"""A StatusNotifierWatcher for the tests: owns org.kde.StatusNotifierWatcher on
the session bus, says that a host is registered, and writes each item that
registers to stdout, one "item SERVICE PATH" line each, as a tray host would
see them.

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

items = []


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
    loop = GLib.MainLoop()

    def acquired(*_):
        print("watching", flush=True)

    Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE,
                                   acquired, lambda *_: loop.quit())
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
