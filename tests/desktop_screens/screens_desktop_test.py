#!/usr/bin/env python3
"""The configuration screens on a real X display: Xvfb, the trayer tray host, xdotool.

1. A first start (no Clean.ini) in a sandbox: the backdrop and the main start page appear.
   A scripted user clicks "Options", ticks "Temp Folder", opens "Clean Now", clicks
   "Are You Sure?" and answers the two message boxes with Return. The sandbox's temporary
   folder must then be empty (the folder itself kept), every screen closed, the program
   still running and its tray icon still docked.
2. Screenshots of the backdrop with each page, at 800 x 600 and at 1024 x 768, reached
   through the pages' own menu bars, over a fixture browser cache with long URLs and a
   fixture cookie store. They are written to SCREENSHOT_DIR for a person to look at.

Everything it starts it stops by PID. Exit code 77 means a tool is missing (skipped).

usage: screens_desktop_test.py QUORVEL ICON [SCREENSHOT_DIR]
"""
import hashlib
import os
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from x_session import Failure, XSession, arguments, read_ppm, wait_for  # noqa: E402

CAPTIONS = {
    "Form10": "Varnok Tidrex",
    "Form1": "  Varnok Tidrex----Main Start Page",
    "Form2": "  Varnok Tidrex----Choose The Folders You Want To Clean",
    "frmPath": "  Varnok Tidrex----Paths To Be Cleaned",
    "frmUser": "Varnok Tidrex-----User Designated Folder To Clean",
    "Form3a": "Varnok Tidrex----Save Your Cookies Here",
    "Form3c": "Varnok Tidrex----Save Your Cookies Here",
    "Form4": "  Varnok Tidrex----Close Will  Take You Back To Main Start Page",
    "Form4a": "  Varnok Tidrex----Close Will  Take You Back To Options Page",
    "Form4b": "  Varnok Tidrex----Close Will  Take You Back",
    "Form4c": "  Varnok Tidrex----Close Will  Take You Back To Cookies Page",
    "Form4d": "  Varnok Tidrex----Close Will  Take You Back To Cookies Page",
    "Form5": "  Varnok Tidrex----About File",
}

MENUS = {
    "Form1": ["View Paths", "Options", "View Cookies", "User Folder", "Help", "About", "Close"],
    "Form2": ["View Paths", "View Cookies", "User Folder", "Clean Now", "Help", "About", "Close"],
    "frmPath": ["Options", "View Cookies", "User Folder", "About", "Close"],
    "frmUser": ["View Paths", "Options", "View Cookies", "Save", "Help", "About", "Close"],
    "Form3a": ["View Paths", "Options", "User Folder", "Save", "Cookies", "Help", "About", "Close"],
    "Form3c": ["View Paths", "Options", "User Folder", "Delete", "Internet", "Help", "About", "Close"],
    "Form4": ["Close", "About"],
    "Form4a": ["Close", "About"],
    "Form4b": ["Close", "About"],
    "Form4c": ["Close", "About", "Cookies"],
    "Form4d": ["Close", "About"],
    "Form5": ["View Paths", "Options", "View Cookies", "User Folder", "Close"],
}

TWIPS_PER_PIXEL = 15  # Xvfb: 96 DPI


