"""Looking at tolvi's window through the accessibility bus (AT-SPI).

What a person reads is what the accessibility tree exposes: names of buttons
and menu items, texts of labels, rows of lists. Only objects in the showing
state count, so that a view the window keeps but hides (the sign-in screen
behind the chat window, say) is not mistaken for what is on screen.
"""

import pyatspi

MAX_NODES = 5000


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def is_showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def walk(root, showing_only=True):
    """Every node below root, breadth first; hidden subtrees are skipped."""
    queue = [root]
    seen = 0
    while queue and seen < MAX_NODES:
        node = queue.pop(0)
        seen += 1
        yield node
        try:
            count = node.childCount
        except Exception:
            continue
        for index in range(count):
            try:
                child = node.getChildAtIndex(index)
            except Exception:
                continue
            if child is None or (showing_only and not is_showing(child)):
                continue
            queue.append(child)


def role(node):
    try:
        return node.getRoleName()
    except Exception:
        return ""


def texts(node):
    """Name, description and text content: whatever a reader would announce."""
    found = []
    for getter in (lambda: node.name, lambda: node.description):
        try:
            value = getter()
            if value:
                found.append(value)
        except Exception:
            pass
    try:
        text = node.queryText()
        content = text.getText(0, text.characterCount)
        if content:
            found.append(content)
    except Exception:
        pass
    return found


def find_all(root, name=None, contains=None, roles=None, showing_only=True):
    matches = []
    for node in walk(root, showing_only):
        if roles and role(node) not in roles:
            continue
        values = texts(node)
        if name is not None and name not in values:
            continue
        if contains is not None and not any(contains in value for value in values):
            continue
        matches.append(node)
    return matches


def find(root, **criteria):
    matches = find_all(root, **criteria)
    return matches[0] if matches else None


def extents(node):
    component = node.queryComponent()
    box = component.getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def press(node):
    """Runs the node's default action (a button's press, a menu item's click)."""
    action = node.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    for wanted in ("press", "click", "activate", "toggle"):
        if wanted in names:
            return action.doAction(names.index(wanted))
    return action.doAction(0)


def has_state(node, state):
    try:
        return node.getState().contains(state)
    except Exception:
        return False


def dump(root, path):
    """The showing tree as indented text, for the log of a failed step."""
    lines = []

    def visit(node, depth):
        if depth > 40 or len(lines) > MAX_NODES:
            return
        lines.append("%s[%s] %s" % ("  " * depth, role(node), " | ".join(texts(node))[:200]))
        try:
            count = node.childCount
        except Exception:
            return
        for index in range(count):
            try:
                child = node.getChildAtIndex(index)
            except Exception:
                continue
            if child is not None and is_showing(child):
                visit(child, depth + 1)

    visit(root, 0)
    with open(path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    return path


class TextWatcher:
    """Collects the text that AT-SPI says was inserted into any object."""

    def __init__(self):
        from gi.repository import GLib
        self._context = GLib.MainContext.default()
        self.inserted = []
        pyatspi.Registry.registerEventListener(self._on_insert, "object:text-changed:insert")

    def _on_insert(self, event):
        self.inserted.append(str(event.any_data))

    def text(self):
        while self._context.iteration(False):
            pass
        return "".join(self.inserted)

    def forget(self):
        self.text()
        self.inserted.clear()


class FocusWatcher:
    """Follows which object has the keyboard focus, from AT-SPI's events.

    Popup menus are not children of the application in Qt's accessibility
    tree; they are seen through the focus events of their items.
    """

    def __init__(self):
        from gi.repository import GLib
        self._context = GLib.MainContext.default()
        self.focused = []
        pyatspi.Registry.registerEventListener(self._on_focus, "object:state-changed:focused")

    def _on_focus(self, event):
        if event.detail1:
            try:
                self.focused.append((role(event.source), event.source.name, event.source))
            except Exception:
                pass

    def pump(self):
        while self._context.iteration(False):
            pass

    def last(self):
        self.pump()
        return self.focused[-1] if self.focused else None

    def count(self):
        self.pump()
        return len(self.focused)

    def forget(self):
        self.pump()
        self.focused.clear()
