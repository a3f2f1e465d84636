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
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from x_session import Failure, XSession, read_ppm, run_checks, wait_for  # noqa: E402


class Session(XSession):
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
        env = self.program_env(home)
        prog = subprocess.Popen([os.path.join(app, "Quorvel")], env=env, cwd=sandbox,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.procs.append(prog)
        return prog


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
            tray_win = s.start_tray()
            prog = s.start_program(binary, icon, os.path.join(work, "sandbox"))
        else:
            prog = s.start_program(binary, icon, os.path.join(work, "sandbox"))
            time.sleep(0.5)  # the program is up, with no tray anywhere
            if prog.poll() is not None:
                raise Failure("Quorvel ended without a tray: " + prog.stderr.read().decode())
            tray_win = s.start_tray()
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
        s.stop(s.tray)
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    return run_checks(__doc__, lambda *a: one_run(*a, tray_first=True, label="tray-first"),
                      lambda *a: one_run(*a, tray_first=False, label="tray-late"))


if __name__ == "__main__":
    sys.exit(main())
