#!/usr/bin/env python3
"""A Daytime (RFC 867) test server for the end-to-end tests.

    daytime_server.py [--host 127.0.0.1] [--port 13] [--timeout S] [--log FILE] ACTION...

Each ACTION answers one connection, in the order the connections arrive;
when the actions are used up the server ends (after the last connection has
been dealt with), and it ends in any case after --timeout seconds, closing
whatever is still open. It prints "ready" on stdout once it listens, and
writes what happened as JSON lines to --log (accepted, sent, closed, the
time a "nist" reply carried).

Actions:
  nist            the current UTC time minus 8 hours in the NIST format,
                  sent just after a second boundary, then close
  nist-crlf       the same with CR LF line ends
  text:ESC        the bytes ESC (Python escapes: \\n, \\r, \\x00) and close
  delay:MS:ESC    wait MS after accepting, then as text:
  pieces:MS:A|B.. send the pieces A, B, ... MS apart, then close
  short           a reply of two fields only
  two-spaces      two spaces between the first and the second field
  garbage         bytes with zeros, ending in a line feed
  zero-after-time a well-formed start, a zero byte after the time of day
  long-line       10 KB without a line feed, then one
  silent          accept and never send; close only at the end
  reset           accept and reset at once (SO_LINGER 0)
  flood:BYTES     send BYTES bytes without a line feed (default 50 MB)
  drip            a "nist" reply one byte per 100 ms, timed so that its last
                  byte leaves just after a second boundary and the time it
                  carries is that second
  overlap:A|B     takes two connections: holds the first, answers the
                  second with B first, then the first with A
  stall:MS:ACTION on SIGUSR1, fills the listen queue so that the next
                  connection attempt waits (its SYN is dropped and sent
                  again) for MS; then accepts it and goes on with ACTION
  refuse          no listener at all: the port is bound but not listening,
                  so a connection is refused (must be the only action)
"""

import argparse
import datetime
import json
import signal
import socket
import sys
import threading
import time

NIST_TAIL = " 00 0 0 50.0 UTC(NIST) * "
FIXED = "\n55420 10-08-12 02:24:10" + NIST_TAIL + "\n"

PRESETS = {
    "short": "\n55420 10-08-12\n",
    "two-spaces": "\n55420  10-08-12 02:24:10" + NIST_TAIL + "\n",
    "garbage": "\x00\x01\x02garbage\x00\xff\xfe 12-34 56\x00\n",
    "zero-after-time": "\n55420 10-08-12 02:24:10\x00 garbage 99\n",
    "long-line": "\n55420 10-08-12 02:24:10 " + "x" * 10240 + "\n",
}


def unescape(text):
    return text.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1")


def mjd(day):
    return (day - datetime.date(1858, 11, 17)).days


def nist_reply(moment, line_end="\n"):
    """The NIST line for `moment` (a UTC datetime)."""
    return (line_end + "%05d %s" % (mjd(moment.date()), moment.strftime("%y-%m-%d %H:%M:%S"))
            + NIST_TAIL + line_end).encode("ascii")


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


def sleep_until(deadline):
    while True:
        left = deadline - time.time()
        if left <= 0:
            return
        time.sleep(min(left, 0.05) if left > 0.002 else left)


