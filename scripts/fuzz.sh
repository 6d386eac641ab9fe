#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs
# each fuzz_* target for FUZZ_SECONDS (default 60) on a copy of its seed
# corpus, fuzz/corpus/<folder>/, where <folder> is the word after "fuzz_"
# (fuzz_config_loader -> corpus/config). Prints the executions of each run.
# New inputs and crash files stay in build-fuzz/; the seeds are not touched.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
jobs="${JOBS:-2}"

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

status=0
summary=()
for target in "$build"/fuzz_*; do
  [ -x "$target" ] && [ -f "$target" ] || continue
  name="$(basename "$target")"
  word="${name#fuzz_}"
  folder="${word%%_*}"
  seeds="$root/fuzz/corpus/$folder"
  run="$build/run/$name"
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  if [ -d "$seeds" ]; then
    cp -a "$seeds/." "$run/corpus/"
  fi
  echo "fuzz: $name for ${seconds}s on corpus/$folder"
  log="$run/fuzz.log"
  if "$target" -max_total_time="$seconds" -artifact_prefix="$run/artifacts/" \
      -print_final_stats=1 "$run/corpus" >"$log" 2>&1; then
    result="ok"
  else
    result="FAILED (see $log and $run/artifacts/)"
    status=1
    tail -n 30 "$log" >&2
  fi
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  summary+=("$name: ${execs:-?} executions (${rate:-?}/s), $result")
done

if [ ${#summary[@]} -eq 0 ]; then
  echo "fuzz: no fuzz_* targets built" >&2
  exit 1
fi
printf '%s\n' "${summary[@]}"
exit "$status"
