#!/usr/bin/python3
"""The tray item and the desktop notices of the real fernpoint, read the way a desktop reads them:
a StatusNotifierWatcher and a notification server (python3-dbusmock) on the private session bus,
the item's properties, its menu through com.canonical.dbusmenu, and the Notify calls received.
The window's language is Japanese and the process language English, so every text proves which
one it was looked up in.

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
WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
MOCK = "org.freedesktop.DBus.Mock"


def status_json(connected, name="Fern Lab"):
    return json.dumps({"ok": True, "data": {
        "conn_state": "connected" if connected else "disconnected",
        "state": "running" if connected else "stopped", "Nat": False, "network_name": name,
        "network_desc": "", "address_cidr": "10.8.0.2/24", "listen_port": 20619, "peers": 1,
        "last_policy_at": 1700000000, "endpoints": [], "mgmt_ips": []}})


def readable_on_light_and_dark(pixmaps):
    """At least a third of the largest pixmap stands out 3:1 against white and against black."""
    width, height, data = max(pixmaps, key=lambda pixmap: pixmap[0])
    data = bytes(data)

    def luminance(channel):
        channel /= 255
        return channel / 12.92 if channel <= 0.04045 else ((channel + 0.055) / 1.055) ** 2.4

    for background in (1.0, 0.0):
        standing_out = 0
        for i in range(0, len(data), 4):  # ARGB32, network byte order
            alpha = data[i] / 255
            lum = sum(weight * luminance(data[i + k]) for k, weight in
                      ((1, 0.2126), (2, 0.7152), (3, 0.0722)))
            lum = alpha * lum + (1 - alpha) * background
            bright, dark = max(lum, background), min(lum, background)
            standing_out += (bright + 0.05) / (dark + 0.05) >= 3
        if standing_out < width * height / 3:
            return False
    return True


class Tray:
    def __init__(self, desktop, bus):
        self.desktop, self.bus = desktop, bus
        watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
        calls = wait_for(lambda: watcher.GetMethodCalls("RegisterStatusNotifierItem",
                                                        dbus_interface=MOCK))
        assert calls, "the application registered no tray item with the watcher"
        service = str(calls[0][1][0])
        self.item = bus.get_object(service, "/StatusNotifierItem")
        self.menu = bus.get_object(service, self.properties()["Menu"])
        self.pixmaps = {}

    def properties(self):
        return self.item.GetAll(ITEM, dbus_interface="org.freedesktop.DBus.Properties")

    def wait_state(self, icon_name, tooltip):
        """Waits for the icon and tooltip; checks the state's own picture reads on any panel."""
        def shown():
            properties = self.properties()
            title = str(properties["ToolTip"][2])
            return properties if (properties["IconName"], title) == (icon_name, tooltip) else None
        properties = wait_for(shown, timeout=12)
        now = self.properties()
        assert properties, f"tray shows {now['IconName']} / {now['ToolTip'][2]}, not {tooltip}"
        pixmaps = [(int(w), int(h), bytes(data)) for w, h, data in properties["IconPixmap"]]
        assert readable_on_light_and_dark(pixmaps), f"{icon_name}: unreadable on a panel"
        self.pixmaps[icon_name] = pixmaps

    def entries(self, node=None):
        """[(id, label, enabled, [children])] without separators."""
        if node is None:
            node = self.menu.GetLayout(0, -1, [], dbus_interface=MENU)[1]
        result = []
        for child in node[2]:
            _, properties, _ = child
            if properties.get("type") != "separator":
                result.append((int(child[0]), str(properties.get("label", "")),
                               bool(properties.get("enabled", True)), self.entries(child)))
        return result

    def click(self, label):
        found = [e for e in self.entries() + [c for e in self.entries() for c in e[3]]
                 if e[1] == label]
        assert found, f"no menu entry {label!r} in {self.entries()}"
        self.menu.Event(found[0][0], "clicked", 0, int(time.time()), dbus_interface=MENU)


