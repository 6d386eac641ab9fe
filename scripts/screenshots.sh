#!/usr/bin/env bash
# Pictures of the console: starts a demo simulator on a free port and the
# screenshot program under a virtual X server, writes BUILD/screenshots/*.png,
# and stops everything it started.
set -euo pipefail

BUILD=${1:-build}
BUILD=$(cd "$BUILD" && pwd)
BIN="$BUILD/bin"
OUT="$BUILD/screenshots"
for program in orvanite-hostsim orvanite-screenshots; do
  if [ ! -x "$BIN/$program" ]; then
    echo "screenshots: $BIN/$program is missing; build it first" >&2
    exit 1
  fi
done
mkdir -p "$OUT"
rm -f "$OUT"/*.png "$OUT"/scale2/*.png

export BIN OUT
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  log=$(mktemp)
  "$BIN/orvanite-hostsim" --port 0 --demo >"$log" 2>/dev/null &
  sim=$!
  trap "kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -f $log" EXIT
  port=""
  for _ in $(seq 1 100); do
    port=$(sed -n "s/^listening on [^:]*:\([0-9]*\).*/\1/p" "$log" | head -n1)
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "screenshots: the simulator did not start" >&2
    exit 1
  fi
  QT_QPA_PLATFORM=xcb "$BIN/orvanite-screenshots" --port "$port" --out "$OUT"
  # The window on a 1280 x 1024 screen at a scale factor of 2.
  mkdir -p "$OUT/scale2"
  QT_SCALE_FACTOR=2 QT_QPA_PLATFORM=xcb "$BIN/orvanite-screenshots" --port "$port" \
    --out "$OUT/scale2" --main-only
'
ls -1 "$OUT"/*.png "$OUT"/scale2/*.png
