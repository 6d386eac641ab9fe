#!/usr/bin/env bash
# Runs the README's command blocks that use orvanite-ctl or orvanite-hostsim,
# as written and in order, in one shell (set -e, pipefail), in a scratch
# folder that has the checkout's build/ and data/ as a fresh checkout after
# `make` has them. A block the README marks with "<!-- not run: REASON -->"
# on the line before it is skipped with its reason; blocks of other programs
# (the window, the exporter, make) are not run here.
#
# Only what the README itself says to vary is changed: the value of its
# PORT=. Beyond the README's own lines the shell waits, after a simulator
# started in the background (&), until it accepts connections; and a
# simulator started in the foreground, which would run until Ctrl+C, is run
# until it prints "listening on", then stopped with SIGTERM (its status must
# be 0).
#
# $1: the source folder; $2: the build folder.
set -uo pipefail

src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/run" "$work/home" "$work/config" "$work/state" "$work/data-home"
ln -s "$(cd "$build" && pwd)" "$work/run/build"
ln -s "$(cd "$src" && pwd)/data" "$work/run/data"

# The blocks to run, each line as it stands but for the additions above.
awk -v port="$port" '
    function runnable(    i) {
        for (i = 1; i <= n; i++)
            if (block[i] ~ /^([A-Z_]+=[^ ]* )*(orvanite-ctl|build\/bin\/orvanite-hostsim)( |$)/)
                return 1
        return 0
    }
    /^```/ && !open { open = 1; n = 0; next }
    /^```/ && open {
        open = 0
        if (!runnable()) { skip = ""; next }
        blocks++
        if (skip != "") {
            printf "echo %c# skipped: %s%c\n", 39, skip, 39
            skip = ""
            next
        }
        printf "echo %c# block %d%c\n", 39, blocks, 39
        for (i = 1; i <= n; i++) {
            line = block[i]
            if (line ~ /^[ \t]*$/)
                continue
            if (line ~ /^PORT=[0-9]+/)
                sub(/^PORT=[0-9]+/, "PORT=" port, line)
            if (line ~ /^build\/bin\/orvanite-hostsim / && line !~ /&[ \t]*(#.*)?$/ &&
                line !~ / --(help|version)/)
                line = "in_foreground " line
            print line
            if (line ~ /^build\/bin\/orvanite-hostsim .*&[ \t]*(#.*)?$/)
                print "until_listening \"$PORT\""
        }
        next
    }
    open { block[++n] = $0; next }
    /^<!-- not run: .* -->$/ { skip = $0; sub(/^<!-- not run: /, "", skip); sub(/ -->$/, "", skip); next }
    /[^ \t]/ { skip = "" }
' "$src/README.md" >"$work/blocks.sh"

grep -q 'orvanite-ctl' "$work/blocks.sh" || { echo "FAIL: no orvanite-ctl block found"; exit 1; }
grep -q 'PORT=' "$work/blocks.sh" || { echo "FAIL: the README names no PORT"; exit 1; }

cat >"$work/readme.sh" <<'PRELUDE'
set -e -o pipefail
# The README's own background jobs end with the shell, should a line fail
# before its "kill %1".
trap 'status=$?; [ -z "$(jobs -p)" ] || kill $(jobs -p) 2>/dev/null; exit $status' EXIT
# A simulator in the background takes connections: wait until it does.
until_listening() {
    local i
    for i in $(seq 300); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "nothing listens on port $1"
    return 1
}
# A simulator in the foreground: until it listens, then SIGTERM.
in_foreground() {
    local out=$SCRATCH/foreground.out
    "$@" >"$out" 2>"$SCRATCH/foreground.err" &
    local pid=$! i
    for i in $(seq 1200); do
        grep -q '^listening on ' "$out" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q '^listening on ' "$out"; then
        echo "$* did not start:"
        cat "$out" "$SCRATCH/foreground.err"
        kill "$pid" 2>/dev/null
        return 1
    fi
    head -1 "$out"
    kill -TERM "$pid"
    wait "$pid"
}
set -x
PRELUDE
cat "$work/blocks.sh" >>"$work/readme.sh"

cd "$work/run" || exit 1
# The programs' settings, trail and keyring are the scratch folder's; no
# desktop keyring is reachable.
env HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" \
    XDG_DATA_HOME="$work/data-home" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" \
    SCRATCH="$work" bash "$work/readme.sh"
status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: the README's commands stopped with status $status (the last command above)"
    exit 1
fi
echo "README blocks run: $(grep -c '^echo .# block' "$work/blocks.sh")"
