"""A headless Wayland compositor for the tests, and the tools that look at it.

Sway with its headless backend and the pixman renderer draws into memory and
has a seat, so that wtype can type into it and grim can photograph it. Sway
refuses to run as root, which CI is: it runs as nobody, with a runtime folder
of its own; tolvi, wtype, grim and swaymsg, as root, reach it through the
absolute path of its socket (WAYLAND_DISPLAY) and of its IPC socket (SWAYSOCK).
The Sway object answers what the steps ask of the X class (tolvi_app.X) where
the two desktops have the same thing to say.
"""

import glob
import json
import os
import pwd
import tempfile

from waits import wait_for

TOOLS = ["sway", "swaymsg", "wtype", "grim", "setpriv"]
CONFIG = """output HEADLESS-1 resolution 1280x800
default_border normal
focus_on_window_activation focus
"""


class Sway:
    def __init__(self, desktop):
        self.desktop = desktop
        nobody = pwd.getpwnam("nobody")
        # Nobody must read the configuration and own the runtime folder.
        self.root = tempfile.mkdtemp(prefix="tolvi-sway.")
        os.chmod(self.root, 0o755)
        self.runtime = os.path.join(self.root, "run")
        os.mkdir(self.runtime, 0o700)
        os.chown(self.runtime, nobody.pw_uid, nobody.pw_gid)
        config = os.path.join(self.root, "config")
        with open(config, "w") as out:
            out.write(CONFIG)
        os.chmod(config, 0o644)
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime, "XDG_RUNTIME_DIR": self.runtime,
            "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1",
            "TOLVI_E2E_MARKER": desktop.marker,
        }
        desktop.start_child("sway", ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                     "sway", "--config", config], env=env)
        display = wait_for("sway offers its Wayland socket",
                           lambda: (glob.glob(os.path.join(self.runtime, "wayland-*[0-9]")) or [None])[0], 60)
        ipc = wait_for("sway offers its IPC socket",
                       lambda: (glob.glob(os.path.join(self.runtime, "sway-ipc.*.sock")) or [None])[0], 60)
        desktop.env["WAYLAND_DISPLAY"] = display
        desktop.env["SWAYSOCK"] = ipc
        desktop.env.pop("DISPLAY", None)
        desktop.log("desktop: sway at %s" % display)

    def stop(self):
        import shutil
        shutil.rmtree(self.root, ignore_errors=True)

    # -- what the steps ask ---------------------------------------------------

    def run(self, *argv, check=False):
        return self.desktop.run(list(argv), check=check, timeout=60)

    def tree(self):
        result = self.run("swaymsg", "-r", "-t", "get_tree")
        return json.loads(result.stdout) if result.returncode == 0 else {}

    def windows(self):
        """Every window sway shows: (id, pid, title, focused)."""
        found = []

        def visit(node):
            if node.get("pid") and node.get("visible", True):
                found.append((node["id"], node["pid"], node.get("name") or "", node.get("focused", False)))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                visit(child)
        visit(self.tree())
        return found

    def main_window(self, pid):
        for window, owner, title, _ in self.windows():
            if owner == pid and title == "Tolvi":
                return window
        return None

    def managed_windows(self):
        return {window for window, _, _, _ in self.windows()}

    def net_wm_state(self, window):
        return ""

    def active_window(self):
        return next((window for window, _, _, focused in self.windows() if focused), None)

    def activate(self, window):
        self.run("swaymsg", "[con_id=%d]" % window, "focus")

    def close_window(self, title):
        """Closes a window the way a person does: through the compositor."""
        self.run("swaymsg", "[title=\"^%s$\"]" % title, "kill", check=True)

    def key(self, *keys):
        """Keys in xdotool's notation ("ctrl+comma"), typed with wtype."""
        for key in keys:
            *modifiers, name = key.split("+")
            argv = ["wtype"]
            for modifier in modifiers:
                argv += ["-M", {"control": "ctrl"}.get(modifier, modifier)]
            argv += ["-k", name]
            for modifier in reversed(modifiers):
                argv += ["-m", {"control": "ctrl"}.get(modifier, modifier)]
            self.run(*argv, check=True)

    def type(self, text):
        self.run("wtype", "-d", "15", text, check=True)