class Server:
    def __init__(self, args):
        self.args = args
        self.end = time.time() + args.timeout
        self.log_file = open(args.log, "a", buffering=1) if args.log else None
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.open_sockets = []
        self.go = threading.Event()
        signal.signal(signal.SIGUSR1, lambda *_: self.go.set())

    def log(self, event, **fields):
        fields.update(event=event, t=round(time.time(), 4))
        line = json.dumps(fields, ensure_ascii=False)
        with self.lock:
            if self.log_file:
                self.log_file.write(line + "\n")

    def remaining(self):
        return max(0.0, self.end - time.time())

    def hold(self, conn, seconds=None):
        """Keeps `conn` open until the server ends (or for `seconds`)."""
        until = self.end if seconds is None else min(self.end, time.time() + seconds)
        while time.time() < until and not self.stop.is_set():
            time.sleep(0.05)

    def send(self, conn, index, data, chunk=65536):
        sent = 0
        try:
            while sent < len(data):
                n = conn.send(data[sent:sent + chunk])
                sent += n
        except OSError as e:
            self.log("send_failed", conn=index, sent=sent, error=str(e))
            return False
        shown = data if len(data) <= 200 else data[:100] + b"..." + data[-20:]
        self.log("sent", conn=index, bytes=len(data), text=shown.decode("latin-1"))
        return True

    def finish(self, conn, index):
        try:
            conn.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        # Let the client read before the socket goes; a client that closes
        # first ends this wait early.
        conn.settimeout(0.2)
        deadline = time.time() + 2
        try:
            while time.time() < deadline:
                try:
                    if not conn.recv(4096):
                        break
                except socket.timeout:
                    continue
        except OSError:
            pass
        conn.close()
        self.log("closed", conn=index)

    # --- the actions -----------------------------------------------------
    def act_nist(self, conn, index, line_end="\n"):
        # Just after the next second boundary, so that the whole second the
        # reply names is still "now" when the client sets its clock.
        sleep_until(int(time.time()) + 1 + 0.01)
        moment = utc_now().replace(microsecond=0)
        shifted = moment - datetime.timedelta(hours=8)
        data = nist_reply(shifted, line_end)
        self.log("nist", conn=index, utc=moment.strftime("%Y-%m-%d %H:%M:%S"),
                 sent_time=shifted.strftime("%Y-%m-%d %H:%M:%S"))
        self.send(conn, index, data)
        self.finish(conn, index)

    def act_drip(self, conn, index):
        # The time is known before the first byte leaves: the last byte goes
        # (len - 1) * 100 ms after the first. Start so that it goes 10 ms
        # after a second boundary and carries that second.
        probe_len = len(nist_reply(utc_now()))
        span = (probe_len - 1) * 0.1
        last = int(time.time() + span) + 1 + 0.01
        first = last - span
        moment = datetime.datetime.utcfromtimestamp(int(last))
        shifted = moment - datetime.timedelta(hours=8)
        data = nist_reply(shifted)
        assert len(data) == probe_len
        self.log("nist", conn=index, utc=moment.strftime("%Y-%m-%d %H:%M:%S"),
                 sent_time=shifted.strftime("%Y-%m-%d %H:%M:%S"), drip=True)
        for i in range(len(data)):
            sleep_until(first + i * 0.1)
            try:
                conn.send(data[i:i + 1])
            except OSError as e:
                self.log("send_failed", conn=index, sent=i, error=str(e))
                conn.close()
                return
        self.log("sent", conn=index, bytes=len(data), text=data.decode("latin-1"),
                 late_ms=round((time.time() - last) * 1000, 1))
        self.finish(conn, index)

    def act_text(self, conn, index, data, delay=0.0):
        if delay:
            time.sleep(delay)
        self.send(conn, index, data)
        self.finish(conn, index)

    def act_pieces(self, conn, index, pieces, gap):
        for i, piece in enumerate(pieces):
            if i:
                time.sleep(gap)
            if not self.send(conn, index, piece):
                conn.close()
                return
        self.finish(conn, index)

    def act_silent(self, conn, index):
        self.hold(conn)
        conn.close()
        self.log("closed", conn=index)

    def act_reset(self, conn, index):
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        conn.close()
        self.log("reset", conn=index)

    def act_flood(self, conn, index, total):
        block = b"7" * 65536
        sent = 0
        try:
            while sent < total and time.time() < self.end:
                n = conn.send(block[:min(len(block), total - sent)])
                sent += n
        except OSError as e:
            self.log("flood_stopped", conn=index, sent=sent, error=str(e))
            conn.close()
            return
        self.log("sent", conn=index, bytes=sent, text="<flood>")
        self.finish(conn, index)

    # --- dispatch ----------------------------------------------------------
    def run(self):
        actions = self.args.actions
        if actions == ["refuse"]:
            return self.run_refuse()
        if "refuse" in actions:
            sys.exit("daytime_server: refuse must be the only action")
        listener = self.listen()
        print("ready", flush=True)
        self.log("ready", actions=actions)
        workers = []
        index = 0
        pending = list(actions)
        while pending and self.remaining() > 0:
            action = pending.pop(0)
            if action.startswith("stall:"):
                _, ms, action = action.split(":", 2)
                self.stall(listener, int(ms) / 1000)
            conn = self.accept(listener, index)
            if conn is None:
                break
            if action.startswith("overlap:"):
                a, b = (unescape(p) for p in action[len("overlap:"):].split("|", 1))
                second = self.accept(listener, index + 1)
                if second is None:
                    conn.close()
                    break
                t = threading.Thread(target=self.act_overlap, args=(conn, index, second, index + 1, a, b))
                index += 2
            else:
                t = threading.Thread(target=self.dispatch, args=(conn, index, action))
                index += 1
            t.daemon = True
            t.start()
            workers.append(t)
        listener.close()
        for t in workers:
            t.join(self.remaining() + 3)
            if t.is_alive():
                self.stop.set()
        self.log("end", connections=index)

    def stall(self, listener, seconds):
        """Keeps the next connection attempt waiting for `seconds` from the
        moment the test signals (SIGUSR1): a backlog of 0 and one connection
        of our own in the queue make the listener drop new SYNs."""
        while not self.go.is_set() and self.remaining() > 0:
            self.go.wait(0.05)
        listener.listen(0)
        plug = socket.create_connection((self.args.host, self.args.port), timeout=2)
        self.log("stalling", seconds=seconds)
        time.sleep(min(seconds, self.remaining()))
        listener.settimeout(2)
        try:
            own, _ = listener.accept()  # the plug is first in the queue
            own.close()
        except socket.timeout:
            pass
        plug.close()
        listener.listen(8)
        self.log("stall_over")

    def act_overlap(self, first, i1, second, i2, reply_first, reply_second):
        self.send(second, i2, reply_second)
        time.sleep(0.2)
        self.send(first, i1, reply_first)
        done = threading.Thread(target=self.finish, args=(second, i2))
        done.start()
        self.finish(first, i1)
        done.join()

    def dispatch(self, conn, index, action):
        try:
            if action == "nist":
                self.act_nist(conn, index)
            elif action == "nist-crlf":
                self.act_nist(conn, index, "\r\n")
            elif action == "drip":
                self.act_drip(conn, index)
            elif action == "silent":
                self.act_silent(conn, index)
            elif action == "reset":
                self.act_reset(conn, index)
            elif action in PRESETS:
                self.act_text(conn, index, PRESETS[action].encode("latin-1"))
            elif action.startswith("text:"):
                self.act_text(conn, index, unescape(action[5:]))
            elif action.startswith("delay:"):
                _, ms, text = action.split(":", 2)
                self.act_text(conn, index, unescape(text), int(ms) / 1000)
            elif action.startswith("pieces:"):
                _, ms, text = action.split(":", 2)
                self.act_pieces(conn, index, [unescape(p) for p in text.split("|")], int(ms) / 1000)
            elif action == "flood" or action.startswith("flood:"):
                total = int(action[6:]) if action.startswith("flood:") else 50 * 1024 * 1024
                self.act_flood(conn, index, total)
            else:
                self.log("unknown_action", conn=index, action=action)
                conn.close()
        except OSError as e:
            self.log("error", conn=index, error=str(e))
            conn.close()

    def listen(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.bind(s)
        s.listen(8)
        return s

    def bind(self, s):
        # Another test's server may still hold the port for a moment.
        deadline = time.time() + min(10, self.args.timeout)
        while True:
            try:
                s.bind((self.args.host, self.args.port))
                return
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.1)

    def accept(self, listener, index):
        listener.settimeout(0.1)
        while self.remaining() > 0:
            try:
                conn, peer = listener.accept()
            except socket.timeout:
                continue
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self.log("accept", conn=index, peer="%s:%d" % peer)
            return conn
        return None

    def run_refuse(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.bind(s)  # bound, never listening: a connection is refused
        print("ready", flush=True)
        self.log("ready", actions=["refuse"])
        while self.remaining() > 0 and not self.stop.is_set():
            time.sleep(0.05)
        s.close()
        self.log("end", connections=0)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=13)
    p.add_argument("--timeout", type=float, default=30.0, help="seconds until the server ends")
    p.add_argument("--log")
    p.add_argument("actions", nargs="+")
    args = p.parse_args()
    Server(args).run()


if __name__ == "__main__":
    main()
