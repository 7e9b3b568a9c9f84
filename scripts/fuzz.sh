#!/usr/bin/env bash
# Runs every fuzz target built in build-fuzz for SECONDS seconds (default 30),
# starting from the seeds in fuzz/corpus and growing a working corpus in
# build-fuzz/corpus. A finding (crash, sanitizer report, failed check, hang)
# is saved to build-fuzz/findings and ends the script with a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build-fuzz
mkdir -p "$build/findings"
# wavbeam's and micbeam's targets write files per run: memory is faster than a disk.
if [[ -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi
# Leaks inside the codec libraries micbeam's target reaches are theirs.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp"

for target in fuzz_wav_header fuzz_wavbeam fuzz_engine fuzz_micbeam; do
  mkdir -p "$build/corpus/$target"
  log="$build/findings/$target.log"
  # -close_fd_mask=1: the runs' report lines on standard output are not wanted.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
      "$build/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$target: finding saved under $build/findings" >&2
    exit 1
  fi
  echo "$target: $(sed -n 's/^stat::number_of_executed_units: //p' "$log") executions, no finding"
done
