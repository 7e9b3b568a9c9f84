#!/usr/bin/env bash
# Runs the held-out scenes through both engines and the peers, writes report/index.html,
# refreshes the README's evaluation table, verdicts and chart (docs/), then checks
# in headless Chromium that the page loads every image (report/screenshot.png).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/eval_programs.sh
/usr/bin/python3 -m eval.report --readme "$@"
/usr/bin/python3 -m eval.check_page report/index.html --screenshot report/screenshot.png
