#!/usr/bin/env bash
# make demo: starts the simulated server job on 127.0.0.1:30000 with its demo
# population, opens the console on data/demo.hcf (which points at it), and
# stops the simulator when the console exits.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-build}"
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
SIM="$BUILD/bin/orvanite-hostsim"
CONSOLE="$BUILD/bin/orvanite-console"
CONFIG="$ROOT/data/demo.hcf"
PORT=30000

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "demo: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the console needs a window." >&2
    echo "demo: run it in a desktop session, or headless with: xvfb-run -a make demo" >&2
    exit 1
fi
for program in "$SIM" "$CONSOLE"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; build first (make build)." >&2
        exit 1
    fi
done

LOG="$(mktemp -t orvanite-hostsim.XXXXXX)"
SIM_PID=""
cleanup() {
    if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -f "$LOG"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$SIM" --port "$PORT" --demo >"$LOG" 2>&1 &
SIM_PID=$!

# Wait up to 10 s for the simulator to say it listens.
for _ in $(seq 1 100); do
    if grep -q "listening on" "$LOG"; then
        break
    fi
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
        echo "demo: orvanite-hostsim stopped before it listened:" >&2
        cat "$LOG" >&2
        exit 1
    fi
    sleep 0.1
done
if ! grep -q "listening on" "$LOG"; then
    echo "demo: orvanite-hostsim did not start listening on port $PORT within 10 s." >&2
    cat "$LOG" >&2
    exit 1
fi
echo "demo: $(grep -m1 "listening on" "$LOG")"

status=0
"$CONSOLE" "$CONFIG" || status=$?
echo "demo: the console exited (status $status); stopping the simulator."
exit "$status"
