#!/usr/bin/env bash
# Builds everything and runs every test headless, with the audio library's
# silent output standing in for a sound card. Three stages:
#
#   1. the normal build (build/) and the whole suite;
#   2. the sanitizer build (build-asan/: clang, address and undefined-
#      behaviour sanitizers, stopping at the first report) and the whole
#      suite again under it;
#   3. each fuzz target over the starting inputs the suite
#      generates and every input that once failed (tests/fuzz/regressions/),
#      then exploring for a minute, as many at a time as there are cores.
#
# Each stage ends in a summary; all three are repeated at the end. Exits
# non-zero when any stage fails. For a quicker local run:
#   CORVELLA_TEST_QUICK=1   only stage 1
#   CORVELLA_FUZZ_SECONDS=N each fuzz target explores for N seconds (default 60; 0 only replays)
#   CORVELLA_FUZZ_JOBS=N    fuzz targets run N at a time (default: the number of cores)
set -uo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
export CORVELLA_SILENT_OUTPUT=1

# Each target first replays the starting inputs and every regression, then
# explores for this long; 0 only replays. Longer runs are made by hand
# (scripts/fuzz-long.sh).
fuzz_seconds=${CORVELLA_FUZZ_SECONDS:-60}
summaries=()
failed=0

# The last ctest summary line of a log, e.g. "100% tests passed, 0 tests failed out of 290".
ctest_summary() {
  grep -E '^[0-9]+% tests passed' "$1" | tail -n 1
}

stage_normal() {
  local log=build/ctest.log
  bash scripts/build.sh || { summaries+=("normal build: the build failed"); return 1; }
  ctest --test-dir build --output-on-failure --timeout 600 -j2 | tee "$log"
  local status=${PIPESTATUS[0]}
  summaries+=("normal build: $(ctest_summary "$log")")
  return "$status"
}

stage_sanitizers() {
  local log=build-asan/ctest.log
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCORVELLA_SANITIZE=ON -DCORVELLA_BUILD_BENCHMARKS=OFF &&
    cmake --build build-asan || { summaries+=("sanitizer build: the build failed"); return 1; }
  # Leaks are not checked here: the audio library's decoders and output
  # load system libraries (FFmpeg's pixman, SDL's drivers) whose own
  # allocations look leaked once the player unloads them. The fuzz targets,
  # which load none, check for leaks.
  ASAN_OPTIONS=detect_leaks=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure --timeout 900 -j2 | tee "$log"
  local status=${PIPESTATUS[0]}
  summaries+=("sanitizer build: $(ctest_summary "$log")")
  return "$status"
}

# Runs one libFuzzer target; writes a ctest-like line (and on a finding the
# end of its log) to $work/report and its exit status to $work/status.
run_fuzzer() {
  local name=$1 work=build-asan/fuzz/$1
  local budget=(-runs=0)
  [ "$fuzz_seconds" -gt 0 ] && budget=(-max_total_time="$fuzz_seconds")
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp build-asan/fuzz-corpus/"$name"/* "$work/corpus/" 2>/dev/null || true
  cp tests/fuzz/regressions/"$name"/* "$work/corpus/" 2>/dev/null || true
  # A single allocation above 64 MiB counts as a finding: no input may make
  # a reader allocate what its header merely claims.
  ASAN_OPTIONS=allocator_may_return_null=0:detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build-asan/bin/fuzz_"$name" "${budget[@]}" -timeout=10 -malloc_limit_mb=64 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1
  local status=$?
  local runs
  runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$work/log" | grep -oE '[0-9]+$' || echo 0)
  {
    if [ "$status" -eq 0 ]; then
      printf '%-24s Passed  %6s s  %10s runs\n' "fuzz_$name" "$fuzz_seconds" "$runs"
    else
      printf '%-24s ***Failed (status %s)\n' "fuzz_$name" "$status"
      tail -n 60 "$work/log"
      echo "The input is in $work/ (crash-*, timeout-*, oom-*, leak-*). Once it is fixed, keep it as"
      echo "tests/fuzz/regressions/$name/<what-is-odd-about-it>.<ext>; the suite replays it."
    fi
  } >"$work/report"
  echo "$status" >"$work/status"
}

stage_fuzzing() {
  local targets passed=0 total=0
  targets=$(sed -n 's/^CORVELLA_FUZZ_TARGETS:INTERNAL=//p' build-asan/CMakeCache.txt | tr ';' ' ')
  if [ -z "$targets" ] || [ ! -x build-asan/bin/fuzz_corpus ]; then
    summaries+=("fuzzing: no fuzz targets were built (clang missing?)")
    return 1
  fi
  build-asan/bin/fuzz_corpus build-asan/fuzz-corpus || { summaries+=("fuzzing: no starting inputs"); return 1; }
  # libFuzzer explores on one thread, so the targets run side by side, one
  # per core: each still has its whole minute on a core of its own.
  local lanes=${CORVELLA_FUZZ_JOBS:-$(nproc)}
  [ "$lanes" -ge 1 ] 2>/dev/null || lanes=1
  echo "Fuzzing each target for $fuzz_seconds s, $lanes at a time"
  for name in $targets; do
    while [ "$(jobs -rp | wc -l)" -ge "$lanes" ]; do
      wait -n
    done
    run_fuzzer "$name" &
  done
  wait
  for name in $targets; do
    total=$((total + 1))
    cat "build-asan/fuzz/$name/report"
    [ "$(cat "build-asan/fuzz/$name/status" 2>/dev/null)" = 0 ] && passed=$((passed + 1))
  done
  local line="$((100 * passed / total))% fuzz targets passed, $((total - passed)) fuzz targets failed out of $total"
  echo
  echo "$line"
  summaries+=("fuzzing: $line")
  [ "$passed" -eq "$total" ]
}

stage_normal || failed=1
if [ "${CORVELLA_TEST_QUICK:-0}" != 1 ]; then
  if stage_sanitizers; then
    stage_fuzzing || failed=1
  else
    failed=1
    # The fuzz targets come from the same build; run them when they exist.
    [ -x build-asan/bin/fuzz_corpus ] && { stage_fuzzing || true; }
  fi
fi

echo
echo "Summary"
for line in "${summaries[@]}"; do
  echo "  $line"
done
exit "$failed"
