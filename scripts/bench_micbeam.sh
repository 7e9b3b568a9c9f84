#!/usr/bin/env bash
# Batch throughput of micbeam: hours of audio enhanced per wall-clock minute
# with 1 and with 2 worker threads, over a batch of synthetic two-microphone
# recordings (a talker and an interferer, made by the demo generator). With
# `batch` as the fourth argument, of micarray.batch on a local Dask cluster of
# 1 and 2 worker processes instead (the wall time includes the cluster's start;
# its report's figure does not). Further arguments go to the program.
#   scripts/bench_micbeam.sh [FILES] [SECONDS_PER_FILE] [RATE] [micbeam|batch] [OPTION...]
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-8}
seconds=${2:-120}
rate=${3:-16000}
program=${4:-micbeam}
options=("${@:5}")
build=${BUILD_DIR:-build}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(micbeam makedemo)
[ "$program" = batch ] && targets+=(micarray_python)
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
for i in $(seq 1 "$files"); do
  "$build/demo/makedemo" "$work/in/rec$i" "$rate" "$seconds" >/dev/null
done

echo "$program: $files files of $seconds s at $rate Hz ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
TIMEFORMAT='%R %U %S'
for workers in 1 2; do
  # Wall-clock, user and system seconds of the whole run.
  if [ "$program" = batch ]; then
    run=(env PYTHONPATH="$build/python" /usr/bin/python3 -m micarray.batch -q --workers "$workers"
         --report "$work/report.json")
  else
    run=("$build/micbeam/micbeam" -q -j "$workers")
  fi
  times=$({ time "${run[@]}" "${options[@]}" "$work"/in/*.wav -o "$work/out$workers" 2>"$work/log"; } 2>&1)
  awk -v w="$workers" -v n="$files" -v s="$seconds" -v t="$times" 'BEGIN {
    split(t, f, " "); wall = f[1]; cpu = f[2] + f[3]; hours = n * s / 3600
    printf "%d worker%s: %.2f s wall, %.2f s CPU, %.1f audio hours per minute (%.0fx real time)\n",
           w, (w > 1 ? "s" : ""), wall, cpu, hours / (wall / 60), n * s / wall }'
  if [ "$program" = batch ]; then
    figure=$(grep -o '"audio_hours_per_minute": [0-9.]*' "$work/report.json" | cut -d' ' -f2)
    printf "  while the cluster ran: %.1f audio hours per minute\n" "$figure"
  fi
done
