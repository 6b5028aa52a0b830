#!/usr/bin/env bash
# kill -9 at random moments of a run of ID3v2 tag writes, run by hand:
#   bash tests/crash/kill_trials.sh [TRIALS] [BUILD_FOLDER]
# Each trial starts a process that keeps rewriting a title (in place through
# the journal, and now and then as a whole-file rewrite), kills it with
# SIGKILL after a random delay, then opens the file the way every reader
# does and checks that it holds one whole tag (ours read it, mutagen reads
# every tenth), that the audio is untouched and that nothing is left beside
# it. The CI run does the same with 40 trials.
set -euo pipefail
trials=${1:-1000}
build=${2:-build}
here=$(cd "$(dirname "$0")/../.." && pwd)
test_program="$here/$build/bin/analysis_test_ID3v2_inplace"
if [[ ! -x $test_program ]]; then
    echo "build it first: cmake --build $build --target analysis_test_ID3v2_inplace" >&2
    exit 2
fi
CORVELLA_KILL_TRIALS=$trials "$test_program" --gtest_filter='ID3v2InPlace.KilledAtRandomMomentsLeavesAWholeTag'
