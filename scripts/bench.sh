#!/usr/bin/env bash
# Runs every benchmark program of a build and writes BUILD/bench/report.md:
# one table with each figure, the floor it is measured against and their
# ratio where it has one, its goal and whether it was met, and the machine it
# ran on. Usage: scripts/bench.sh [BUILD_DIR] (default build).
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
  run refresh_prepared_100k "$p" --prepared --processes 100000
  run refresh_prepared_1m "$p" --prepared --processes 1000000 --runs 5
fi
if p="$(find_program bench_session_refresh bench-session-refresh)"; then
  run session_refresh_100k "$p" --processes 100000
  run session_refresh_1m "$p" --processes 1000000 --runs 5
  run session_refresh_sorted_1m "$p" --processes 1000000 --runs 5 --sort-filter
fi
if p="$(find_program bench_floor_refresh bench-floor-refresh)"; then
  run floor_refresh_100k "$p" --processes 100000
  run floor_refresh_1m "$p" --processes 1000000 --runs 5
fi
if p="$(find_program bench_ctl bench-ctl)"; then
  run ctl_100k "$p" --processes 100000
  run ctl_1m "$p" --processes 1000000 --runs 3
fi
if p="$(find_program bench_startup bench-startup)"; then
  run startup "$p"
fi
if p="$(find_program bench_floor_startup bench-floor-startup)"; then
  run floor_startup "$p"
fi
if p="$(find_program bench_exporter_scrape bench-exporter-scrape)"; then
  run exporter_scrape "$p" --hosts 100 --processes 1000
  run exporter_scrape_processes "$p" --hosts 100 --processes 1000 --collect-processes
fi
# 1,000 scrapes with a host refusing every logon, then 1,000 idle connections.
if p="$(find_program bench-exporter-limits)"; then
  run exporter_limits "$p" --scrapes 1000 --idle 1000 --idle-seconds 3
fi
# An authorised scrape alone and beside 200 idle, 64 slow-header and 32
# unauthenticated clients; password checks of known and unknown users.
if p="$(find_program bench-exporter-flood)"; then
  run exporter_flood "$p" --scrapes 20
fi
# Fifty hosts refreshed every 5 s by one process, one of them silent, for
# BENCH_FLEET_SECONDS (60 unless set).
if p="$(find_program bench-fleet)"; then
  run fleet "$p" --seconds "${BENCH_FLEET_SECONDS:-60}"
fi
# The same fleet watched by the real console window (offscreen), one tab per host.
if p="$(find_program bench-fleet)" && c="$(find_program orvanite-console)"; then
  run fleet_console "$p" --console "$c" --seconds "${BENCH_FLEET_SECONDS:-60}"
  # What one host's refresh costs the window with 5, 10, 20 and 40 hosts open.
  run fleet_console_scaling "$p" --console "$c" --scaling 5,10,20,40 --processes 200 \
    --interval 5 --seconds "${BENCH_SCALING_SECONDS:-30}"
fi
# The idle console is watched for BENCH_IDLE_SECONDS (60 unless set).
if p="$(find_program bench_idle_cpu bench-idle-cpu)"; then
  run idle_cpu "$p" --seconds "${BENCH_IDLE_SECONDS:-60}"
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

rows = []  # (figure, result, floor, ratio, goal, verdict, program)

def row(figure, result, goal, met, program, floor="—", ratio="—"):
    verdict = "—" if met is None else ("met" if met else "**missed**")
    rows.append((figure, result, floor, ratio, goal, verdict, program))

def absent(key, program, figures):
    reason = "failed (see raw/%s.err)" % key if failed(key) else "not built"
    for figure, goal in figures:
        rows.append((figure, reason, "—", "—", goal, "—", program))

def data(key):
    return json_line(key) if ran(key) and not failed(key) else None

