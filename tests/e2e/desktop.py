"""A private headless desktop for tests of the whole tolvi binary.

Starts, all of its own: Xvfb on a free display, a session D-Bus, an unlocked
gnome-keyring, the accessibility bus, openbox and the trayer tray host. Every
child carries a marker in its environment, so that the daemons that detach
themselves (gnome-keyring, D-Bus activated services) are found again and
ended by their process ids when the desktop stops.
"""

import importlib.util
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import uuid

from waits import Timeout, scaled, wait_for

TOOLS = [
    "Xvfb", "openbox", "wmctrl", "xdotool", "xprop", "xwininfo", "trayer",
    "dbus-daemon", "dbus-send", "gnome-keyring-daemon", "secret-tool", "import", "curl",
]
ATSPI_LAUNCHERS = ["/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"]
PROXY_VARIABLES = ["http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                   "no_proxy", "NO_PROXY"]


def missing_tools():
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if not any(os.access(path, os.X_OK) for path in ATSPI_LAUNCHERS):
        missing.append("at-spi-bus-launcher")
    # Only looked for: importing it connects to a bus that is not up yet.
    if importlib.util.find_spec("pyatspi") is None:
        missing.append("python3-pyatspi")
    return missing


class Desktop:
    def __init__(self, output_dir, log):
        self.output_dir = output_dir
        self.log = log
        self.root = tempfile.mkdtemp(prefix="tolvi-e2e.")
        self.marker = uuid.uuid4().hex
        self.children = []
        self.env = self._base_environment()

    # -- environment ---------------------------------------------------------

    def _base_environment(self):
        env = {k: v for k, v in os.environ.items()
               if k not in PROXY_VARIABLES and not k.startswith(("DBUS_", "XDG_", "GNOME_KEYRING", "QT_"))
               and k not in ("DISPLAY", "WAYLAND_DISPLAY", "SESSION_MANAGER", "AT_SPI_BUS")}
        folders = {
            "HOME": "home", "XDG_DATA_HOME": "data", "XDG_CONFIG_HOME": "config",
            "XDG_CACHE_HOME": "cache", "XDG_RUNTIME_DIR": "run", "XDG_STATE_HOME": "state",
        }
        for variable, name in folders.items():
            path = os.path.join(self.root, name)
            os.makedirs(path, mode=0o700, exist_ok=True)
            env[variable] = path
        env["TOLVI_E2E_MARKER"] = self.marker
        env["NO_AT_BRIDGE"] = "0"
        env["GTK_A11Y"] = "atspi"
        return env

    @property
    def data_dir(self):
        return os.path.join(self.env["XDG_DATA_HOME"], "Tolvi")

    def start_child(self, name, argv, stdin=None, stdout=None, env=None, **kwargs):
        logfile = open(os.path.join(self.output_dir, name + ".log"), "ab")
        child = subprocess.Popen(
            argv, env=env or self.env, stdin=stdin if stdin is not None else subprocess.DEVNULL,
            stdout=stdout if stdout is not None else logfile, stderr=logfile, start_new_session=True,
            **kwargs)
        self.children.append(child)
        return child

    def run(self, argv, timeout=60, input=None, check=True):
        result = subprocess.run(argv, env=self.env, input=input, capture_output=True, text=True,
                                timeout=scaled(timeout))
        if check and result.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(argv), result.returncode, result.stderr.strip()))
        return result

    # -- services ------------------------------------------------------------

    def start(self, accessibility=True, window_manager="openbox", tray=True, wayland=False):
        """window_manager: "openbox", "metacity" (which keeps windows from
        stealing the focus with an old timestamp), or None. With wayland, a
        headless sway in place of Xvfb and the window manager."""
        self.wayland = None
        if wayland:
            from wayland import Sway
            self.wayland = Sway(self)
            window_manager = tray = None
        else:
            self._start_xvfb()
        self._start_session_bus()
        self._start_keyring()
        if accessibility:
            self._start_accessibility_bus()
        if window_manager:
            self._start_window_manager(window_manager)
        if tray:
            self._start_tray()

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.start_child("xvfb", ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset",
                                  "-screen", "0", "1280x800x24"], pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + scaled(60)
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline:
                raise Timeout("Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise RuntimeError("Xvfb exited before it reported a display (see xvfb.log)")
            number += chunk
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()
        self.log("desktop: Xvfb on display %s" % self.env["DISPLAY"])

    def _start_session_bus(self):
        bus = self.start_child("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        "--print-address=1"], stdout=subprocess.PIPE)
        address = bus.stdout.readline().decode().strip()
        if not address:
            raise RuntimeError("the session bus did not start (see dbus.log)")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def has_bus_name(self, name):
        result = self.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name],
                          check=False)
        return "boolean true" in result.stdout

    def _start_keyring(self):
        # Starts, unlocks the login keyring with the password on stdin, and
        # detaches itself; found again through the marker at stop().
        with open(os.path.join(self.output_dir, "keyring.log"), "ab") as logfile:
            starter = subprocess.Popen(["gnome-keyring-daemon", "--unlock", "--components=secrets"],
                                       env=self.env, stdin=subprocess.PIPE, stdout=logfile, stderr=logfile)
            starter.communicate(b"e2e-password", timeout=scaled(60))
        if starter.returncode != 0:
            raise RuntimeError("gnome-keyring-daemon failed (see keyring.log)")
        wait_for("gnome-keyring owns the Secret Service name",
                 lambda: self.has_bus_name("org.freedesktop.secrets"), timeout=60)

    def _start_accessibility_bus(self):
        launcher = next(path for path in ATSPI_LAUNCHERS if os.access(path, os.X_OK))
        self.start_child("atspi", [launcher, "--launch-immediately"])
        wait_for("the accessibility bus is up", lambda: self.has_bus_name("org.a11y.Bus"), timeout=60)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        for variable in ("DISPLAY", "WAYLAND_DISPLAY"):
            if variable in self.env:
                os.environ[variable] = self.env[variable]

    def _start_window_manager(self, name):
        self.start_child(name, [name, "--sm-disable"])
        wait_for("%s manages the display" % name,
                 lambda: self.run(["wmctrl", "-m"], check=False).returncode == 0, timeout=60)

    def _start_tray(self):
        self.start_child("trayer", ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                                    "--height", "32", "--SetDockType", "true", "--expand", "true",
                                    "--transparent", "false", "--tint", "0xdddddd"])
        wait_for("trayer owns the system tray selection", self.tray_is_up, timeout=60)

    def tray_is_up(self):
        screen = self.env["DISPLAY"].split(".")[1] if "." in self.env["DISPLAY"] else "0"
        return selection_owner(self.env["DISPLAY"], "_NET_SYSTEM_TRAY_S" + screen) != 0

    # -- looking ------------------------------------------------------------

    def screenshot(self, name):
        path = os.path.join(self.output_dir, name + ".png")
        shooter = ["grim", path] if self.wayland else ["import", "-window", "root", path]
        result = self.run(shooter, check=False, timeout=60)
        if result.returncode != 0:
            self.log("screenshot %s failed: %s" % (name, result.stderr.strip()))
        else:
            self.log("screenshot: %s" % path)
        return path

    # -- ending -------------------------------------------------------------

    def marked_processes(self):
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as environ:
                    if ("TOLVI_E2E_MARKER=" + self.marker).encode() in environ.read().split(b"\0"):
                        pids.append(int(entry))
            except OSError:
                pass
        return pids

    def stop(self):
        for child in reversed(self.children):
            if child.poll() is None:
                try:
                    child.terminate()
                    child.wait(timeout=10)
                except (subprocess.TimeoutExpired, ProcessLookupError):
                    child.kill()
                    child.wait()
        for sig in (signal.SIGTERM, signal.SIGKILL):
            pids = self.marked_processes()
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            if pids and sig == signal.SIGTERM:
                deadline = time.monotonic() + 5
                while time.monotonic() < deadline and self.marked_processes():
                    time.sleep(0.1)
        shutil.rmtree(self.root, ignore_errors=True)
        if getattr(self, "wayland", None):
            self.wayland.stop()


def selection_owner(display, selection):
    """The window that owns an X selection, or 0: through libX11 itself."""
    import ctypes
    import ctypes.util
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XGetSelectionOwner.restype = ctypes.c_ulong
    x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        return 0
    try:
        atom = x11.XInternAtom(connection, selection.encode(), 0)
        return x11.XGetSelectionOwner(connection, atom)
    finally:
        x11.XCloseDisplay(connection)


def parse_geometry(text):
    position = re.search(r"Position: (-?\d+),(-?\d+)", text)
    size = re.search(r"Geometry: (\d+)x(\d+)", text)
    if not position or not size:
        return None
    return tuple(int(v) for v in position.groups() + size.groups())
