#!/usr/bin/env python3
"""End-to-end test of tolvi on Wayland.

    e2e_wayland.py --tolvi PATH --fake PATH --output DIR

The private desktop of e2e_app.py with a headless sway in place of Xvfb and
openbox (wayland.py), tolvi on Qt's Wayland platform, and two services
written for the test on the session bus: the desktop portal's global
shortcuts (fake_portal.py, which answers every request at once) and a
StatusNotifierWatcher (fake_sni_watcher.py). The test types with wtype,
photographs with grim and reads the window through AT-SPI. Four steps, each
ending in a "PASS step N: ..." line. Exits 77 (skip) when a tool is missing,
except under CI=true.
"""

import os
import shutil
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)

from desktop import missing_tools  # noqa: E402
from e2e_app import SHORTCUT_TAKEN, Test, run_script  # noqa: E402
from e2e_status_notifier import TrayHost  # noqa: E402
from wayland import TOOLS as WAYLAND_TOOLS  # noqa: E402

SHOW_SHORTCUT = "bound show-tolvi CTRL+ALT+space Show Tolvi"


class WaylandTest(TrayHost, Test):
    tray = False
    wayland = True

    def steps(self):
        return [self.step1_sign_in, self.step2_portal_hot_key, self.step3_tray_item,
                self.step4_refusing_portal]

    def set_up(self):
        super().set_up()
        self.x = self.desktop.wayland
        self.runner.env.update(QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY=self.desktop.env["WAYLAND_DISPLAY"])
        self.runner.env.pop("DISPLAY", None)
        self.start_portal("accept")
        self.start_watcher()

    def start_portal(self, mode):
        if getattr(self, "portal", None):
            self.portal.terminate()
            self.portal.wait(timeout=30)
        self.portal_lines = []
        self.portal = self.desktop.start_child(
            "portal-" + mode, [sys.executable, os.path.join(HERE, "fake_portal.py"), mode], stdout=subprocess.PIPE)
        lines = self.portal_lines
        threading.Thread(target=lambda: [lines.append(line.decode().strip()) for line in self.portal.stdout],
                         daemon=True).start()
        self.wait("the portal is on the bus", lambda: "serving" in lines, 60)

    def click_node(self, node):
        # No pointer on this seat: a screen reader's press does it.
        self.a11y.press(node)

    def fire_shortcut(self):
        self.call("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.tolvi.test.Portal",
                  "Activate", None, None)

    def step2_portal_hot_key(self):
        self.wait("the portal was asked to bind Ctrl+Alt+Space", lambda: SHOW_SHORTCUT in self.portal_lines, 60)
        window = self.main_window()
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.check(self.tolvi.poll() is None, "closing the window ended tolvi")
        self.shot("closed")
        self.fire_shortcut()
        self.window_back()
        self.wait("the message field has the keyboard focus", self.editor_has_focus, 30)
        self.shot("shortcut-activated")
        return "the portal bound %r; its Activated brought the closed window back, message field focused" % (
            SHOW_SHORTCUT.split(" ", 1)[1])

    def step3_tray_item(self):
        summary = self.check_item()
        self.shot("tray-item")
        status = self.quit_from_menu()
        self.check(status == 0, "tolvi ended with %r after Quit Tolvi" % status)
        return summary + "; Quit Tolvi from the exported menu ended tolvi with status 0"

    def step4_refusing_portal(self):
        self.first_item = self.item()
        self.start_portal("refuse")
        self.tolvi = self.runner.start()
        self.main_window()
        self.showing(contains="How can I help?")
        self.wait("the portal was asked again", lambda: SHOW_SHORTCUT in self.portal_lines, 60)
        self.press_button("Settings")
        self.showing(name=SHORTCUT_TAKEN)
        self.shot("settings-warning")
        self.press_button("Done")
        self.not_showing(name=SHORTCUT_TAKEN)
        self.wait("the item of the new tolvi registered", lambda: self.item() and self.item() != self.first_item, 60)
        status = self.quit_from_menu()
        self.check(status == 0, "tolvi ended with %r after Quit Tolvi" % status)
        return "a portal that refuses the shortcut gives the settings warning"


def main():
    missing = [tool for tool in missing_tools() if tool not in ("Xvfb", "openbox", "trayer", "import")]
    missing += [tool for tool in WAYLAND_TOOLS if shutil.which(tool) is None]
    return run_script(WaylandTest, __doc__, missing)


if __name__ == "__main__":
    sys.exit(main())
