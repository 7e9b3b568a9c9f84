#!/usr/bin/env bash
# Builds the benchmarks and prints the table: the engine per step and over a
# whole recording at 8, 16 and 32 kHz, the packed FFT beside FFTW, and each
# stage at 16 kHz (medians of 10 repetitions, CPU time).
#
# usage: scripts/bench.sh [BEFORE_REVISION]
# With a revision (a commit that has bench/), that version is built and
# measured the same way and shown as "before".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
args=(--benchmark_repetitions=10 --benchmark_report_aggregates_only=true --benchmark_min_time=0.2
      --benchmark_format=json)

measure() {  # source dir, build dir, output json
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DMICARRAY_TESTS=OFF -DMICARRAY_BENCH=ON >/dev/null
  cmake --build "$2" -j"$jobs" --target micarray_bench >/dev/null
  "$2/bench/micarray_bench" "${args[@]}" >"$3"
}

before=()
if (($# > 0)); then
  mkdir "$work/src"
  git archive "$1" | tar -x -C "$work/src"
  measure "$work/src" "$work/build" "$work/before.json"
  before=("$work/before.json")
fi
measure . build-bench "$work/after.json"
python3 bench/report.py "$work/after.json" "${before[@]}"
