#!/usr/bin/env bash
# Runs the standard scenes through pcmbeam and writes report/index.html; also
# refreshes the README's evaluation table and its spectrogram (docs/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target pcmbeam
/usr/bin/python3 -m eval.report --pcmbeam build/pcmbeam/pcmbeam --readme "$@"
