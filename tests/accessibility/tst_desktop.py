# The real fernpoint on a private desktop, as the desktop and assistive technology see it: first its
# tray item, menu (com.canonical.dbusmenu) and notices, through a StatusNotifierWatcher and a
# notification server (python3-dbusmock), with the window in Japanese and the process in English;
# then the window through AT-SPI alone, as a screen reader or voice control drives it.
#
#     tst_desktop.py FERNPOINT SCRIPTED_HELPER VERSION        exits 77, saying why, when it cannot run
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# The private desktop: private session and system buses, an Xvfb display, the accessibility bus,
# the scripted helper on the system bus, and a home in which the helper counts as installed, all
# in one temporary folder that close() removes with every process it started. fernpoint runs with
# a /tmp of its own (unshare, so root), so its one-instance lock is never the machine's. A missing
# piece raises Unavailable with the reason.
HELPER_BUS_NAME = "com.lunacore.sdwan.fernpoint.helper"
SCRIPT_INTERFACE = "com.fernpoint.test.Script"
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
BUS_CONFIG = """<busconfig><type>fernpoint-test</type><listen>unix:path={}</listen>
<auth>EXTERNAL</auth><policy context="default"><allow user="*"/><allow own="*"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>"""


class Unavailable(Exception):  # something the session needs is missing; the message says what
    pass


# Polls condition() until it returns something true; returns that, or None at the timeout.
def wait_for(condition, timeout=10.0):
    deadline = time.monotonic() + timeout
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(0.05)
    return value or None


