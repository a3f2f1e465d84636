#!/usr/bin/env python3
"""Quorvel under a real window manager: Xvfb with openbox and the trayer tray host.

1. A configured Quorvel (switches set: nothing opens) runs with the tray. A second start
   must end within 5 s with status 0, and the first then shows the backdrop and the main
   start page. A click on the backdrop must leave the page above it in openbox's stacking
   order (_NET_CLIENT_LIST_STACKING).
2. From there, Options, "Clean Now", "Are You Sure?" over a temporary folder of many files:
   screenshots taken while the run blocks the program must show the status line changing
   (first "Cleaning Files Now !", then "All Finished Cleaning Files !") before the message
   box comes up.
3. No tray host at all: the same hand-over.

Everything it starts it stops by PID. Exit code 77 means a tool is missing (skipped).

usage: session_desktop_test.py QUORVEL ICON [SCREENSHOT_DIR]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "desktop_screens"))
from x_session import Failure, read_ppm, wait_for  # noqa: E402
import x_session  # noqa: E402
from screens_desktop_test import CAPTIONS, Session as ScreensSession  # noqa: E402

CONFIGURED = ("[Delete]\nUser=No\nTemp=Yes\nTemporary Internet Files=No\n"
              "[Internet]\nsFile0=https://kept.example/\n")


class Session(ScreensSession):
    def start_wm(self):
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(wm)
        wait_for("openbox", lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in
                 self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout)

    def start_configured(self, binary, icon, sandbox, temp):
        app = os.path.join(sandbox, "app")
        os.makedirs(app, exist_ok=True)
        with open(os.path.join(app, "Clean.ini"), "w") as f:
            f.write(CONFIGURED)
        self.start_program(binary, icon, sandbox, temp)
        runtime = self.prog_env_runtime
        return os.path.join(app, "Quorvel"), self.program_env(os.path.join(sandbox, "home"), Temp=temp,
                                                              XDG_RUNTIME_DIR=runtime)

    def program_env(self, home, **extra):
        extra.setdefault("XDG_RUNTIME_DIR", self.prog_env_runtime)
        return super().program_env(home, **extra)

    def stacking(self):
        out = self.run("xprop", "-root", "_NET_CLIENT_LIST_STACKING").stdout
        return [int(w, 16) for w in out.split("#", 1)[1].replace(",", " ").split()] if "#" in out else []


def status_band(path, screen_h):
    """The columns of white text in the status line's band: (first, last) or None."""
    ppm = path + ".ppm"
    subprocess.run(["convert", path, "-depth", "8", ppm], check=True)
    w, h, px = read_ppm(ppm)
    os.remove(ppm)
    top = screen_h - 1800 // 15
    first = last = None
    for y in range(top, min(h, top + 1300 // 15), 2):
        for x in range(0, w, 2):
            i = (y * w + x) * 3
            if px[i] > 235 and px[i + 1] > 235 and px[i + 2] > 235:
                first = x if first is None or x < first else first
                last = x if last is None or x > last else last
    return None if first is None else (first, last)


def hand_over(s, binary_path, env, label, shots):
    t0 = time.monotonic()
    second = subprocess.run([binary_path], env=env, capture_output=True, text=True, timeout=20)
    took = time.monotonic() - t0
    if second.returncode != 0 or took > 5:
        raise Failure("%s: the second start ended with %d after %.1f s: %s"
                      % (label, second.returncode, took, second.stderr))
    backdrop = s.window_of(CAPTIONS["Form10"])
    page = s.window_of(CAPTIONS["Form1"])
    if s.prog.poll() is not None:
        raise Failure("%s: the first instance ended" % label)
    print("%s: second start ended with 0 after %.2f s; the first shows the backdrop and the main page"
          % (label, took))
    return backdrop, page


def with_tray(binary, icon, shots):
    work = tempfile.mkdtemp(prefix="tidrex-session-")
    # Not in /dev/shm, which a clean refuses to empty as part of the system tree.
    files = tempfile.mkdtemp(prefix="tidrex-session-temp-")
    s = Session(work)
    try:
        sandbox = os.path.join(work, "sandbox")
        temp = os.path.join(files, "temp")
        os.makedirs(temp)
        s.prog_env_runtime = os.path.join(work, "run")
        os.makedirs(s.prog_env_runtime, mode=0o700)
        s.start_x("1024x768x24")
        s.start_wm()
        s.start_tray()
        path, env = s.start_configured(binary, icon, sandbox, temp)
        wait_for("the tray icon", s.icon_docked)
        if s.shown():
            raise Failure("a configured start opened %s" % list(s.shown()))
        backdrop, page = hand_over(s, path, env, "openbox with trayer", shots)

        # A click on the backdrop, away from the page: the page stays above it.
        s.click(30, 700)
        time.sleep(0.5)
        order = s.stacking()
        if backdrop not in order or page not in order or order.index(page) < order.index(backdrop):
            raise Failure("after a click on the backdrop the stacking is %s (backdrop %d, page %d)"
                          % (order, backdrop, page))
        shot = os.path.join(shots, "openbox-page-over-backdrop.png")
        s.screenshot(shot)
        print("click on the backdrop: the page stays above it; screenshot %s" % shot)

        # Options, then a clean of many files: the status line while the run blocks.
        # Enough files that emptying the folder takes a while, even on a fast disk.
        for d in range(100):
            sub = os.path.join(temp, "d%03d" % d)
            os.mkdir(sub)
            for i in range(1000):
                os.close(os.open(os.path.join(sub, "f%04d.tmp" % i), os.O_CREAT | os.O_WRONLY, 0o644))
        s.click_menu("Form1", "Options")
        s.window_of(CAPTIONS["Form2"])
        time.sleep(0.6)
        before_shot = os.path.join(shots, "openbox-run-0-before.png")
        s.screenshot(before_shot)
        before = status_band(before_shot, 768)
        s.click_menu("Form2", "Clean Now")
        popup = s.popup()
        # Screenshots one after another from the click on, in a thread of their own, until the
        # run's message box is up.
        during, done = [], threading.Event()

        def photograph():
            while not done.is_set() and len(during) < 200:
                p = os.path.join(shots, "openbox-run-%d.png" % (len(during) + 1))
                s.run("import", "-window", "root", p)
                during.append(p)
        camera = threading.Thread(target=photograph)
        s.click(popup[1] + popup[3] // 2, popup[2] + popup[4] // 2)
        camera.start()
        try:
            s.window_of("Varnok Tidrex.....", timeout=30)
        finally:
            done.set()
            camera.join()
        bands = [status_band(p, 768) for p in during]
        print("status line before the run %s; while it ran %s (%d screenshots)" % (before, bands, len(during)))
        # The last picture holds the finish text; one before it must hold the start text.
        if not bands or bands[-1] in (None, before):
            raise Failure("\"All Finished Cleaning Files !\" was not on screen before the message box")
        if not [b for b in bands[:-1] if b not in (None, before, bands[-1])]:
            raise Failure("\"Cleaning Files Now !\" was not on screen while the folder was emptied: %s" % bands)
        s.answer_message("Varnok Tidrex.....")
        wait_for("every screen to close", lambda: not s.shown(), 5)
        if os.listdir(temp):
            raise Failure("the temporary folder was not emptied")
        s.stop(s.prog)
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(files, ignore_errors=True)


def without_tray(binary, icon, shots):
    work = tempfile.mkdtemp(prefix="tidrex-session-")
    s = Session(work)
    try:
        sandbox = os.path.join(work, "sandbox")
        temp = os.path.join(sandbox, "temp")
        os.makedirs(temp)
        s.prog_env_runtime = os.path.join(work, "run")
        os.makedirs(s.prog_env_runtime, mode=0o700)
        s.start_x("1024x768x24")
        s.start_wm()
        s.tray_geometry = (0, 0, 0, 0)
        path, env = s.start_configured(binary, icon, sandbox, temp)
        time.sleep(1)
        if s.prog.poll() is not None or s.shown():
            raise Failure("without a tray the configured start ended or opened windows")
        hand_over(s, path, env, "openbox without any tray", shots)
        s.stop(s.prog)
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    x_session.TOOLS.extend(["openbox", "xprop", "convert"])
    return x_session.run_checks(__doc__, with_tray, without_tray)


if __name__ == "__main__":
    sys.exit(main())