# Record splitting against the floor of the same scan, and framed reading.
split_goal = "≥ 0.6× the floor's speed"
protocol_figures = [
    ("Record splitting, typical process records", split_goal),
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
        row(protocol_figures[0][0], "%.1f M records/s (%.1f ns each)" % (s / 1e6, 1e9 / s),
            split_goal, s / f >= 0.6, "bench_protocol",
            floor="%.1f M records/s (memchr for every bar only)" % (f / 1e6),
            ratio="%.2f× the floor's speed" % (s / f))
    if framed:
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[framed.get("time_unit", "ns")]
        ms = framed["real_time"] * scale
        row(protocol_figures[1][0], "%.2f ms" % ms, protocol_figures[1][1], ms < 20.0, "bench_protocol")
else:
    absent("protocol", "bench_protocol", protocol_figures)

# Programs that print one JSON line with goal_* fields.
def goal_rows(key, program, figures):
    d = data(key)
    if not d:
        absent(key, program, [(f, g % default) for f, _, g, _, default in figures])
        return
    for figure, field, goal_text, fmt, _ in figures:
        value = d.get(field)
        goals = [v for k, v in d.items() if k.startswith("goal_") and
                 (field == k[5:] or field.endswith("_" + k[5:]))]
        goal = goals[0] if goals else None
        if value is None:
            row(figure, "not reported", goal_text, None, program)
            continue
        text = fmt(d) if callable(fmt) else fmt % value
        row(figure, text, "—" if goal is None else goal_text % goal,
            None if goal is None else value < goal, program)

goal_rows("waitcpu", "bench_waitcpu", [
    ("CPU seconds the process uses while a read waits out the reply time-out (10 s) for a reply that never comes",
     "cpu_s", "< %g s", lambda d: "%.4f s over a wait of %.1f s" % (d["cpu_s"], d.get("waited_s", 0)), 0.05),
])
goal_rows("refresh", "bench-refresh", [
    ("End-to-end refresh of 100,000 processes into the process table, each list encoded per request, median wall time",
     "median_ms", "< %g ms", "%.1f ms", 100),
    ("End-to-end refresh of 100,000 processes, peak resident memory", "peak_rss_mib", "< %g MiB", "%.1f MiB", 150),
])

# The console's refresh (the window, its views painted) beside its floor,
# both against a prepared-mode simulator: the CPU each refresh costs.
refresh_goals = {"100k": 2.0, "1m": 1.5}
for size, label in (("100k", "100,000"), ("1m", "1,000,000")):
    figure = "Console refresh of %s processes from a prepared-mode simulator (window painted), median CPU per refresh" % label
    goal = "within %g× the floor" % refresh_goals[size]
    r, f = data("refresh_prepared_" + size), data("floor_refresh_" + size)
    if not r:
        absent("refresh_prepared_" + size, "bench-refresh --prepared", [(figure, goal)])
    else:
        cpu = r.get("median_cpu_ms", r["median_ms"])
        if f:
            floor_cpu = f.get("median_cpu_ms", f["median_ms"])
            ratio = cpu / floor_cpu
            row(figure, "%.1f ms CPU (%.1f ms wall)" % (cpu, r["median_ms"]), goal,
                ratio <= refresh_goals[size], "bench-refresh --prepared",
                floor="%.1f ms CPU (%.1f ms wall; split and store only: bench-floor-refresh)"
                % (floor_cpu, f["median_ms"]),
                ratio="%.2f×" % ratio)
        else:
            row(figure, "%.1f ms CPU" % cpu, goal, None, "bench-refresh --prepared",
                floor="failed (see raw/floor_refresh_%s.err)" % size if failed("floor_refresh_" + size) else "not built")
    if size == "1m" and r:
        mib = r["peak_rss_mib"]
        mb = mib * 1.048576
        floor_text = "%.1f MiB" % f["peak_rss_mib"] if f else "—"
        row("End-to-end refresh of 1,000,000 processes, peak resident memory",
            "%.1f MiB (%.1f MB)" % (mib, mb), "< 160 MB", mb < 160, "bench-refresh --prepared",
            floor=floor_text, ratio="%.2f×" % (mib / f["peak_rss_mib"]) if f else "—")

# The same refresh through the asynchronous session into the process table
# model (no window), beside the same floor: the CPU each refresh costs (the
# wall time is shown beside it).
session_goals = {"100k": 2.0, "1m": 1.5}
for size, label in (("100k", "100,000"), ("1m", "1,000,000")):
    figure = "Refresh of %s processes through HostSession into the process table model, median CPU per refresh" % label
    goal = "within %g× the floor" % session_goals[size]
    r, f = data("session_refresh_" + size), data("floor_refresh_" + size)
    if not r:
        absent("session_refresh_" + size, "bench-session-refresh", [(figure, goal)])
        continue
    cpu = r.get("median_cpu_ms", r["median_ms"])
    if f:
        floor_cpu = f.get("median_cpu_ms", f["median_ms"])
        ratio = cpu / floor_cpu
        row(figure, "%.1f ms CPU (%.1f ms wall)" % (cpu, r["median_ms"]), goal,
            ratio <= session_goals[size], "bench-session-refresh",
            floor="%.1f ms CPU (%.1f ms wall; bench-floor-refresh)" % (floor_cpu, f["median_ms"]),
            ratio="%.2f×" % ratio)
    else:
        row(figure, "%.1f ms CPU" % cpu, goal, None, "bench-session-refresh")
    if size == "1m":
        mib = r["peak_rss_mib"]
        mb = mib * 1.048576
        row("Refresh of 1,000,000 processes through HostSession, peak resident memory",
            "%.1f MiB (%.1f MB)" % (mib, mb), "< 160 MB", mb < 160, "bench-session-refresh",
            floor="%.1f MiB" % f["peak_rss_mib"] if f else "—",
            ratio="%.2f×" % (mib / f["peak_rss_mib"]) if f else "—")

# orvanite-ctl's process listing in each format beside a client that only
# receives and counts the same reply; every program a fresh process, from its
# start to its exit, its own CPU time (user and system) and peak memory.
ctl_formats = (("table", "aligned table", 4.0), ("no_align", "--no-align table", 3.0),
               ("json", "JSON", 3.0), ("csv", "CSV", 3.0))
for size, label in (("100k", "100,000"), ("1m", "1,000,000")):
    d = data("ctl_" + size)
    figures = [("orvanite-ctl processes, %s records, %s, median CPU" % (label, name),
                "within %g× the floor" % most) for _, name, most in ctl_formats]
    if not d:
        absent("ctl_" + size, "bench-ctl", figures)
        continue
    f = d["floor"]
    floor_cpu = f.get("median_cpu_ms", f["median_ms"])
    for key, name, most in ctl_formats:
        cpu = d[key].get("median_cpu_ms", d[key]["median_ms"])
        ratio = cpu / floor_cpu
        row("orvanite-ctl processes, %s records, %s, median CPU" % (label, name),
            "%.1f ms CPU (%.1f ms wall)" % (cpu, d[key]["median_ms"]), "within %g× the floor" % most,
            ratio <= most, "bench-ctl",
            floor="%.1f ms CPU (%.1f ms wall; receive and count only: bench-ctl-floor)"
            % (floor_cpu, f["median_ms"]),
            ratio="%.2f×" % ratio)
    if size == "1m":
        for key, name, _ in ctl_formats:
            mib = d[key]["peak_rss_mib"]
            mb = mib * 1.048576
            row("orvanite-ctl processes, 1,000,000 records, %s, peak resident memory" % name,
                "%.1f MiB (%.1f MB)" % (mib, mb), "< 100 MB", mb < 100, "bench-ctl",
                floor="%.1f MiB" % f["peak_rss_mib"], ratio="%.2f×" % (mib / f["peak_rss_mib"]))
# The operator's view: the same 1,000,000-process refresh under a sort (CPU
# time, descending) and a filter, beside the plain refresh; and a keystroke in
# the filter.
r, p = data("session_refresh_sorted_1m"), data("session_refresh_1m")
figure = "Refresh of 1,000,000 processes under a sort and a filter, median wall time"
if not r:
    absent("session_refresh_sorted_1m", "bench-session-refresh --sort-filter",
           [(figure, "within 2× the plain refresh"), ("A keystroke in the filter at 1,000,000 rows", "< 100 ms")])
else:
    if p:
        ratio = r["median_ms"] / p["median_ms"]
        row(figure, "%.1f ms" % r["median_ms"], "within 2× the plain refresh", ratio <= 2.0,
            "bench-session-refresh --sort-filter",
            floor="%.1f ms (the same refresh without them)" % p["median_ms"], ratio="%.2f×" % ratio)
    else:
        row(figure, "%.1f ms" % r["median_ms"], "within 2× the plain refresh", None,
            "bench-session-refresh --sort-filter")
    worst = max(r["first_key_ms"], r["second_key_ms"])
    row("A keystroke in the filter at 1,000,000 rows (first and second character)",
        "%.1f ms, %.1f ms" % (r["first_key_ms"], r["second_key_ms"]), "< 100 ms", worst < 100,
        "bench-session-refresh --sort-filter")

# Many hosts at once: CPU and the latest refresh while one host is silent.
fl = data("fleet")
if not fl:
    absent("fleet", "bench-fleet", [("50 hosts × 2,000 processes refreshed every 5 s, one silent: CPU", "< 10% of one core"),
                                    ("50 hosts, one silent: latest end of a refresh after it was due", "< one interval")])
else:
    row("%d hosts × %d processes refreshed every %d s by one process (sessions, no window), one silent: CPU"
        % (fl["hosts"], fl["processes"], fl["interval_s"]),
        "%.2f s per minute (%.1f%% of one core)" % (fl["cpu_s_per_minute"], fl["cpu_percent"]),
        "< 10% of one core", fl["cpu_percent"] < 10, "bench-fleet")
    row("The same: latest end of a refresh after it was due (the silent host left out)",
        "%d ms" % fl["worst_late_ms"], "< %d ms (one interval)" % fl["goal_worst_late_ms"],
        fl["worst_late_ms"] < fl["goal_worst_late_ms"], "bench-fleet")

fc = data("fleet_console")
if not fc:
    absent("fleet_console", "bench-fleet --console", [("50 hosts × 2,000 processes in one console window, one silent: CPU", "< 10% of one core"),
                                                      ("The same: worst lateness of a host's refresh", "< one interval")])
else:
    row("%d hosts × %d processes refreshed every %d s by one orvanite-console (a tab each, offscreen), one silent: CPU"
        % (fc["hosts"], fc["processes"], fc["interval_s"]),
        "%.2f s per minute (%.1f%% of one core)" % (fc["cpu_s_per_minute"], fc["cpu_percent"]),
        "< 10% of one core", fc["cpu_percent"] < 10 and fc["ran_throughout"], "bench-fleet --console")
    row("The same: worst lateness of a host's refresh past its interval (the silent host left out)",
        "%d ms" % fc["worst_late_ms"], "< %d ms (one interval)" % fc["goal_worst_late_ms"],
        fc["worst_late_ms"] < fc["goal_worst_late_ms"], "bench-fleet --console")

fs = data("fleet_console_scaling")
if not fs:
    absent("fleet_console_scaling", "bench-fleet --console --scaling",
           [("orvanite-console CPU per host refresh, 5 / 10 / 20 / 40 hosts", "40 hosts ≤ 1.5× 5 hosts")])
else:
    counts = [5, 10, 20, 40]
    row("orvanite-console CPU per host refresh with %s hosts × %d processes open (refresh every %d s)"
        % (" / ".join(str(c) for c in counts), fs["processes"], fs["interval_s"]),
        " / ".join("%.3f" % fs["cpu_ms_per_host_refresh_%d" % c] for c in counts) + " ms",
        "40 hosts ≤ %.1f× 5 hosts" % fs["goal_growth"], fs["growth"] <= fs["goal_growth"],
        "bench-fleet --console --scaling", ratio="%.2f×" % fs["growth"])

# Start-up beside a bare Qt program that paints an empty table.
startup_goal = "within 2× the floor"
s, f = data("startup"), data("floor_startup")
startup_figures = [
    ("Start-up to a filled listener table on a 10-listener host (fresh process, main window as the program entry creates it), median",
     "startup_ms"),
    ("Start-up of orvanite-console with a configuration file until it asks for processes (listener table filled), median",
     "program_startup_ms"),
]
if not s:
    absent("startup", "bench-startup", [(fig, startup_goal) for fig, _ in startup_figures])
else:
    for figure, field in startup_figures:
        value = s.get(field)
        if value is None:
            row(figure, "not reported", startup_goal, None, "bench-startup")
        elif f:
            ratio = value / f["startup_ms"]
            row(figure, "%.1f ms" % value, startup_goal, ratio <= 2.0, "bench-startup",
                floor="%.1f ms (an empty QTableView painted: bench-floor-startup)" % f["startup_ms"],
                ratio="%.2f×" % ratio)
        else:
            row(figure, "%.1f ms" % value, startup_goal, None, "bench-startup",
                floor="failed (see raw/floor_startup.err)" if failed("floor_startup") else "not built")

# One scrape of the fleet through orvanite-exporter beside the same lists read
# by orvanite-ctl one host after another.
d = data("exporter_scrape")
scrape_figures = [
    ("One scrape of 100 simulated hosts × 1,000 processes through orvanite-exporter (aggregated series), median wall time of the scrapes after the first", "< 2000 ms"),
    ("orvanite-exporter CPU time for that scrape", "—"),
    ("That scrape beside the same 100 lists read by orvanite-ctl one after another", "≥ 10× faster"),
]
if not d:
    absent("exporter_scrape", "bench-exporter-scrape", scrape_figures)
else:
    row(scrape_figures[0][0], "%.1f ms (the first, with the 100 logons: %.1f ms; %d of %d hosts up)"
        % (d["scrape_median_ms"], d["first_scrape_ms"], d["hosts_up"], d["hosts"]),
        scrape_figures[0][1], max(d["scrape_median_ms"], d["first_scrape_ms"]) < d["goal_scrape_median_ms"],
        "bench-exporter-scrape")
    row(scrape_figures[1][0], "%.1f ms per scrape (the first: %.1f ms)"
        % (d["scrape_cpu_median_ms"], d["first_scrape_cpu_ms"]), "—", None, "bench-exporter-scrape")
    row(scrape_figures[2][0], "%.1f ms (the first scrape: %.1f ms)" % (d["scrape_median_ms"], d["first_scrape_ms"]),
        scrape_figures[2][1], d["speedup_first"] >= d["goal_speedup"] and d["ctl_failures"] == 0,
        "bench-exporter-scrape",
        floor="%.1f ms (100 runs of orvanite-ctl processes, one after another)" % d["ctl_sequential_ms"],
        ratio="%.1f× faster (%.1f× for the first scrape)" % (d["speedup"], d["speedup_first"]))

# The same scrape with one series per process (100,000 of them, about 13 MB),
# beside the same 100 orvanite-ctl runs.
d = data("exporter_scrape_processes")
process_figures = [
    ("One scrape of 100 simulated hosts × 1,000 processes with --collect.processes (100,000 process series), median wall time beside the same 100 lists read by orvanite-ctl one after another", "≥ 10× faster"),
]
if not d:
    absent("exporter_scrape_processes", "bench-exporter-scrape --collect-processes", process_figures)
else:
    row(process_figures[0][0], "%.1f ms, %.1f ms exporter CPU, %d series, %.1f MB (the first scrape: %.1f ms)"
        % (d["scrape_median_ms"], d["scrape_cpu_median_ms"], d["process_series"],
           d["scrape_bytes"] / 1e6, d["first_scrape_ms"]),
        process_figures[0][1], d["speedup"] >= d["goal_speedup"] and d["ctl_failures"] == 0,
        "bench-exporter-scrape --collect-processes",
        floor="%.1f ms (100 runs of orvanite-ctl processes, one after another)" % d["ctl_sequential_ms"],
        ratio="%.1f× faster (%.1f× for the first scrape)" % (d["speedup"], d["speedup_first"]))

# orvanite-exporter's bounds: a long run of scrapes, and idle clients.
d = data("exporter_limits")
limit_figures = [
    ("orvanite-exporter over 1,000 scrapes of 2 hosts, one refusing every logon: resident memory after 100 and after 1,000", "growth < 2 MiB"),
    ("Time per scrape in that run", "—"),
    ("1,000 connections opened and left idle: scrapes answered meanwhile, exporter CPU, connections kept open", "every scrape answered, < 50 ms CPU per s"),
    ("Those idle connections closed by the idle time (3 s for this run; 30 s by default)", "all closed"),
]
if not d:
    absent("exporter_limits", "bench-exporter-limits", limit_figures)
else:
    growth = d["rss_after_all_kib"] - d["rss_after_100_kib"]
    row(limit_figures[0][0], "%.1f MiB → %.1f MiB (%+d KiB; %d of %d scrapes failed)"
        % (d["rss_after_100_kib"] / 1024, d["rss_after_all_kib"] / 1024, growth, d["scrapes_failed"], d["scrapes"]),
        limit_figures[0][1], growth < d["goal_rss_growth_kib"] and d["scrapes_failed"] == 0, "bench-exporter-limits")
    row(limit_figures[1][0], "%.2f ms median, %.1f ms at most" % (d["scrape_median_ms"], d["scrape_max_ms"]),
        "—", None, "bench-exporter-limits")
    row(limit_figures[2][0], "%d of 10 scrapes answered (median %.2f ms); %.1f ms CPU per s; %d of %d kept open"
        % (d["idle_scrapes_ok"], d["idle_scrape_median_ms"], d["idle_cpu_ms_per_s"], d["idle_kept_open"], d["idle_opened"]),
        limit_figures[2][1], d["idle_scrapes_ok"] == 10 and d["idle_cpu_ms_per_s"] < d["goal_idle_cpu_ms_per_s"],
        "bench-exporter-limits")
    closed = d["idle_closed_after_ms"]
    row(limit_figures[3][0], "all closed %.1f s after the scrapes" % (closed / 1000) if closed >= 0 else "not all closed",
        limit_figures[3][1], closed >= 0, "bench-exporter-limits")

d = data("exporter_flood")
flood_figures = [
    ("orvanite-exporter with a password: an authorised scrape alone, median and at most", "—"),
    ("The same scrape while 200 idle, 64 slow-header (a byte every 2 s) and 32 unauthenticated clients hammer the port; exporter CPU meanwhile", "every scrape answered, < 1 s"),
    ("Checking a wrong password: a user of cost 12, one of cost 4 listed first, an unknown user", "unknown user ≈ the costliest"),
]
if not d:
    absent("exporter_flood", "bench-exporter-flood", flood_figures)
else:
    row(flood_figures[0][0], "%.2f ms median, %.1f ms at most (%d failed of %d)"
        % (d["alone_median_ms"], d["alone_max_ms"], d["alone_failed"], d["scrapes"]),
        "—", None, "bench-exporter-flood")
    row(flood_figures[1][0], "%.2f ms median, %.1f ms at most (%d failed of %d); %.0f ms CPU per s; %d refusals, %d slow clients closed"
        % (d["flood_median_ms"], d["flood_max_ms"], d["flood_failed"], d["scrapes"], d["flood_cpu_ms_per_s"],
           d["flood_refusals"], d["flood_slow_closed"]),
        flood_figures[1][1], d["flood_failed"] == 0 and d["flood_max_ms"] < 1000, "bench-exporter-flood")
    row(flood_figures[2][0], "%.1f ms, %.1f ms, %.1f ms" % (d["check_cost12_ms"], d["check_cost4_ms"], d["check_unknown_ms"]),
        flood_figures[2][1], d["check_unknown_ms"] > 0.5 * d["check_cost12_ms"], "bench-exporter-flood")

goal_rows("idle_cpu", "bench-idle-cpu", [
    ("CPU time of orvanite-console watching the demo host with a 5 s refresh, per minute",
     "cpu_ms_per_minute", "< %g ms per minute",
     lambda d: "%.1f ms per minute (%.1f ms over %.0f s)" % (d["cpu_ms_per_minute"], d["cpu_ms"], d["window_s"]), 20),
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
print("| Figure | Result | Floor | Ratio | Goal | Verdict | Program |")
print("|---|---|---|---|---|---|---|")
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
