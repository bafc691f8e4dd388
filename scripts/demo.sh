#!/usr/bin/env bash
# Starts the simulated board on a pseudo-terminal and opens the window on it as COM2.
# Without a display, runs the window under Xvfb for a few seconds and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
shot=build/demo.png

board_out=$(mktemp)
"$bin/quenby-board" --link build/board-tty >"$board_out" &
board=$!
xvfb=""
cleanup() {
    kill "$board" 2>/dev/null || true
    wait "$board" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -f "$board_out"
}
trap cleanup EXIT

for _ in $(seq 50); do [ -s "$board_out" ] && break; sleep 0.1; done
tty=$(head -n 1 "$board_out")
# Without the board's pseudo-terminal the program would open the real COM2 device instead.
if [ -z "$tty" ] || [ ! -c "$tty" ]; then
    echo "demo: the simulated board did not start (no pseudo-terminal within 5 s);" \
        "is $bin/quenby-board built?" >&2
    exit 1
fi
echo "demo: simulated board on $tty (also build/board-tty), opened as COM2"

if [ -n "${DISPLAY:-}" ]; then
    QUENBY_COM2="$tty" "$bin/quenby"
    echo "demo: the board received:"
    tail -n +2 "$board_out" | tail -n 20
    exit 0
fi

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY="$display" QUENBY_COM2="$tty" "$bin/quenby" &
app=$!
sleep 4
DISPLAY="$display" import -window root -crop 590x570+376+303 +repage "$shot"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
echo "demo: no DISPLAY, so the window ran under Xvfb for 4 seconds; screenshot saved to $shot"
