#!/usr/bin/env bash
# Builds everything and runs the whole test suite in each configuration
# (64-bit and 32-bit x86, 64-bit ARM, sanitizers), the reference vectors on
# every instruction-set level, then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
# The reference vectors on each code path the processor runs (a level it
# lacks is named and skipped).
for level in $(scripts/levels.sh); do
  echo "Reference vectors with MICARRAY_ISA=$level"
  MICARRAY_ISA=$level ctest --test-dir build --output-on-failure -R '^test_vectors$'
done

# The same suite for 32-bit x86. The kernel may not run i386 programs, so
# the tests, and the programs they start, run under qemu-i386.
cmake -S . -B build32 -DCMAKE_BUILD_TYPE=Release -DMICARRAY_M32=ON \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-i386;-L;/" >/dev/null
cmake --build build32 -j"$jobs"
ctest --test-dir build32 --output-on-failure -j"$jobs"

# The same suite for 64-bit ARM: cross-compiled, run under qemu-aarch64 with
# the target's libraries (micbeam, the Python module and the benchmarks need
# libraries installed for x86-64 only and stay out).
cmake -S . -B build-arm64 -DCMAKE_BUILD_TYPE=Release --toolchain cmake/toolchain-aarch64.cmake \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-aarch64;-L;/usr/aarch64-linux-gnu" >/dev/null
cmake --build build-arm64 -j"$jobs"
ctest --test-dir build-arm64 --output-on-failure -j"$jobs"

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (the
# Python module stays out: the interpreter does not load the ASan runtime).
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DMICARRAY_SANITIZE=ON -DMICARRAY_BENCH=OFF \
  -DMICARRAY_PYTHON=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

# Every fuzz target for about 30 seconds.
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DMICARRAY_FUZZ=ON \
  -DMICARRAY_TESTS=OFF -DMICARRAY_BENCH=OFF -DMICARRAY_PYTHON=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzz_wav_header fuzz_wavbeam fuzz_engine fuzz_micbeam
scripts/fuzz.sh 30
