"""What the real-display tests share: their own Xvfb on a free display, the trayer tray
host, window queries through xdotool and xwininfo, and stopping everything by PID."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TOOLS = ["Xvfb", "trayer", "xdotool", "xwininfo", "import"]


class Failure(Exception):
    pass


def wait_for(what, check, timeout=10.0, step=0.02):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(step)
    raise Failure("timed out waiting for " + what)


def arguments(doc):
    """QUORVEL ICON [SCREENSHOT_DIR] from the command line, or the exit code to leave with:
    2 for a wrong call, 77 (skipped) when a tool is missing."""
    if len(sys.argv) < 3:
        print(doc)
        return 2
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing) + " (scripts/setup --tests installs them)")
        return 77
    shots = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp(prefix="tidrex-shots-")
    os.makedirs(shots, exist_ok=True)
    return os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), shots


def stop(proc):
    """Ends one process of ours: SIGTERM, then SIGKILL after 5 s."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def run_checks(doc, *checks):
    """Runs each check(binary, icon, shots) in turn; the exit code: 0 when all passed, 1 at
    the first failure, or what arguments() answered."""
    args = arguments(doc)
    if isinstance(args, int):
        return args
    try:
        for check in checks:
            check(*args)
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    print("passed")
    return 0


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure("unexpected image format")
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos:pos + w * h * 3]


class XSession:
    def __init__(self, workdir):
        self.workdir = workdir
        self.procs = []
        self.env = None
        self.tray = None  # the tray host's process

    def start_x(self, size="1024x768x24"):
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", size, "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as r:
            while not number.endswith(b"\n"):
                chunk = r.read(1)
                if not chunk:
                    raise Failure("Xvfb did not report its display")
                number += chunk
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY",
                                 "QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "QT_FONT_DPI",
                                 "SESSION_MANAGER")}
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def run(self, *cmd):
        return subprocess.run(list(cmd), env=self.env, capture_output=True, text=True, timeout=20)

    def program_env(self, home, **extra):
        """The program's environment: HOME and the XDG folders in the sandbox, no Temp."""
        env = dict(self.env)
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"), QT_QPA_PLATFORM="xcb")
        for k in ("TEMP", "Temp", "temp", "TMP"):
            env.pop(k, None)
        env.update(extra)
        return env

    def start_tray(self):
        """Starts trayer and returns its window once it is mapped; its process is self.tray."""
        # Now and then trayer comes up without ever mapping its window; a fresh one does.
        for attempt in range(3):
            tray = subprocess.Popen(
                ["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "160",
                 "--heighttype", "pixel", "--height", "32", "--SetDockType", "true", "--transparent", "false"],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(tray)
            self.tray = tray
            try:
                return wait_for("the tray host's window",
                                lambda: next((w for w in self.windows_of("trayer") if self.geometry(w)), None))
            except Failure:
                self.stop(tray)
                print("trayer attempt %d never mapped its window" % (attempt + 1))
        raise Failure("timed out waiting for the tray host's window, three times")

    def windows_of(self, klass, visible=True):
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--class", klass]
        return [int(w) for w in self.run(*args).stdout.split()]

    def geometry(self, window):
        """(x, y, width, height, map state, override redirect), or None for a window gone."""
        info = self.run("xwininfo", "-id", str(window)).stdout
        f = {}
        for line in info.splitlines():
            line = line.strip()
            for key in ("Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:",
                        "Map State:", "Override Redirect State:"):
                if line.startswith(key):
                    f[key] = line[len(key):].strip()
        if "Absolute upper-left X:" not in f:
            return None
        return (int(f["Absolute upper-left X:"]), int(f["Absolute upper-left Y:"]), int(f["Width:"]),
                int(f["Height:"]), f.get("Map State:"), f.get("Override Redirect State:"))

    def stop(self, proc):
        stop(proc)

    def close(self):
        for p in reversed(self.procs):
            self.stop(p)
