"""The real fernpoint window, driven through AT-SPI alone, as a screen reader or voice control
would: set the Network ID through the text interface, switch the language through each segment's
action, pick, delete and clear in the history popover through its actions, connect and
disconnect, and read the status rows. Skips (exit 77) with the reason when a piece is missing.

    tst_accessibility.py FERNPOINT SCRIPTED_HELPER VERSION
"""

import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop_session import DesktopSession, Unavailable, wait_for  # noqa: E402

SKIP = 77
NEWER, OLDER, TYPED = "8056c2e21c000002", "8056c2e21c000001", "a09acf0233d1e4b7"
RUNNING = {"ok": True, "data": {"conn_state": "connected", "state": "running",
                                "network_name": "Fern Lab", "network_desc": "Test bench",
                                "listen_port": 20619, "peers": 3, "Nat": False}}
STOPPED = {"ok": True, "data": {"conn_state": "disconnected", "state": "stopped"}}


class Window:
    """The application's accessibility tree, as pyatspi sees it."""

    def __init__(self, pyatspi, app):
        self.pyatspi = pyatspi
        self.app = app
        self.focused = []  # names of the objects that announced they took the focus
        pyatspi.Registry.registerEventListener(self._on_focus, "object:state-changed:focused")
        from gi.repository import GLib
        self.context = GLib.MainContext.default()

    def _on_focus(self, event):
        if event.detail1:
            self.focused.append(event.source.name)

    def pump(self):
        while self.context.pending():
            self.context.iteration(False)

    def until(self, condition, what, timeout=10.0):
        def check():
            self.pump()
            try:
                return condition()
            except Exception:  # the tree changes under our feet while the window redraws
                return None
        found = wait_for(check, timeout)
        if found is None:
            raise AssertionError(f"timed out waiting for {what}")
        return found

    def find(self, role, name=None, root=None):
        def matches(o):
            return o is not None and o.getRoleName() == role and (name is None or o.name == name)
        return self.pyatspi.findDescendant(root or self.app, matches)

    def find_all(self, role, root=None):
        return self.pyatspi.findAllDescendants(root or self.app,
                                               lambda o: o is not None and o.getRoleName() == role)

    def has(self, accessible, state):
        return accessible.getState().contains(state)

    def act(self, accessible, action):
        actions = accessible.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        assert action in names, f"{accessible.name}: {action} not among {names}"
        actions.doAction(names.index(action))


def run(desktop):
    with open(desktop.data_file("networks.json"), "w") as history:
        json.dump([{"networkID": OLDER, "name": "", "desc": "", "lastUsedAt": 1000.0},
                   {"networkID": NEWER, "name": "Harbor", "desc": "Uplink",
                    "lastUsedAt": 2000.0}], history)
    desktop.use_here()
    os.environ["NO_AT_BRIDGE"] = "0"
    try:
        import pyatspi
    except ImportError as missing:
        raise Unavailable(f"python3-pyatspi is missing: {missing}")
    process = desktop.start_app()
    app = wait_for(lambda: process.poll() is not None or next(
        (a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "fernpoint"),
        None), 20)
    if app is None or process.poll() is not None:
        raise AssertionError(f"fernpoint never showed up on the accessibility bus "
                             f"(exit status {process.poll()})")
    w = Window(pyatspi, app)
    states = pyatspi

    # The ID filled in from the history, then a new one set through the text interface.
    field = w.until(lambda: w.find("text", "Network ID"), "the Network ID field")
    text = field.queryText()
    w.until(lambda: text.getText(0, -1) == NEWER, "the newest network filled in")
    field.queryEditableText().setTextContents(TYPED)
    main = w.find("push button", "Connect")

    # Connect and disconnect the network set that way; each command answers late, so that the
    # status the window asks for right after it is the one scripted meanwhile.
    desktop.set_helper_reply("StartGateway", delay_ms=300)
    w.act(main, "Press")
    w.until(lambda: desktop.helper_calls("StartGateway"), "StartGateway")
    assert desktop.helper_calls("StartGateway")[0]["arguments"] == [TYPED, False]
    desktop.set_helper_reply("GatewayStatus", texts=[json.dumps(RUNNING)], is_running=True)
    w.until(lambda: main.name == "Disconnect", "Disconnect after the start")
    w.until(lambda: {f.name for f in w.find_all("filler")} >=
            {"Network Name: Fern Lab", "Peers: 3", "Listen Port: 20619", "NAT: Off"},
            "the status rows read as title: value")
    w.until(lambda: w.find("label", "Connected"), "the indicator")
    desktop.set_helper_reply("StopGateway", delay_ms=300)
    w.act(main, "Press")
    w.until(lambda: desktop.helper_calls("StopGateway"), "StopGateway")
    desktop.set_helper_reply("GatewayStatus", texts=[json.dumps(STOPPED)])
    w.until(lambda: main.name == "Connect", "Connect after the stop")

    # Each language through its segment's own action (system, 简体中文, English, 日本語); the
    # picker and the texts agree.
    segments = w.find_all("radio button")
    assert [s.name for s in segments[1:]] == ["简体中文", "English", "日本語"]
    for index, connect in ((1, "连接"), (3, "接続"), (0, "Connect"), (2, "Connect")):
        w.act(segments[index], "Toggle")
        w.until(lambda: main.name == connect and all(
            w.has(s, states.STATE_CHECKED) == (i == index) for i, s in enumerate(segments)),
            f"the window in the language of segment {index}")
    with open(desktop.settings_file()) as settings:
        assert "AppLanguage=en" in settings.read()

    # The history popover: open on the newest row, announced; walk, delete one, pick one.
    w.act(w.find("push button", "History"), "Press")
    listing = w.until(lambda: w.find("list", "Recent Networks"), "the open popover's list")
    items = w.until(lambda: len(w.find_all("list item", listing)) == 3 and
                    w.find_all("list item", listing), "three history rows")
    assert [i.name for i in items] == ["Fern Lab, Test bench", "Harbor, Uplink", OLDER]
    assert [i.description for i in items] == [TYPED, NEWER, OLDER]
    w.until(lambda: w.has(items[0], states.STATE_FOCUSED) and items[0].name in w.focused,
            "the newest row current and announced")
    w.act(items[1], "SetFocus")
    w.until(lambda: w.has(items[1], states.STATE_SELECTED) and items[1].name in w.focused,
            "the second row current and announced")
    w.act(w.find("push button", "Remove from History", items[1]), "Press")
    w.until(lambda: len(w.find_all("list item", listing)) == 2, "two rows left")
    with open(desktop.data_file("networks.json")) as history:
        assert sorted(e["networkID"] for e in json.load(history)) == sorted([TYPED, OLDER])
    w.act(w.find_all("list item", listing)[1], "Press")
    w.until(lambda: text.getText(0, -1) == OLDER and w.find("list") is None,
            "the picked ID in the field and the popover closed")

    # Clear all empties the history and the field; the popover says so.
    w.act(w.find("push button", "History"), "Press")
    w.act(w.until(lambda: w.find("push button", "Clear History"), "Clear History"), "Press")
    w.until(lambda: w.find("label", "No networks yet") is not None and text.getText(0, -1) == "",
            "the emptied history and field")
    with open(desktop.data_file("networks.json")) as history:
        assert json.load(history) == []


def main():
    app, helper, version = sys.argv[1:4]
    started = time.monotonic()
    with DesktopSession(app=app, scripted_helper=helper, helper_version=version) as desktop:
        try:
            desktop.start()
            run(desktop)
        except Unavailable as reason:
            print(f"SKIP: {reason}")
            return SKIP
    print(f"accessibility: every step passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