class DesktopSession:
    def __init__(self, app, scripted_helper, helper_version):
        self.app_path, self.helper_path, self.helper_version = app, scripted_helper, helper_version
        self.folder = tempfile.mkdtemp(prefix="fernpoint-desktop-")
        self.home = os.path.join(self.folder, "home")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
                    "XDG_CONFIG_HOME": f"{self.home}/.config",
                    "XDG_DATA_HOME": f"{self.home}/.local/share",
                    "XDG_CACHE_HOME": f"{self.home}/.cache",
                    "XDG_RUNTIME_DIR": f"{self.folder}/runtime", "LANG": "C.UTF-8",
                    "LC_ALL": "C.UTF-8", "TZ": "UTC"}
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        self._processes, self.session, self._system = [], None, None
        self.history_file = os.path.join(self.home, ".local/share/FernPoint/networks.json")
        self.settings_file = os.path.join(self.home, ".config/FernPoint/fernpoint.conf")

    def start(self):
        for program in ("dbus-daemon", "Xvfb", BUS_LAUNCHER, self.app_path, self.helper_path):
            if not shutil.which(program):
                raise Unavailable(f"{program} is missing")
        if subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode:
            raise Unavailable("unshare --mount is refused (not root): fernpoint would take the "
                              "machine's own lock file")
        try:
            import dbus.bus
        except ImportError as missing:
            raise Unavailable(f"python3-dbus is missing: {missing}")
        for folder in (".config/FernPoint", ".local/share/FernPoint", ".cache"):
            os.makedirs(os.path.join(self.home, folder))
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        with open(self.settings_file, "w") as settings:
            settings.write(f"[General]\nfernpoint.helper.installedVersion={self.helper_version}\n")
        self.system_bus, self.session_bus = self._bus("system"), self._bus("session")
        self.session = dbus.bus.BusConnection(self.session_bus)
        self._system = dbus.bus.BusConnection(self.system_bus)
        self.env.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus, DISPLAY=self._display())
        self.spawn([BUS_LAUNCHER, "--launch-immediately", "--a11y=1"])
        self.spawn([self.helper_path, self.system_bus])
        for bus, name in ((self.session, "org.a11y.Bus"), (self._system, HELPER_BUS_NAME)):
            if not wait_for(lambda: bus.name_has_owner(name)):
                raise Unavailable(f"nothing took {name}")
        os.environ.update(self.env)  # pyatspi and dbus of this process see the private desktop
        return self

    def history(self):  # the saved networks, as the application wrote them
        with open(self.history_file) as networks:
            return json.load(networks)

    # Starts argv, which is given the write end of a pipe for "{}", and returns its first line.
    def _started_and_said(self, argv):
        read, write = os.pipe()
        self.spawn([a.replace("{}", str(write)) for a in argv], pass_fds=(write,),
                   stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as said:
            return said.readline().strip()

    def _bus(self, name):
        config = os.path.join(self.folder, f"{name}.conf")
        with open(config, "w") as out:
            out.write(BUS_CONFIG.format(os.path.join(self.folder, f"{name}.socket")))
        return self._started_and_said(["dbus-daemon", f"--config-file={config}", "--nofork",
                                       "--print-address={}"])

    def _display(self):
        # Xvfb picks a display that is free, in every mount namespace (abstract sockets included).
        # -noreset: a server that resets when its last client leaves refuses the next one.
        number = self._started_and_said(["Xvfb", "-displayfd", "{}", "-screen", "0", "1280x1024x24",
                                         "-nolisten", "tcp", "-noreset"])
        if not number:
            raise Unavailable("Xvfb did not start")
        return f":{number}"

    # Starts a program on the private desktop; close() stops it with its children.
    def spawn(self, argv, env=None, **options):
        process = subprocess.Popen(argv, env={**self.env, **(env or {})},
                                   stdin=subprocess.DEVNULL, start_new_session=True, **options)
        self._processes.append(process)
        return process

    # fernpoint with its accessibility bridge on, in a mount namespace with its own /tmp. The
    # session's folder, the program's and the sources' (a clone below /tmp keeps its build, the
    # sanitizers their suppression file) are mounted back in place; the display is reached
    # through its abstract socket.
    def start_app(self):
        keep = [self.folder, os.path.dirname(os.path.realpath(self.app_path)),
                os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))]
        numbers = range(1, len(keep) + 1)
        script = " && ".join([
            "exec " + " ".join(f'{n + 2}<"${n}"' for n in numbers),
            "mount -t tmpfs -o mode=1777 fernpoint-tmp /tmp",
            "mkdir -p " + " ".join(f'"${n}"' for n in numbers),
            *(f'mount --no-canonicalize --bind /proc/self/fd/{n + 2} "${n}"' for n in numbers),
            "exec " + " ".join(f"{n + 2}<&-" for n in numbers),
            f'shift {len(keep)}', 'exec "$@"'])
        return self.spawn(["unshare", "--mount", "--propagation", "private", "sh", "-c", script,
                           "sh", *keep, self.app_path],
                          env={"QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})

    # What the scripted helper answers to every later call of method.
    def set_helper_reply(self, method, ok=True, texts=(), is_running=False, delay_ms=0):
        import dbus
        script = dbus.Dictionary({"ok": dbus.Boolean(ok),
                                  "texts": dbus.Array(list(texts), signature="s"),
                                  "isRunning": dbus.Boolean(is_running),
                                  "delayMs": dbus.Int32(delay_ms),
                                  "behaviour": dbus.String("answer")}, signature="sv")
        self._system.get_object(HELPER_BUS_NAME, "/script").SetReply(
            method, script, dbus_interface=SCRIPT_INTERFACE)

    # The calls of method the helper received, oldest first: [{"arguments": ...}].
    def helper_calls(self, method):
        script = self._system.get_object(HELPER_BUS_NAME, "/script")
        calls = json.loads(str(script.Calls(dbus_interface=SCRIPT_INTERFACE)))
        return [c for c in calls if c["method"] == method]

    def close(self):
        for bus in (self.session, self._system):
            if bus:
                bus.close()
        while self._processes:
            self._stop(self._processes.pop())
        shutil.rmtree(self.folder, ignore_errors=True)

    @staticmethod
    def _stop(process):
        # The group goes with its leader; the leader is reaped last, so its id is not reused.
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            if wait_for(lambda: os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG |
                                          os.WNOWAIT), 3.0) is None:
                os.killpg(process.pid, signal.SIGKILL)
        process.wait()


IDS = [f"8a1c93e0aa0b4f2{i}" for i in range(6)]  # oldest first
NAMES = ["", "Quarry", "", "Depot", "Fern Lab", "Harbor Mesh"]
TYPED = "a09acf0233d1e4b7"
WATCHER, ITEM = "org.kde.StatusNotifierWatcher", "org.kde.StatusNotifierItem"
MENU, MOCK = "com.canonical.dbusmenu", "org.freedesktop.DBus.Mock"
SHOW_HIDE = "ウインドウの表示/非表示"


def label(k):
    return f"{NAMES[k]} ({IDS[k][:4]}…{IDS[k][-4:]})" if NAMES[k] else IDS[k]


def status_json(connected, name="Fern Lab", **more):
    return json.dumps({"ok": True, "data": {
        "conn_state": "connected" if connected else "disconnected",
        "state": "running" if connected else "stopped", "Nat": False, "network_name": name,
        **more}})


def tray_and_notices(desktop):
    import dbus
    bus = desktop.session
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
    # Qt exports its tray item only to a watcher that says a status area is there.
    watcher.AddProperties(WATCHER, {"IsStatusNotifierHostRegistered": True,
                                    "ProtocolVersion": dbus.Int32(0),
                                    "RegisteredStatusNotifierItems": dbus.Array([], "s")},
                          dbus_interface=MOCK)
    watcher.AddMethod(WATCHER, "RegisterStatusNotifierItem", "s", "", "", dbus_interface=MOCK)
    notices = bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications")

    def notices_sent():
        return [tuple(a[:5]) for _, a in notices.GetMethodCalls("Notify", dbus_interface=MOCK)]

    def notice(k):
        assert wait_for(lambda: notices_sent()[k:], 12), f"no notice after {notices_sent()}"
        return notices_sent()[k]

    process = desktop.start_app()
    calls = wait_for(lambda: watcher.GetMethodCalls("RegisterStatusNotifierItem",
                                                    dbus_interface=MOCK), 20)
    assert calls, f"no tray item registered (exit status {process.poll()})"
    item = bus.get_object(str(calls[0][1][0]), "/StatusNotifierItem")
    properties = lambda: item.GetAll(ITEM, dbus_interface="org.freedesktop.DBus.Properties")
    menu = bus.get_object(str(calls[0][1][0]), properties()["Menu"])

    def wait_state(icon_name, tooltip):
        shown = wait_for(lambda: (p := properties())["IconName"] == icon_name and
                         p["ToolTip"][2] == tooltip and p, 12)
        now = properties()
        assert shown, f"tray shows {now['IconName']} / {now['ToolTip'][2]}, not {tooltip}"

    def entries(node=None):  # [(id, label, enabled, children)] without separators
        node = node or menu.GetLayout(0, -1, [], dbus_interface=MENU)[1]
        return [(int(c[0]), str(c[1].get("label", "")), bool(c[1].get("enabled", True)),
                 entries(c)) for c in node[2] if c[1].get("type") != "separator"]

    def click(text):
        found = [e[0] for e in entries() + entries()[2][3] if e[1] == text]
        assert found, f"no menu entry {text!r} in {entries()}"
        menu.Event(found[0], "clicked", 0, int(time.time()), dbus_interface=MENU)

    top_menu = lambda: [(e[1], e[2]) for e in entries()]  # noqa: E731

    # Disconnected: the field holds the newest network; the five newest are offered.
    wait_state("fernpoint-disconnected-symbolic", "未接続")
    assert top_menu() == [("未接続", False), (f"{label(5)} に接続", True),
                          ("最近のネットワーク", True), (SHOW_HIDE, True),
                          ("FernPoint を終了", True)], top_menu()
    assert [c[1] for c in entries()[2][3]] == [label(k) for k in (5, 4, 3, 2, 1)]

    # Window hidden; a recent network connects at once.
    click(SHOW_HIDE)
    desktop.set_helper_reply("GatewayStatus", texts=[status_json(True)], is_running=True)
    click(label(4))
    wait_state("fernpoint-connected-symbolic", f"接続済み · {label(4)}")
    assert top_menu()[1:3] == [("切断", True), ("最近のネットワーク", False)]
    assert [c["arguments"] for c in desktop.helper_calls("StartGateway")] == [[IDS[4], False]]
    assert notice(0) == ("FernPoint", 0, "com.lunacore.fernpoint", "接続済み", label(4))

    # The user's own disconnect is no loss; connecting again is announced again. Each command
    # answers late, so that the status scripted meanwhile is the one that follows it.
    for entry, command, connected, state, tooltip in (
            ("切断", "StopGateway", False, "disconnected", "未接続"),
            (label(4), "StartGateway", True, "connected", f"接続済み · {label(4)}")):
        desktop.set_helper_reply(command, delay_ms=1000)
        click(entry)
        assert wait_for(lambda: properties()["IconName"] == "fernpoint-busy-symbolic")
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(connected)],
                                 is_running=connected)
        wait_state(f"fernpoint-{state}-symbolic", tooltip)
    assert notice(1)[1:4] == (1, "com.lunacore.fernpoint", "接続済み")

    # Lost without asking, then a failed connect from the menu while hidden, recorded in the
    # history as the window's button records it; each notice replaces the last (the mock's 1).
    desktop.set_helper_reply("GatewayStatus", texts=[status_json(False)], is_running=False)
    assert notice(2)[1:4] == (1, "com.lunacore.fernpoint", "接続が切れました")
    wait_state("fernpoint-disconnected-symbolic", "未接続")
    desktop.set_helper_reply("StartGateway", ok=False, texts=["core refused"])
    click(label(3))
    _, replaces, _, summary, body = notice(3)
    assert (replaces, summary) == (1, "接続できませんでした") and "core refused" in body
    assert wait_for(lambda: max(desktop.history(), key=lambda p: p["lastUsedAt"])["networkID"]
                    == IDS[3]), "the failed network is not the newest in the history"
    wait_state("fernpoint-error-symbolic", f"エラー · {body}")

    # A second start shows the first one's window and ends; the user sees the failure there: no
    # notice. It runs where the first one runs, with its lock file.
    second = desktop.spawn(["nsenter", "--mount", "--target", str(process.pid), desktop.app_path])
    assert second.wait(10) == 0, f"the second instance ended with {second.returncode}"
    click(f"{label(3)} に接続")
    assert wait_for(lambda: len(desktop.helper_calls("StartGateway")) == 4)
    time.sleep(1)
    assert len(notices_sent()) == 4
    return process


