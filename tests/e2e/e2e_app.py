#!/usr/bin/env python3
"""End-to-end test of the real tolvi binary on a private headless desktop.

    e2e_app.py --tolvi PATH --fake PATH --xgrab PATH --output DIR

Brings up Xvfb, a session D-Bus with an unlocked gnome-keyring, the
accessibility bus, openbox and trayer; starts tolvi-fake-service as the chat
service (TOLVI_SERVICE_ORIGIN) and puts a fake xdg-open first in PATH that
plays the browser. Then drives tolvi with xdotool, wmctrl and AT-SPI through
six steps, each ending in a "PASS step N: ..." line, and saves a screenshot
at each step in the output folder. Exits 77 (skip) when a tool is missing,
except under CI=true, where that is a failure.
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)

from desktop import Desktop, missing_tools  # noqa: E402
from fakeservice import FakeService, chat_requests, is_probe, model_list_requests, model_of, path_of  # noqa: E402
from tolvi_app import X, TolviRunner, install_fake_browser, wait_exit  # noqa: E402
from waits import Timeout, scaled, wait_for  # noqa: E402

KEY = "sk-or-v1-e2e-0123456789abcdef0123456789abcdef"
CODE = "e2e-authorisation-code"
SECRET_LOOKUP = ["secret-tool", "lookup", "service", "com.tolvi.mac.openrouter", "account", "api-key"]
MODELS = [
    # id, catalogue name, statistics latency (ms)
    ("e2e/alpha:free", "E2E: Alpha (free)", 300),
    ("e2e/bravo:free", "E2E: Bravo (free)", 400),
    ("e2e/charlie:free", "E2E: Charlie (free)", 500),
]
NAMES = {model_id: name[: -len(" (free)")] for model_id, name, _ in MODELS}
SHORTCUT_TAKEN = "This shortcut couldn't be registered. Another app is probably using it."
SHORTCUT_LINE = "Control-Alt-Space shows Tolvi from anywhere."
FIRST_MESSAGE = "Hello Tolvi, what is a lighthouse for?"
SECOND_MESSAGE = "And who keeps one?"
NEW_CHAT_MESSAGE = "Tell me about tide pools"
LAST_MESSAGE = "Still there after a restart?"


def reply_pieces(model_id):
    short = NAMES[model_id].split(": ")[1]
    return ["Reply from %s: " % short, "lighthouses guide ships ", "past the rocks at night."]


def reply_text(model_id):
    return "".join(reply_pieces(model_id))


def catalogue():
    return [{
        "id": model_id, "name": name, "context_length": 32768,
        "pricing": {"prompt": "0", "completion": "0"},
        "architecture": {"input_modalities": ["text"], "output_modalities": ["text"]},
    } for model_id, name, _ in MODELS]


def script(chat_overrides=None):
    chat = {model_id: {"pieces": reply_pieces(model_id), "event_delay_ms": 10} for model_id, _, _ in MODELS}
    chat.update(chat_overrides or {})
    return {
        "catalogue": catalogue(),
        "stats": {model_id: {"uptime": 99.5, "latency": latency} for model_id, _, latency in MODELS},
        "valid_keys": [KEY],
        "exchange": {"code": CODE, "key": KEY},
        "chat": chat,
    }


class StepFailure(Exception):
    pass


class Test:
    window_manager = "openbox"
    tray = True  # an XEmbed tray host (trayer)
    wayland = False  # a headless sway in place of Xvfb and the window manager

    def __init__(self, args):
        self.args = args
        self.output = os.path.abspath(args.output)
        os.makedirs(self.output, exist_ok=True)
        for old in os.listdir(self.output):
            if old.endswith((".png", ".log", ".txt")):
                os.remove(os.path.join(self.output, old))
        self.desktop = Desktop(self.output, self.log)
        self.step = 0
        self.tolvi = None
        self.grab = None

    def log(self, message):
        print("[%7.1fs] %s" % (time.monotonic() - START, message), flush=True)

    def check(self, condition, message):
        if not condition:
            raise StepFailure(message)

    def wait(self, description, condition, timeout=60):
        try:
            return wait_for(description, condition, timeout)
        except Timeout as error:
            raise StepFailure(str(error)) from None

    def shot(self, name):
        """A screenshot, and beside it what the accessibility tree showed."""
        path = self.desktop.screenshot("step%d-%s" % (self.step, name))
        self.dump_tree(name)
        return path

    # -- set-up --------------------------------------------------------------

    def set_up(self):
        self.desktop.start(window_manager=self.window_manager, tray=self.tray, wayland=self.wayland)
        import a11y  # needs the session bus address in the environment
        self.a11y = a11y
        self.focus = a11y.FocusWatcher()
        self.inserted_text = a11y.TextWatcher()
        self.x = X(self.desktop)
        script_path = os.path.join(self.desktop.root, "fake-script.json")
        with open(script_path, "w") as out:
            json.dump(script(), out)
        self.fake = FakeService(self.desktop, self.args.fake, script_path)
        self.log("fake service at %s" % self.fake.origin)
        self.browser_log = os.path.join(self.output, "browser.txt")
        bin_dir = os.path.join(self.desktop.root, "bin")
        install_fake_browser(bin_dir, self.browser_log)
        self.runner = TolviRunner(self.desktop, self.args.tolvi, self.fake.origin, bin_dir)

    # -- looking at tolvi ------------------------------------------------------

    def app(self, process=None):
        pid = (process or self.tolvi).pid
        return self.wait("tolvi %d is on the accessibility bus" % pid, lambda: self.a11y.application(pid), 120)

    def showing(self, timeout=60, process=None, **criteria):
        description = "the window shows %s" % ", ".join("%s=%r" % kv for kv in sorted(criteria.items()))
        return self.wait(description, lambda: self.a11y.find(self.app(process), **criteria), timeout)

    def not_showing(self, timeout=60, **criteria):
        description = "the window no longer shows %r" % (criteria,)
        self.wait(description, lambda: self.a11y.find(self.app(), **criteria) is None, timeout)

    def is_showing(self, **criteria):
        return self.a11y.find(self.app(), **criteria) is not None

    def main_window(self, timeout=120, process=None):
        pid = (process or self.tolvi).pid
        return self.wait("tolvi's main window is on screen", lambda: self.x.main_window(pid), timeout)

    def window_gone(self, window, timeout=60):
        pid = self.tolvi.pid
        self.wait("the main window is off screen",
                  lambda: self.x.main_window(pid) is None and window not in self.x.managed_windows(), timeout)

    def window_back(self, timeout=60):
        """On screen by every account: mapped, not hidden, managed. Qt may
        give the window a new X id when it shows it again."""
        pid = self.tolvi.pid

        def back():
            shown = self.x.main_window(pid)
            return shown if shown and "_NET_WM_STATE_HIDDEN" not in self.x.net_wm_state(shown) \
                and shown in self.x.managed_windows() else None
        return self.wait("the main window is back on screen", back, timeout)

    def click_node(self, node):
        x, y, width, height = self.a11y.extents(node)
        self.check(width > 0 and height > 0, "the control has no size on screen")
        self.x.click(x + width // 2, y + height // 2)

    def press_button(self, label):
        button = self.showing(name=label, roles={"push button"})
        self.click_node(button)

    def tray_menu_item(self, label):
        """Right-clicks the docked icon in trayer and picks an item of its menu
        with the arrow keys, reading each highlighted item as a screen reader
        does (Qt keeps popup menus out of the accessibility tree itself)."""
        pid = self.tolvi.pid
        window, box = self.wait("tolvi's icon is docked in the tray", lambda: self.x.tray_icon(pid), 60)
        x, y, width, height = box
        self.focus.forget()
        self.x.click(x + width // 2, y + height // 2, button=3)
        self.wait("the tray menu is open", lambda: self.x.popup_menu(pid), 30)
        seen = []
        for _ in range(8):
            before = self.focus.count()
            self.x.key("Down")
            try:
                item = wait_for("a new menu item is highlighted",
                                lambda: (lambda f: f if self.focus.count() > before and f[0] == "menu item"
                                         else None)(self.focus.last()), 15)
            except Timeout:
                continue  # the key went astray before the menu took the keyboard; press again
            seen.append(item)
            if item[1] == label:
                self.shot("tray-menu")
                self.x.key("Return")
                return
        raise StepFailure("the tray menu holds %r, not %r" % ([name for _, name, _ in seen], label))

    def dump_tree(self, name):
        try:
            app = self.a11y.application(self.tolvi.pid) if self.tolvi else None
            if app is not None:
                self.a11y.dump(app, os.path.join(self.output, "step%d-%s-tree.txt" % (self.step, name)))
        except Exception as error:
            self.log("could not dump the accessibility tree: %s" % error)

    # -- files ------------------------------------------------------------------

    def read_json(self, *parts):
        try:
            with open(os.path.join(self.desktop.data_dir, *parts), encoding="utf-8") as source:
                return json.load(source)
        except (OSError, ValueError):
            return None

    def index(self):
        return self.read_json("chats", "index.json") or []

    def chat(self, chat_id):
        return self.read_json("chats", chat_id + ".json")

    def chat_holding(self, first_text):
        for summary in self.index():
            chat = self.chat(summary["id"])
            if chat and chat["messages"] and chat["messages"][0]["text"] == first_text:
                return chat
        return None

    def stored_key(self):
        result = self.desktop.run(SECRET_LOOKUP, check=False)
        return result.stdout if result.returncode == 0 else None

    def ladder(self):
        cache = self.read_json("models-cache.json")
        return cache["ladder"] if cache else None

    # -- typing a message --------------------------------------------------------

    def message_editor(self):
        editors = [node for node in self.a11y.find_all(self.app(), roles={"text"})
                   if self.a11y.has_state(node, self.a11y.pyatspi.STATE_EDITABLE)]
        return editors[-1] if editors else None

    def editor_has_focus(self):
        editor = self.message_editor()
        return editor is not None and self.a11y.has_state(editor, self.a11y.pyatspi.STATE_FOCUSED)

    def send(self, text):
        editor = self.wait("the message field is on screen", self.message_editor)
        if not self.a11y.has_state(editor, self.a11y.pyatspi.STATE_FOCUSED):
            self.log("the message field has no focus; clicking into it")
            self.click_node(editor)
            self.wait("the message field has the focus", self.editor_has_focus, 30)
        self.x.type(text)
        self.wait("the message field holds the typed text",
                  lambda: text in self.a11y.texts(self.message_editor()), 30)
        self.x.key("Return")

    # -- the steps ---------------------------------------------------------------

    def step1_sign_in(self):
        self.tolvi = self.runner.start()
        window = self.main_window()
        self.x.activate(window)
        self.showing(name="Sign in with OpenRouter", roles={"push button"})
        self.showing(name="Free AI chat through your OpenRouter account")
        self.check(self.stored_key() is None, "a key is in the keyring before sign-in")
        self.shot("sign-in-screen")

        self.press_button("Sign in with OpenRouter")
        self.wait("the key is in the Secret Service", lambda: self.stored_key() == KEY, 120)
        self.not_showing(name="Sign in with OpenRouter", roles={"push button"})
        self.showing(contains="How can I help?")
        with open(self.browser_log) as browser:
            visits = browser.read()
        self.check("/auth?" in visits and "/callback?" in visits and " 200" in visits,
                   "the browser did not go from the sign-in page to the loopback callback: %r" % visits)

        expected_ids = sorted(model_id for model_id, _, _ in MODELS)
        cache = self.wait("models-cache.json lists the fake's models",
                          lambda: (lambda c: c if c and sorted(m["id"] for m in c["models"]) == expected_ids
                                   else None)(self.read_json("models-cache.json")), 120)
        self.check(cache["ladder"][-1] == "openrouter/free", "the ladder does not end with the router")
        self.check(sorted(cache["ladder"][:-1]) == expected_ids, "the ladder is %r" % cache["ladder"])
        requests = self.fake.requests()
        paths = [(r["method"], path_of(r)) for r in requests]
        self.check(("POST", "/api/v1/auth/keys") in paths, "no key exchange reached the fake")
        self.check(("GET", "/api/v1/models") in paths, "no catalogue request reached the fake")
        for model_id in expected_ids:
            self.check(("GET", "/api/v1/models/%s/endpoints" % model_id) in paths,
                       "no statistics request for %s" % model_id)
            self.check(any(is_probe(r) and model_of(r) == model_id for r in requests), "no probe of %s" % model_id)
        self.shot("signed-in")
        return "signed in through the browser; key in the Secret Service; ladder %s" % " > ".join(cache["ladder"])

    def step2_message(self):
        first = self.ladder()[0]
        held = reply_pieces(first)
        # Hold the stream after its first piece, to see it arrive in pieces.
        self.fake.set_script(script({first: {"pieces": held, "hold_at": [2]}}))
        self.fake.forget_requests()
        self.send(FIRST_MESSAGE)
        self.showing(contains=held[0].strip())
        self.wait("the fake holds the rest of the stream", lambda: self.fake.status()["held"] >= 1, 60)
        self.check(not self.is_showing(contains=held[2]), "the held part of the answer is already shown")
        self.showing(name="Stop", roles={"push button"})
        self.shot("streaming")
        self.inserted_text.forget()
        while self.fake.release():
            pass
        self.showing(contains=held[2])
        # A screen reader that follows the answer hears the rest as it comes.
        self.wait("a screen reader is told of the text the answer grew by",
                  lambda: held[2].strip() in self.inserted_text.text(), 30)
        self.showing(contains="answered by " + NAMES[first])
        # The answer's own buttons, as a screen reader finds them.
        self.showing(name="Copy", roles={"push button"})
        self.showing(name="Regenerate", roles={"push button"})
        self.fake.set_script(script())

        chat = self.wait("the chat is on disk with the answer",
                         lambda: (lambda c: c if c and len(c["messages"]) == 2 and c["messages"][1].get("answeredBy")
                                  else None)(self.chat_holding(FIRST_MESSAGE)), 60)
        user, answer = chat["messages"]
        self.check(user["role"] == "user" and user["text"] == FIRST_MESSAGE, "stored question: %r" % user)
        self.check(answer["role"] == "assistant" and answer["text"] == reply_text(first), "stored answer: %r" % answer)
        self.check(answer["answeredBy"] == NAMES[first], "answeredBy is %r" % answer["answeredBy"])
        self.check("note" not in answer, "a note on a first-choice answer: %r" % answer.get("note"))
        summaries = self.index()
        self.check([s["id"] for s in summaries] == [chat["id"]], "index.json: %r" % summaries)
        self.check(summaries[0]["title"] == FIRST_MESSAGE, "the chat's title is %r" % summaries[0]["title"])
        self.check([model_of(r) for r in chat_requests(self.fake.requests())] == [first],
                   "the message went to another model than the ladder's first")
        self.shot("answered")
        self.chat_id = chat["id"]
        return "the answer streamed from %s into the window; chat file and index hold it, answeredBy %r" % (
            first, answer["answeredBy"])

    def step3_fallback(self):
        first, second = self.ladder()[:2]
        self.fake.set_script(script({first: {"status": 503, "message": "Service temporarily unavailable"}}))
        self.fake.forget_requests()
        self.send(SECOND_MESSAGE)
        expected_note = "switched from %s because " % NAMES[first]
        self.showing(contains=reply_text(second))
        self.showing(contains=expected_note)

        def answered():
            chat = self.chat(self.chat_id)
            return chat if chat and len(chat["messages"]) == 4 and chat["messages"][3].get("answeredBy") else None
        chat = self.wait("the second answer is on disk", answered, 60)
        answer = chat["messages"][3]
        self.check(answer["text"] == reply_text(second), "stored answer: %r" % answer)
        self.check(answer["answeredBy"] == NAMES[second], "answeredBy is %r" % answer["answeredBy"])
        self.check(answer.get("note", "").startswith(expected_note), "the note is %r" % answer.get("note"))
        tried = [model_of(r) for r in chat_requests(self.fake.requests())]
        self.check(tried == [first, second], "models asked: %r" % tried)
        self.fake.set_script(script())
        self.shot("switched")
        return "%s failed with 503, %s answered; note %r on disk" % (first, second, answer["note"])

    def step4_window_and_instances(self):
        window = self.main_window()
        # Closing hides the window; the process stays.
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.check(self.tolvi.poll() is None, "closing the window ended tolvi")
        # The first close says, in the tray's balloon, how to come back.
        self.showing(contains="press Control-Alt-Space to bring it back")
        self.shot("closed")
        self.x.key("ctrl+alt+space")
        window = self.window_back()
        self.check(self.tolvi.poll() is None, "tolvi is gone")
        self.wait("the message field has the keyboard focus", self.editor_has_focus, 30)
        self.shot("hot-key")

        # A left click on the docked icon shows the window too.
        self.x.close_window("Tolvi")
        self.window_gone(window)
        icon, (x, y, width, height) = self.wait("tolvi's icon is docked in the tray",
                                                lambda: self.x.tray_icon(self.tolvi.pid), 60)
        self.x.click(x + width // 2, y + height // 2)
        window = self.window_back()
        self.shot("tray-click")

        # With the shortcut registered, the settings sheet has no warning.
        self.x.activate(window)
        self.x.key("ctrl+comma")
        self.showing(name=SHORTCUT_LINE)
        self.check(not self.is_showing(name=SHORTCUT_TAKEN), "the shortcut warning shows while it is registered")
        self.shot("settings-registered")
        self.press_button("Done")
        self.not_showing(name=SHORTCUT_LINE)

        # The tray menu's New Chat shows the window with an empty chat.
        self.x.close_window("Tolvi")
        self.window_gone(window)
        self.tray_menu_item("New Chat")
        window = self.window_back()
        self.showing(contains="How can I help?")
        self.shot("tray-new-chat")
        self.send(NEW_CHAT_MESSAGE)
        new_chat = self.wait("the new chat is stored beside the first",
                             lambda: len(self.index()) == 2 and (lambda c: c if c and len(c["messages"]) == 2
                                                                 and c["messages"][1].get("answeredBy") else None)(
                                 self.chat_holding(NEW_CHAT_MESSAGE)), 60)
        # The first model of the ladder is still cooling down from step 3.
        self.showing(contains=new_chat["messages"][1]["text"])

        # A second start shows the running one's window and steps aside.
        self.x.close_window("Tolvi")
        self.window_gone(window)
        second = self.runner.start()
        status = wait_exit(second, 120)
        self.check(status == 0, "the second tolvi ended with %r" % status)
        window = self.window_back()
        self.shot("second-instance")

        # After kill -9 the next start is not stopped by what the first left.
        self.tolvi.send_signal(signal.SIGKILL)
        self.tolvi.wait(timeout=scaled(30))
        # Step 5 needs the shortcut taken before tolvi starts.
        self.grab = self.desktop.start_child("xgrab-helper", [self.args.xgrab, "hold", "all"],
                                             stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        said = self.grab.stdout.readline().decode().strip()
        self.check(said == "held", "xgrab_helper could not take Control+Alt+Space: %r" % said)
        self.tolvi = self.runner.start()
        self.main_window()
        self.showing(contains="How can I help?")
        self.check(not self.is_showing(name="Sign in with OpenRouter", roles={"push button"}),
                   "signed out after kill -9")
        self.shot("after-kill")
        return ("closing keeps the process; Ctrl+Alt+Space (focus in the message field), a click on the tray "
                "icon and the tray's New Chat bring the window back; "
                "a second start exits 0 and shows the first; a start after kill -9 works")

    def step5_shortcut_taken(self):
        window = self.main_window()
        self.x.activate(window)
        self.x.key("ctrl+comma")
        warning = self.showing(name=SHORTCUT_TAKEN)
        self.check(warning is not None, "no warning")
        self.showing(name=SHORTCUT_LINE)
        self.shot("settings-shortcut-taken")
        self.press_button("Done")
        self.not_showing(name=SHORTCUT_TAKEN)
        return "with another client holding Control+Alt+Space the settings sheet shows %r" % SHORTCUT_TAKEN

    def step6_quit_and_restart(self):
        titles = [summary["title"] for summary in self.index()]
        self.tray_menu_item("Quit Tolvi")
        status = wait_exit(self.tolvi, 120)
        self.check(status == 0, "Quit Tolvi ended the process with %r" % status)
        self.grab.stdin.close()
        self.grab.wait(timeout=scaled(30))
        self.shot("quit")

        self.fake.forget_requests()
        self.tolvi = self.runner.start()
        self.main_window()
        self.check(self.stored_key() == KEY, "the key left the keyring")
        for title in titles:
            self.showing(name=title, roles={"list item"})
        self.check(not self.is_showing(name="Sign in with OpenRouter", roles={"push button"}),
                   "signed out after the restart")
        self.shot("restarted")
        # A message proves the restart is done and the ladder came from the cache.
        self.send(LAST_MESSAGE)
        self.wait("the answer after the restart is on disk",
                  lambda: (lambda c: c and len(c["messages"]) == 2 and c["messages"][1].get("answeredBy"))(
                      self.chat_holding(LAST_MESSAGE)), 60)
        requests = self.fake.requests()
        spared = model_list_requests(requests)
        self.check(not spared, "model requests after the restart: %r" % [
            (r["method"], r["path"]) for r in spared])
        self.check([model_of(r) for r in chat_requests(requests)] == [self.ladder()[0]],
                   "the message after the restart went to %r" % [model_of(r) for r in chat_requests(requests)])
        self.shot("answered-after-restart")
        return "Quit Tolvi exits 0; the restart shows %d chats, signed in, with no model request" % len(titles)

    # -- running ---------------------------------------------------------------

    def steps(self):
        return [self.step1_sign_in, self.step2_message, self.step3_fallback,
                self.step4_window_and_instances, self.step5_shortcut_taken, self.step6_quit_and_restart]

    def run(self):
        steps = self.steps()
        self.log("output folder: %s" % self.output)
        try:
            self.set_up()
        except Exception as error:
            traceback.print_exc()
            print("FAIL set-up: %s" % error, flush=True)
            return 1
        failed = False
        for number, step in enumerate(steps, start=1):
            self.step = number
            if failed:
                print("NOT RUN step %d: an earlier step failed" % number, flush=True)
                continue
            try:
                self.log("step %d: %s" % (number, step.__name__))
                summary = step()
                print("PASS step %d: %s" % (number, summary), flush=True)
            except Exception as error:
                failed = True
                if not isinstance(error, StepFailure):
                    traceback.print_exc()
                path = self.shot("failure")
                print("FAIL step %d: %s (screenshot %s)" % (number, error, path), flush=True)
        return 1 if failed else 0

    def tear_down(self):
        if self.tolvi is not None and self.tolvi.poll() is None:
            self.tolvi.terminate()
            wait_exit(self.tolvi, 30)
        self.desktop.stop()
        for name in sorted(os.listdir(self.output)):
            if name.startswith("tolvi-") and name.endswith(".log"):
                with open(os.path.join(self.output, name), errors="replace") as log:
                    content = log.read().strip()
                if content:
                    print("---- %s ----\n%s" % (name, content[-6000:]), flush=True)


START = time.monotonic()


def drive(test, missing):
    """Runs the steps of test, or skips (77) when tools are missing; its exit status."""
    if missing:
        print("e2e: missing tools: %s" % ", ".join(missing), flush=True)
        return 1 if os.environ.get("CI") == "true" else 77
    # A stop from outside (ctest's time limit, Ctrl+C) still ends every service.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("e2e: stopped from outside"))
    try:
        status = test.run()
    finally:
        test.tear_down()
    print("e2e: %s" % ("all %d steps passed" % len(test.steps()) if status == 0 else "FAILED"), flush=True)
    return status


def run_script(test_class, doc, missing, options=()):
    """An e2e script's command line (--tolvi, --fake, its own options,
    --output), then drive(); missing lists the tools it lacks."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    for option in ("--tolvi", "--fake", *options, "--output"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    vars(args).setdefault("xgrab", None)
    return drive(test_class(args) if not missing else None, missing)


def main():
    return run_script(Test, __doc__, missing_tools(), options=("--xgrab",))


if __name__ == "__main__":
    sys.exit(main())
