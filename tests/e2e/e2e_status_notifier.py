#!/usr/bin/env python3
"""End-to-end test of tolvi's tray icon as a StatusNotifierItem.

    e2e_status_notifier.py --tolvi PATH --fake PATH --output DIR

The private desktop of e2e_app.py without an XEmbed tray: a StatusNotifierWatcher
written for the test (fake_sni_watcher.py) is on the session bus before tolvi
starts, as on KDE Plasma and on the Wayland desktops that show such items. The
test plays the tray host over D-Bus: it reads the item's tooltip, icon and
exported menu, activates the item, and quits through the menu. Exits 77
(skip) when a tool is missing, except under CI=true.
"""

import os
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)

from desktop import missing_tools  # noqa: E402
from e2e_app import Test, run_script  # noqa: E402
from tolvi_app import wait_exit  # noqa: E402
from waits import scaled  # noqa: E402

ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
MENU_ITEMS = ["Show Tolvi", "New Chat", "Quit Tolvi"]


class TrayHost:
    """Plays a StatusNotifier tray host over D-Bus, for a Test: starts the
    watcher written for the test and talks to the item that registers."""

    def start_watcher(self):
        from gi.repository import Gio, GLib
        self.Gio, self.GLib = Gio, GLib
        self.lines = []
        self.watcher = self.desktop.start_child(
            "sni-watcher", [sys.executable, os.path.join(HERE, "fake_sni_watcher.py")], stdout=subprocess.PIPE)
        threading.Thread(target=self._read_watcher, daemon=True).start()
        self.wait("the StatusNotifierWatcher is on the bus", lambda: "watching" in self.lines, 60)
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.bus = Gio.DBusConnection.new_for_address_sync(self.desktop.env["DBUS_SESSION_BUS_ADDRESS"], flags,
                                                           None, None)

    def _read_watcher(self):
        for line in self.watcher.stdout:
            self.lines.append(line.decode().strip())

    def call(self, service, path, interface, method, arguments, answer):
        return self.bus.call_sync(service, path, interface, method, arguments,
                                  self.GLib.VariantType(answer) if answer else None,
                                  self.Gio.DBusCallFlags.NONE, int(scaled(30) * 1000), None)

    def item(self):
        """(service, path) of the last item that registered, or None."""
        registered = [line.split()[1:] for line in self.lines if line.startswith("item ")]
        return tuple(registered[-1]) if registered else None

    def item_property(self, name):
        service, path = self.item()
        reply = self.call(service, path, "org.freedesktop.DBus.Properties", "Get",
                          self.GLib.Variant("(ss)", (ITEM, name)), "(v)")
        return reply.unpack()[0]

    def menu_items(self):
        """{label: id} of the exported menu's top level."""
        service, _ = self.item()
        reply = self.call(service, self.item_property("Menu"), MENU, "GetLayout",
                          self.GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")
        _, (_, _, children) = reply.unpack()
        found = {}
        for item_id, properties, _ in children:
            label = properties.get("label", "").replace("_", "")
            if label and properties.get("visible", True):
                found[label] = item_id
        return found

    def check_item(self):
        """Waits for tolvi's item and checks its tooltip, icon and menu."""
        self.wait("tolvi's item registered with the watcher", self.item, 60)
        tooltip = self.item_property("ToolTip")
        self.check(tooltip[2] == "Tolvi", "the tooltip's title is %r" % (tooltip[2],))
        pixmaps = self.item_property("IconPixmap")
        self.check(self.item_property("IconName") or any(width > 0 for width, _, _ in pixmaps),
                   "the item has no icon")
        items = self.wait("the item's menu lists its three items",
                          lambda: (lambda m: m if all(label in m for label in MENU_ITEMS) else None)(
                              self.menu_items()), 30)
        return "item %s, tooltip %r, menu: %s" % (self.item()[0], tooltip[2], ", ".join(sorted(items)))

    def messages(self):
        """The bodies of the messages the item showed, in order."""
        reply = self.call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                          "org.freedesktop.Notifications", "Bodies", None, "(as)")
        return reply.unpack()[0]

    def activate_item(self):
        service, path = self.item()
        self.call(service, path, ITEM, "Activate", self.GLib.Variant("(ii)", (0, 0)), None)

    def quit_from_menu(self):
        """Quit Tolvi through the exported menu; tolvi's exit status."""
        service, _ = self.item()
        quit_id = self.menu_items()["Quit Tolvi"]
        self.call(service, self.item_property("Menu"), MENU, "Event",
                  self.GLib.Variant("(isvu)", (quit_id, "clicked", self.GLib.Variant("s", ""), 0)), None)
        status = wait_exit(self.tolvi, 60)
        self.tolvi = None
        return status


class StatusNotifierTest(TrayHost, Test):
    tray = False

    def steps(self):
        return [self.step1_sign_in, self.step2_item_registered, self.step3_activate_shows_window,
                self.step4_quit_from_menu]

    def set_up(self):
        super().set_up()
        self.start_watcher()

    def step2_item_registered(self):
        summary = self.check_item()
        self.shot("item-registered")
        return summary

    def step3_activate_shows_window(self):
        window = self.main_window()
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.check(self.tolvi.poll() is None, "closing the window ended tolvi")
        said = self.wait("the first close says how to come back", lambda: self.messages(), 30)
        self.check(len(said) == 1 and "still running" in said[0], "the item showed %r" % (said,))
        self.activate_item()
        self.window_back()
        self.shot("activated")
        return "closing keeps tolvi running with its item and says so once; activating the item shows the window"

    def step4_quit_from_menu(self):
        # A second close, then quitting with the window open, say nothing more.
        window = self.main_window()
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.activate_item()
        self.window_back()
        status = self.quit_from_menu()
        self.check(status == 0, "tolvi ended with %r after Quit Tolvi" % status)
        said = self.messages()
        self.check(len(said) == 1, "the item showed %d messages: %r" % (len(said), said))
        return "Quit Tolvi from the exported menu ends tolvi with status 0; the first close was said once"


def main():
    missing = missing_tools()
    return run_script(StatusNotifierTest, __doc__, missing)


if __name__ == "__main__":
    sys.exit(main())
