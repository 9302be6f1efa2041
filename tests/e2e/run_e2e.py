#!/usr/bin/env python3
"""End-to-end tests of kestrivo.exe under Wine.

    run_e2e.py --exe kestrivo.exe --probe kestrivo_probe.exe --work DIR
               [--lang zh|en|both] [-k SUBSTRING]... [--list]

Every case starts the local Daytime server (daytime_server.py) with the
replies it needs, then kestrivo.exe under Wine inside a private mount
namespace whose /etc/hosts maps time.nist.gov to 127.0.0.1, and looks at
the window from outside with kestrivo_probe.exe (texts read back as UTF-16)
and xdotool (real key presses and clicks on the Xvfb display). The whole
suite runs under LANG=zh_CN.UTF-8 (code page 936) and once more under
LANG=en_US.UTF-8 (code page 1252): the texts must read back the same.

Needs root (port 13, mount namespaces). Wine runs with TZ=UTC: local time
is UTC, and Wine accepts a new clock only within half a second of now, so
a reply that names the current second (minus 8 hours) is the success path
and any other time is refused. The host clock never changes.

Prints one line per case and at the end exactly "N passed, N failed";
exits non-zero when a case failed.
"""

import argparse
import datetime
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import threading
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOOLS = HERE.parent.parent / "tools"
SERVER = HERE / "daytime_server.py"

CAPTION = "Kestrivo V1.0"
PROGRESS = "正在连接校时服务器..."
CONNECTED = "连接服务器成功"
FAILED = "连接服务器失败"
DONE = "校时完毕,当前系统时间:"
ERROR = "校时错误"
LABEL = "网络时间:"
BUTTON = "重新校时"
FAIL_VALUE = "100-01-01 00:00:00"

ID_LABEL, ID_EDIT, ID_CLIENT, ID_STATUS, ID_BUTTON = 100, 110, 120, 130, 140

# Window styles.
WS_VISIBLE, WS_CLIPCHILDREN, WS_CAPTION, WS_SYSMENU = 0x10000000, 0x02000000, 0x00C00000, 0x00080000
WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_TABSTOP = 0x40000, 0x20000, 0x10000, 0x10000
WS_DISABLED, WS_EX_WINDOWEDGE, WS_EX_CLIENTEDGE = 0x08000000, 0x100, 0x200
ES_MULTILINE, ES_AUTOHSCROLL, ES_NOHIDESEL, ES_READONLY = 0x4, 0x80, 0x100, 0x800
BS_TYPEMASK, BS_PUSHBUTTON, BS_CENTER, BS_VCENTER, BS_MULTILINE = 0xF, 0x0, 0x300, 0xC00, 0x2000
SBARS_SIZEGRIP, SBT_TOOLTIPS = 0x100, 0x800
CS_VREDRAW, CS_HREDRAW, CS_DBLCLKS = 0x1, 0x2, 0x8

LANGS = {"zh": ("zh_CN.UTF-8", 936), "en": ("en_US.UTF-8", 1252)}
DISPLAY_NUM = "87"  # a display of our own: key presses go to whatever has the X focus

# A reply far from now: Wine refuses to set that clock.
FAR = "\\n55420 10-08-12 02:24:10 00 0 0 50.0 UTC(NIST) * \\n"
FAR_SHOWN = "2010-08-12 10:24:10"
OTHER = "\\n55432 10-08-24 11:11:11 00 0 0 50.0 UTC(NIST) * \\n"
OTHER_SHOWN = "2010-08-24 19:11:11"
ROLLOVER = "\\n55561 10-12-31 20:30:00 00 0 0 50.0 UTC(NIST) * \\n"
ROLLOVER_SHOWN = "2011-01-01 04:30:00"

CLOCK_RE = re.compile(r"^\d{1,4}-\d\d-\d\d \d\d:\d\d:\d\d$")


PE_I386, PE_AMD64 = 0x14C, 0x8664
SKIPPED = 77  # CTest's SKIP_RETURN_CODE


def pe_machine(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    at = int.from_bytes(head[0x3C:0x40], "little")
    return int.from_bytes(head[at + 4:at + 6], "little")


def host_runs_32bit():
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], capture_output=True,
                              timeout=30).returncode == 0
    except OSError:
        return False


def hexarg(text):
    """A probe text argument that no code page can touch."""
    return "x:" + text.encode("utf-8").hex()