class Session(XSession):
    def __init__(self, workdir):
        super().__init__(workdir)
        self.prog = None
        self.tray_geometry = None

    def start_tray(self):
        self.tray_geometry = self.geometry(super().start_tray())

    def start_program(self, binary, icon, sandbox, temp):
        app, home = os.path.join(sandbox, "app"), os.path.join(sandbox, "home")
        os.makedirs(app, exist_ok=True)
        shutil.copy2(binary, os.path.join(app, "Quorvel"))
        shutil.copy2(icon, os.path.join(app, "tidrex.svg"))
        env = self.program_env(home, Temp=temp)
        self.prog = subprocess.Popen([os.path.join(app, "Quorvel")], env=env, cwd=sandbox,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(self.prog)

    def windows(self, klass="Quorvel"):
        return self.windows_of(klass)

    def name(self, window):
        return self.run("xdotool", "getwindowname", str(window)).stdout.rstrip("\n")

    def shown(self):
        """Visible windows of the program by name, tray icon and popups left out."""
        result = {}
        for w in self.windows():
            g = self.geometry(w)
            if g is None or g[4] != "IsViewable" or g[5] == "yes" or self.is_icon(g):
                continue
            result.setdefault(self.name(w), []).append(w)
        return result

    def is_icon(self, g):
        tx, ty, tw, th = self.tray_geometry[:4]
        return tx <= g[0] < tx + tw and ty <= g[1] < ty + th and g[2] <= 64

    def icon_docked(self):
        return any(g is not None and self.is_icon(g) for g in map(self.geometry, self.windows()))

    def window_of(self, caption, timeout=10.0):
        return wait_for("the window \"%s\"" % caption, lambda: (self.shown().get(caption) or [None])[0],
                        timeout)

    def click(self, x, y):
        self.run("xdotool", "mousemove", str(x), str(y))
        time.sleep(0.05)
        self.run("xdotool", "click", "1")

    def menu_items(self, window):
        """The menu bar's items as (first column, last column, bar height), read off the
        window's picture: bands of text columns separated by wider gaps than a blank."""
        ppm = os.path.join(self.workdir, "bar.ppm")
        self.run("import", "-window", str(window), "-depth", "8", ppm)
        w, h, px = read_ppm(ppm)

        def at(x, y):
            i = (y * w + x) * 3
            return px[i], px[i + 1], px[i + 2]

        bar_colour = at(w - 3, 2)
        bar_h = 0
        while bar_h < h and at(w - 3, bar_h) == bar_colour:
            bar_h += 1
        columns = [any(sum(at(x, y)) < 3 * 110 for y in range(1, max(2, bar_h - 1))) for x in range(w)]
        items, start, gap = [], None, 0
        for x, dark in enumerate(columns + [False] * 9):
            if dark:
                if start is None:
                    start = x
                gap, last = 0, x
            elif start is not None:
                gap += 1
                if gap >= 8:
                    items.append((start, last))
                    start = None
        return items, bar_h

    def click_menu(self, form, caption):
        window = self.window_of(CAPTIONS[form])
        expected = MENUS[form]
        items, bar_h = wait_for("%s's menu bar" % form,
                                lambda: (lambda r: r if len(r[0]) == len(expected) else None)(self.menu_items(window)),
                                timeout=5)
        x0, y0 = self.geometry(window)[:2]
        first, last = items[expected.index(caption)]
        self.click(x0 + (first + last) // 2, y0 + bar_h // 2)

    def popup(self, timeout=5.0):
        def find():
            for w in self.windows():
                g = self.geometry(w)
                if g is not None and g[4] == "IsViewable" and g[5] == "yes" and not self.is_icon(g):
                    return (w,) + g
            return None
        return wait_for("a popup menu", find, timeout)

    def answer_message(self, title):
        box = self.window_of(title)
        time.sleep(0.3)
        self.run("xdotool", "key", "Return")
        wait_for("the message box \"%s\" to close" % title, lambda: box not in sum(self.shown().values(), []))

    def screenshot(self, path):
        time.sleep(0.4)  # painted
        self.run("import", "-window", "root", path)


def make_sandbox(root):
    home = os.path.join(root, "home")
    for d in ("app", "home/.config", "home/.cache", "home/.local/share", "temp/sub", "home/Documents/old"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    for rel in ("temp/a.tmp", "temp/sub/b.tmp", "temp/~setup.log", "home/Documents/old/x.txt",
                "home/Documents/notes.txt", "home/Documents/report.odt"):
        with open(os.path.join(root, rel), "w") as f:
            f.write("x")
    return home, os.path.join(root, "temp")


def chromium_entry(cache, url):
    key = ("1/0/" + url).encode()
    name = "%016x_0" % int.from_bytes(hashlib.sha1(key).digest()[:8], "little")
    with open(os.path.join(cache, name), "wb") as f:
        f.write(struct.pack("<QIIII", 0xfcfb6d1ba7725c30, 5, len(key), 0, 0) + key + b"body")


def write_fixture_browsers(home):
    os.makedirs(os.path.join(home, ".config/chromium/Default"), exist_ok=True)
    cache = os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data")
    os.makedirs(cache, exist_ok=True)
    urls = ["https://www.example.com/", "https://www.example.com/static/style.css",
            "https://news.example.org/2026/12/07/a-rather-long-article-title-that-goes-on-and-on"
            "-and-on-until-it-no-longer-fits-anywhere.html?utm_source=feed&utm_medium=rss&ref=home",
            "https://cdn.example.net/assets/js/app.bundle.min.js?v=8f3a9c0d1e2b4f5a6b7c8d9e0f1a2b3c"]
    # Enough entries for a five-digit count.
    urls += ["https://shop.example.com/catalogue/item/%d/picture.jpg" % i for i in range(10040)]
    for u in urls:
        chromium_entry(cache, u)
    db = sqlite3.connect(os.path.join(home, ".config/chromium/Default/Cookies"))
    db.execute("CREATE TABLE cookies(creation_utc INTEGER NOT NULL DEFAULT 0, host_key TEXT NOT NULL,"
               " top_frame_site_key TEXT NOT NULL DEFAULT '', name TEXT NOT NULL, value TEXT NOT NULL"
               " DEFAULT '', path TEXT NOT NULL DEFAULT '/')")
    for host in (".example.com", "shop.example.com", ".example.org", "news.example.net", "localhost",
                 ".a-very-long-registrable-domain-name-for-testing-layouts.example"):
        db.execute("INSERT INTO cookies(host_key, name) VALUES(?, 'c')", (host,))
    db.commit()
    db.close()
    return urls


def scripted_clean(binary, icon, shots):
    """First start, then Options, Temp Folder, Clean Now, Are You Sure?, the answers."""
    work = tempfile.mkdtemp(prefix="tidrex-screens-")
    s = Session(work)
    try:
        sandbox = os.path.join(work, "sandbox")
        home, temp = make_sandbox(sandbox)
        s.start_x("1024x768x24")
        s.start_tray()
        s.start_program(binary, icon, sandbox, temp)
        ini = os.path.join(sandbox, "app", "Clean.ini")

        s.window_of(CAPTIONS["Form10"])
        s.window_of(CAPTIONS["Form1"])
        wait_for("the tray icon", s.icon_docked)
        s.screenshot(os.path.join(shots, "scripted-1-first-start.png"))

        s.click_menu("Form1", "Options")
        options = s.window_of(CAPTIONS["Form2"])
        wait_for("the start page to go", lambda: CAPTIONS["Form1"] not in s.shown(), 3)
        # "Temp Folder" (Check2) sits at 4080, 120 twips of the page, scaled by 1.6 here.
        x0, y0, w, h = s.geometry(options)[:4]
        _, bar_h = s.menu_items(options)
        s.click(x0 + round(4080 * 1.6 / TWIPS_PER_PIXEL) + 8, y0 + bar_h + round((120 + 255 / 2) * 1.6 / TWIPS_PER_PIXEL))
        wait_for("Temp=Yes in Clean.ini", lambda: "Temp=Yes" in open(ini).read(), 5)
        s.screenshot(os.path.join(shots, "scripted-2-temp-ticked.png"))

        s.click_menu("Form2", "Clean Now")
        popup = s.popup()
        s.screenshot(os.path.join(shots, "scripted-3-are-you-sure.png"))
        s.click(popup[1] + popup[3] // 2, popup[2] + popup[4] // 2)

        # No keep list saved yet: the question first, then the report.
        s.window_of("For Your Information.....")
        s.screenshot(os.path.join(shots, "scripted-4-question.png"))
        s.answer_message("For Your Information.....")
        s.window_of("Varnok Tidrex.....", timeout=15)
        s.screenshot(os.path.join(shots, "scripted-5-all-cleaned.png"))
        s.answer_message("Varnok Tidrex.....")

        wait_for("every screen to close", lambda: not s.shown(), 5)
        left = os.listdir(temp)
        if left:
            raise Failure("the temporary folder still holds %s" % left)
        time.sleep(0.5)
        if s.prog.poll() is not None:
            raise Failure("the program ended after the clean (code %s)" % s.prog.returncode)
        if not s.icon_docked():
            raise Failure("the tray icon is gone")
        if s.shown():
            raise Failure("windows came back: %s" % list(s.shown()))
        s.screenshot(os.path.join(shots, "scripted-6-tray-only.png"))
        print("scripted clean: temporary folder emptied, screens closed, tray icon docked")
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)


# The user's way through every page; a screenshot wherever a page name stands alone.
TOUR = [
    "Form1", ("Form1", "Help"), "Form4", ("Form4", "Close"),
    ("Form1", "View Paths"), "frmPath", ("frmPath", "User Folder"), "frmUser",
    ("frmUser", "Help"), "Form4b", ("Form4b", "Close"), ("frmUser", "Options"), "Form2",
    ("Form2", "Help"), "Form4a", ("Form4a", "Close"), ("Form2", "View Cookies"), "Form3a",
    ("Form3a", "Help"), "Form4c", ("Form4c", "Cookies"), "Form3c", ("Form3c", "Help"), "Form4d",
    ("Form4d", "About"), "Form5", ("Form5", "Close"),
]


def tour(binary, icon, shots, size):
    work = tempfile.mkdtemp(prefix="tidrex-screens-")
    s = Session(work)
    try:
        sandbox = os.path.join(work, "sandbox")
        home, temp = make_sandbox(sandbox)
        urls = write_fixture_browsers(home)
        with open(os.path.join(sandbox, "app", "Clean.ini"), "w") as f:
            f.write("[User]\nsFile0=%s\n[Internet]\nsFile0=%s\nsFile1=%s\n"
                    % (os.path.join(home, "Documents"), urls[2], urls[0]))
        s.start_x(size + "x24")
        s.start_tray()
        s.start_program(binary, icon, sandbox, temp)
        s.window_of(CAPTIONS["Form10"])
        taken = []
        for step in TOUR:
            if isinstance(step, tuple):
                s.click_menu(*step)
                continue
            s.window_of(CAPTIONS[step])
            time.sleep(0.6)  # the page left behind is gone, the status line written
            path = os.path.join(shots, "%s-%s.png" % (size, step))
            s.screenshot(path)
            taken.append(path)
        wait_for("every screen to close", lambda: not s.shown(), 5)
        if s.prog.poll() is not None or not s.icon_docked():
            raise Failure("the program or its icon went away after the About page's Close")
        print("%s: %d screenshots in %s" % (size, len(taken), shots))
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    args = arguments(__doc__)
    if isinstance(args, int):
        return args
    binary, icon, shots = args
    try:
        scripted_clean(binary, icon, shots)
        for size in ("800x600", "1024x768"):
            tour(binary, icon, shots, size)
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    print("passed; screenshots in %s" % shots)
    return 0


if __name__ == "__main__":
    sys.exit(main())
