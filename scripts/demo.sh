#!/usr/bin/env bash
# Builds the programs, makes the default two-microphone recording (a talker
# straight ahead, an interferer from 60 degrees) and enhances it with both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target pcmbeam wavbeam makedemo
mkdir -p out
build/demo/makedemo out/demo_16k 16000 5
build/pcmbeam/pcmbeam 0.05 0.07 -15 0.9 0.98 16000 out/demo_16k.pcm out/demo_16k_enhanced.pcm
build/wavbeam/wavbeam 0.05 0.07 -15 0.9 0.98 out/demo_16k.wav out/demo_16k_enhanced.wav </dev/null
echo "Enhanced: out/demo_16k_enhanced.pcm (raw mono 16-bit, 16000 Hz) and out/demo_16k_enhanced.wav"
