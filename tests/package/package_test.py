#!/usr/bin/env python3
"""The Debian package that CPack makes from a build, without installing it anywhere.

  build SCRATCH VERSION BUILD_DIR  cpack -G DEB into SCRATCH, unpacked with dpkg-deb -x into
                                   SCRATCH/root (the fixture of the other two)
  contents SCRATCH VERSION         the exact file list, the control fields, the menu entry
                                   (desktop-file-validate), the AppStream data (appstreamcli
                                   validate), the manual page (man -l), the user units, and
                                   lintian with no error (its warnings are printed)
  read-only SCRATCH VERSION        the unpacked tree made read-only and run as an ordinary
                                   user on Xvfb with a tray host: ticking "Temp Folder" on the
                                   options page writes Temp=Yes to
                                   $XDG_CONFIG_HOME/Tidrex/Clean.ini, and `Quorvel a` from
                                   the same folder then cleans with it

Exit code 77 means a tool is missing (skipped).
"""
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "desktop_screens"))
import x_session  # noqa: E402

SKIP = 77
APP = "usr/libexec/tidrex"

# Every file and link of the package; folders follow from them.
EXPECTED = {
    "usr/bin/tidrex",
    APP + "/Quorvel",
    "usr/share/applications/tidrex.desktop",
    "usr/share/doc/tidrex/changelog.gz",
    "usr/share/doc/tidrex/copyright",
    "usr/share/icons/hicolor/scalable/apps/tidrex.svg",
    "usr/share/man/man1/tidrex.1.gz",
    "usr/share/metainfo/org.example.tidrex.metainfo.xml",
    "usr/share/systemd/user/tidrex-clean.service",
    "usr/share/systemd/user/tidrex-clean.timer",
} | {"usr/share/icons/hicolor/%dx%d/apps/tidrex.png" % (n, n) for n in (16, 22, 24, 32, 48, 64, 128, 256)}


class Failure(Exception):
    pass


def need(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing) + " (scripts/setup --tests installs them)")
        sys.exit(SKIP)


def run(*cmd, **kw):
    return subprocess.run(list(cmd), capture_output=True, text=True, timeout=kw.pop("timeout", 60), **kw)


def architecture():
    return run("dpkg", "--print-architecture").stdout.strip()


def deb_path(scratch, version):
    return os.path.join(scratch, "tidrex_%s_%s.deb" % (version, architecture()))


def build(scratch, version, build_dir):
    need("cpack", "dpkg-deb", "dpkg-shlibdeps", "file")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    r = run("cpack", "-G", "DEB", "-B", scratch, "--config", os.path.join(build_dir, "CPackConfig.cmake"),
            cwd=build_dir, timeout=110)
    deb = deb_path(scratch, version)
    if r.returncode != 0 or not os.path.isfile(deb):
        raise Failure("cpack made no %s:\n%s%s" % (os.path.basename(deb), r.stdout, r.stderr))
    r = run("dpkg-deb", "-x", deb, os.path.join(scratch, "root"))
    if r.returncode != 0:
        raise Failure("dpkg-deb -x: " + r.stderr)
    print("built and unpacked " + os.path.basename(deb))


def listing(root):
    found = set()
    for top, dirs, files in os.walk(root):
        for name in files + [d for d in dirs if os.path.islink(os.path.join(top, d))]:
            found.add(os.path.relpath(os.path.join(top, name), root))
    return found


def check(ok, what):
    if not ok:
        raise Failure(what)


