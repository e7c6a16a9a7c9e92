#!/usr/bin/env python3
"""End-to-end test of tolvi under a window manager that prevents focus stealing.

    e2e_focus_stealing.py --tolvi PATH --fake PATH --output DIR

The private desktop of e2e_app.py with metacity in place of openbox. Metacity
gives a window the focus only when the request carries a timestamp newer than
the person's last action elsewhere; a request with an old one leaves the
window behind, marked as wanting attention. Another program's window has the
focus (a person clicked it) when Ctrl+Alt+Space is pressed or tolvi's tray
icon is clicked: tolvi's window must come to the front with the focus in the
message field. Exits 77 (skip) when a tool is missing, except under CI=true.
"""

import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)

from desktop import missing_tools  # noqa: E402
from e2e_app import Test, run_script  # noqa: E402

OTHER = "Another program"


class FocusStealingTest(Test):
    window_manager = "metacity"

    def steps(self):
        return [self.step1_sign_in, self.step2_hot_key_over_another_window, self.step3_tray_click_over_another_window]

    def set_up(self):
        super().set_up()
        # A GTK window: like most programs, it tells the window manager the
        # time of the person's last key press in it (_NET_WM_USER_TIME).
        self.other = self.desktop.start_child("zenity", ["zenity", "--entry", "--title", OTHER,
                                                         "--text", "A window that holds the focus."])

    def click_node(self, node):
        # Metacity places a window after it maps, and the position a screen
        # reader reports may lag behind: press through it instead of the mouse.
        self.a11y.press(node)

    def focus_the_other_window(self):
        """Clicks into the other program's window and types there, as a
        person does just before calling tolvi up."""
        window = self.wait("the other window is on screen", lambda: (self.x.windows_named(OTHER) or [None])[0], 60)
        self.x.activate(window)
        self.wait("the other window has the focus", lambda: self.x.active_window() == window, 30)
        self.x.type("notes ")

    def comes_to_front(self):
        window = self.window_back()
        self.wait("tolvi's window is the active one",
                  lambda: self.x.active_window() == self.x.main_window(self.tolvi.pid), 30)
        self.wait("the message field has the keyboard focus", self.editor_has_focus, 30)
        return window

    def step2_hot_key_over_another_window(self):
        # Shown, but behind the window that has the focus.
        self.main_window()
        self.focus_the_other_window()
        self.x.key("ctrl+alt+space")
        window = self.comes_to_front()
        self.shot("hot-key-raised")
        # Closed to the tray.
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.focus_the_other_window()
        self.x.key("ctrl+alt+space")
        self.comes_to_front()
        self.shot("hot-key-shown")
        return "Ctrl+Alt+Space brings the window to the front, focused, over another program's window"

    def step3_tray_click_over_another_window(self):
        window = self.main_window()
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.focus_the_other_window()
        _, (x, y, width, height) = self.wait("tolvi's icon is docked in the tray",
                                             lambda: self.x.tray_icon(self.tolvi.pid), 60)
        self.x.click(x + width // 2, y + height // 2)
        self.comes_to_front()
        self.shot("tray-click")
        return "a click on the tray icon brings the window to the front, focused, over another program's window"


def main():
    missing = missing_tools() + [tool for tool in ("metacity", "zenity") if shutil.which(tool) is None]
    return run_script(FocusStealingTest, __doc__, missing)


if __name__ == "__main__":
    sys.exit(main())
