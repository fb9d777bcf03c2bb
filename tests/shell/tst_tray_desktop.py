#!/usr/bin/python3
"""The real fernpoint's tray item and notices as a desktop sees them: a StatusNotifierWatcher and a
notification server (python3-dbusmock) on the private session bus; the item's properties, its
menu through com.canonical.dbusmenu, the Notify calls. The window's language is Japanese and the
process's English, so each text shows which one it came from.

    tst_tray_desktop.py <fernpoint> <fernpoint-scripted-helper>    exits 77 when it cannot run
"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from desktop_session import DesktopSession, Unavailable, wait_for  # noqa: E402

IDS = [f"8a1c93e0aa0b4f2{i}" for i in range(6)]  # oldest first
NAMES = ["", "Quarry", "", "Depot", "Fern Lab", "Harbor Mesh"]
WATCHER, ITEM = "org.kde.StatusNotifierWatcher", "org.kde.StatusNotifierItem"
MENU, MOCK = "com.canonical.dbusmenu", "org.freedesktop.DBus.Mock"
SHOW_HIDE = "ウインドウの表示/非表示"


def label(k):
    return f"{NAMES[k]} ({IDS[k][:4]}…{IDS[k][-4:]})" if NAMES[k] else IDS[k]


def status_json(connected, name="Fern Lab"):
    return json.dumps({"ok": True, "data": {
        "conn_state": "connected" if connected else "disconnected",
        "state": "running" if connected else "stopped", "Nat": False, "network_name": name}})


def readable_on_light_and_dark(width, height, argb):
    """A third of the pixels or more stand out 3:1 against a white and against a black panel."""
    def lum(c):
        c /= 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    pixels = [(argb[i] / 255, .2126 * lum(argb[i + 1]) + .7152 * lum(argb[i + 2]) +
               .0722 * lum(argb[i + 3])) for i in range(0, len(argb), 4)]
    return all(sum(max(l, panel) + .05 >= 3 * (min(l, panel) + .05)
                   for l in (a * y + (1 - a) * panel for a, y in pixels)) >= width * height / 3
               for panel in (1.0, 0.0))


def main(app, scripted_helper):
    try:
        import dbus.bus
    except ImportError as missing:
        raise Unavailable(f"python3-dbus is missing: {missing}")
    with DesktopSession(app=app, scripted_helper=scripted_helper) as desktop:
        desktop.start()
        with open(desktop.data_file("networks.json"), "w") as history:
            json.dump([{"networkID": i, "name": n, "desc": "", "lastUsedAt": 7e8 + k}
                       for k, (i, n) in enumerate(zip(IDS, NAMES))], history)
        with open(desktop.settings_file(), "a") as settings:
            settings.write("AppLanguage=ja\n")
        for mock in (["--template", "notification_daemon"],
                     [WATCHER, "/StatusNotifierWatcher", WATCHER]):
            desktop.spawn(["/usr/bin/python3", "-m", "dbusmock", "--session", *mock])
        bus = dbus.bus.BusConnection(desktop.session_bus)
        for name in (WATCHER, "org.freedesktop.Notifications"):
            if not wait_for(lambda: bus.name_has_owner(name)):
                raise Unavailable(f"python3-dbusmock did not take {name}")
        watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
        # Qt exports its tray item only to a watcher that says a status area is there.
        watcher.AddProperties(WATCHER, {"IsStatusNotifierHostRegistered": True,
                                        "ProtocolVersion": dbus.Int32(0),
                                        "RegisteredStatusNotifierItems": dbus.Array([], "s")},
                              dbus_interface=MOCK)
        watcher.AddMethod(WATCHER, "RegisterStatusNotifierItem", "s", "", "", dbus_interface=MOCK)
        notices = bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications")

        def notices_sent():
            sent = notices.GetMethodCalls("Notify", dbus_interface=MOCK)
            return [tuple(args[:5]) for _, args in sent]

        def notice(k):
            sent = wait_for(lambda: notices_sent()[k:], timeout=12)
            assert sent, f"no notice after {notices_sent()}"
            return sent[0]

        monitor = desktop.spawn(["dbus-monitor", "--address", desktop.session_bus,
                                 f"type='signal',interface='{ITEM}'",
                                 f"type='signal',interface='{MENU}'"],
                                stdout=subprocess.PIPE)
        os.set_blocking(monitor.stdout.fileno(), False)
        desktop.start_app()
        calls = wait_for(lambda: watcher.GetMethodCalls("RegisterStatusNotifierItem",
                                                        dbus_interface=MOCK))
        assert calls, "no tray item registered with the watcher"
        # The window list shows the application's icon once the window is on the screen.
        assert wait_for(lambda: b"Icon (16 x 16)" in subprocess.run(
            ["xprop", "-display", desktop.display, "-name", "FernPoint", "_NET_WM_ICON"],
            capture_output=True).stdout), "the window has no icon"
        item = bus.get_object(str(calls[0][1][0]), "/StatusNotifierItem")
        properties = lambda: item.GetAll(ITEM, dbus_interface="org.freedesktop.DBus.Properties")
        menu = bus.get_object(str(calls[0][1][0]), properties()["Menu"])
        pictures = set()

        def wait_state(icon_name, tooltip):
            shown = wait_for(lambda: (p := properties())["IconName"] == icon_name and
                             p["ToolTip"][2] == tooltip and p, timeout=12)
            now = properties()
            assert shown, f"tray shows {now['IconName']} / {now['ToolTip'][2]}, not {tooltip}"
            width, height, argb = max(shown["IconPixmap"], key=lambda pixmap: pixmap[0])
            assert readable_on_light_and_dark(width, height, bytes(argb)), f"{icon_name} unreadable"
            pictures.add(bytes(argb))

        def entries(node=None):  # [(id, label, enabled, children)] without separators
            node = node or menu.GetLayout(0, -1, [], dbus_interface=MENU)[1]
            return [(int(c[0]), str(c[1].get("label", "")), bool(c[1].get("enabled", True)),
                     entries(c)) for c in node[2] if c[1].get("type") != "separator"]

        def click(text):
            found = [e[0] for e in entries() + entries()[2][3] if e[1] == text]
            assert found, f"no menu entry {text!r} in {entries()}"
            menu.Event(found[0], "clicked", 0, int(time.time()), dbus_interface=MENU)

        def top_menu():
            return [(e[1], e[2]) for e in entries()]

        # Disconnected: the field holds the newest network; the five newest are offered.
        wait_state("fernpoint-disconnected-symbolic", "未接続")
        assert top_menu() == [("未接続", False), (f"{label(5)} に接続", True),
                              ("最近のネットワーク", True), (SHOW_HIDE, True),
                              ("FernPoint を終了", True)], top_menu()
        assert [c[1] for c in entries()[2][3]] == [label(k) for k in (5, 4, 3, 2, 1)]

        # Window hidden; a recent network connects at once, busy (nothing to connect), connected.
        click(SHOW_HIDE)
        desktop.set_helper_reply("StartGateway", texts=[""], delay_ms=1500)
        click(label(4))
        wait_state("fernpoint-busy-symbolic", f"接続中… · {label(4)}")
        assert [enabled for _, enabled in top_menu()[1:3]] == [False, False]
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(True)], is_running=True)
        wait_state("fernpoint-connected-symbolic", f"接続済み · {label(4)}")
        assert top_menu()[1:3] == [("切断", True), ("最近のネットワーク", False)]
        assert [c["arguments"] for c in desktop.helper_calls("StartGateway")] == [[IDS[4], False]]
        assert notice(0) == ("FernPoint", 0, "com.lunacore.fernpoint", "接続済み", label(4))

        # Polls that change nothing announce nothing: no notice, icon, tooltip or menu update.
        polls = len(desktop.helper_calls("GatewayStatus"))
        time.sleep(0.5)
        assert "member=NewIcon" in (monitor.stdout.read() or b"").decode()
        assert wait_for(lambda: len(desktop.helper_calls("GatewayStatus")) >= polls + 2,
                        timeout=15)
        time.sleep(0.5)
        assert len(notices_sent()) == 1 and not monitor.stdout.read(), "a poll was announced"

        # Lost without asking, then a failed connect from the menu while hidden, recorded in the
        # history as the window's button records it; each notice replaces the last (the mock's 1).
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(False)], is_running=False)
        assert notice(1)[1:4] == (1, "com.lunacore.fernpoint", "接続が切れました")
        wait_state("fernpoint-disconnected-symbolic", "未接続")
        desktop.set_helper_reply("StartGateway", ok=False, texts=["core refused"])
        click(label(3))
        _, replaces, _, summary, body = notice(2)
        assert (replaces, summary) == (1, "接続できませんでした") and "core refused" in body
        with open(desktop.data_file("networks.json")) as history:
            assert max(json.load(history), key=lambda p: p["lastUsedAt"])["networkID"] == IDS[3]
        wait_state("fernpoint-error-symbolic", f"エラー · {body}")
        assert len(pictures) == 4

        # With the window shown, the user sees the failure there: no notice.
        click(SHOW_HIDE)
        click(f"{label(3)} に接続")
        assert wait_for(lambda: len(desktop.helper_calls("StartGateway")) == 3)
        time.sleep(1)
        assert len(notices_sent()) == 3

        # A notification server that never answers holds nothing up.
        notices.AddMethod("org.freedesktop.Notifications", "Notify", "susssasa{sv}i", "u",
                          "import time; time.sleep(30); ret = 9", dbus_interface=MOCK)
        click(SHOW_HIDE)
        desktop.set_helper_reply("StartGateway", texts=[""])
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(True, "Depot")],
                                 is_running=True)
        click(f"{label(3)} に接続")
        wait_state("fernpoint-connected-symbolic", f"接続済み · {label(3)}")
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(False)], is_running=False)
        wait_state("fernpoint-disconnected-symbolic", "未接続")


if __name__ == "__main__":
    try:
        main(*sys.argv[1:3])
    except Unavailable as reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    print("1 passed, 0 failed")