def main(app, scripted_helper):
    try:
        import dbus
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
        for mock in (["--template", "notification_daemon"], [WATCHER, "/StatusNotifierWatcher",
                                                              WATCHER]):
            desktop.spawn(["/usr/bin/python3", "-m", "dbusmock", "--session", *mock])
        bus = dbus.bus.BusConnection(desktop.session_bus)
        for name in (WATCHER, "org.freedesktop.Notifications"):
            if not wait_for(lambda: bus.name_has_owner(name)):
                raise Unavailable(f"python3-dbusmock did not take {name}")
        watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
        watcher.AddProperties(WATCHER, {"IsStatusNotifierHostRegistered": True,
                                        "ProtocolVersion": dbus.Int32(0),
                                        "RegisteredStatusNotifierItems": dbus.Array([], "s")},
                              dbus_interface=MOCK)
        for method in ("RegisterStatusNotifierItem", "RegisterStatusNotifierHost"):
            watcher.AddMethod(WATCHER, method, "s", "", "", dbus_interface=MOCK)
        notices = bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications")

        def notified(count):
            calls = wait_for(lambda: notices.GetMethodCalls("Notify", dbus_interface=MOCK)[count:],
                             timeout=12)
            assert calls, f"no notice after the first {count}"
            app_name, replaces, _, summary, body = (calls[0][1][k] for k in range(5))
            return str(app_name), int(replaces), str(summary), str(body)

        def notice_count():
            return len(notices.GetMethodCalls("Notify", dbus_interface=MOCK))

        monitor = desktop.spawn(["dbus-monitor", "--address", desktop.session_bus,
                                 f"type='signal',interface='{ITEM}'",
                                 f"type='signal',interface='{MENU}'"],
                                stdout=subprocess.PIPE)
        os.set_blocking(monitor.stdout.fileno(), False)
        signals = lambda: (monitor.stdout.read() or b"").decode()
        desktop.start_app()
        tray = Tray(desktop, bus)

        # Disconnected: the field holds the newest network; the five newest are offered.
        tray.wait_state("fernpoint-disconnected-symbolic", "未接続")
        label = lambda k: f"{NAMES[k]} ({IDS[k][:4]}…{IDS[k][-4:]})" if NAMES[k] else IDS[k]
        assert [(e[1], e[2]) for e in tray.entries()] == [
            ("未接続", False), (f"{label(5)} に接続", True), ("最近のネットワーク", True),
            ("ウインドウの表示/非表示", True), ("FernPoint を終了", True)], tray.entries()
        assert [c[1] for c in tray.entries()[2][3]] == [label(k) for k in (5, 4, 3, 2, 1)]

        # Hidden window; a recent network connects at once, shows busy, then connected.
        tray.click("ウインドウの表示/非表示")
        desktop.set_helper_reply("StartGateway", texts=[""], delay_ms=1500)
        tray.click(label(4))
        tray.wait_state("fernpoint-busy-symbolic", f"接続中… · {label(4)}")
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(True)], is_running=True)
        tray.wait_state("fernpoint-connected-symbolic", f"接続済み · {label(4)}")
        assert [c["arguments"] for c in desktop.helper_calls("StartGateway")] == [[IDS[4], False]]
        assert notified(0) == ("FernPoint", 0, "接続済み", label(4))
        first_id = 1  # the mock numbers its notices from 1

        # Polls that change nothing: no notice, no icon, tooltip or menu update.
        polls = len(desktop.helper_calls("GatewayStatus"))
        time.sleep(0.5)
        signals_before = signals()
        assert wait_for(lambda: len(desktop.helper_calls("GatewayStatus")) >= polls + 2,
                        timeout=15)
        time.sleep(0.5)
        assert notice_count() == 1
        assert "member=" not in signals(), "an unchanged poll was announced"
        assert "member=NewIcon" in signals_before

        # Lost without asking, then a failed connect while hidden: each replaces the last notice.
        # The history records the network the menu tried, as the window's button does.
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(False)], is_running=False)
        assert notified(1)[1:3] == (first_id, "接続が切れました")
        tray.wait_state("fernpoint-disconnected-symbolic", "未接続")
        desktop.set_helper_reply("StartGateway", ok=False, texts=["core refused"])
        tray.click(label(3))
        _, replaces, summary, body = notified(2)
        assert (replaces, summary) == (first_id, "接続できませんでした") and "core refused" in body
        with open(desktop.data_file("networks.json")) as history:
            assert max(json.load(history), key=lambda p: p["lastUsedAt"])["networkID"] == IDS[3]
        tray.wait_state("fernpoint-error-symbolic", f"エラー · {body}")
        assert len({pixmaps[0][2] for pixmaps in tray.pixmaps.values()}) == 4

        # With the window shown, the user sees the failure there: no notice.
        tray.click("ウインドウの表示/非表示")
        tray.click(f"{label(3)} に接続")
        assert wait_for(lambda: len(desktop.helper_calls("StartGateway")) == 3)
        time.sleep(1)
        assert notice_count() == 3

        # A notification server that hangs holds up nothing: the tray goes on following the state.
        notices.AddMethod("org.freedesktop.Notifications", "Notify", "susssasa{sv}i", "u",
                          "import time; time.sleep(30); ret = 9", dbus_interface=MOCK)
        tray.click("ウインドウの表示/非表示")
        desktop.set_helper_reply("StartGateway", texts=[""])
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(True, "Depot")],
                                 is_running=True)
        tray.click(f"{label(3)} に接続")
        tray.wait_state("fernpoint-connected-symbolic", f"接続済み · {label(3)}")
        desktop.set_helper_reply("GatewayStatus", texts=[status_json(False)], is_running=False)
        tray.wait_state("fernpoint-disconnected-symbolic", "未接続")


if __name__ == "__main__":
    try:
        main(*sys.argv[1:3])
    except Unavailable as reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    print("1 passed, 0 failed")
