#!/usr/bin/env python3
"""Quorvel on a real X display: Xvfb with the trayer tray host.

Starts its own Xvfb on a free display, a tray host and Quorvel in a sandbox (its own
application folder holding a copy of the binary and a Clean.ini whose switches are set, so
no first-run screens open; HOME and the XDG folders inside the sandbox). Checks that the
icon docks, that a click on it opens the popup menu with its nine entries (five items and
four separators, read off the menu's own window), and that "Exit" ends the process. A
second run starts the tray host only after Quorvel: the icon must dock all the same.
Everything it starts it stops by PID. Exit code 77 means a tool is missing (skipped).

usage: tray_desktop_test.py QUORVEL ICON [SCREENSHOT_DIR]
"""
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


class Session:
    def __init__(self, workdir):
        self.workdir = workdir
        self.procs = []
        self.env = None

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
        env = {k: v for k, v in os.environ.items()
               if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY",
                            "QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "QT_FONT_DPI",
                            "SESSION_MANAGER")}
        env["DISPLAY"] = ":" + number.decode().strip()
        self.env = env

    def run(self, *cmd):
        return subprocess.run(list(cmd), env=self.env, capture_output=True, text=True, timeout=20)

    def start_tray(self):
        # Now and then trayer comes up without ever mapping its window; a fresh one does.
        for attempt in range(3):
            tray = subprocess.Popen(
                ["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "160",
                 "--heighttype", "pixel", "--height", "32", "--SetDockType", "true", "--transparent", "false"],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(tray)
            try:
                wait_for("the tray host's window", lambda: self.windows_of("trayer", visible=True))
                return tray
            except Failure:
                tray.kill()
                tray.wait()
                print("trayer attempt %d never mapped its window" % (attempt + 1))
        raise Failure("timed out waiting for the tray host's window, three times")

    def start_program(self, binary, icon, sandbox):
        app = os.path.join(sandbox, "app")
        home = os.path.join(sandbox, "home")
        for d in (app, home, os.path.join(home, ".config"), os.path.join(home, ".cache"),
                  os.path.join(home, ".local", "share")):
            os.makedirs(d, exist_ok=True)
        shutil.copy2(binary, os.path.join(app, "Quorvel"))
        shutil.copy2(icon, os.path.join(app, "tidrex.svg"))
        with open(os.path.join(app, "Clean.ini"), "w") as f:
            f.write("[Delete]\nUser=No\nTemp=No\nTemporary Internet Files=No\n")
        env = dict(self.env)
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"), QT_QPA_PLATFORM="xcb")
        for k in ("TEMP", "Temp", "temp", "TMP"):
            env.pop(k, None)
        prog = subprocess.Popen([os.path.join(app, "Quorvel")], env=env, cwd=sandbox,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.procs.append(prog)
        return prog

    def windows_of(self, klass, visible=True):
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--class", klass]
        out = self.run(*args).stdout.split()
        return [int(w) for w in out]

    def geometry(self, window):
        info = self.run("xwininfo", "-id", str(window)).stdout
        fields = {}
        for line in info.splitlines():
            line = line.strip()
            for key in ("Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:",
                        "Map State:", "Override Redirect State:"):
                if line.startswith(key):
                    fields[key] = line[len(key):].strip()
        return (int(fields["Absolute upper-left X:"]), int(fields["Absolute upper-left Y:"]),
                int(fields["Width:"]), int(fields["Height:"]), fields.get("Map State:"),
                fields.get("Override Redirect State:"))

    def stop(self, proc):
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()

    def close(self):
        for p in reversed(self.procs):
            self.stop(p)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = []
    pos = 0
    while len(parts) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        parts.append(data[pos:end])
        pos = end
    pos += 1
    if parts[0] != b"P6" or parts[3] != b"255":
        raise Failure("unexpected image format")
    w, h = int(parts[1]), int(parts[2])
    pixels = data[pos:pos + w * h * 3]
    return w, h, pixels


def menu_entries(w, h, pixels):
    """Reads the entries off the menu's picture, top to bottom: "item" for a band of rows
    holding text, "separator" for a thin line running across most of the width."""
    def px(x, y):
        i = (y * w + x) * 3
        return pixels[i], pixels[i + 1], pixels[i + 2]

    margin = 3
    bg = px(w // 2, margin)
    kinds = []
    for y in range(margin, h - margin):
        row = [px(x, y) for x in range(margin, w - margin)]
        differ = [abs(p[0] - bg[0]) + abs(p[1] - bg[1]) + abs(p[2] - bg[2]) > 24 for p in row]
        count = sum(differ)
        if count == 0:
            kinds.append(None)
        elif count > 0.6 * len(row):
            kinds.append("separator")
        else:
            kinds.append("item")
    entries = []  # (kind, first row, last row)
    for y, k in enumerate(kinds, start=margin):
        if k is None:
            continue
        if entries and entries[-1][0] == k and entries[-1][2] >= y - 1:
            entries[-1] = (k, entries[-1][1], y)
        elif entries and entries[-1][0] == "item" and k == "item" and entries[-1][2] >= y - 3:
            entries[-1] = (k, entries[-1][1], y)  # gaps inside letters
        else:
            entries.append((k, y, y))
    return entries


def one_run(binary, icon, shots, tray_first, label):
    work = tempfile.mkdtemp(prefix="tidrex-desktop-")
    s = Session(work)
    try:
        s.start_x()
        if tray_first:
            tray = s.start_tray()
            prog = s.start_program(binary, icon, os.path.join(work, "sandbox"))
        else:
            prog = s.start_program(binary, icon, os.path.join(work, "sandbox"))
            time.sleep(0.5)  # the program is up, with no tray anywhere
            if prog.poll() is not None:
                raise Failure("Quorvel ended without a tray: " + prog.stderr.read().decode())
            tray = s.start_tray()
        tray_win = s.windows_of("trayer")[0]
        tx, ty, tw, th, _, _ = s.geometry(tray_win)

        def docked():
            for w in s.windows_of("Quorvel"):
                x, y, gw, gh, state, _ = s.geometry(w)
                if state == "IsViewable" and tx <= x < tx + tw and ty <= y < ty + th and gw > 0:
                    return (w, x, y, gw, gh)
            return None

        icon_win = wait_for("the icon to dock in the tray", docked)
        # The host may still move the icon: wait until it stays put.
        last, stable_since = None, time.monotonic()
        while time.monotonic() - stable_since < 0.3:
            now = docked()
            if now != last:
                last, stable_since = now, time.monotonic()
            time.sleep(0.03)
        icon_win, ix, iy, iw, ih = last
        visible_before = set(s.windows_of("Quorvel"))
        if visible_before != {icon_win}:
            raise Failure("windows other than the icon are shown: %s" % sorted(visible_before))

        s.run("xdotool", "mousemove", str(ix + iw // 2), str(iy + ih // 2), "click", "1")

        def menu_shown():
            for w in s.windows_of("Quorvel"):
                if w == icon_win:
                    continue
                g = s.geometry(w)
                if g[4] == "IsViewable" and g[5] == "yes" and g[3] > 40:
                    return (w,) + g
            return None

        menu = wait_for("the popup menu", menu_shown)
        time.sleep(0.3)  # painted
        mw, mx, my, mwidth, mheight = menu[0], menu[1], menu[2], menu[3], menu[4]
        shot = os.path.join(shots, "desktop-%s-menu.png" % label)
        s.run("import", "-window", "root", shot)
        ppm = os.path.join(work, "menu.ppm")
        s.run("import", "-window", str(mw), "-depth", "8", ppm)
        entries = menu_entries(*read_ppm(ppm))
        kinds = [e[0] for e in entries]
        expected = ["item", "separator"] * 4 + ["item"]
        if kinds != expected:
            raise Failure("menu entries read %s, expected %s" % (kinds, expected))
        print("%s: icon docked at %d,%d %dx%d; menu %dx%d with %d entries; screenshot %s"
              % (label, ix, iy, iw, ih, mwidth, mheight, len(entries), shot))

        # "Exit" is the third item.
        exit_entry = [e for e in entries if e[0] == "item"][2]
        ex, ey = mx + mwidth // 2, my + (exit_entry[1] + exit_entry[2]) // 2
        s.run("xdotool", "mousemove", str(ex), str(ey))
        time.sleep(0.1)
        s.run("xdotool", "click", "1")
        try:
            rc = prog.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("Quorvel still runs after Exit")
        if rc != 0:
            raise Failure("Quorvel ended with %d: %s" % (rc, prog.stderr.read().decode()))
        if not os.path.exists(os.path.join(work, "sandbox", "home", ".config", "autostart",
                                           "Tidrex.desktop")):
            raise Failure("the autostart entry was not written")
        s.stop(tray)
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing) + " (scripts/setup --tests installs them)")
        return 77
    binary, icon = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    shots = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp(prefix="tidrex-shots-")
    os.makedirs(shots, exist_ok=True)
    try:
        one_run(binary, icon, shots, tray_first=True, label="tray-first")
        one_run(binary, icon, shots, tray_first=False, label="tray-late")
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
