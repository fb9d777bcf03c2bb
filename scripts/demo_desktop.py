#!/usr/bin/python3
"""The demo's desktop: a status area and a notification server on the demo's private session bus.

    demo_desktop.py host READY_FILE   configures the status area, then prints each change of the
                                      tray item (icon, tooltip, menu) and each notice; with a
                                      terminal on standard input, a typed menu number clicks that
                                      tray menu entry. READY_FILE appears once FernPoint may start.
    demo_desktop.py drive FERNPOINTCTL   uses a running FernPoint through its tray menu

scripts/demo.sh starts python3-dbusmock twice on DBUS_SESSION_BUS_ADDRESS first: as the status
area's watcher (Qt exports its tray item only to a watcher that says a status area is there) and
as a notification server. Both modes read the mocks; run with the system's /usr/bin/python3.
"""
import signal
import subprocess
import sys
import time

import dbus

WATCHER, WATCHER_PATH = "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher"
NOTICES, NOTICES_PATH = "org.freedesktop.Notifications", "/org/freedesktop/Notifications"
ITEM, MENU, MOCK = "org.kde.StatusNotifierItem", "com.canonical.dbusmenu", "org.freedesktop.DBus.Mock"
MISTYPED_NETWORK = "8056c2e21c0000o2"  # an o where a 0 belongs: the helper refuses it


def say(text):
    print(f"demo: {text}", flush=True)


def fail(text):
    print(f"demo: {text}", file=sys.stderr, flush=True)
    sys.exit(1)


def wait_for(condition, timeout):
    deadline = time.monotonic() + timeout
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return value


class Tray:
    """FernPoint's tray item as the status area sees it."""

    def __init__(self, bus, service):
        self.service = service
        self.item = bus.get_object(service, "/StatusNotifierItem")
        self.menu = bus.get_object(service, self.item.Get(ITEM, "Menu",
                                                          dbus_interface=dbus.PROPERTIES_IFACE))

    def state(self):
        """(icon name, tooltip)"""
        shown = self.item.GetAll(ITEM, dbus_interface=dbus.PROPERTIES_IFACE)
        _, _, title, text = shown["ToolTip"]
        return str(shown["IconName"]), " · ".join(str(t) for t in (title, text) if t)

    def entries(self):
        """[(id, label, enabled, depth)]: the menu top down, each submenu after its entry."""
        found = []

        def walk(node, depth):
            for child in node[2]:
                properties = child[1]
                if properties.get("type") != "separator" and properties.get("visible", True):
                    found.append((int(child[0]), str(properties.get("label", "")),
                                  bool(properties.get("enabled", True)), depth))
                    walk(child, depth + 1)

        walk(self.menu.GetLayout(0, -1, [], dbus_interface=MENU)[1], 0)
        return found

    def click(self, entry):
        self.menu.Event(entry, "clicked", 0, int(time.time()), dbus_interface=MENU)


def menu_line(entries):
    """"1 Not connected (greyed) | 2 Connect to … | 3 Recent networks ▸ 4 …, 5 … | …"""
    line, last_depth = "", 0
    for number, (_, label, enabled, depth) in enumerate(entries, 1):
        entry = f"{number} {label}" + ("" if enabled else " (greyed)")
        separator = " | " if depth == 0 else (" ▸ " if last_depth == 0 else ", ")
        line += (separator if line else "") + entry
        last_depth = depth
    return line


