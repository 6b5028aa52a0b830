#!/usr/bin/env bash
# Builds everything and runs every test headless, with the audio library's
# silent output standing in for a sound card. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
export CORVELLA_SILENT_OUTPUT=1
ctest --test-dir build --output-on-failure --timeout 600 -j2
