#!/usr/bin/env bash
# A long exploration of one fuzz target, by hand (CI gives each target a
# minute, see scripts/test.sh):
#
#   bash scripts/fuzz-long.sh TARGET [RUNS] [libFuzzer options...]
#
# TARGET is a name of CORVELLA_FUZZ_TARGETS (mpeg, ogg, wma, wav, id3v1,
# id3v2, tag_roundtrip, frame_walk, cutter); RUNS defaults to 10 million
# executions. CORVELLA_FUZZ_LONG_SECONDS=N stops the run after N seconds
# whatever RUNS says. Needs the sanitizer build (build-asan/, made by
# scripts/test.sh). The run is niced, so it takes what the machine has to
# spare; its corpus is kept in build-asan/fuzz-long/TARGET/ and grows from
# one run to the next. Ends with one line: executions, seconds, executions
# per second, coverage and findings. Exits non-zero on a finding.
set -uo pipefail
cd "$(dirname "$0")/.."

name=${1:?usage: fuzz-long.sh TARGET [RUNS] [libFuzzer options...]}
runs=${2:-10000000}
shift $(($# < 2 ? $# : 2))
program=build-asan/bin/fuzz_$name
[ -x "$program" ] || { echo "$program is missing: run scripts/test.sh (or build build-asan) first" >&2; exit 2; }

# Inputs longer than a target can use only slow it down: a tag reader needs
# the tag, a stream reader a few pages or frames, the cutter a short plan.
case $name in
  id3v1 | wav) max_len=1024 ;;
  cutter) max_len=256 ;;
  tag_roundtrip) max_len=2048 ;;
  frame_walk) max_len=8192 ;;
  *) max_len=4096 ;;
esac

work=build-asan/fuzz-long/$name
mkdir -p "$work/corpus"
build-asan/bin/fuzz_corpus build-asan/fuzz-corpus >/dev/null || exit 2
cp build-asan/fuzz-corpus/"$name"/* "$work/corpus/" 2>/dev/null
cp tests/fuzz/regressions/"$name"/* "$work/corpus/" 2>/dev/null

limit=()
[ -n "${CORVELLA_FUZZ_LONG_SECONDS:-}" ] && limit=(-max_total_time="$CORVELLA_FUZZ_LONG_SECONDS")
started=$(date +%s)
touch "$work/started"
# The same limits as in CI: one allocation above 64 MiB is a finding.
ASAN_OPTIONS=allocator_may_return_null=0:detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  nice -n 19 "$program" -runs="$runs" "${limit[@]}" -max_len="$max_len" -timeout=10 -malloc_limit_mb=64 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" "$@" "$work/corpus" >"$work/log" 2>&1
status=$?
seconds=$(($(date +%s) - started))

stat() { grep -oE "^stat::$1: *[0-9]+" "$work/log" | grep -oE '[0-9]+$' || echo 0; }
executions=$(stat number_of_executed_units)
coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$work/log" | tail -n 1)
findings=$(find "$work" -maxdepth 1 -type f -newer "$work/started" \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | wc -l)
printf 'fuzz_%s: %s executions in %s s (%s/s), %s, max_len %s, %s finding(s), status %s\n' \
  "$name" "$executions" "$seconds" "$(stat average_exec_per_sec)" "${coverage:-no coverage line}" "$max_len" \
  "$findings" "$status"
if [ "$status" -ne 0 ]; then
  tail -n 40 "$work/log"
  echo "The input is in $work/; once fixed, keep it as tests/fuzz/regressions/$name/<what-is-odd-about-it>.<ext>."
fi
exit "$status"