def contents(scratch, version):
    need("dpkg-deb", "desktop-file-validate", "appstreamcli", "man", "lintian")
    deb, root = deb_path(scratch, version), os.path.join(scratch, "root")
    found = listing(root)
    check(found == EXPECTED, "file list: unexpected %s, missing %s"
          % (sorted(found - EXPECTED), sorted(EXPECTED - found)))
    # The command is a relative link to the real executable, whose folder is the application
    # folder; the executable is stripped.
    command = os.path.join(root, "usr/bin/tidrex")
    check(os.readlink(command) == "../libexec/tidrex/Quorvel", "usr/bin/tidrex -> " + os.readlink(command))
    check(os.path.realpath(command) == os.path.realpath(os.path.join(root, APP, "Quorvel")), "the link leads astray")
    check("not stripped" not in run("file", "-L", command).stdout, "the executable is not stripped")

    fields = {f: run("dpkg-deb", "-f", deb, f).stdout.strip()
              for f in ("Package", "Version", "Architecture", "Depends", "Description", "Section")}
    check(fields["Package"] == "tidrex" and fields["Version"] == version, "control: %s" % fields)
    check(fields["Architecture"] == architecture(), "Architecture: " + fields["Architecture"])
    # Computed from the binary by dpkg-shlibdeps, plus the image plugin loaded at run time.
    for lib in ("libc6", "libqt6widgets6", "libqt6gui6", "libsqlite3-0", "libpsl5", "libqt6svg6"):
        check(re.search(r"(^|, )%s( |,|$)" % re.escape(lib), fields["Depends"]), "Depends lacks %s: %s"
              % (lib, fields["Depends"]))
    check(len(fields["Description"].splitlines()) > 3, "no long description")

    entry = os.path.join(root, "usr/share/applications/tidrex.desktop")
    r = run("desktop-file-validate", entry)
    check(r.returncode == 0 and not (r.stdout + r.stderr).strip(), "desktop-file-validate: " + r.stdout + r.stderr)
    text = open(entry).read()
    check("\nExec=tidrex\n" in text and "\nIcon=tidrex\n" in text, "menu entry:\n" + text)

    metainfo = os.path.join(root, "usr/share/metainfo/org.example.tidrex.metainfo.xml")
    r = run("appstreamcli", "validate", "--no-net", "--pedantic", metainfo)
    check(r.returncode == 0, "appstreamcli validate:\n" + r.stdout + r.stderr)
    text = open(metainfo).read()
    check('<release version="%s" date="' % version in text, "no release entry for " + version)
    check(re.search(r"<screenshot[^>]*>.*<image>https://[^<]+</image>", text, re.S), "no screenshot")
    check("<launchable type=\"desktop-id\">tidrex.desktop</launchable>" in text, "no launchable")

    r = run("man", "--warnings", "-l", os.path.join(root, "usr/share/man/man1/tidrex.1.gz"),
            env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="", LANG="C.UTF-8"))
    page = r.stdout
    check(r.returncode == 0 and not r.stderr.strip(), "man -l: " + r.stderr)
    for needle in ("TIDREX(1)", "Resident", "Unattended", "Clean.ini", "XDG_CONFIG_HOME", "[Delete] Temp",
                   "[Internet] sFile0", "[sAppPath] ShortCut", "crontab", "tidrex-clean.timer",
                   "REFUSALS", "/usr/bin/tidrex a", "/usr/libexec/tidrex/Quorvel"):
        check(needle in page, "the manual page lacks " + needle)

    service = open(os.path.join(root, "usr/share/systemd/user/tidrex-clean.service")).read()
    check("\nExecStart=/usr/bin/tidrex a\n" in service, "service:\n" + service)
    check(not re.search(r"^\s*Environment", service, re.M), "the service sets an environment of its own")
    timer = open(os.path.join(root, "usr/share/systemd/user/tidrex-clean.timer")).read()
    check("\nWantedBy=timers.target\n" in timer and "\nOnCalendar=daily\n" in timer, "timer:\n" + timer)
    # Not enabled: no wants link in the package (the file list holds none).
    verify_units(scratch, root, service, timer)

    r = run("lintian", "--tag-display-limit", "0", deb, timeout=110)
    tags = [l for l in r.stdout.splitlines() if re.match(r"[EWIXPON]: ", l)]
    errors = [t for t in tags if t.startswith("E: ")]
    for t in tags:
        if t.startswith("W: "):
            print("lintian " + t)
    check(not errors, "lintian errors:\n" + "\n".join(errors))
    check(r.returncode == 0, "lintian failed: " + r.stdout + r.stderr)
    print("contents: %d files, control, menu entry, AppStream, manual page, units, lintian (%d warnings)"
          % (len(found), sum(t.startswith("W: ") for t in tags)))


def verify_units(scratch, root, service, timer):
    """systemd's own reading of the units, with ExecStart led to the unpacked command."""
    if shutil.which("systemd-analyze") is None:
        print("systemd-analyze is not installed: the units' syntax is not verified")
        return
    units = os.path.join(scratch, "units")
    runtime = os.path.join(scratch, "runtime")
    for d in (units, runtime):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d, mode=0o700)
    paths = []
    for name, text in (("tidrex-clean.service", service), ("tidrex-clean.timer", timer)):
        paths.append(os.path.join(units, name))
        with open(paths[-1], "w") as f:
            f.write(text.replace("ExecStart=/usr/bin/tidrex", "ExecStart=" + os.path.join(root, "usr/bin/tidrex")))
    r = run("systemd-analyze", "--user", "--man=no", "verify", *paths, env=dict(os.environ, XDG_RUNTIME_DIR=runtime))
    check(r.returncode == 0 and not r.stderr.strip(), "systemd-analyze verify: " + r.stdout + r.stderr)


def make_read_only(top):
    for folder, dirs, files in os.walk(top, topdown=False):
        for name in files:
            p = os.path.join(folder, name)
            if not os.path.islink(p):
                os.chmod(p, stat.S_IMODE(os.lstat(p).st_mode) & ~0o222)
        os.chmod(folder, 0o555)


