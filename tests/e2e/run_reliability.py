#!/usr/bin/env python3
"""Reliability checks of kestrivo.exe under Wine: hostile use, long use and
the fatal paths, seen from outside the way run_e2e.py sees the program.

    run_reliability.py --exe kestrivo.exe --probe kestrivo_probe.exe
                       --fatal kestrivo_fatal_test.exe --work DIR
                       [--soak N] [--storm N] [-k SUBSTRING]... [--list]

  storm     N clicks of 重新校时 (default 50) within two seconds against a
            server that answers every connection: afterwards the program
            answers WM_NULL within 200 ms, the status bar holds one result
            text, and the process is back to its thread count.
  soak      N synchronisations in a row (default 60; the long run is
            --soak 1000): each ends on its own result, the thread count is
            back to its baseline after each, and the resident memory grows
            by less than 1 MiB after the first 10% (the first 100 from
            N = 1000 on).
  hostile   replies that the e2e cases leave out: one field, an empty
            reply, blanks only, a line cut by a reset, a line longer than
            the 4 KiB limit (held open), the limit itself, two lines, blank
            lines before the line, odd fields. The program stays responsive,
            never shows "校时完毕" for a reply that is incomplete or malformed,
            and ends on the right text.
  fatal     kestrivo_fatal_test.exe (the program with a failing button
            handler): run-time error 1 on the user-interface thread and a
            fatal error on a worker thread: the exact box, events dropped
            while it is open, the main window destroyed by the shutdown on
            the user-interface thread, exit code -1 (255 as Wine reports it).

Threads are counted in /proc/PID/task of the Wine process that runs the
program (Wine maps each Windows thread to one Linux thread); memory is its
VmRSS. Where the machine cannot start 32-bit programs, run the x86_64 build
(preset windows64) under wine64; tools/wine-run picks wine64 for a PE32+.

Needs root (port 13 and a private mount namespace); exits 77 (skipped)
otherwise or when the exe cannot run here. Prints one line per case and
"N passed, N failed" at the end.
"""

import argparse
import datetime
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import run_e2e as e2e  # noqa: E402
from run_e2e import (CONNECTED, DONE, ERROR, FAIL_VALUE, FAR, FAR_SHOWN, ID_BUTTON, ID_EDIT,  # noqa: E402
                     ID_STATUS, OTHER, PROGRESS, SKIPPED, hexarg, one, winpath)

e2e.SERVER = HERE / "hostile_server.py"
e2e.DISPLAY_NUM = "88"  # not the display of run_e2e.py

RESULTS = (DONE, ERROR)  # what a finished synchronisation leaves on the status bar
FATAL_UI_TEXT = "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n"
FATAL_WORKER_TEXT = "运行时出错!\r\n\r\n错误信息：工作线程出错\r\n"
FATAL_CAPTION = "错误"
MIB = 1024


def numbered_shown(index):
    """The edit box after the "numbered" reply of connection `index`."""
    t = datetime.datetime(2010, 8, 12, 8) + datetime.timedelta(seconds=index)
    return t.strftime("%Y-%m-%d %H:%M:%S")


def is_result(text):
    return text == ERROR or (text.startswith(DONE) and e2e.CLOCK_RE.match(text[len(DONE):]))


class Proc:
    """Threads and memory of the Wine process that runs the program."""

    def __init__(self, pid):
        self.pid = pid

    def threads(self):
        try:
            return len(os.listdir("/proc/%d/task" % self.pid))
        except OSError:
            return None

    def rss_kib(self):
        try:
            for line in Path("/proc/%d/status" % self.pid).read_text().splitlines():
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        except OSError:
            pass
        return None

    def image(self):
        try:
            return Path("/proc/%d/cmdline" % self.pid).read_bytes().replace(b"\0", b" ").decode()
        except OSError:
            return ""

    def settle(self, want=None, seconds=10, steady=0.5):
        """Waits until the thread count equals `want` (or, without `want`,
        stays the same for `steady` seconds); returns (count, seconds taken)."""
        began = time.time()
        last, since = None, time.time()
        while time.time() - began < seconds:
            n = self.threads()
            if want is not None and n == want:
                return n, time.time() - began
            if n != last:
                last, since = n, time.time()
            elif want is None and time.time() - since >= steady:
                return n, time.time() - began
            time.sleep(0.01)
        return self.threads(), time.time() - began


