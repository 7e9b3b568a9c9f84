#!/usr/bin/env bash
# Builds the programs the evaluation runs: both engines (micbeam, pcmbeam) and the
# peers in eval/peers. A program that cannot be built here is reported and left
# out; the evaluation then says so instead of failing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
for target in pcmbeam micbeam webrtc_beam speex_denoise; do
  cmake --build build -j"$(nproc)" --target "$target" >/dev/null ||
    echo "$target not built: left out of the evaluation"
done
