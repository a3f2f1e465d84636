#!/usr/bin/env python3
"""Quorvel's StatusNotifierItem in real hosts, each on a private session bus.

xfce4-panel under Xvfb (its systray plugin is a StatusNotifierWatcher and host, and an
XEmbed tray too): the item registers, its DBusMenu layout holds the five entries in the
popup menu's order with the separators, a click on the icon shows the panel's own drawing of
that menu (screenshot), the host's "clicked" on "About" opens the About page, a restarted
panel shows the item again, and "Exit" ends the program.

With sway headless and waybar (run as an unprivileged user, since sway refuses root), the
program starts 3 s before the bar: the item must register within 10 s of the bar's start and
export the same menu, and "Change Configuration" from the host must show the page floating
above the tiled backdrop (screenshots through grim). Skipped when sway or waybar is missing, or
when there is no unprivileged user to run them as.

Everything it starts it stops by PID. Exit code 77 means a tool is missing (skipped).

usage: sni_desktop_test.py QUORVEL ICON [SCREENSHOT_DIR]
"""
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import x_session  # noqa: E402
from x_session import Failure, XSession, read_ppm, stop, wait_for  # noqa: E402

MENU = ["Change Configuration", "-", "Clean Now", "-", "Exit", "-", "Remove All Paths", "-", "About"]
CONFIGURED = "[Delete]\nUser=No\nTemp=No\nTemporary Internet Files=No\n"

PANEL_XML = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
"""


def start_bus(env, procs, user=None):
    """A private session bus; its address goes into env."""
    cmd = ["dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=1"]
    bus = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           **(user or {}))
    procs.append(bus)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
    if not env["DBUS_SESSION_BUS_ADDRESS"]:
        raise Failure("dbus-daemon did not start")


# A session bus takes only its own user's connections: a bus of the unprivileged user is
# asked as that user (AS_USER holds the Popen arguments).
AS_USER = {}


def gdbus(env, dest, path, method, *args):
    r = subprocess.run(["gdbus", "call", "--session", "--dest", dest, "--object-path", path, "--method", method,
                        "--"] + list(args), env=env, capture_output=True, text=True, timeout=10, **AS_USER)
    return r.stdout if r.returncode == 0 else None


def registered_items(env):
    out = gdbus(env, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher",
                "RegisteredStatusNotifierItems") or ""
    return re.findall(r"'([^']+)'", out)


def check_menu(env, item, label):
    """The item's properties and layout as a host reads them; the ids of the entries."""
    service = item.split("/", 1)[0]
    get = lambda name: gdbus(env, service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                             "org.kde.StatusNotifierItem", name) or ""
    if "true" not in get("ItemIsMenu") or "'/MenuBar'" not in get("Menu"):
        raise Failure("%s: ItemIsMenu %s, Menu %s" % (label, get("ItemIsMenu"), get("Menu")))
    layout = gdbus(env, service, "/MenuBar", "com.canonical.dbusmenu.GetLayout", "0", "-1", "[]") or ""
    entries = re.findall(r"<\((\d+), \{([^}]*)\}", layout)
    shown, ids = [], {}
    for ident, props in entries:
        if "'separator'" in props:
            shown.append("-")
        else:
            m = re.search(r"'label': <'([^']*)'>", props)
            shown.append(m.group(1) if m else "?")
            ids[shown[-1]] = int(ident)
    if shown != MENU:
        raise Failure("%s: the exported menu reads %s" % (label, shown))
    print("%s: item %s exports %s" % (label, item, shown))
    return service, ids


def make_app(binary, icon, root, owner=None):
    app, home = os.path.join(root, "app"), os.path.join(root, "home")
    for d in (app, os.path.join(home, ".config"), os.path.join(home, ".cache"), os.path.join(home, ".local", "share")):
        os.makedirs(d, exist_ok=True)
    shutil.copy2(binary, os.path.join(app, "Quorvel"))
    shutil.copy2(icon, os.path.join(app, "tidrex.svg"))
    with open(os.path.join(app, "Clean.ini"), "w") as f:
        f.write(CONFIGURED)
    return os.path.join(app, "Quorvel"), home


def purple_spot(path, y_max):
    """Where the icon's pink sits in the top rows of a screenshot."""
    ppm = path + ".ppm"
    subprocess.run(["convert", path, "-depth", "8", ppm], check=True)
    w, h, px = read_ppm(ppm)
    os.remove(ppm)
    hits = [(x, y) for y in range(0, y_max) for x in range(w)
            if px[(y * w + x) * 3] > 170 and px[(y * w + x) * 3 + 2] > 170 and px[(y * w + x) * 3 + 1] < 120]
    if not hits:
        return None
    return sum(x for x, _ in hits) // len(hits), sum(y for _, y in hits) // len(hits)


