# A private desktop for tests that drive the real fernpoint binary: private session and system
# buses, an Xvfb display, the accessibility bus, the scripted helper on the system bus, and a home
# in which the helper counts as installed, all in one temporary folder that close() removes with
# every process it started. fernpoint runs with a /tmp of its own (unshare, so root), so its
# one-instance lock is never the machine's. A missing piece raises Unavailable with the reason.
# Run it with the system's /usr/bin/python3 (python3-dbus, python3-pyatspi).


import functools
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

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
        self._processes = []

    def start(self):
        for program in ("dbus-daemon", "Xvfb", BUS_LAUNCHER, self.app_path, self.helper_path):
            if not shutil.which(program):
                raise Unavailable(f"{program} is missing")
        if subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode:
            raise Unavailable("unshare --mount is refused (not root): fernpoint would take the "
                              "machine's own lock file")
        try:
            import dbus.bus  # noqa: F401
        except ImportError as missing:
            raise Unavailable(f"python3-dbus is missing: {missing}")
        for folder in (".config/FernPoint", ".local/share/FernPoint", ".cache"):
            os.makedirs(os.path.join(self.home, folder))
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        with open(self.settings_file(), "w") as settings:
            settings.write(f"[General]\nfernpoint.helper.installedVersion={self.helper_version}\n")
        self.system_bus, self.session_bus = self._bus("system"), self._bus("session")
        self.env.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus, DISPLAY=self._display())
        self.spawn([BUS_LAUNCHER, "--launch-immediately", "--a11y=1"])
        self.spawn([self.helper_path, self.system_bus])
        for bus, name in ((self.session, "org.a11y.Bus"), (self._system, HELPER_BUS_NAME)):
            if not wait_for(lambda: bus.name_has_owner(name)):
                raise Unavailable(f"nothing took {name}")
        os.environ.update(self.env)  # pyatspi and dbus of this process see the private desktop
        return self

    def data_file(self, name):
        return os.path.join(self.home, ".local/share/FernPoint", name)

    def history(self):  # the saved networks, as the application wrote them
        with open(self.data_file("networks.json")) as networks:
            return json.load(networks)

    def settings_file(self):
        return os.path.join(self.home, ".config/FernPoint/fernpoint.conf")

    def _bus(self, name):
        config = os.path.join(self.folder, f"{name}.conf")
        with open(config, "w") as out:
            out.write(BUS_CONFIG.format(os.path.join(self.folder, f"{name}.socket")))
        read, write = os.pipe()
        self.spawn(["dbus-daemon", f"--config-file={config}", "--nofork",
                    f"--print-address={write}"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as addresses:
            return addresses.readline().strip()

    def _display(self):
        read, write = os.pipe()
        # Xvfb picks a display that is free, in every mount namespace (abstract sockets included).
        # -noreset: a server that resets when its last client leaves refuses the next one.
        self.spawn(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten",
                    "tcp", "-noreset"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as ready:
            number = ready.readline().strip()
        if not number:
            raise Unavailable("Xvfb did not start")
        return f":{number}"

    @functools.cached_property
    def session(self):
        import dbus.bus
        return dbus.bus.BusConnection(self.session_bus)

    @functools.cached_property
    def _system(self):
        import dbus.bus
        return dbus.bus.BusConnection(self.system_bus)

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
        for bus in ("session", "_system"):
            if bus in self.__dict__:
                self.__dict__[bus].close()
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
