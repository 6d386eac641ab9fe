#!/usr/bin/env bash
# Runs every benchmark program of a build and writes BUILD/bench/report.md:
# one table with each figure, its goal and whether it was met, and the
# machine it ran on. Usage: scripts/bench.sh [BUILD_DIR] (default build).
#
# Programs are looked for in BUILD/bin and under BUILD/bench*/; one that is
# missing is listed as "not built". Google Benchmark programs run with
# --benchmark_format=json; the others print one JSON line (the last line
# starting with "{") whose goal_* fields give their goals.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
if [ ! -d "$build" ]; then
  echo "bench: no build directory $build" >&2
  exit 1
fi
out="$build/bench"
raw="$out/raw"
mkdir -p "$raw"
rm -f "$raw"/*

# Finds a benchmark program by any of its names; prints its path.
find_program() {
  local name found
  for name in "$@"; do
    if [ -x "$build/bin/$name" ] && [ -f "$build/bin/$name" ]; then
      echo "$build/bin/$name"
      return 0
    fi
    found="$(find "$build"/bench* -type f -perm -u+x -name "$name" 2>/dev/null | head -n 1)"
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
  done
  return 1
}

status=0
# run KEY COMMAND...: runs one benchmark, its output to raw/KEY.out.
run() {
  local key="$1"
  shift
  echo "bench: $key: $*"
  if ! "$@" >"$raw/$key.out" 2>"$raw/$key.err"; then
    echo "bench: $key failed (see $raw/$key.err)" >&2
    tail -n 5 "$raw/$key.err" >&2 || true
    : >"$raw/$key.failed"
    status=1
  fi
}

export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
load_before="$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo "?")"

if p="$(find_program bench_protocol bench-protocol)"; then
  run protocol "$p" --benchmark_format=json
fi
if p="$(find_program bench_waitcpu bench-waitcpu)"; then
  run waitcpu "$p"
fi
if p="$(find_program bench_refresh bench-refresh)"; then
  run refresh "$p"
fi
if p="$(find_program bench_startup bench-startup)"; then
  run startup "$p"
fi

BENCH_RAW="$raw" BENCH_LOAD="$load_before" BENCH_ROOT="$root" python3 - >"$out/report.md" <<'PY'
import json, os, platform, re, subprocess

raw = os.environ["BENCH_RAW"]

def read(key, ext):
    try:
        with open(os.path.join(raw, key + ext), encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return None

def ran(key):
    return read(key, ".out") is not None

def failed(key):
    return os.path.exists(os.path.join(raw, key + ".failed"))

def json_line(key):
    text = read(key, ".out") or ""
    lines = [l for l in text.splitlines() if l.startswith("{")]
    return json.loads(lines[-1]) if lines else None

rows = []  # (figure, result, goal, verdict, program)

def row(figure, result, goal, met, program):
    verdict = "—" if met is None else ("met" if met else "**missed**")
    rows.append((figure, result, goal, verdict, program))

def absent(key, program, figures):
    reason = "failed (see raw/%s.err)" % key if failed(key) else "not built"
    for figure, goal in figures:
        rows.append((figure, reason, goal, "—", program))

# Record splitting and framed reading.
protocol_figures = [
    ("Record splitting, typical process records", "≥ 10 M records/s, within 4× of the memchr floor"),
    ("memchr floor (finding every separator only)", "reference"),
    ("100,000 framed records read out of the receive buffer", "< 20 ms"),
]
doc = None
if ran("protocol") and not failed("protocol"):
    try:
        doc = json.loads(read("protocol", ".out"))
    except ValueError:
        doc = None
if doc:
    marks = {b["name"]: b for b in doc.get("benchmarks", []) if b.get("run_type", "iteration") == "iteration"}
    split = marks.get("BM_SplitProcessRecord")
    floor = marks.get("BM_MemchrFloor")
    framed = next((b for n, b in marks.items() if n.startswith("BM_ReadFramedRecords")), None)
    if split and floor:
        s, f = split["items_per_second"], floor["items_per_second"]
        row(protocol_figures[0][0], "%.1f M records/s (%.0f ns each; %.1f× slower than the floor)" % (s / 1e6, 1e9 / s, f / s),
            protocol_figures[0][1], s >= 10e6 and f / s <= 4.0, "bench_protocol")
        row(protocol_figures[1][0], "%.1f M records/s" % (f / 1e6), "reference", None, "bench_protocol")
    if framed:
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[framed.get("time_unit", "ns")]
        ms = framed["real_time"] * scale
        row(protocol_figures[2][0], "%.2f ms" % ms, protocol_figures[2][1], ms < 20.0, "bench_protocol")
else:
    absent("protocol", "bench_protocol", protocol_figures)

# Programs that print one JSON line with goal_* fields.
def goal_rows(key, program, figures):
    data = json_line(key) if ran(key) and not failed(key) else None
    if not data:
        absent(key, program, [(f, g % d) for f, _, g, _, d in figures])
        return
    for figure, field, goal_text, fmt, _ in figures:
        value = data.get(field)
        goals = [v for k, v in data.items() if k.startswith("goal_") and
                 (field == k[5:] or field.endswith("_" + k[5:]))]
        goal = goals[0] if goals else None
        if value is None:
            row(figure, "not reported", goal_text, None, program)
            continue
        text = fmt(data) if callable(fmt) else fmt % value
        row(figure, text, "—" if goal is None else goal_text % goal,
            None if goal is None else value < goal, program)

goal_rows("waitcpu", "bench_waitcpu", [
    ("CPU seconds the process uses while a read waits out the reply time-out (10 s) for a reply that never comes",
     "cpu_s", "< %g s", lambda d: "%.4f s over a wait of %.1f s" % (d["cpu_s"], d.get("waited_s", 0)), 0.05),
])
refresh = json_line("refresh") if ran("refresh") else None
processes = refresh.get("processes", 100000) if refresh else 100000
goal_rows("refresh", "bench-refresh", [
    ("End-to-end refresh of %s processes into ProcessArray, median wall time" % format(processes, ","),
     "median_ms", "< %g ms", "%.1f ms", 100),
    ("End-to-end refresh, peak resident memory", "peak_rss_mib", "< %g MiB", "%.1f MiB", 150),
])
# Start-up: the main window created as the program entry does, in a fresh
# process, and the orvanite-console program itself (see bench/startup).
goal_rows("startup", "bench-startup", [
    ("Start-up to a filled listener table on a 10-listener host (fresh process, main window as the program entry creates it), median",
     "startup_ms", "< %g ms", "%.1f ms", 1000),
    ("Start-up of orvanite-console with a configuration file until it asks for processes (listener table filled), median",
     "program_startup_ms", "< %g ms", "%.1f ms", 1000),
])

# The machine.
def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"

def memory():
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    return "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
    except OSError:
        pass
    return "unknown"

def os_name():
    try:
        with open("/etc/os-release") as f:
            m = re.search(r'^PRETTY_NAME="?([^"\n]*)"?', f.read(), re.M)
            if m:
                return "%s, Linux %s" % (m.group(1), platform.release())
    except OSError:
        pass
    return platform.platform()

def commit():
    try:
        return subprocess.run(["git", "-C", os.environ["BENCH_ROOT"], "rev-parse", "--short", "HEAD"],
                              capture_output=True, text=True, check=True).stdout.strip()
    except Exception:
        return "unknown"

print("# Benchmark report\n")
print("| Figure | Result | Goal | Verdict | Program |")
print("|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(str(c).replace("|", "\\|") for c in r) + " |")
print()
print("Machine:\n")
print("- CPU: %s" % cpu_model())
print("- Cores: %d" % os.cpu_count())
print("- Memory: %s" % memory())
print("- OS: %s" % os_name())
print("- Load average when the run started: %s" % os.environ.get("BENCH_LOAD", "?"))
print("- Commit: %s" % commit())
print()
print("Raw output of each program is in `raw/` beside this file.")
PY

echo "bench: wrote $out/report.md"
cat "$out/report.md"
exit "$status"