class Sampler(threading.Thread):
    """The highest thread count while it runs."""

    def __init__(self, proc):
        super().__init__(daemon=True)
        self.proc, self.peak, self.done = proc, 0, threading.Event()

    def run(self):
        while not self.done.is_set():
            self.peak = max(self.peak, self.proc.threads() or 0)
            time.sleep(0.005)

    def stop(self):
        self.done.set()
        self.join()
        return self.peak


def app_proc(c):
    """The Wine process of kestrivo.exe: unshare, sh and wine-run exec into it."""
    p = Proc(c.app.pid)
    deadline = time.time() + 20
    while time.time() < deadline and "kestrivo" not in p.image().lower():
        time.sleep(0.05)
    c.require("kestrivo" in p.image().lower(), "pid %d is not the program: %r" % (p.pid, p.image()))
    return p


def start_numbered(c, replies, timeout):
    """A server with `replies` numbered replies and the program started on it,
    its first reply handled and that worker gone. Returns the program's
    process and its thread count at rest."""
    c.start_server(*(["numbered"] * replies), timeout=timeout)
    c.start_app()
    c.find_main()
    proc = app_proc(c)
    c.expect_text(ID_EDIT, "eq", numbered_shown(0), 15000, "first reply")
    st = c.expect_text(ID_STATUS, "ne", CONNECTED, 15000, "first result")
    c.require(is_result(st) or st == ERROR, "first status %r" % st)
    base, _ = proc.settle(seconds=10, steady=1.0)
    return proc, base


# --- long use --------------------------------------------------------------------

CASES = []


def case(fn):
    CASES.append(fn)
    return fn


@case
def storm(c):
    """Clicks as fast as a user could never make them, each a new worker."""
    clicks = c.env.args.storm
    proc, base = start_numbered(c, clicks + 20, timeout=120)
    rss_before = proc.rss_kib()
    cmds = []
    for _ in range(clicks):
        cmds += ["click", ID_BUTTON, "sleep", 25]
    sampler = Sampler(proc)
    sampler.start()
    began = time.time()
    lines = c.look(*cmds, "ping", 2000, timeout=120)
    took = time.time() - began
    clicked = [l for l in lines if l["kind"] == "click"]
    c.eq(sum(1 for l in clicked if l["ok"]), clicks, "clicks answered")
    ping = one(lines, "ping")
    c.check(ping["ok"] and ping["us"] <= 200000, "WM_NULL right after the storm: %s" % ping)
    # Quiet: every connection answered, every worker gone.
    back, settle_s = proc.settle(want=base, seconds=20)
    peak = sampler.stop()
    c.eq(back, base, "thread count after the storm (baseline %d, peak %d)" % (base, peak))
    w = one(c.look("watch", ID_STATUS, "none", "x", 3000, "ping", 2000, "text", ID_EDIT,
                   timeout=60), "watch")
    lines = c.look("ping", 2000, "text", ID_EDIT)
    ping2 = one(lines, "ping")
    c.check(ping2["ok"] and ping2["us"] <= 200000, "WM_NULL after the storm settled: %s" % ping2)
    c.eq(len(w["seen"]), 1, "status changes in the 3 s after the storm settled")
    final = w["text"]
    c.check(is_result(final), "final status %r is not a result text" % final)
    edit = one(lines, "text")["text"]
    sent = {numbered_shown(r["conn"]) for r in c.server_events("sent")}
    c.check(edit in sent, "edit box %r is no reply the server sent" % edit)
    accepted = len(c.server_events("accept"))
    c.check(c.app_alive(), "the program ended")
    c.no_message_box()
    rss = proc.rss_kib()
    c.notes.append("%d clicks in %.2f s (probe run), %d connections, threads %d -> peak %d -> %d "
                   "in %.2f s, WM_NULL %.1f ms then %.1f ms, RSS %d -> %d KiB, status %r" % (
                       clicks, took, accepted, base, peak, back, settle_s, ping["us"] / 1000,
                       ping2["us"] / 1000, rss_before, rss, final))
    c.close_and_expect_exit(0)


