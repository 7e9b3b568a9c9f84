#!/usr/bin/env bash
# Builds the benchmarks and prints the tables: the engine per step and over a
# whole recording at 8, 16 and 32 kHz, the packed FFT beside FFTW, and each
# stage at 16 kHz (medians of 10 repetitions, CPU time), on the processor's
# own instruction-set level; then the step and the stages on every level it
# runs (MICARRAY_ISA=sse2, avx2, avx512).
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

build() {  # source dir, build dir
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DMICARRAY_TESTS=OFF -DMICARRAY_BENCH=ON >/dev/null
  cmake --build "$2" -j"$jobs" --target micarray_bench >/dev/null
}

before=()
if (($# > 0)); then
  mkdir "$work/src"
  git archive "$1" | tar -x -C "$work/src"
  build "$work/src" "$work/build"
  "$work/build/bench/micarray_bench" "${args[@]}" >"$work/before.json"
  before=("$work/before.json")
fi
build . build-bench
# The last level is the processor's own: its run gives the detailed tables.
levels=()
for level in $(scripts/levels.sh); do
  MICARRAY_ISA=$level build-bench/bench/micarray_bench "${args[@]}" >"$work/$level.json"
  levels+=("$level=$work/$level.json")
done
python3 bench/report.py "$work/$level.json" "${before[@]}"
if ((${#levels[@]} > 1)); then
  echo
  python3 bench/report.py --levels "${levels[@]}"
fi