def read_only(scratch, version):
    from x_session import TOOLS, wait_for
    need(*TOOLS)
    as_root = os.geteuid() == 0
    if as_root:
        need("setpriv")
    from screens_desktop_test import CAPTIONS, TWIPS_PER_PIXEL, Session, make_sandbox

    work = tempfile.mkdtemp(prefix="tidrex-package-")
    os.chmod(work, 0o755)
    s = Session(work)
    try:
        tree = os.path.join(work, "tree")
        shutil.copytree(os.path.join(scratch, "root"), tree, symlinks=True)
        make_read_only(tree)
        app = os.path.join(tree, APP) + "/"
        sandbox = os.path.join(work, "sandbox")
        home, temp = make_sandbox(sandbox)
        user = []
        if as_root:
            # An ordinary user: root may write into any folder, read-only or not.
            for folder, dirs, files in os.walk(sandbox):
                for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                    os.lchown(name, 65534, 65534)
            user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
        check(not os.access(app, os.W_OK) or as_root, "the application folder is writable")
        ini = os.path.join(home, ".config", "Tidrex", "Clean.ini")

        s.start_x("1024x768x24")
        s.start_tray()
        # The menu entry's Exec line, "tidrex", with the unpacked command folder first on PATH.
        env = s.program_env(home, Temp=temp, PATH=os.path.join(tree, "usr/bin") + ":" + os.environ["PATH"])
        s.prog = subprocess.Popen(user + ["tidrex"], env=env, cwd=sandbox,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.procs.append(s.prog)
        # Started through its link, the program's window class is the command's name.
        s.windows = lambda klass="tidrex": s.windows_of(klass)
        s.window_of(CAPTIONS["Form1"])
        wait_for("the tray icon", s.icon_docked)
        s.click_menu("Form1", "Options")
        options = s.window_of(CAPTIONS["Form2"])
        # "Temp Folder" (Check2) sits at 4080, 120 twips of the page, scaled by 1.6 here.
        x0, y0 = s.geometry(options)[:2]
        _, bar_h = s.menu_items(options)
        s.click(x0 + round(4080 * 1.6 / TWIPS_PER_PIXEL) + 8, y0 + bar_h + round((120 + 255 / 2) * 1.6 / TWIPS_PER_PIXEL))
        wait_for("Temp=Yes in " + ini, lambda: os.path.exists(ini) and "Temp=Yes" in open(ini).read(), 5)
        shots = os.path.join(scratch, "screenshots")
        os.makedirs(shots, exist_ok=True)
        s.screenshot(os.path.join(shots, "read-only-temp-ticked.png"))
        text = open(ini).read()
        check("[sAppPath]\nShortCut=%s\n" % app in text, "the application folder is not recorded:\n" + text)
        check(not os.path.exists(os.path.join(app, "Clean.ini")), "a Clean.ini beside the program")
        entry = open(os.path.join(home, ".config", "autostart", "Tidrex.desktop")).read()
        check('\nExec="%s"\n' % os.path.join(tree, "usr/bin/tidrex") in entry and "\nIcon=tidrex\n" in entry,
              "the autostart entry does not start the installed command:\n" + entry)
        s.stop(s.prog)

        # The unattended clean from the same read-only folder, as a scheduler starts it.
        check(os.listdir(temp), "nothing to clean")
        cron_env = ["HOME=" + home, "XDG_CONFIG_HOME=" + os.path.join(home, ".config"),
                    "XDG_CACHE_HOME=" + os.path.join(home, ".cache"),
                    "XDG_DATA_HOME=" + os.path.join(home, ".local", "share"), "Temp=" + temp,
                    "PATH=/usr/bin:/bin", "QT_QPA_PLATFORM=tidrex-no-window-system"]
        r = subprocess.run(user + ["env", "-i"] + cron_env + [os.path.join(app, "Quorvel"), "a"],
                           capture_output=True, text=True, timeout=30)
        check(r.returncode == 0 and not r.stdout and not r.stderr, "Quorvel a: %d %s%s" % (r.returncode, r.stdout, r.stderr))
        check(os.path.isdir(temp) and not os.listdir(temp), "the temporary folder still holds %s" % os.listdir(temp))
        check(open(ini).read() == text, "the unattended clean changed Clean.ini")
        print("read-only install as %s: Temp=Yes in $XDG_CONFIG_HOME/Tidrex/Clean.ini, `Quorvel a` emptied Temp"
              % ("uid 65534" if as_root else "uid %d" % os.geteuid()))
    finally:
        s.close()
        for folder, dirs, files in os.walk(work):
            os.chmod(folder, 0o755)
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("build", "contents", "read-only"):
        print(__doc__)
        return 2
    mode, scratch, version = sys.argv[1:4]
    try:
        if mode == "build":
            build(scratch, version, sys.argv[4])
        elif mode == "contents":
            contents(scratch, version)
        else:
            read_only(scratch, version)
    except (Failure, x_session.Failure) as e:
        print("FAILED: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
