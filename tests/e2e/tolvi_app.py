"""Running the real tolvi binary on the private desktop, and looking at it as a person does."""

import os
import re
import stat
import subprocess

from desktop import parse_geometry
from waits import scaled

FAKE_BROWSER = """#!/bin/sh
# Plays the browser for the test: opens the sign-in page, which redirects to
# the loopback callback, and follows that redirect.
printf 'open %s\\n' "$1" >> '{log}'
(
  curl --silent --show-error --location --max-redirs 5 --noproxy '*' --output /dev/null \\
       --write-out 'landed %{{url_effective}} %{{http_code}}\\n' "$1" >> '{log}' 2>&1
) &
exit 0
"""


def install_fake_browser(bin_dir, log_path):
    os.makedirs(bin_dir, exist_ok=True)
    path = os.path.join(bin_dir, "xdg-open")
    with open(path, "w") as script:
        script.write(FAKE_BROWSER.format(log=log_path))
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return path


class TolviRunner:
    """Starts tolvi processes with the test's environment; numbers their logs."""

    def __init__(self, desktop, binary, origin, bin_dir):
        self.desktop = desktop
        self.binary = binary
        self.env = dict(desktop.env)
        self.env["PATH"] = bin_dir + os.pathsep + self.env.get("PATH", "/usr/bin:/bin")
        self.env["TOLVI_SERVICE_ORIGIN"] = origin
        self.env["QT_QPA_PLATFORM"] = "xcb"
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.env["QT_ACCESSIBILITY"] = "1"
        self.count = 0

    def start(self):
        self.count += 1
        return self.desktop.start_child("tolvi-%d" % self.count, [self.binary], env=self.env)


class X:
    """The X side of things: windows by title, their state, keys, the mouse."""

    def __init__(self, desktop):
        self.desktop = desktop

    def run(self, *argv, check=False):
        return self.desktop.run(list(argv), check=check, timeout=60)

    def windows_named(self, title, visible=True):
        argv = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--name", "^%s$" % title]
        result = self.run(*argv)
        return [int(line) for line in result.stdout.split() if line.strip().isdigit()]

    def pid_of(self, window):
        result = self.run("xprop", "-id", str(window), "_NET_WM_PID")
        match = re.search(r"= (\d+)", result.stdout)
        return int(match.group(1)) if match else None

    def geometry(self, window):
        return parse_geometry(self.run("xdotool", "getwindowgeometry", str(window)).stdout)

    def net_wm_state(self, window):
        return self.run("xprop", "-id", str(window), "_NET_WM_STATE").stdout.strip()

    def managed_windows(self):
        """Windows in the window manager's client list (wmctrl -l)."""
        result = self.run("wmctrl", "-l")
        return {int(line.split()[0], 16): line for line in result.stdout.splitlines() if line.strip()}

    def main_window(self, pid):
        """tolvi's main window when it is on screen: titled Tolvi, large, mapped."""
        for window in self.windows_named("Tolvi"):
            box = self.geometry(window)
            if box and box[2] >= 600 and box[3] >= 400 and self.pid_of(window) == pid:
                return window
        return None

    def tray_icon(self, pid):
        """tolvi's icon docked in the tray: a small mapped window of the process."""
        for window in self.windows_named(".*"):
            box = self.geometry(window)
            if box and box[2] <= 64 and box[3] <= 64 and self.pid_of(window) == pid:
                return window, box
        return None

    def popup_menu(self, pid):
        """A popup window of the process on screen (a menu opened from the tray)."""
        for window in self.windows_named(".*"):
            if self.pid_of(window) != pid:
                continue
            attributes = self.run("xwininfo", "-id", str(window)).stdout
            if "Override Redirect State: yes" in attributes:
                return window
        return None

    def active_window(self):
        result = self.run("xdotool", "getactivewindow")
        return int(result.stdout.strip()) if result.returncode == 0 and result.stdout.strip() else None

    def key(self, *keys):
        self.run("xdotool", "key", "--clearmodifiers", *keys, check=True)

    def type(self, text):
        self.run("xdotool", "type", "--delay", "15", text, check=True)

    def click(self, x, y, button=1):
        self.run("xdotool", "mousemove", "--sync", str(x), str(y), "click", str(button), check=True)

    def close_window(self, title):
        """Closes a window the way a person does: through the window manager."""
        self.run("wmctrl", "-c", title, check=True)

    def activate(self, window):
        self.run("xdotool", "windowactivate", "--sync", str(window))


def wait_exit(process, timeout):
    try:
        return process.wait(timeout=scaled(timeout))
    except subprocess.TimeoutExpired:
        return None