class Window:  # the application's accessibility tree, as pyatspi sees it
    def __init__(self, pyatspi, app):
        from gi.repository import GLib
        self.pyatspi, self.app, self.context = pyatspi, app, GLib.MainContext.default()

    def until(self, condition, what, timeout=10.0):
        def check():
            while self.context.pending():
                self.context.iteration(False)
            try:
                return condition()
            except Exception:  # the tree changes under our feet while the window redraws
                return None
        found = wait_for(check, timeout)
        assert found is not None, f"timed out waiting for {what}"
        return found

    def find(self, role, name=None, root=None):
        return next(iter(self.find_all(role, root, name)), None)

    def find_all(self, role, root=None, name=None):
        return self.pyatspi.findAllDescendants(root or self.app, lambda o: o is not None and
                                               o.getRoleName() == role and name in (None, o.name))

    def has(self, accessible, state):
        return accessible.getState().contains(getattr(self.pyatspi, f"STATE_{state}"))

    def act(self, accessible, action):
        actions = accessible.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        assert action in names, f"{accessible.name}: {action} not among {names}"
        actions.doAction(names.index(action))


def assistive_technology(desktop, process):
    os.environ["NO_AT_BRIDGE"] = "0"
    try:
        import pyatspi
    except ImportError as missing:
        raise Unavailable(f"python3-pyatspi is missing: {missing}")
    app = wait_for(lambda: process.poll() is not None or next(
        (a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "fernpoint"),
        None), 20)
    assert app is not True and app, f"fernpoint is not on the accessibility bus ({process.poll()})"
    w = Window(pyatspi, app)

    # Each language through its segment's own action (system, 简体中文, English, 日本語); the
    # picker and the texts agree.
    main = w.until(lambda: w.find("push button", "接続"), "the main button")
    segments = w.find_all("radio button")
    for index, connect in ((1, "连接"), (3, "接続"), (0, "Connect"), (2, "Connect")):
        w.act(segments[index], "Toggle")
        w.until(lambda: main.name == connect and all(
            w.has(s, "CHECKED") == (i == index) for i, s in enumerate(segments)),
            f"the window in the language of segment {index}")
    with open(desktop.settings_file) as settings:
        assert "AppLanguage=en" in settings.read()

    # An ID set through the text interface connects; the status rows read as "title: value".
    field = w.find("text", "Network ID")
    text = field.queryText()
    assert text.getText(0, -1) == IDS[3]
    field.queryEditableText().setTextContents(TYPED)
    desktop.set_helper_reply("StartGateway", delay_ms=300)  # the next status is the one below
    w.act(main, "Press")
    w.until(lambda: len(desktop.helper_calls("StartGateway")) == 5, "StartGateway")
    assert desktop.helper_calls("StartGateway")[-1]["arguments"] == [TYPED, False]
    desktop.set_helper_reply("GatewayStatus", is_running=True, texts=[status_json(
        True, network_desc="Test bench", listen_port=20619, peers=3)])
    w.until(lambda: main.name == "Disconnect", "Disconnect after the start")
    w.until(lambda: {f.name for f in w.find_all("filler")} >=
            {"Network Name: Fern Lab", "Peers: 3", "Listen Port: 20619", "NAT: Off"},
            "the status rows")
    w.until(lambda: w.find("label", "Connected"), "the indicator")
    desktop.set_helper_reply("StopGateway", delay_ms=300)
    w.act(main, "Press")
    w.until(lambda: desktop.helper_calls("StopGateway"), "StopGateway")
    desktop.set_helper_reply("GatewayStatus", texts=[status_json(False)])
    w.until(lambda: main.name == "Connect", "Connect after the stop")

    # The history popover opens on the newest row; a picked row puts its ID, not its title, into
    # the field.
    w.act(w.find("push button", "History"), "Press")
    listing = w.until(lambda: w.find("list", "Recent Networks"), "the open popover's list")
    items = w.until(lambda: len(w.find_all("list item", listing)) == 7 and
                    w.find_all("list item", listing), "seven history rows")
    assert [(i.name, i.description) for i in items[:2]] == [("Fern Lab, Test bench", TYPED),
                                                            ("Depot", IDS[3])]
    w.until(lambda: w.has(items[0], "FOCUSED"), "the newest row current")
    w.act(items[1], "Press")
    w.until(lambda: text.getText(0, -1) == IDS[3] and w.find("list") is None,
            "the picked ID in the field and the popover closed")