def winpath(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def parse_clock(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S")


class CaseFailure(Exception):
    pass


class Env:
    """What every case shares: paths, the Wine prefix, the display."""

    def __init__(self, args, lang):
        self.exe = Path(args.exe).resolve()
        self.probe_exe = Path(args.probe).resolve()
        self.work = Path(args.work).resolve()
        self.prefix = self.work / "wineprefix"
        self.lang_key = lang
        self.lang, self.acp = LANGS[lang]
        self.hosts = self.work / "hosts"
        self.work.mkdir(parents=True, exist_ok=True)
        self.hosts.write_text("127.0.0.1 localhost\n127.0.0.1 time.nist.gov\n")
        disp_env = dict(os.environ, KESTRIVO_DISPLAY_NUM=DISPLAY_NUM)
        self.display = subprocess.run([str(TOOLS / "xvfb-up")], env=disp_env, capture_output=True,
                                      text=True, check=True, timeout=30).stdout.strip()
        self.env = dict(os.environ)
        for k in ("WINEDEBUG", "WINEPREFIX", "LC_ALL", "LANGUAGE"):
            self.env.pop(k, None)
        self.env.update(DISPLAY=self.display, KESTRIVO_LANG=self.lang, KESTRIVO_TZ="UTC",
                        WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG=self.lang, LC_ALL=self.lang,
                        TZ="UTC")
        # wine-run sends a 64-bit program (PE32+) to wine64.
        self.wine_run = [str(TOOLS / "wine-run"), "--prefix", str(self.prefix)]
        if not host_runs_32bit() and PE_I386 in (pe_machine(self.exe), pe_machine(self.probe_exe)):
            # A kernel without 32-bit ELF support cannot start Wine's i386
            # loader: the windows64 preset builds the same sources for wine64.
            print("run_e2e: skipped: this host runs no 32-bit programs (Wine's i386 loader "
                  "fails); run the x86_64 build (preset windows64)", file=sys.stderr)
            raise SystemExit(SKIPPED)

    def start_wineserver(self):
        # The wineserver inherits the output of the first Wine process, and
        # we read the outputs of ours: it is started first, detached. The
        # first run of wine-run creates the prefix.
        self.prefix.mkdir(parents=True, exist_ok=True)
        out = self.work / "acp.txt"
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not (self.prefix / ".kestrivo-ready").exists():
            subprocess.run(self.wine_run + [str(self.probe_exe), winpath(out), "acp"], env=self.env,
                           timeout=600, **quiet)
        subprocess.run(["wineserver", "-p"], env=self.env, start_new_session=True, timeout=60, **quiet)
        # Which code page did the probe's process get?
        r = subprocess.run(self.wine_run + [str(self.probe_exe), winpath(out), "acp"], env=self.env,
                           timeout=300, **quiet)
        lines = [json.loads(l) for l in out.read_text().splitlines() if l.strip()]
        return r.returncode, lines

    def stop_wineserver(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class Case:
    """One run of kestrivo.exe against one server; collects failed checks."""

    def __init__(self, env, name):
        self.env = env
        self.name = name
        self.dir = env.work / "cases" / env.lang_key / name
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        self.failures = []
        self.notes = []
        self.server = None
        self.app = None
        self.app_exit = None
        self.probe_count = 0
        self.server_log = self.dir / "server.log"

    # --- checks ------------------------------------------------------------
    def check(self, cond, what):
        if not cond:
            self.failures.append(what)
        return cond

    def require(self, cond, what):
        if not cond:
            self.failures.append(what)
            raise CaseFailure(what)

    def eq(self, got, want, what):
        return self.check(got == want, "%s: got %r, want %r" % (what, got, want))

    # --- the server ----------------------------------------------------------
    def start_server(self, *actions, timeout=30):
        cmd = [sys.executable, str(SERVER), "--timeout", str(timeout), "--log", str(self.server_log)]
        self.server = subprocess.Popen(cmd + list(actions), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=open(self.dir / "server.err", "w"),
                                       text=True, start_new_session=True)
        ready, _, _ = select.select([self.server.stdout], [], [], 15)
        line = self.server.stdout.readline() if ready else ""
        self.require(line.strip() == "ready", "the Daytime server did not start: %r %s" % (
            line, (self.dir / "server.err").read_text()[-500:]))

    def server_events(self, event=None):
        if not self.server_log.exists():
            return []
        rows = [json.loads(l) for l in self.server_log.read_text().splitlines() if l.strip()]
        return [r for r in rows if event is None or r["event"] == event]

    def nist_utc(self, conn=0):
        """The UTC second that the server's nist reply on `conn` named (+8 h)."""
        for r in self.server_events("nist"):
            if r["conn"] == conn:
                return r["utc"]
        self.require(False, "the server sent no nist reply on connection %d" % conn)

    # --- the program -----------------------------------------------------------
    def start_app(self):
        script = 'mount --bind "$1" /etc/hosts && shift && exec "$@"'
        cmd = ["unshare", "-m", "sh", "-c", script, "sh", str(self.env.hosts)] + \
            self.env.wine_run + [str(self.env.exe)]
        self.app = subprocess.Popen(cmd, env=self.env.env, stdin=subprocess.DEVNULL,
                                    stdout=open(self.dir / "app.out", "w"), stderr=subprocess.STDOUT,
                                    start_new_session=True)
        self.app_started = time.time()

    def app_alive(self):
        return self.app is not None and self.app.poll() is None

    def wait_exit(self, seconds):
        try:
            self.app_exit = self.app.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.app_exit = None
        return self.app_exit

    def rss_kib(self):
        try:
            for line in Path("/proc/%d/status" % self.app.pid).read_text().splitlines():
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        except OSError:
            return None
        return None

    # --- the probe -------------------------------------------------------------
    def probe(self, *cmds, timeout=60):
        """Runs the probe with `cmds`; returns its output lines as dicts."""
        self.probe_count += 1
        out = self.dir / ("probe%02d.jsonl" % self.probe_count)
        args = [str(c) for c in cmds]
        with open(self.dir / ("probe%02d.cmd" % self.probe_count), "w") as f:
            f.write(" ".join(args) + "\n")
        try:
            subprocess.run(self.env.wine_run + [str(self.env.probe_exe), winpath(out)] + args,
                           env=self.env.env, stdin=subprocess.DEVNULL,
                           stdout=open(self.dir / ("probe%02d.out" % self.probe_count), "w"),
                           stderr=subprocess.STDOUT, timeout=timeout)
        except subprocess.TimeoutExpired:
            self.require(False, "probe %s timed out after %d s" % (args[:3], timeout))
        lines = []
        if out.exists():
            for l in out.read_text(encoding="utf-8").splitlines():
                if l.strip():
                    lines.append(json.loads(l))
        self.require(lines and lines[-1].get("kind") == "done",
                     "probe %s ended early: %s" % (args[:4], lines[-1:] if lines else "no output"))
        return lines

    def find_main(self, timeout_ms=20000):
        lines = self.probe("find", timeout_ms, timeout=timeout_ms / 1000 + 60)
        found = one(lines, "find")
        self.require(found["ok"], "no window captioned %r within %d ms" % (CAPTION, timeout_ms))
        self.check(found["count"] == 1, "%d windows captioned %r" % (found["count"], CAPTION))
        return found

    def look(self, *cmds, timeout=60):
        """find + cmds."""
        return self.probe("find", 20000, *cmds, timeout=timeout)

    def wait_text(self, id_, mode, text, ms=10000):
        lines = self.look("wait", id_, mode, hexarg(text), ms, timeout=ms / 1000 + 60)
        w = one(lines, "wait")
        return w

    def expect_text(self, id_, mode, text, ms=10000, what=None):
        w = self.wait_text(id_, mode, text, ms)
        self.check(w["ok"], "%s: want %s %r within %d ms, last seen %r" % (
            what or ("text of %d" % id_), mode, text, ms, w["text"]))
        return w["text"]

    def texts(self):
        lines = self.look("text", ID_STATUS, "text", ID_EDIT)
        t = {l["id"]: l["text"] for l in lines if l["kind"] == "text"}
        return t[ID_STATUS], t[ID_EDIT]

    def dump(self):
        lines = self.look("dump")
        window = one(lines, "window")
        children = {l["id"]: l for l in lines if l["kind"] == "child"}
        return window, children

    def focus(self):
        return one(self.look("focus"), "focus")

    def ping(self, bound_ms=200):
        p = one(self.look("ping", 2000), "ping")
        self.check(p["ok"], "the window did not answer WM_NULL within 2 s")
        if p["ok"]:
            self.check(p["us"] <= bound_ms * 1000,
                       "the window answered WM_NULL after %.1f ms (bound %d ms)" % (p["us"] / 1000, bound_ms))
        return p

    def no_message_box(self):
        box = one(self.probe("msgbox", 300), "msgbox")
        if box["ok"]:
            self.failures.append("unexpected message box %r: %r" % (box["caption"], box["text"]))
            self.probe("msgbox", 100, "msgbox-ok")

    def close_and_expect_exit(self, code=0, seconds=15):
        self.probe("find", 5000, "close")
        got = self.wait_exit(seconds)
        if got is None:
            box = one(self.probe("msgbox", 200), "msgbox")
            extra = " (message box %r: %r)" % (box["caption"], box["text"]) if box["ok"] else ""
            self.failures.append("the program did not end within %d s of WM_CLOSE%s" % (seconds, extra))
        else:
            self.eq(got, code, "exit code after closing the window")

    # --- real input ----------------------------------------------------------------
    def xdo(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env.env, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=20)

    def click_at(self, screen_rect):
        l, t, r, b = screen_rect
        self.xdo("mousemove", (l + r) // 2, (t + b) // 2)
        time.sleep(0.1)
        self.xdo("click", 1)
        time.sleep(0.3)

    def grab(self, rect):
        """The pixels of a screen rectangle: (width, rows of (r, g, b))."""
        l, t, r, b = rect
        xwd = subprocess.run(["xwd", "-root", "-silent"], env=self.env.env, check=True,
                             capture_output=True, timeout=30).stdout
        ppm = subprocess.run(["convert", "xwd:-", "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t),
                              "+repage", "-depth", "8", "rgb:-"], input=xwd, env=self.env.env,
                             check=True, capture_output=True, timeout=30).stdout
        w, h, data = r - l, b - t, ppm
        self.require(len(data) == w * h * 3, "screen grab of %s gave %d bytes" % (rect, len(data)))
        return [[tuple(data[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]

    def key(self, name):
        self.xdo("key", name)
        time.sleep(0.3)

    # --- end ---------------------------------------------------------------------
    def cleanup(self):
        for proc in (self.app, self.server):
            if proc is not None and proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    pass
        if self.server is not None and self.server.stdout:
            self.server.stdout.close()


def one(lines, kind):
    found = [l for l in lines if l.get("kind") == kind]
    if not found:
        raise CaseFailure("probe gave no %r line: %s" % (kind, lines))
    return found[-1]


CASES = []


def report(results):
    """Prints the closing tally of (name, failures) pairs; the exit code."""
    passed = sum(1 for _, f in results if not f)
    failed = len(results) - passed
    print("%d passed, %d failed" % (passed, failed), flush=True)
    return 1 if failed else 0


def run_case(env, fn, timeout):
    """Runs one case with a watchdog that ends its processes after `timeout`
    seconds; returns the Case (its failures filled in) and the seconds taken.
    The program must have ended by the end of the case."""
    c = Case(env, fn.__name__)
    began = time.time()
    watchdog = threading.Timer(timeout, c.cleanup)
    watchdog.start()
    try:
        fn(c)
    except CaseFailure:
        pass
    except Exception:
        c.failures.append("error: " + traceback.format_exc().strip().splitlines()[-1])
        (c.dir / "traceback.txt").write_text(traceback.format_exc())
    finally:
        watchdog.cancel()
        if c.app_alive() and not c.failures:
            c.failures.append("the program was still running at the end of the case")
        c.cleanup()
    return c, time.time() - began


def case(fn):
    CASES.append(fn)
    return fn


def start(c, *actions, timeout=30):
    c.start_server(*actions, timeout=timeout)
    c.start_app()
    c.find_main()


def expect_result(c, status, edit, what):
    """Waits for the edit box, then checks the status bar, and that the
    result stays (the worker's success text never replaces it)."""
    c.expect_text(ID_EDIT, "eq", edit, 15000, what + ": edit box")
    c.expect_text(ID_STATUS, "eq", status, 3000, what + ": status bar")
    time.sleep(0.5)
    st, ed = c.texts()
    c.eq((st, ed), (status, edit), what + ": texts half a second later")


def expect_success(c, conn, what):
    """The success path for real: the reply named the current second."""
    st = c.expect_text(ID_STATUS, "prefix", DONE, 15000, what + ": status bar")
    utc = c.nist_utc(conn)
    _, ed = c.texts()
    c.eq(ed, utc, what + ": edit box (network time + 8 h)")
    if st.startswith(DONE):
        shown = st[len(DONE):]
        if c.check(CLOCK_RE.match(shown), "%s: clock read back %r is not YYYY-MM-DD HH:MM:SS" % (what, shown)):
            # Wine never moves the host clock: the clock read back is the
            # host's UTC time, the second the server named or just after.
            delta = (parse_clock(shown) - parse_clock(utc)).total_seconds()
            c.check(-1 <= delta <= 2, "%s: clock read back %s, server's time + 8 h %s" % (what, shown, utc))
            now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
            c.check(abs((now - parse_clock(shown)).total_seconds()) < 30,
                    "%s: clock read back %s is not now (%s UTC)" % (what, shown, now))


# --- the cases -------------------------------------------------------------------

@case
def window_layout(c):
    """Caption, size, position, frame, controls, initial texts and focus."""
    start(c, "silent")
    c.expect_text(ID_STATUS, "eq", CONNECTED, 10000, "status after connecting")
    w, ch = c.dump()
    c.eq(w["caption"], CAPTION, "caption")
    l, t, r, b = w["rect"]
    c.eq((r - l, b - t), (271, 86), "outer size")
    c.eq((l, t), ((w["screen_w"] - 271) // 2, (w["screen_h"] - 86) // 2), "position (centred)")
    st = w["style"]
    c.check(st & WS_CAPTION == WS_CAPTION and st & WS_SYSMENU, "caption and system menu: style %#x" % st)
    c.check(st & WS_CLIPCHILDREN, "WS_CLIPCHILDREN missing: style %#x" % st)
    c.check(not st & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
            "resizable or has minimise/maximise boxes: style %#x" % st)
    c.check(st & WS_VISIBLE and not w["iconic"] and not w["zoomed"], "not shown normally: %s" % w)
    c.eq(w["exstyle"] & ~WS_EX_WINDOWEDGE, 0, "extended style of the main window")
    c.eq(w["owner"], 0, "owner of the main window")
    c.check(w["unicode"], "the main window is not a Unicode window")
    c.eq(w["class_style"] & (CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW), CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW,
         "class styles of the main window")
    c.eq(w["class_brush"], 0, "class background brush of the main window")

    c.eq(sorted(ch), [ID_LABEL, ID_EDIT, ID_CLIENT, ID_STATUS, ID_BUTTON], "child-window ids")
    if sorted(ch) != [ID_LABEL, ID_EDIT, ID_CLIENT, ID_STATUS, ID_BUTTON]:
        return
    c.eq([i for i, _ in sorted(ch.items(), key=lambda kv: kv[1]["z"])],
         [ID_BUTTON, ID_STATUS, ID_CLIENT, ID_EDIT, ID_LABEL], "z-order of the controls, top first")
    cw, chh = w["client"][2], w["client"][3]

    label = ch[ID_LABEL]
    c.check(label["class"].lower() not in ("static", "edit", "button"), "label class %r" % label["class"])
    c.eq(label["rect"], [8, 8, 64, 32], "label rectangle")
    c.eq(label["text"], LABEL, "label text")
    c.check(label["visible"], "label hidden")

    edit = ch[ID_EDIT]
    c.eq(edit["class"].lower(), "edit", "edit box class")
    c.eq(edit["rect"], [64, 8, 184, 28], "edit box rectangle")
    es = edit["style"]
    c.check(es & ES_READONLY and es & ES_AUTOHSCROLL and es & WS_TABSTOP, "edit box style %#x" % es)
    c.check(not es & (ES_MULTILINE | ES_NOHIDESEL | WS_DISABLED), "edit box style %#x" % es)
    c.check(edit["exstyle"] & WS_EX_CLIENTEDGE, "edit box has no sunken edge: %#x" % edit["exstyle"])
    c.eq(edit["text"], "", "edit box text before any reply")
    c.check(edit["visible"] and edit["unicode"], "edit box visible and Unicode: %s" % edit)

    c.check(not ch[ID_CLIENT]["visible"], "the client connection control is visible")

    bar = ch[ID_STATUS]
    c.eq(bar["class"].lower(), "msctls_statusbar32", "status bar class")
    c.check(bar["visible"], "status bar hidden")
    c.eq((bar["rect"][0], bar["rect"][2], bar["rect"][3]), (0, cw, chh), "status bar across the client bottom")
    c.check(bar["style"] & SBT_TOOLTIPS and not bar["style"] & SBARS_SIZEGRIP, "status bar style %#x" % bar["style"])
    c.eq(bar["text"], CONNECTED, "status bar text")

    btn = ch[ID_BUTTON]
    c.eq(btn["class"].lower(), "button", "button class")
    c.eq(btn["rect"], [192, 8, 256, 28], "button rectangle")
    bs = btn["style"]
    c.eq(bs & BS_TYPEMASK, BS_PUSHBUTTON, "button type (push button, not default)")
    c.eq(bs & (BS_CENTER | BS_VCENTER | BS_MULTILINE | WS_TABSTOP),
         BS_CENTER | BS_VCENTER | BS_MULTILINE | WS_TABSTOP, "button style bits")
    c.eq(btn["text"], BUTTON, "button text")
    c.check(btn["visible"] and btn["enabled"], "button visible and enabled")

    for i in (ID_LABEL, ID_EDIT, ID_BUTTON):
        c.check(ch[i]["rect"][3] <= bar["rect"][1], "control %d reaches into the status bar" % i)

    # What is painted: the read-only edit box keeps a white background (a
    # read-only box is otherwise drawn in the window's grey), and the label
    # draws its text on the window's background.
    ox, oy = w["client_x"], w["client_y"]
    pixels = c.grab([ox, oy, ox + cw, oy + chh])
    background = pixels[35][100]  # between the controls and the status bar
    el, et, er, eb = edit["rect"]
    inside_edit = set(p for row in pixels[et + 4:eb - 4] for p in row[el + 4:er - 4])
    c.eq(inside_edit, {(255, 255, 255)}, "colours inside the empty edit box")
    c.check(background != (255, 255, 255), "the window background is white")
    ll, lt, lr, lb = label["rect"]
    in_label = [p for row in pixels[lt:lb] for p in row[ll:lr]]
    c.check(in_label.count(background) < len(in_label) * 0.97 and
            in_label.count(background) > len(in_label) * 0.5,
            "the label is not drawn as text on the window background")

    f = c.focus()
    c.eq(f["id"], 0, "focus after start-up (0: the main window itself, no control)")
    c.check(not f["caret"], "a caret is shown after start-up")
    c.close_and_expect_exit(0)


@case
def success_path(c):
    """A reply naming the current second: the clock is set and read back."""
    start(c, "nist")
    expect_success(c, 0, "nist reply")
    c.close_and_expect_exit(0)


@case
def crlf_reply(c):
    """CR LF line ends change nothing: field 1 is "\\r\\nJJJJJ"."""
    start(c, "nist-crlf")
    expect_success(c, 0, "nist reply with CR LF")
    c.close_and_expect_exit(0)


@case
def refused_time(c):
    """A time far from now: Wine refuses it; the edit box still shows it."""
    start(c, "text:" + FAR)
    expect_result(c, ERROR, FAR_SHOWN, "far time")
    c.close_and_expect_exit(0)


@case
def date_rollover(c):
    """10-12-31 20:30:00 + 8 h is 2011-01-01 04:30:00."""
    start(c, "text:" + ROLLOVER)
    expect_result(c, ERROR, ROLLOVER_SHOWN, "date roll-over")
    c.close_and_expect_exit(0)


@case
def without_leading_line_feed(c):
    start(c, "text:" + FAR[2:])
    expect_result(c, ERROR, FAR_SHOWN, "reply without the leading line feed")
    c.close_and_expect_exit(0)


@case
def two_spaces(c):
    """An empty field 2 shifts the date into field 3: 20-10-08-12 does not parse."""
    start(c, "two-spaces")
    expect_result(c, ERROR, FAIL_VALUE, "two spaces")
    c.close_and_expect_exit(0)


@case
def no_server(c):
    start(c, "refuse")
    c.expect_text(ID_STATUS, "eq", FAILED, 15000, "status without a server")
    time.sleep(0.5)
    c.eq(c.texts(), (FAILED, ""), "texts without a server")
    c.ping()
    c.close_and_expect_exit(0)


@case
def reply_in_pieces(c):
    """Pieces 300 ms apart give the same result as the whole line."""
    start(c, "pieces:300:\\n55420 10-08-12 0|2:24:10 00 0 0 5|0.0 UTC(NIST) * \\n")
    expect_result(c, ERROR, FAR_SHOWN, "reply in three pieces")
    c.close_and_expect_exit(0)


@case
def drip_success(c):
    """One byte per 100 ms, the last one just after the second it names."""
    start(c, "drip")
    c.expect_text(ID_STATUS, "eq", CONNECTED, 10000, "status while the reply drips")
    c.ping()
    expect_success(c, 0, "dripped nist reply")
    c.close_and_expect_exit(0)


@case
def button_resync(c):
    """The button repeats the whole exchange, progress texts included."""
    # The second connection attempt waits for 1.5 s in the server's full
    # listen queue, and the reply comes 1.5 s after the connection: both
    # texts in between stay long enough to be seen.
    start(c, "text:" + FAR, "stall:1500:delay:1500:" + OTHER)
    expect_result(c, ERROR, FAR_SHOWN, "first reply")
    c.server.send_signal(signal.SIGUSR1)
    deadline = time.time() + 5
    while not c.server_events("stalling") and time.time() < deadline:
        time.sleep(0.05)
    c.require(c.server_events("stalling"), "the server did not begin to stall")
    # The click, then every status text until the new result arrives.
    lines = c.look("click", ID_BUTTON, "watch", ID_STATUS, "ne", hexarg(ERROR), 3000, "ping", 2000,
                   "watch", ID_STATUS, "eq", hexarg(ERROR), 10000, "text", ID_EDIT, timeout=90)
    ping = one(lines, "ping")
    c.check(ping["ok"] and ping["us"] < 200000, "the window did not answer within 200 ms while "
            "connecting: %s" % ping)
    seen = [t for l in lines if l["kind"] == "watch" for t in l["seen"]]
    first_watch = [l for l in lines if l["kind"] == "watch"][0]
    c.check(first_watch["ok"], "the old result stayed after the click: %s" % seen)
    between = seen[:-1] if seen and seen[-1] == ERROR else seen
    c.check(CONNECTED in between, "no %r between the click and the new result: %s" % (CONNECTED, seen))
    c.check(PROGRESS in between, "no %r seen after the click: %s" % (PROGRESS, seen))
    if PROGRESS in between and CONNECTED in between:
        c.check(between.index(PROGRESS) < between.index(CONNECTED), "progress after success: %s" % seen)
    c.eq(seen[-1:], [ERROR], "status after the second reply")
    c.eq(one(lines, "text")["text"], OTHER_SHOWN, "edit box after the second reply")
    c.eq(len(c.server_events("accept")), 2, "connections made")
    c.close_and_expect_exit(0)


@case
def close_while_connecting(c):
    """The worker that still waits for its connection is not waited for."""
    c.start_server("stall:8000:text:" + FAR)
    c.server.send_signal(signal.SIGUSR1)
    deadline = time.time() + 5
    while not c.server_events("stalling") and time.time() < deadline:
        time.sleep(0.05)
    c.require(c.server_events("stalling"), "the server did not begin to stall")
    c.start_app()
    c.find_main()
    c.expect_text(ID_STATUS, "eq", PROGRESS, 5000, "status while the connection waits")
    c.ping()
    began = time.time()
    c.close_and_expect_exit(0, seconds=5)
    c.check(time.time() - began < 4, "closing took %.1f s while a connection was waiting" % (time.time() - began))


@case
def overlapping_connections(c):
    """A click while the first connection waits: only the second counts."""
    start(c, "overlap:" + FAR + "|" + OTHER)
    c.expect_text(ID_STATUS, "eq", CONNECTED, 10000, "status while the first connection waits")
    c.probe("find", 5000, "click", ID_BUTTON)
    expect_result(c, ERROR, OTHER_SHOWN, "reply on the second connection")
    time.sleep(1.0)
    c.eq(c.texts(), (ERROR, OTHER_SHOWN), "texts after the first connection's late reply")
    c.close_and_expect_exit(0)


def bad_second_reply(c, action, what, rss_bound_kib=None):
    """A good first reply, then a bad one on the button: 校时错误, the edit
    box keeps the first result, the program keeps running."""
    start(c, "nist", action, timeout=60)
    expect_success(c, 0, "first reply")
    utc = c.nist_utc(0)
    rss_before = c.rss_kib()
    c.probe("find", 5000, "click", ID_BUTTON)
    c.expect_text(ID_STATUS, "eq", ERROR, 20000, what + ": status")
    c.ping()
    time.sleep(0.5)
    c.eq(c.texts(), (ERROR, utc), what + ": texts (edit box unchanged)")
    c.check(c.app_alive(), what + ": the program ended")
    c.no_message_box()
    if rss_bound_kib is not None and rss_before is not None:
        rss = c.rss_kib()
        c.notes.append("RSS %d KiB -> %s KiB" % (rss_before, rss))
        c.check(rss is not None and rss - rss_before < rss_bound_kib,
                "%s: resident memory grew from %d to %s KiB" % (what, rss_before, rss))
    c.close_and_expect_exit(0)


@case
def short_reply(c):
    bad_second_reply(c, "short", "two fields")


@case
def garbage_with_zero_bytes(c):
    bad_second_reply(c, "garbage", "garbage starting with a zero byte")


@case
def long_line(c):
    bad_second_reply(c, "long-line", "10 KB on one line")


@case
def flood(c):
    bad_second_reply(c, "flood", "50 MB without a line feed", rss_bound_kib=32 * 1024)


@case
def zero_after_time(c):
    """The text ends at the first zero byte: three fields remain."""
    start(c, "zero-after-time")
    expect_result(c, ERROR, FAR_SHOWN, "zero byte after the time")
    c.close_and_expect_exit(0)


@case
def connection_reset(c):
    start(c, "reset")
    c.expect_text(ID_STATUS, "eq", CONNECTED, 10000, "status after a reset")
    time.sleep(0.5)
    c.eq(c.texts(), (CONNECTED, ""), "texts after a reset")
    c.ping()
    c.no_message_box()
    c.close_and_expect_exit(0)


@case
def silent_server(c):
    """Connected, nothing arrives: responsive, and closes at once."""
    start(c, "silent")
    c.expect_text(ID_STATUS, "eq", CONNECTED, 10000, "status while nothing arrives")
    c.ping()
    c.eq(c.texts(), (CONNECTED, ""), "texts while nothing arrives")
    c.close_and_expect_exit(0, seconds=5)


def focus_id(c):
    return c.focus()["id"]


def move_over_window(c, children):
    # Keys go where the X focus is; with no window manager that follows the
    # pointer, so the pointer rests on the label first.
    l, t, r, b = children[ID_LABEL]["screen"]
    c.xdo("mousemove", (l + r) // 2, (t + b) // 2)
    time.sleep(0.2)


@case
def tab_order(c):
    """No control focused at first; Tab does nothing then; after a click
    into the edit box Tab and Shift+Tab alternate edit box and button."""
    start(c, "text:" + FAR)
    expect_result(c, ERROR, FAR_SHOWN, "reply")
    _, ch = c.dump()
    move_over_window(c, ch)
    c.eq(focus_id(c), 0, "focus after start-up")
    c.key("Tab")
    c.eq(focus_id(c), 0, "focus after Tab with no control focused")
    c.click_at(ch[ID_EDIT]["screen"])
    c.require(focus_id(c) == ID_EDIT, "a click into the edit box did not focus it")
    c.key("1")
    c.key("BackSpace")
    c.key("Delete")
    c.eq(c.texts()[1], FAR_SHOWN, "edit box text after typing into it (read-only)")
    for key, want in (("Tab", ID_BUTTON), ("Tab", ID_EDIT), ("shift+Tab", ID_BUTTON),
                      ("shift+Tab", ID_EDIT), ("shift+Tab", ID_BUTTON)):
        c.key(key)
        c.eq(focus_id(c), want, "focus after " + key)
    c.eq(len(c.server_events("accept")), 1, "connections made (keys must not synchronise)")
    c.close_and_expect_exit(0)


@case
def enter_escape_space(c):
    """Enter and Escape do nothing; Space on the focused button synchronises."""
    start(c, "text:" + FAR, "text:" + OTHER, timeout=45)
    expect_result(c, ERROR, FAR_SHOWN, "first reply")
    _, ch = c.dump()
    move_over_window(c, ch)
    c.click_at(ch[ID_EDIT]["screen"])
    c.key("Tab")
    c.require(focus_id(c) == ID_BUTTON, "Tab from the edit box did not reach the button")
    for k in ("Return", "KP_Enter", "Escape"):
        c.key(k)
    time.sleep(1.0)
    c.check(c.app_alive(), "the program ended after Enter/Escape")
    c.eq(len(c.server_events("accept")), 1, "connections after Enter and Escape on the button")
    c.eq(c.texts(), (ERROR, FAR_SHOWN), "texts after Enter and Escape")
    c.eq(focus_id(c), ID_BUTTON, "focus after Enter and Escape")
    c.key("space")
    expect_result(c, ERROR, OTHER_SHOWN, "reply after Space on the button")
    c.eq(len(c.server_events("accept")), 2, "connections after Space on the button")
    c.close_and_expect_exit(0)


@case
def alt_f4_closes(c):
    start(c, "text:" + FAR)
    expect_result(c, ERROR, FAR_SHOWN, "reply")
    _, ch = c.dump()
    move_over_window(c, ch)
    c.click_at(ch[ID_EDIT]["screen"])
    c.key("alt+F4")
    c.eq(c.wait_exit(10), 0, "exit code after Alt+F4")


# --- running -----------------------------------------------------------------------

def run_suite(args, lang, results):
    env = Env(args, lang)
    rc, lines = env.start_wineserver()
    acp = [l for l in lines if l.get("kind") == "acp"]
    print("== LANG=%s (probe code page %s), display %s" % (
        env.lang, acp[0]["acp"] if acp else "?", env.display), flush=True)
    if not acp or acp[0]["acp"] != env.acp:
        results.append(("setup[%s]" % lang, ["the probe's code page is %s, want %d" % (
            acp[0]["acp"] if acp else "unknown", env.acp)]))
    try:
        for fn in CASES:
            if args.k and not any(k in fn.__name__ for k in args.k):
                continue
            c, took = run_case(env, fn, args.case_timeout)
            name = "%s[%s]" % (fn.__name__, lang)
            if took > args.case_timeout:
                c.failures.append("the case took %.0f s (bound %d s)" % (took, args.case_timeout))
            status = "PASS" if not c.failures else "FAIL"
            note = ("  (" + "; ".join(c.notes) + ")") if c.notes else ""
            print("%s %s %.1fs%s" % (status, name, took, note), flush=True)
            for f in c.failures:
                print("     - " + f, flush=True)
            results.append((name, c.failures))
    finally:
        env.stop_wineserver()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--exe", required=True)
    p.add_argument("--probe", required=True)
    p.add_argument("--work", required=True, help="folder for the Wine prefix and the case outputs")
    p.add_argument("--lang", choices=["zh", "en", "both"], default="both")
    p.add_argument("-k", action="append", help="run only cases whose name contains this")
    p.add_argument("--case-timeout", type=int, default=90)
    p.add_argument("--list", action="store_true")
    args = p.parse_args()
    if args.list:
        for fn in CASES:
            print(fn.__name__)
        return 0
    if os.geteuid() != 0:
        print("run_e2e: skipped: needs root (port 13 and a private mount namespace)", file=sys.stderr)
        return SKIPPED
    results = []
    for lang in (["zh", "en"] if args.lang == "both" else [args.lang]):
        run_suite(args, lang, results)
    return report(results)


if __name__ == "__main__":
    sys.exit(main())
