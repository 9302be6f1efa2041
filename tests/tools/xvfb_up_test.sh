#!/usr/bin/env bash
# tools/xvfb-up on a display whose server died: the socket file and the lock
# file are still in /tmp (the state a stopped machine leaves behind), and the
# lock names a process id that is alive but is no X server. xvfb-up must
# start a real server there, not hand out the dead display.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
n=${1:-97}
sock=/tmp/.X11-unix/X$n
lock=/tmp/.X$n-lock

answers() {
  python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX); s.settimeout(2); s.connect(sys.argv[1])' "$1" 2>/dev/null
}
stop_server() {
  if [ -f "$lock" ]; then
    pid=$(tr -d ' ' <"$lock")
    [ "$pid" = "$$" ] || kill "$pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT

if answers "$sock"; then
  echo "display :$n is in use by someone else; pass a free number" >&2
  exit 1
fi
mkdir -p /tmp/.X11-unix
rm -f "$sock" "$lock"
# A socket nobody listens on: bound, then its process ended.
python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$sock"
printf '%10d\n' $$ >"$lock"
answers "$sock" && { echo "the stale socket answers: the fixture is wrong" >&2; exit 1; }

out=$(KESTRIVO_DISPLAY_NUM=$n "$here/tools/xvfb-up")
[ "$out" = ":$n" ] || { echo "xvfb-up printed '$out', not :$n" >&2; exit 1; }
answers "$sock" || { echo "xvfb-up printed :$n but no server answers there" >&2; exit 1; }
# A second call finds the live server and starts nothing new.
before=$(cat "$lock")
out=$(KESTRIVO_DISPLAY_NUM=$n "$here/tools/xvfb-up")
[ "$out" = ":$n" ] && [ "$(cat "$lock")" = "$before" ] || { echo "a second call did not reuse the server" >&2; exit 1; }
echo "xvfb-up: a dead display is restarted, a live one reused"