@case
def soak(c):
    """N synchronisations one after the other on one process."""
    n = c.env.args.soak
    warm = 100 if n >= 1000 else max(1, n // 10)
    proc, base = start_numbered(c, n + 1, timeout=n * 5 + 60)
    rss_start = proc.rss_kib()
    rss_warm = None
    worst_back = 0.0
    worst_ping = 0
    lost = []
    began = time.time()
    for i in range(1, n + 1):
        lines = c.look("click", ID_BUTTON, "wait", ID_EDIT, "eq", hexarg(numbered_shown(i)), 10000,
                       "wait", ID_STATUS, "eq", hexarg(ERROR), 3000, "ping", 2000, timeout=60)
        waits = [l for l in lines if l["kind"] == "wait"]
        if not all(w["ok"] for w in waits):
            lost.append((i, [w["text"] for w in waits]))
            if len(lost) > 3:
                break
        p = one(lines, "ping")
        worst_ping = max(worst_ping, p["us"] if p["ok"] else 10 ** 9)
        back, t = proc.settle(want=base, seconds=10)
        worst_back = max(worst_back, t)
        if not c.check(back == base, "thread count %s after synchronisation %d (baseline %d)" % (back, i, base)):
            break
        if i == warm:
            rss_warm = proc.rss_kib()
    took = time.time() - began
    c.check(not lost, "synchronisations without their result: %s" % lost[:4])
    c.check(worst_ping <= 200000, "worst WM_NULL answer %.1f ms" % (worst_ping / 1000))
    rss_end = proc.rss_kib()
    if rss_warm is not None and rss_end is not None:
        c.check(rss_end - rss_warm < MIB, "resident memory grew from %d KiB (after %d) to %d KiB "
                "(after %d)" % (rss_warm, warm, rss_end, n))
    c.notes.append("%d synchronisations in %.0f s; RSS %s KiB at start, %s after %d, %s after %d "
                   "(%+d KiB); threads back to %d after each within %.2f s at worst; worst WM_NULL "
                   "%.1f ms" % (n, took, rss_start, rss_warm, warm, rss_end, n,
                                (rss_end or 0) - (rss_warm or 0), base, worst_back, worst_ping / 1000))
    c.no_message_box()
    c.close_and_expect_exit(0)


# --- hostile servers ---------------------------------------------------------------

def hostile(c, action, status, edit, what, during=None, during_ms=0, timeout=30, held_open=False):
    """One reply: `during` is the status while the reply cannot be complete
    yet (checked for `during_ms`), then the status ends on `status` and the
    edit box on `edit`; "校时完毕" is never shown on the way."""
    c.start_server(action, timeout=timeout)
    c.start_app()
    c.find_main()
    if during is not None:
        c.expect_text(ID_STATUS, "eq", during, 10000, what + ": status while incomplete")
        w = one(c.look("watch", ID_STATUS, "ne", hexarg(during), during_ms, "ping", 2000,
                       timeout=during_ms / 1000 + 60), "watch")
        c.check(not w["ok"], "%s: status left %r while the reply was incomplete: %s" % (
            what, during, w["seen"]))
    if not held_open:
        # The result may come with the server's close (or reset): look after it.
        deadline = time.time() + 15
        while time.time() < deadline and not [
                r for r in c.server_events() if r["event"] in ("closed", "reset")]:
            time.sleep(0.05)
        c.require([r for r in c.server_events() if r["event"] in ("closed", "reset")],
                  what + ": the server did not end the connection")
    allowed = status if isinstance(status, tuple) else (status,)
    first = ("watch", ID_STATUS, "eq", hexarg(status), 15000) if len(allowed) == 1 else ()
    lines = c.look(*first, "ping", 2000, "watch", ID_STATUS, "none", "x", 1000, "text", ID_EDIT,
                   timeout=90)
    seen = [t for l in lines if l["kind"] == "watch" for t in l["seen"]]
    c.check(not any(t.startswith(DONE) for t in seen), "%s: the clock was set: %s" % (what, seen))
    c.check(seen[-1:] and seen[-1] in allowed, "%s: status %r, want %s (seen %s)" % (
        what, seen[-1:], " or ".join(map(repr, allowed)), seen))
    c.eq(one(lines, "text")["text"], edit, what + ": edit box")
    p = one(lines, "ping")
    c.check(p["ok"] and p["us"] <= 200000, "%s: WM_NULL %s" % (what, p))
    c.check(c.app_alive(), what + ": the program ended")
    c.no_message_box()
    c.close_and_expect_exit(0)


@case
def one_field(c):
    """No space at all: too few fields is a failed synchronisation, not run-time error 1."""
    hostile(c, "text:\\n55420\\n", ERROR, "", "one field")


@case
def empty_reply(c):
    """Connected, closed without a byte: no reply, nothing to handle."""
    hostile(c, "text:", CONNECTED, "", "empty reply")


@case
def blanks_then_close(c):
    """Blanks and line feeds only complete nothing; the close ends the reply."""
    hostile(c, "hold:5000:\\n\\r\\n \\t", ERROR, "", "blanks only", during=CONNECTED, during_ms=2000)


@case
def current_line_cut_by_reset(c):
    """The current time without its line feed, then the connection is reset
    100 ms later: the line is incomplete (a reset is no orderly close), so it
    is not handled: the clock is not set and the edit box stays empty; the
    status may stay on the connection or tell of a failed synchronisation."""
    hostile(c, "nist-cut:100", (CONNECTED, ERROR), "", "current time cut by a reset")


@case
def over_limit_held_open(c):
    """The current time, then 5000 bytes without a line feed, the connection
    still open: past 4 KiB the reply is malformed, whatever it began with."""
    hostile(c, "nist-open:5000", ERROR, "", "over 4 KiB without a line feed", held_open=True)


@case
def limit_exactly(c):
    """A current reply of exactly 4096 bytes, the line feed last, is whole."""
    c.start_server("nist-size:4096")
    c.start_app()
    c.find_main()
    e2e.expect_success(c, 0, "reply of 4096 bytes")
    c.ping()
    c.close_and_expect_exit(0)


@case
def limit_plus_one(c):
    """4097 bytes, the line feed last: one byte over the limit is malformed."""
    hostile(c, "nist-size:4097", ERROR, "", "reply of 4097 bytes")


@case
def two_lines(c):
    """The first line is the reply; what follows on the connection is not."""
    hostile(c, "text:" + FAR + OTHER[2:], ERROR, FAR_SHOWN, "two lines")


@case
def blank_lines_first(c):
    """3000 line feeds before the line: blank lines do not end the reply."""
    hostile(c, "text:" + "\\n" * 3000 + FAR, ERROR, FAR_SHOWN, "3000 blank lines first")


@case
def format_specifiers(c):
    """Fields that a formatting routine would take for directives."""
    hostile(c, "text:\\n%s%n %s%n%x-%d %n%n:%p:%s %%\\n", ERROR, FAIL_VALUE, "format specifiers")


@case
def huge_numbers(c):
    """Numbers far past every range do not parse."""
    hostile(c, "text:\\n1 99999999999999999999-99-99 99999999999:99:99\\n", ERROR, FAIL_VALUE,
            "huge numbers")


# --- fatal paths -------------------------------------------------------------------

def fatal(c, mode, text):
    journal = c.dir / "journal.txt"
    c.app = subprocess.Popen(c.env.wine_run + [str(c.env.fatal_exe), mode, winpath(journal)],
                             env=c.env.env, stdin=subprocess.DEVNULL,
                             stdout=open(c.dir / "app.out", "w"), stderr=subprocess.STDOUT,
                             start_new_session=True)
    c.find_main()
    _, ch = c.dump()
    # A real click: BM_CLICK from the probe would wait in the box.
    c.click_at(ch[ID_BUTTON]["screen"])
    lines = c.probe("msgbox", 10000, timeout=70)
    box = one(lines, "msgbox")
    c.require(box["ok"], "no message box captioned %r" % FATAL_CAPTION)
    c.eq(box["caption"], FATAL_CAPTION, "caption of the box")
    c.eq(box["text"], text, "text of the box")
    c.check(box["owner_none"], "the box has an owner window")
    buttons = [l for l in lines if l["kind"] == "box_child" and l["class"].lower() == "button"
               and l["visible"]]
    c.eq(len(buttons), 1, "visible buttons of the box")
    # While the box is open the window still answers, and a click reaches no handler.
    lines = c.look("ping", 2000, "click", ID_BUTTON, "sleep", 500)
    p = one(lines, "ping")
    c.check(p["ok"] and p["us"] <= 200000, "WM_NULL while the box is open: %s" % p)
    c.check(c.app_alive(), "the program ended before the box was closed")
    c.probe("msgbox", 2000, "msgbox-ok")
    code = c.wait_exit(15)
    c.eq(code, 255, "exit code (-1)")
    rows = [l.rsplit(" thread=", 1)
            for l in journal.read_text(encoding="gbk", errors="replace").splitlines()]
    ui = [t for what, t in rows if what == "ui"]
    c.require(len(ui) == 1, "journal without the user-interface thread: %s" % rows)
    ui = ui[0]
    c.eq([what for what, _ in rows if what.startswith("handler")], ["handler " + mode],
         "runs of the failing handler (a click while the box is open must not reach it)")
    c.check(not any(what.startswith("handler returned") or what == "normal end" for what, _ in rows),
            "the program went on after the fatal error: %s" % rows)
    main = [t for what, t in rows if what.startswith("destroy top=1") and "caption=Kestrivo V1.0" in what]
    c.eq(main, [ui], "the main window destroyed by the shutdown, on the user-interface thread")
    end_window = [t for what, t in rows if "class=KestrivoEndRequest" in what]
    c.eq(end_window, [ui], "the end-request window destroyed by the shutdown")
    if mode == "worker":
        workers = [t for what, t in rows if what == "worker"]
        c.check(len(workers) == 1 and workers[0] != ui, "the error was not raised on a worker: %s" % rows)
    c.notes.append("box %r, exit code %s, destroyed on the user-interface thread: %s" % (
        box["text"], code, [w.split("class=")[1].split()[0] for w, t in rows
                            if w.startswith("destroy top=1") and t == ui]))


@case
def fatal_on_ui_thread(c):
    fatal(c, "ui", FATAL_UI_TEXT)


@case
def fatal_on_worker(c):
    fatal(c, "worker", FATAL_WORKER_TEXT)


# --- running -----------------------------------------------------------------------

def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--exe", required=True)
    p.add_argument("--probe", required=True)
    p.add_argument("--fatal", required=True, help="kestrivo_fatal_test.exe")
    p.add_argument("--work", required=True, help="folder for the Wine prefix and the case outputs")
    p.add_argument("--soak", type=int, default=60, help="synchronisations in the soak (long run: 1000)")
    p.add_argument("--storm", type=int, default=50, help="clicks in the storm")
    p.add_argument("-k", action="append", help="run only cases whose name contains this")
    p.add_argument("--case-timeout", type=int, default=0, help="seconds per case (0: from --soak)")
    p.add_argument("--known-fault", action="append", default=[],
                   help="a case whose failure is reported (XFAIL) but not counted")
    p.add_argument("--list", action="store_true")
    args = p.parse_args()
    if args.list:
        for fn in CASES:
            print(fn.__name__)
        return 0
    if os.geteuid() != 0:
        print("run_reliability: skipped: needs root (port 13 and a private mount namespace)",
              file=sys.stderr)
        return SKIPPED
    timeout = args.case_timeout or max(120, args.soak * 4 + 120)
    env = e2e.Env(args, "zh")  # exits 77 where the exe cannot run
    env.args = args
    env.fatal_exe = Path(args.fatal).resolve()
    if not e2e.host_runs_32bit() and e2e.pe_machine(env.fatal_exe) == e2e.PE_I386:
        print("run_reliability: skipped: this host runs no 32-bit programs", file=sys.stderr)
        return SKIPPED
    rc, lines = env.start_wineserver()
    print("== reliability, LANG=%s, display %s, %s" % (env.lang, env.display, env.exe.name), flush=True)
    results = []
    try:
        for fn in CASES:
            if args.k and not any(k in fn.__name__ for k in args.k):
                continue
            c, took = e2e.run_case(env, fn, timeout)
            status = "PASS" if not c.failures else "FAIL"
            shown = c.failures
            if fn.__name__ in args.known_fault:
                status = "XFAIL" if c.failures else "XPASS"
                c.failures = []
            note = ("  (" + "; ".join(c.notes) + ")") if c.notes else ""
            print("%s %s %.1fs%s" % (status, fn.__name__, took, note), flush=True)
            for f in shown:
                print("     - " + f, flush=True)
            results.append((fn.__name__, c.failures))
    finally:
        env.stop_wineserver()
    return e2e.report(results)


if __name__ == "__main__":
    sys.exit(main())
