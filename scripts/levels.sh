#!/usr/bin/env bash
# Prints the engine's instruction-set levels (the values of MICARRAY_ISA)
# that this processor runs, lowest first; prints each level it lacks on
# standard error. Prints nothing on a processor other than x86.
set -euo pipefail
case "$(uname -m)" in x86_64 | i?86) ;; *) exit 0 ;; esac
flags=" $(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2) "
has() { for f in "$@"; do [[ "$flags" == *" $f "* ]] || return 1; done; }
echo sse2
if has avx2; then echo avx2; else echo "avx2: not on this processor, skipped" >&2; fi
if has avx512f avx512dq avx512bw avx512vl; then
  echo avx512
else
  echo "avx512: not on this processor, skipped" >&2
fi
