#!/usr/bin/env bash
# Builds everything and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -x build/bin/corvella ]; then
  exec build/bin/corvella "$@"
else
  exec build/bin/corvella-cli "$@"
fi
