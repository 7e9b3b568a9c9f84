#!/usr/bin/env bash
# The tuning scenes through both engines and the peers: prints ΔSI-SDR / ΔSTOI against
# microphone 0 per scene and system. Options go to eval.compare, e.g. --systems mvdr,webrtc.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/eval_programs.sh
exec /usr/bin/python3 -m eval.compare --set tuning "$@"
