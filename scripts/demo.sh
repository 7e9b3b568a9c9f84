#!/usr/bin/env bash
# Builds every program and the Python module, makes the default two-microphone
# recording (a talker straight ahead, an interferer from 60 degrees) and
# enhances it with the adaptive engine (micbeam) and the classic one (pcmbeam
# and wavbeam). Also writes the inputs that the
# README's micbeam examples read: a four-channel recording and a folder of
# recordings at other rates.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target pcmbeam wavbeam micbeam micarray_python makedemo
mkdir -p out/recordings
build/demo/makedemo out/demo_16k 16000 5
build/micbeam/micbeam -q out/demo_16k.wav -o out/demo_16k_mvdr.wav
build/pcmbeam/pcmbeam 0.05 0.07 -15 0.9 0.98 16000 out/demo_16k.pcm out/demo_16k_enhanced.pcm
build/wavbeam/wavbeam 0.05 0.07 -15 0.9 0.98 out/demo_16k.wav out/demo_16k_enhanced.wav </dev/null
for rate in 8000 48000; do
  build/demo/makedemo out/recordings/demo_$rate $rate 3 >/dev/null
  rm out/recordings/demo_$rate.pcm
done
# Channels 2 and 3 are microphones 0 and 1; channels 0 and 1 the same pair swapped.
/usr/bin/python3 -c 'import sys, numpy as np; from eval import audio
rate, x = audio.read_wav(sys.argv[1]); audio.write_wav(sys.argv[2], rate, np.hstack([x[:, ::-1], x]))' \
  out/demo_16k.wav out/array_4ch.wav
echo "Enhanced: out/demo_16k_mvdr.wav (adaptive engine); out/demo_16k_enhanced.pcm (raw mono 16-bit,"
echo "16000 Hz) and out/demo_16k_enhanced.wav (classic engine)"
