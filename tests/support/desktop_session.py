"""A private desktop for tests that drive the real fernpoint binary.

DesktopSession starts, inside one temporary folder: a private session bus and a private system
bus (dbus-daemon), an Xvfb display, the accessibility bus (at-spi-bus-launcher on the private
session bus), the scripted helper on the private system bus, and a home folder in which the helper
already counts as installed. start() returns once all of that runs; callers may then start their
own services on `session_bus` (a tray watcher, a notification daemon) before start_app() starts
fernpoint. close(), or leaving the with-block, stops everything it started, newest first, and
removes the folder. Nothing of the machine's own buses, display or home is used.

    with DesktopSession(app=..., scripted_helper=...) as desktop:
        desktop.start()
        desktop.spawn(["my-watcher"])              # sees desktop.env, stopped by close()
        app = desktop.start_app()
        desktop.set_helper_reply("GatewayStatus", texts=[status_json], is_running=True)

A piece that cannot be had raises Unavailable with the reason; tests turn it into a skip. Where
`unshare --mount` works (root), fernpoint gets a /tmp of its own, so its one-instance lock file is
not the machine's; elsewhere it takes the real /tmp/com.fernpoint.lock, start() refuses
(Unavailable) while another process holds it, and CTest should run the test under
RESOURCE_LOCK fernpoint_lock. Run it with the system's /usr/bin/python3 (python3-dbus, and
python3-pyatspi for accessibility tests).
"""

import fcntl
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

LOCK_PATH = "/tmp/com.fernpoint.lock"
HELPER_BUS_NAME = "com.lunacore.sdwan.fernpoint.helper"
SCRIPT_INTERFACE = "com.fernpoint.test.Script"
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


class Unavailable(Exception):
    """Something the session needs is missing on this machine; the message says what."""


def wait_for(condition, timeout=10.0, interval=0.05):
    """Polls condition() until it returns something true; returns that, or None at the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value or None
        time.sleep(interval)


def lock_holder(path=LOCK_PATH):
    """The pid that holds the application's lock, or 0."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW)
    except OSError:
        return 0
    try:
        probe = struct.pack("hhqqi", fcntl.F_WRLCK, os.SEEK_SET, 0, 0, 0)
        answer = fcntl.fcntl(fd, fcntl.F_GETLK, probe)
        kind, _, _, _, pid = struct.unpack("hhqqi", answer)
        return pid if kind != fcntl.F_UNLCK else 0
    finally:
        os.close(fd)


class DesktopSession:
    def __init__(self, app, scripted_helper, helper_version="1.0.4", screen="1280x1024x24",
                 environment=None):
        self.app_path = app
        self.helper_path = scripted_helper
        self.helper_version = helper_version
        self.screen = screen
        self.extra_environment = dict(environment or {})
        self.folder = None
        self.session_bus = self.system_bus = self.display = self.home = None
        self.env = {}
        self._processes = []  # (name, Popen), oldest first
        self._system_connection = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # Setting up -----------------------------------------------------------------------------

    def start(self):
        for program in ("dbus-daemon", "Xvfb"):
            if not shutil.which(program):
                raise Unavailable(f"{program} is not installed")
        if not os.access(BUS_LAUNCHER, os.X_OK):
            raise Unavailable(f"{BUS_LAUNCHER} is missing (package at-spi2-core)")
        for path in (self.app_path, self.helper_path):
            if not os.access(path, os.X_OK):
                raise Unavailable(f"{path} is not built")
        self.private_tmp = self._can_hide_tmp()
        holder = 0 if self.private_tmp else lock_holder()
        if holder:
            raise Unavailable(f"process {holder} holds {LOCK_PATH}: a FernPoint runs here")

        self.folder = tempfile.mkdtemp(prefix="fernpoint-desktop-")
        self._make_home()
        self.system_bus = self._start_bus("system")
        self.session_bus = self._start_bus("session")
        self.display = self._start_display()
        self.env.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus, DISPLAY=self.display)
        self._start_accessibility_bus()
        self._start_helper()
        return self

    def _make_home(self):
        self.home = os.path.join(self.folder, "home")
        runtime = os.path.join(self.folder, "runtime")
        config = os.path.join(self.home, ".config")
        os.makedirs(os.path.join(config, "FernPoint"))
        os.makedirs(os.path.join(self.home, ".local", "share", "FernPoint"))
        os.makedirs(os.path.join(self.home, ".cache"))
        os.makedirs(runtime, mode=0o700)
        with open(os.path.join(config, "FernPoint", "fernpoint.conf"), "w") as settings:
            settings.write(f"[General]\nfernpoint.helper.installedVersion={self.helper_version}\n")
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_CONFIG_HOME": config,
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "TZ": "UTC",
        }
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]

    def use_here(self):
        """Points this process at the private desktop too (before pyatspi or dbus is used)."""
        os.environ.update(self.env)

    def data_file(self, name):
        """A file in the application's data folder (networks.json)."""
        return os.path.join(self.home, ".local", "share", "FernPoint", name)

    def settings_file(self):
        return os.path.join(self.home, ".config", "FernPoint", "fernpoint.conf")

    def _start_bus(self, name):
        config = os.path.join(self.folder, f"{name}.conf")
        with open(config, "w") as out:
            out.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>fernpoint-test-{name}</type>
  <listen>unix:path={self.folder}/{name}.socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
