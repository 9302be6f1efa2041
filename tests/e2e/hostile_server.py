#!/usr/bin/env python3
"""The Daytime test server of daytime_server.py with the replies that the
reliability checks add. Same command line; further actions:

  numbered        "\\n55420 10-08-12 T ...\\n" where T is 00:00:00 plus as many
                  seconds as the connection's index: every connection's
                  reply names a time of its own
  hold:MS:ESC     send ESC, keep the connection open for MS, then close
  cut:MS:ESC      send ESC, wait MS, then reset the connection (SO_LINGER 0)
  nist-cut:MS     the current "nist" line without its line feed, then a reset
                  after MS
  nist-open:PAD   the current "nist" line without its line feed, followed by
                  PAD bytes "x" and no line feed; held open until the end
  nist-size:N     the current "nist" reply padded (in its last field) to
                  exactly N bytes, its one line feed the last byte
"""

import datetime
import socket
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import daytime_server as ds  # noqa: E402

NUMBERED_BASE = datetime.datetime(2010, 8, 12)


def numbered_reply(index):
    moment = NUMBERED_BASE + datetime.timedelta(seconds=index)
    return ("\n55420 %s" % moment.strftime("%y-%m-%d %H:%M:%S") + ds.NIST_TAIL + "\n").encode("ascii")


class HostileServer(ds.Server):
    def current_line(self, conn, index):
        """The "nist" reply for the next second boundary, as act_nist sends it."""
        ds.sleep_until(int(time.time()) + 1 + 0.01)
        moment = ds.utc_now().replace(microsecond=0)
        shifted = moment - datetime.timedelta(hours=8)
        self.log("nist", conn=index, utc=moment.strftime("%Y-%m-%d %H:%M:%S"),
                 sent_time=shifted.strftime("%Y-%m-%d %H:%M:%S"))
        return ds.nist_reply(shifted)

    def reset(self, conn, index):
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        conn.close()
        self.log("reset", conn=index)

    def dispatch(self, conn, index, action):
        try:
            if action == "numbered":
                self.act_text(conn, index, numbered_reply(index))
            elif action.startswith("hold:"):
                _, ms, text = action.split(":", 2)
                self.send(conn, index, ds.unescape(text))
                self.hold(conn, int(ms) / 1000)
                self.finish(conn, index)
            elif action.startswith("cut:"):
                _, ms, text = action.split(":", 2)
                self.send(conn, index, ds.unescape(text))
                time.sleep(int(ms) / 1000)
                self.reset(conn, index)
            elif action.startswith("nist-cut:"):
                line = self.current_line(conn, index).rstrip(b"\n")
                self.send(conn, index, line)
                time.sleep(int(action.split(":")[1]) / 1000)
                self.reset(conn, index)
            elif action.startswith("nist-open:"):
                line = self.current_line(conn, index).rstrip(b"\n")
                self.send(conn, index, line + b"x" * int(action.split(":")[1]))
                self.hold(conn)
                conn.close()
                self.log("closed", conn=index)
            elif action.startswith("nist-size:"):
                size = int(action.split(":")[1])
                line = self.current_line(conn, index)
                assert len(line) <= size
                self.send(conn, index, line[:-1] + b"x" * (size - len(line)) + b"\n")
                self.finish(conn, index)
            else:
                super().dispatch(conn, index, action)
        except OSError as e:
            self.log("error", conn=index, error=str(e))
            conn.close()


def main():
    ds.Server = HostileServer  # ds.main builds the server by this name
    ds.main()


if __name__ == "__main__":
    main()
