#!/usr/bin/env python3
"""End-to-end test of tolvi on a desktop whose login keyring is locked.

    e2e_locked_keyring.py --tolvi PATH --fake PATH --output DIR

The private desktop of e2e_app.py, with a password on its login keyring and
the keyring locked again before each step, as after an automatic login.
Every Secret Service call of tolvi then makes gnome-keyring show its unlock
prompt (gcr-prompter, started through D-Bus) on the display; the test answers
it, or dismisses it, with xdotool, and only after it has seen through AT-SPI
that tolvi's window still works. Five steps, each ending in a "PASS step N:
..." line, with screenshots in the output folder. Exits 77 (skip) when a tool
is missing, except under CI=true.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)

from desktop import missing_tools  # noqa: E402
from e2e_app import KEY, StepFailure, Test, run_script  # noqa: E402
from tolvi_app import wait_exit  # noqa: E402
from waits import Timeout, scaled, wait_for  # noqa: E402

PASSWORD = "e2e-password"  # the login keyring's, set by the desktop
PROMPTER = "/usr/libexec/gcr-prompter"
LOGIN = "/org/freedesktop/secrets/collection/login"
KEY_ATTRIBUTES = {"service": "com.tolvi.mac.openrouter", "account": "api-key"}
WAITING = "Waiting for the system keyring…"
SIGN_IN = "Sign in with OpenRouter"
KEPT = "Couldn't remove your key from the system keyring."
REFUSED = "Couldn't save your key to the system keyring."


class SecretService:
    """The desktop's Secret Service, asked directly over D-Bus: none of these
    calls opens a prompt."""

    def __init__(self, address):
        from gi.repository import Gio, GLib
        self.Gio, self.GLib = Gio, GLib
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)

    def _call(self, method, arguments, answer):
        return self.bus.call_sync("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                  "org.freedesktop.Secret.Service", method, arguments,
                                  self.GLib.VariantType(answer), self.Gio.DBusCallFlags.NONE,
                                  int(scaled(30) * 1000), None).unpack()

    def lock_login(self):
        self._call("Lock", self.GLib.Variant("(ao)", ([LOGIN],)), "(aoo)")

    def key_items(self):
        """How many items hold a key for tolvi, locked or not."""
        unlocked, locked = self._call("SearchItems", self.GLib.Variant("(a{ss})", (KEY_ATTRIBUTES,)), "(aoao)")
        return len(unlocked) + len(locked)

    def login_locked(self):
        return self.bus.call_sync("org.freedesktop.secrets", LOGIN, "org.freedesktop.DBus.Properties", "Get",
                                  self.GLib.Variant("(ss)", ("org.freedesktop.Secret.Collection", "Locked")),
                                  self.GLib.VariantType("(v)"), self.Gio.DBusCallFlags.NONE,
                                  int(scaled(30) * 1000), None).unpack()[0]


class LockedKeyringTest(Test):
    def steps(self):
        return [self.step1_start_up_waits_for_the_prompt, self.step2_sign_out_dismissed,
                self.step3_cancel_then_unlock, self.step4_save_dismissed, self.step5_quit_during_prompt]

    def set_up(self):
        super().set_up()
        self.secrets = SecretService(self.desktop.env["DBUS_SESSION_BUS_ADDRESS"])

    # -- the unlock prompt -------------------------------------------------------

    def prompt(self):
        windows = self.x.windows_named("Unlock.*")
        return windows[0] if windows else None

    def wait_prompt(self):
        return self.wait("the keyring's unlock prompt is on screen", self.prompt, 120)

    def lock(self):
        self.secrets.lock_login()
        self.check(self.secrets.login_locked(), "the login keyring did not lock")

    def answer_prompt(self, keys):
        """Gives the prompt the keyboard and types into it; it goes away."""
        window = self.wait_prompt()
        self.x.activate(window)
        if keys == "password":
            self.x.type(PASSWORD)
            self.x.key("Return")
        else:
            self.x.key("Escape")
        self.wait("the unlock prompt is gone", lambda: self.prompt() is None, 60)

    def working_face_answers(self):
        """The sign-in screen's working face, as read through AT-SPI while the
        prompt is up: the accessibility bridge runs on tolvi's main thread, so
        these answers come only from a window whose event loop runs."""
        self.showing(name=WAITING, roles={"label"})
        self.showing(name=WAITING, roles={"progress bar"})
        return self.showing(name="Cancel", roles={"push button"})

    def account_menu_item(self, label):
        """Opens the Account menu with its mnemonic and clicks an item; an
        open menu of the menu bar is in the accessibility tree. A mnemonic
        that arrives before Qt has taken the window's activation goes astray:
        then it is pressed again."""
        for _ in range(5):
            self.x.activate(self.main_window())
            self.x.key("alt+a")
            try:
                item = wait_for("the Account menu shows %r" % label,
                                lambda: self.a11y.find(self.app(), name=label, roles={"menu item"}), 15)
            except Timeout:
                self.x.key("Escape")
                continue
            self.click_node(item)
            return
        raise StepFailure("the Account menu never opened")

    # -- the steps -----------------------------------------------------------------

    def step1_start_up_waits_for_the_prompt(self):
        self.desktop.run(["secret-tool", "store", "--label=seed", "service", KEY_ATTRIBUTES["service"],
                          "account", KEY_ATTRIBUTES["account"]], input=KEY)
        self.lock()
        self.tolvi = self.runner.start()
        self.wait_prompt()
        self.main_window()
        self.working_face_answers()
        self.shot("start-up-prompt")

        self.answer_prompt("password")
        self.showing(contains="How can I help?", timeout=120)
        self.check(self.tolvi.poll() is None, "tolvi is gone")
        self.shot("signed-in")
        return "the window showed %r and Cancel while the prompt was up; unlocked, it shows the chat" % WAITING

    def step2_sign_out_dismissed(self):
        self.lock()
        self.account_menu_item("Sign Out")
        self.wait_prompt()
        # Forgotten in the window at once, while the keyring still asks.
        self.showing(name=SIGN_IN, roles={"push button"})
        self.shot("sign-out-prompt")
        self.answer_prompt("dismiss")
        self.showing(name=KEPT)
        self.check(self.secrets.key_items() == 1, "the key left the keyring: %d items" % self.secrets.key_items())
        self.shot("key-kept")
        return "signed out at once; the dismissed prompt left the key stored, and the window says %r" % KEPT

    def step3_cancel_then_unlock(self):
        self.press_button(SIGN_IN)
        self.wait_prompt()
        cancel = self.working_face_answers()
        self.shot("save-prompt")
        # Pressed through AT-SPI: the prompt holds the pointer and keyboard.
        self.a11y.press(cancel)
        self.showing(name=SIGN_IN, roles={"push button"})
        self.check(self.prompt() is not None, "the prompt went with the Cancel")
        self.shot("cancelled-during-prompt")

        self.answer_prompt("password")
        self.wait("the key saved after Cancel is removed again", lambda: self.secrets.key_items() == 0, 120)
        self.check(self.is_showing(name=SIGN_IN, roles={"push button"}), "signed in after Cancel")
        return "Cancel returned to the sign-in button while the prompt stayed; the save it let through was undone"

    def step4_save_dismissed(self):
        self.lock()
        self.press_button(SIGN_IN)
        self.wait_prompt()
        self.working_face_answers()
        self.answer_prompt("dismiss")
        self.showing(name=REFUSED)
        self.showing(name=SIGN_IN, roles={"push button"})
        self.check(self.secrets.key_items() == 0, "a key was stored")
        self.shot("save-refused")
        return "the dismissed prompt failed the sign-in with %r" % REFUSED

    def step5_quit_during_prompt(self):
        self.press_button(SIGN_IN)
        self.wait_prompt()
        self.working_face_answers()
        # Quitting never waits for the thread that waits for the prompt.
        self.tolvi.terminate()
        status = wait_exit(self.tolvi, 120)
        self.check(status == 0, "tolvi ended with %r while the prompt was up" % status)
        self.shot("quit-during-prompt")
        if self.prompt() is not None:
            self.answer_prompt("dismiss")
        return "tolvi quit (status 0) while its save waited for the prompt"


def main():
    missing = missing_tools() + ([] if os.access(PROMPTER, os.X_OK) else ["gcr-prompter (gcr)"])
    return run_script(LockedKeyringTest, __doc__, missing)


if __name__ == "__main__":
    sys.exit(main())
