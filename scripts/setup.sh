#!/usr/bin/env bash
# Installs what the build needs beyond the machine's image (Debian packages),
# only where something is missing. Needs root when it has to install.
set -euo pipefail

packages=(cmake g++ make python3 googletest libgtest-dev libbenchmark-dev libfftw3-dev
          python3-numpy python3-scipy python3-matplotlib espeak-ng
          libsndfile1-dev libsoxr-dev libcli11-dev nlohmann-json3-dev pybind11-dev python3-dev pkg-config
          # micarray.batch and its test on a local Dask cluster
          python3-dask python3-distributed
          # micbeam --live, and its tests on a JACK dummy server reached through ALSA
          portaudio19-dev jackd2 libasound2-plugins
          # the 32-bit and ARM64 builds run under emulation (g++-12-multilib, not the
          # g++-multilib metapackage, which Debian declares in conflict with the ARM64
          # cross compiler); clang's libFuzzer for fuzz/
          qemu-user g++-12-multilib g++-aarch64-linux-gnu clang-14 libclang-rt-14-dev
          # the plugins' headers, and the hosts that run them in the tests
          ladspa-sdk lv2-dev lilv-utils sox gstreamer1.0-tools gstreamer1.0-plugins-base
          gstreamer1.0-plugins-good gstreamer1.0-plugins-bad pipewire pipewire-bin
          # the evaluation's peers, its recorded voices and the browser that checks its page
          libwebrtc-audio-processing-dev libspeexdsp-dev nodejs alsa-utils chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The RNNoise peer runs in Node from the npm registry, pinned by
# eval/peers/package-lock.json; without it the evaluation leaves that peer out.
peers="$(dirname "$0")/../eval/peers"
if [[ ! -d "$peers/node_modules/@jitsi/rnnoise-wasm" ]]; then
  npm ci --prefix "$peers" --no-audit --no-fund --silent ||
    echo "RNNoise peer not installed (npm ci in eval/peers failed): left out of the evaluation"
fi