def main(app, helper, version):
    desktop = DesktopSession(app, helper, version)
    try:
        desktop.start()
        with open(desktop.history_file, "w") as history:
            json.dump([{"networkID": i, "name": n, "desc": "", "lastUsedAt": 7e8 + k}
                       for k, (i, n) in enumerate(zip(IDS, NAMES))], history)
        with open(desktop.settings_file, "a") as settings:
            settings.write("AppLanguage=ja\n")
        for mock in (["--template", "notification_daemon"],
                     [WATCHER, "/StatusNotifierWatcher", WATCHER]):
            desktop.spawn(["/usr/bin/python3", "-m", "dbusmock", "--session", *mock])
        for name in (WATCHER, "org.freedesktop.Notifications"):
            if not wait_for(lambda: desktop.session.name_has_owner(name)):
                raise Unavailable(f"python3-dbusmock did not take {name}")
        process = tray_and_notices(desktop)
        assistive_technology(desktop, process)
        process.terminate()  # asked to end, it ends as quitting does
        assert process.wait(10) == 0, f"ended with {process.returncode} on SIGTERM"
    finally:
        desktop.close()


if __name__ == "__main__":
    started = time.monotonic()
    try:
        main(*sys.argv[1:4])
    except Unavailable as reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    print(f"desktop: every step passed in {time.monotonic() - started:.1f} s")