def host(ready_file):
    from gi.repository import GLib
    import dbus.mainloop.glib
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    for name in (WATCHER, NOTICES):
        if not wait_for(lambda: bus.name_has_owner(name), 10):
            fail(f"python3-dbusmock did not take {name} on the demo's session bus")
    watcher = bus.get_object(WATCHER, WATCHER_PATH)
    watcher.AddProperties(WATCHER, {"IsStatusNotifierHostRegistered": True,
                                    "ProtocolVersion": dbus.Int32(0),
                                    "RegisteredStatusNotifierItems": dbus.Array([], "s")},
                          dbus_interface=MOCK)
    watcher.AddMethod(WATCHER, "RegisterStatusNotifierItem", "s", "", "", dbus_interface=MOCK)
    tray, printed, menu_ids, pending = None, {}, [], []

    def show_tray_soon(*_):
        # One change sends several signals, and the icon, tooltip and menu are read one by one:
        # printing once the burst is over shows them as they settled, not half updated.
        if not pending:
            pending.append(GLib.timeout_add(150, show_tray))

    def show_tray():
        pending.clear()
        try:
            (icon, tooltip), entries = tray.state(), tray.entries()
        except dbus.DBusException:  # FernPoint is leaving
            return False
        menu_ids[:] = [entry[0] for entry in entries]
        for key, line in (("icon", f"tray: {icon} · {tooltip}"),
                          ("menu", f"tray menu: {menu_line(entries)}")):
            if printed.get(key) != line:
                printed[key] = line
                say(line)
        return False

    def on_watcher_call(method, args):
        nonlocal tray
        if method == "RegisterStatusNotifierItem":
            tray = Tray(bus, str(args[0]))
            say(f"tray: FernPoint's item {tray.service} is in the demo's status area")
            for interface in (ITEM, MENU):
                bus.add_signal_receiver(show_tray_soon, dbus_interface=interface,
                                        bus_name=tray.service)
            show_tray()

    def on_notice(method, args):
        if method == "Notify":
            say(f"notice: {args[3]} — {args[4]}")

    def on_typed(*_):
        line = sys.stdin.readline()
        if not line:
            return False
        if tray and line.strip().isdigit() and 0 < int(line) <= len(menu_ids):
            tray.click(menu_ids[int(line) - 1])
        else:
            say("type the number of a tray menu entry and Enter")
        return True

    bus.add_signal_receiver(on_watcher_call, "MethodCalled", MOCK, WATCHER, WATCHER_PATH)
    bus.add_signal_receiver(on_notice, "MethodCalled", MOCK, NOTICES, NOTICES_PATH)
    if sys.stdin.isatty():
        GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_typed)
    # A round trip makes sure the bus holds the match rules before FernPoint may start.
    bus.name_has_owner(WATCHER)
    open(ready_file, "w").close()
    GLib.MainLoop().run()


def drive(fernpointctl):
    bus = dbus.SessionBus()
    watcher = bus.get_object(WATCHER, WATCHER_PATH)
    notices = bus.get_object(NOTICES, NOTICES_PATH)
    calls = wait_for(lambda: watcher.GetMethodCalls("RegisterStatusNotifierItem",
                                                    dbus_interface=MOCK), 30)
    if not calls:
        fail("FernPoint's tray item never reached the status area")
    tray = Tray(bus, str(calls[0][1][0]))

    def until(what, condition, timeout=30):
        if not wait_for(condition, timeout):
            try:
                shown = f"the tray shows {' · '.join(tray.state())}"
            except dbus.DBusException:
                shown = "FernPoint's tray item is gone"
            fail(f"{what} did not happen; {shown}")
        time.sleep(0.3)  # lets the host print what it saw first

    def shows(state):
        until(f"the tray showing {state}",
              lambda: tray.state()[0] == f"fernpoint-{state}-symbolic")

    def noticed(count):
        until(f"notice {count}", lambda: len(notices.GetMethodCalls("Notify",
                                                                     dbus_interface=MOCK)) >= count)

    def click(entry, says):
        say(f"clicks tray menu: {entry[1]}{says}")
        tray.click(entry[0])

    shows("disconnected")
    state_line, primary, recent, show_hide, quit_entry = [e for e in tray.entries() if e[3] == 0]
    click(show_hide, " (notices are for a window out of sight)")
    click(primary, "")
    shows("connected")
    noticed(1)
    say("runs fernpointctl disconnect: the gateway stops without FernPoint asking")
    subprocess.run([fernpointctl, "disconnect"], check=True, stdout=subprocess.DEVNULL)
    shows("disconnected")
    noticed(2)
    mistyped = [e for e in tray.entries() if e[3] == 1 and e[1] == MISTYPED_NETWORK]
    if not mistyped:
        fail(f"{MISTYPED_NETWORK} is not among the recent networks: {tray.entries()}")
    click(mistyped[0], " (an o where a 0 belongs)")
    shows("error")
    noticed(3)
    click(quit_entry, "")
    until("FernPoint quitting", lambda: not bus.name_has_owner(tray.service), 10)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.SIG_DFL)  # Ctrl+C ends the demo without a traceback
    if len(sys.argv) == 3 and sys.argv[1] == "host":
        host(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "drive":
        drive(sys.argv[2])
    else:
        sys.exit(__doc__)