""")
        read, write = os.pipe()
        self._spawn(f"{name} bus", ["dbus-daemon", f"--config-file={config}", "--nofork",
                                    f"--print-address={write}"], pass_fds=(write,),
                    stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as addresses:
            address = addresses.readline().strip()
        if not address:
            raise Unavailable(f"the private {name} bus did not start")
        return address

    def _start_display(self):
        # A display number nobody uses, checked here rather than left to Xvfb: another server in
        # another mount namespace may hold the number's abstract socket without a lock file here.
        for _ in range(20):
            number = random.randrange(100, 30000)
            with open("/proc/net/unix") as sockets:
                taken = f"/tmp/.X11-unix/X{number}\n" in sockets.read()
            if taken or os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            read, write = os.pipe()
            # -noreset: a server that resets when its last client leaves (the accessibility
            # bus launcher, say) refuses the next one for a moment.
            self._spawn("display", ["Xvfb", f":{number}", "-displayfd", str(write), "-screen", "0",
                                    self.screen, "-nolisten", "tcp", "-noreset"],
                        pass_fds=(write,), stderr=subprocess.DEVNULL)
            os.close(write)
            with os.fdopen(read) as ready:  # empty when Xvfb gave up
                started = bool(ready.readline().strip())
            # The application may see only the abstract socket (with a /tmp of its own).
            if started and self._accepts(f"\0/tmp/.X11-unix/X{number}"):
                return f":{number}"
            self._stop(self._processes.pop()[1])
        raise Unavailable("Xvfb did not start on any free display")

    @staticmethod
    def _accepts(address):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            try:
                probe.connect(address)
                return True
            except OSError:
                return False

    def _start_accessibility_bus(self):
        # The launcher owns org.a11y.Bus on the session bus and starts the accessibility bus, on
        # which the registry is started on demand.
        self._spawn("accessibility bus", [BUS_LAUNCHER, "--launch-immediately", "--a11y=1"])
        session = self._connect(self.session_bus)
        try:
            if not wait_for(lambda: session.name_has_owner("org.a11y.Bus")):
                raise Unavailable("at-spi-bus-launcher did not take org.a11y.Bus")
        finally:
            session.close()

    def _start_helper(self):
        self._spawn("scripted helper", [self.helper_path, self.system_bus])
        if not wait_for(self._helper_present):
            raise Unavailable("the scripted helper did not take its bus name")

    def _helper_present(self):
        try:
            return self._system().name_has_owner(HELPER_BUS_NAME)
        except Exception:  # the bus may still be coming up
            return False

    @staticmethod
    def _connect(address):
        try:
            import dbus.bus
        except ImportError as missing:
            raise Unavailable(f"python3-dbus is missing: {missing}")
        return dbus.bus.BusConnection(address)

    def _system(self):
        if self._system_connection is None:
            self._system_connection = self._connect(self.system_bus)
        return self._system_connection

    # Running programs -----------------------------------------------------------------------

    def _spawn(self, name, argv, **options):
        environment = dict(self.env or os.environ)
        environment.update(options.pop("env", {}))
        process = subprocess.Popen(argv, env=environment, stdin=subprocess.DEVNULL,
                                   start_new_session=True, **options)
        self._processes.append((name, process))
        return process

    def spawn(self, argv, env=None, **options):
        """Starts a program on the private desktop; close() stops it."""
        return self._spawn(os.path.basename(argv[0]), argv, env=env or {}, **options)

    def start_app(self, args=(), env=None, stdout=None, stderr=None):
        """Starts fernpoint on the private desktop, with its accessibility bridge on."""
        environment = {"QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}
        environment.update(self.extra_environment)
        environment.update(env or {})
        argv = [self.app_path, *args]
        if self.private_tmp:
            # A /tmp of its own, so that its lock file is not the machine's: this session's
            # folder is mounted back at the same place, and the display is reached through its
            # abstract socket.
            argv = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                    'exec 9<"$1" && mount -t tmpfs -o mode=1777 fernpoint-tmp /tmp && '
                    'mkdir -p "$1" && mount --no-canonicalize --bind /proc/self/fd/9 "$1" && exec 9<&- && '
                    'shift && exec "$@"', "sh", self.folder, *argv]
        return self.spawn(argv, env=environment, stdout=stdout, stderr=stderr)

    @staticmethod
    def _can_hide_tmp():
        probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "true"],
                               capture_output=True)
        return probe.returncode == 0

    # The scripted helper --------------------------------------------------------------------

    def _script(self):
        return self._system().get_object(HELPER_BUS_NAME, "/script")

    def set_helper_reply(self, method, ok=True, texts=(), is_running=False, delay_ms=0,
                         behaviour="answer"):
        """What the helper answers to every later call of method (see ScriptedHelper.h)."""
        import dbus
        script = dbus.Dictionary({"ok": dbus.Boolean(ok),
                                  "texts": dbus.Array(list(texts), signature="s"),
                                  "isRunning": dbus.Boolean(is_running),
                                  "delayMs": dbus.Int32(delay_ms),
                                  "behaviour": dbus.String(behaviour)}, signature="sv")
        self._script().SetReply(method, script, dbus_interface=SCRIPT_INTERFACE)

    def helper_calls(self, method=None):
        """The calls the helper received, oldest first: [{"method", "sender", "arguments"}]."""
        import json
        calls = json.loads(str(self._script().Calls(dbus_interface=SCRIPT_INTERFACE)))
        return [c for c in calls if method is None or c["method"] == method]

    # Tearing down ---------------------------------------------------------------------------

    def close(self):
        if self._system_connection is not None:
            self._system_connection.close()
            self._system_connection = None
        while self._processes:
            _, process = self._processes.pop()
            self._stop(process)
        if self.folder:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    @staticmethod
    def _stop(process):
        # Each program leads its own process group, so whatever it started goes with it. The
        # leader is not reaped before the group is killed, so the group's id cannot be reused.
        if process.returncode is not None:
            return
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + 3.0
        while time.monotonic() < deadline:
            if os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT):
                break
            time.sleep(0.02)
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()