def xfce_panel(binary, icon, shots):
    work = tempfile.mkdtemp(prefix="tidrex-sni-")
    s = XSession(work)
    try:
        s.start_x("1024x768x24")
        path, home = make_app(binary, icon, os.path.join(work, "sandbox"))
        env = s.program_env(home)
        runtime = os.path.join(work, "run")
        os.makedirs(runtime, mode=0o700)
        env["XDG_RUNTIME_DIR"] = runtime
        conf = os.path.join(home, ".config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(conf)
        with open(os.path.join(conf, "xfce4-panel.xml"), "w") as f:
            f.write(PANEL_XML)
        start_bus(env, s.procs)  # xfconfd comes up on it, with this environment
        panel = subprocess.Popen(["xfce4-panel", "--disable-wm-check"], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.procs.append(panel)
        wait_for("the panel's watcher", lambda: gdbus(env, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                                      "org.freedesktop.DBus.Properties.Get",
                                                      "org.kde.StatusNotifierWatcher",
                                                      "IsStatusNotifierHostRegistered") is not None, 20)
        prog = subprocess.Popen([path], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        s.procs.append(prog)
        item = wait_for("the item to register", lambda: (registered_items(env) or [None])[0], 10)
        service, ids = check_menu(env, item, "xfce4-panel")
        if s.windows_of("Quorvel"):
            raise Failure("an XEmbed icon or a window shows besides the item: %s" % s.windows_of("Quorvel"))

        # The panel draws the menu itself, at the icon.
        time.sleep(1)
        bare = os.path.join(work, "panel.png")
        s.run("import", "-window", "root", bare)
        spot = wait_for("the icon in the panel", lambda: purple_spot(bare, 30), 2)
        s.run("xdotool", "mousemove", str(spot[0]), str(spot[1]), "click", "1")
        time.sleep(1)
        shot = os.path.join(shots, "xfce4-panel-menu.png")
        s.run("import", "-window", "root", shot)
        s.run("xdotool", "key", "Escape")
        print("xfce4-panel: icon at %s; its menu drawn by the panel: %s" % (spot, shot))

        # The host's click on "About" opens the About page; "Exit" ends the program.
        gdbus(env, service, "/MenuBar", "com.canonical.dbusmenu.Event", str(ids["About"]), "clicked", "<0>", "0")
        wait_for("the About page", lambda: any(s.run("xdotool", "getwindowname", str(w)).stdout.strip()
                                               == "Varnok Tidrex----About File" for w in s.windows_of("Quorvel")), 10)
        shot = os.path.join(shots, "xfce4-panel-about.png")
        time.sleep(0.4)
        s.run("import", "-window", "root", shot)
        # The panel restarts: the item is shown by the new one, and only as an item.
        stop(panel)
        wait_for("the watcher to go", lambda: not registered_items(env), 10)
        panel = subprocess.Popen(["xfce4-panel", "--disable-wm-check"], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.procs.append(panel)
        wait_for("the item in the restarted panel", lambda: item in registered_items(env), 15)
        def no_xembed_icon():
            # The About page and the backdrop are open: an icon is a small window in the panel.
            return not [w for w in s.windows_of("Quorvel")
                        if s.geometry(w) and s.geometry(w)[1] < 30 and s.geometry(w)[2] <= 64]
        try:
            wait_for("the XEmbed stand-in to go", no_xembed_icon, 5)
        except Failure:
            print(gdbus(env, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                        "org.freedesktop.DBus.Properties.GetAll", "org.kde.StatusNotifierWatcher"))
            raise Failure("an XEmbed icon docked besides the item after the panel restarted")
        print("xfce4-panel: restarted; the item registered with it again")
        gdbus(env, service, "/MenuBar", "com.canonical.dbusmenu.Event", str(ids["Exit"]), "clicked", "<0>", "0")
        try:
            rc = prog.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("Quorvel still runs after the host's Exit")
        if rc != 0:
            raise Failure("Quorvel ended with %d: %s" % (rc, prog.stderr.read().decode()))
        print("xfce4-panel: About opened from the host's menu, Exit ended the program")
    finally:
        s.close()
        shutil.rmtree(work, ignore_errors=True)


def unprivileged():
    """How to run sway as an unprivileged user (Popen arguments) and its uid: ourselves when
    not root, else nobody."""
    if os.geteuid() != 0:
        return {}, os.geteuid()
    try:
        nobody = pwd.getpwnam("nobody")
    except KeyError:
        return None, None
    return {"user": nobody.pw_uid, "group": nobody.pw_gid, "extra_groups": []}, nobody.pw_uid


def sway_waybar(binary, icon, shots):
    missing = [t for t in ("sway", "waybar", "grim") if shutil.which(t) is None]
    if missing:
        print("sway/waybar skipped: missing " + ", ".join(missing))
        return
    as_user, uid = unprivileged()
    if as_user is None:
        print("sway/waybar skipped: no unprivileged user")
        return
    work = tempfile.mkdtemp(prefix="tidrex-sway-")
    os.chmod(work, 0o755)
    procs = []
    try:
        root = os.path.join(work, "sandbox")
        path, home = make_app(binary, icon, root)
        runtime = os.path.join(work, "run")
        os.makedirs(runtime, mode=0o700)
        config = os.path.join(work, "sway.conf")
        with open(config, "w") as f:
            f.write("output HEADLESS-1 resolution 1024x768\n")
        bar_conf = os.path.join(work, "waybar.json")
        with open(bar_conf, "w") as f:
            f.write('{"layer": "top", "position": "top", "height": 30, "modules-right": ["tray"],'
                    ' "tray": {"icon-size": 22, "spacing": 4}}\n')
        if as_user:
            for dirpath, dirnames, filenames in os.walk(work):
                for n in dirnames + filenames + [""]:
                    os.chown(os.path.join(dirpath, n), uid, as_user["group"])
        env = {"HOME": home, "XDG_RUNTIME_DIR": runtime, "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman",
               "XDG_CONFIG_HOME": os.path.join(home, ".config"), "XDG_CACHE_HOME": os.path.join(home, ".cache"),
               "XDG_DATA_HOME": os.path.join(home, ".local", "share")}
        start_bus(env, procs, as_user)
        AS_USER.update(as_user)
        sway = subprocess.Popen(["sway", "-c", config], env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, **as_user)
        procs.append(sway)
        sock = wait_for("sway's Wayland socket",
                        lambda: next((n for n in os.listdir(runtime) if re.fullmatch(r"wayland-\d+", n)), None), 15)
        env["WAYLAND_DISPLAY"] = sock
        env["SWAYSOCK"] = os.path.join(runtime, wait_for(
            "sway's IPC socket", lambda: next((n for n in os.listdir(runtime) if n.startswith("sway-ipc.")), None), 5))
        prog_env = dict(env, QT_QPA_PLATFORM="wayland")
        prog = subprocess.Popen([path], env=prog_env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **as_user)
        procs.append(prog)
        time.sleep(3)
        if prog.poll() is not None:
            raise Failure("Quorvel ended on Wayland before the bar came: %s" % prog.stderr.read().decode())
        bar = subprocess.Popen(["waybar", "-c", bar_conf], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, **as_user)
        procs.append(bar)
        t0 = time.monotonic()
        item = wait_for("the item to register with waybar", lambda: (registered_items(env) or [None])[0], 10)
        print("sway/waybar: the item registered %.1f s after the bar started" % (time.monotonic() - t0))
        service, ids = check_menu(env, item, "sway/waybar")

        def swaymsg(*args):
            return subprocess.run(["swaymsg"] + list(args), env=env, capture_output=True, text=True, timeout=10,
                                  **as_user).stdout

        def grim(name):
            inside = os.path.join(work, name)
            subprocess.run(["grim", inside], env=env, timeout=10, **as_user)
            shutil.copy(inside, os.path.join(shots, name))
            return os.path.join(shots, name)

        # waybar did not draw its menu for the headless seat's cursor (sway's "seat - cursor"
        # clicks reach the bar, but no menu opens without a real pointer and keyboard): the
        # bar with the icon is photographed, the menu is read over D-Bus above.
        time.sleep(1)
        print("sway/waybar: the bar with the icon: %s" % grim("sway-waybar-bar.png"))

        # "Change Configuration" from the host: the page floats above the tiled backdrop.
        gdbus(env, service, "/MenuBar", "com.canonical.dbusmenu.Event", str(ids["Change Configuration"]), "clicked",
              "<0>", "0")

        def nodes(n):
            yield n
            for c in n.get("nodes", []) + n.get("floating_nodes", []):
                yield from nodes(c)

        def page_floats():
            try:
                tree = json.loads(swaymsg("-t", "get_tree"))
            except ValueError:
                return False
            kinds = {(n.get("name") or "").strip(): n.get("type") for n in nodes(tree)}
            return kinds.get("Varnok Tidrex----Main Start Page") == "floating_con" and \
                kinds.get("Varnok Tidrex") == "con"
        wait_for("the main page floating over the tiled backdrop", page_floats, 10)
        time.sleep(1)
        print("sway/waybar: the page floats over the backdrop: %s" % grim("sway-page-over-backdrop.png"))
    finally:
        AS_USER.clear()
        for p in reversed(procs):
            stop(p)
        shutil.rmtree(work, ignore_errors=True)


def main():
    x_session.TOOLS[:] = ["Xvfb", "xdotool", "xwininfo", "import", "convert", "dbus-daemon", "gdbus", "xfce4-panel"]
    return x_session.run_checks(__doc__, xfce_panel, sway_waybar)


if __name__ == "__main__":
    sys.exit(main())
