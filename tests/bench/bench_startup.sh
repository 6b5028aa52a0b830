#!/usr/bin/env bash
# corvella-cli as a user runs it: whole processes, side by side with peers
# in one run, as ratios. Each job runs ROUNDS times, alternating which of the
# two goes first; the table gives the medians of CPU time (user + system),
# wall time and peak resident memory of each process.
#
# Usage: bash tests/bench/bench_startup.sh [BIN_FOLDER] [ROUNDS]
#   BIN_FOLDER  where corvella-cli and the audio library are (build/bin)
#   ROUNDS      runs per job (default 7)
# Needs lame, python3 with mutagen (mid3v2), mediainfo and mp3splt
# (scripts/setup.sh installs them). Makes a 1-minute, a 60-minute and a
# 10-hour 128 kbit/s MP3, each with a 300 KB cover, in a temporary folder
# (about 650 MB), and removes them at the end.
set -euo pipefail

bin=$(cd "${1:-build/bin}" && pwd)
rounds=${2:-7}
cli="$bin/corvella-cli"
for tool in cc lame mid3v2 mediainfo mp3splt python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup.sh)" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no corvella-cli in $bin" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the files: one minute from lame (no Info frame, so copies join into
# one constant-bit-rate stream), repeated, then a tag with a 300 KB cover.
write_minute_wav() {
  python3 - "$1" <<'WAV'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    frames = bytearray()
    for i in range(44100):
        v = int(8000 * math.sin(2 * math.pi * 440 * i / 44100))
        frames += struct.pack("<hh", v, v)
    w.writeframes(bytes(frames) * 60)
WAV
}
write_minute_wav "$work/minute.wav"
lame --quiet -b 128 -t "$work/minute.wav" "$work/minute.raw.mp3"
repeat() {  # minutes out
  local i
  : >"$2"
  for ((i = 0; i < $1; i++)); do cat "$work/minute.raw.mp3" >>"$2"; done
}
repeat 1 "$work/one.mp3"
repeat 60 "$work/hour.mp3"
for ((i = 0; i < 10; i++)); do cat "$work/hour.mp3"; done >"$work/ten.mp3"
head -c 307200 /dev/urandom >"$work/cover.jpg"
printf '\xff\xd8\xff\xe0' | dd of="$work/cover.jpg" conv=notrunc status=none
for f in one hour ten; do
  mid3v2 -t "Title $f" -a Artist -A Album -y 2024 -T 3 \
    -p "$work/cover.jpg:Cover:3:image/jpeg" "$work/$f.mp3" >/dev/null
done

# --- measuring
# A small runner: the child's own CPU time (microseconds; /usr/bin/time
# rounds to 10 ms, too coarse for these jobs), wall time and peak memory
# from wait4. It is a C program because a child forked from a bigger
# process starts its peak memory at its parent's size.
cat >"$work/runner.c" <<'RUNNER'
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1), dup2(null, 2);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    FILE* log = fopen(argv[1], "a");
    fprintf(log, "%.4f %.4f %ld\n",
            usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            end.tv_sec - start.tv_sec + (end.tv_nsec - start.tv_nsec) / 1e9, usage.ru_maxrss);
    return fclose(log) != 0;
}
RUNNER
cc -O2 -o "$work/runner" "$work/runner.c"

# run LABEL COMMAND...: appends "cpu wall rss_kb" of one run to $work/LABEL
run() {
  local label=$1
  shift
  rm -rf "$work/out"
  mkdir -p "$work/out"
  "$work/runner" "$work/$label" "$@" || { echo "failed: $*" >&2; exit 1; }
}
median() {  # LABEL COLUMN
  awk -v c="$2" '{ print $c }' "$work/$1" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
# pair A_LABEL A_COMMAND -- B_LABEL B_COMMAND: alternate which one goes first
pair() {
  local a=() b=() la lb seen=0 arg
  la=$1
  shift
  for arg in "$@"; do
    if [ "$arg" = "--" ]; then seen=1; continue; fi
    if [ $seen -eq 0 ]; then a+=("$arg"); else b+=("$arg"); fi
  done
  lb=${b[0]}
  b=("${b[@]:1}")
  for ((r = 0; r < rounds; r++)); do
    if ((r % 2 == 0)); then run "$la" "${a[@]}"; run "$lb" "${b[@]}"; else run "$lb" "${b[@]}"; run "$la" "${a[@]}"; fi
  done
}

unset CORVELLA_SILENT_OUTPUT  # the CLI must keep silent by itself
hour="$work/hour.mp3"

pair info "$cli" info "$hour" -- mediainfo mediainfo "$hour"
pair cut "$cli" cut "$hour" 10:00.000 20:00.000 "$work/out/cut.mp3" -- mp3splt \
  mp3splt -q -d "$work/out" -o cut "$hour" 10.00 20.00
pair split "$cli" split "$hour" 10 "$work/out" -- cp cp "$hour" "$work/out/copy.mp3"
pair split10 mp3splt -q -d "$work/out" -S 10 "$hour" -- cp10 cp "$hour" "$work/out/copy.mp3"
for f in one ten; do
  pair "info_$f" "$cli" info "$work/$f.mp3" -- "mediainfo_$f" mediainfo "$work/$f.mp3"
  pair "cut_$f" "$cli" cut "$work/$f.mp3" 00:10.000 00:40.000 "$work/out/cut.mp3" -- "mp3splt_$f" \
    mp3splt -q -d "$work/out" -o cut "$work/$f.mp3" 0.10 0.40
  pair "split_$f" "$cli" split "$work/$f.mp3" 10 "$work/out" -- "cp_$f" cp "$work/$f.mp3" "$work/out/copy.mp3"
done
# One title change on the 10-hour file; the title alternates in length so
# that each run really changes the tag.
for ((r = 0; r < rounds; r++)); do
  title="Title $r"
  [ $((r % 2)) -eq 0 ] && title="A longer title $r"
  if ((r % 2 == 0)); then
    run tags "$cli" tags "$work/ten.mp3" --v2 "Title=$title"
    run mid3v2 mid3v2 -t "$title" "$work/ten.mp3"
  else
    run mid3v2 mid3v2 -t "$title" "$work/ten.mp3"
    run tags "$cli" tags "$work/ten.mp3" --v2 "Title=$title"
  fi
done

# --- the table
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
row() {  # JOB A B COLUMN(1 cpu, 2 wall)
  local va vb
  va=$(median "$2" "$4")
  vb=$(median "$3" "$4")
  printf "| %s | %s %s s, %s MB | %s %s s, %s MB | %s |\n" "$1" "$2" "$va" "$(mb "$(median "$2" 3)")" \
    "$3" "$vb" "$(mb "$(median "$3" 3)")" "$(ratio "$va" "$vb")"
}
echo
echo "Medians of $rounds runs each; Corvella's column first, ratio = Corvella / peer."
echo
echo "| job (measure) | Corvella | peer | ratio |"
echo "|---|---|---|---|"
row "info, 60 min (CPU)" info mediainfo 1
row "cut 10 of 60 min (CPU)" cut mp3splt 1
row "split 10 parts, 60 min (wall)" split cp 2
row "split 10 parts, 60 min (CPU)" split cp 1
row "mp3splt -S 10, 60 min (wall)" split10 cp10 2
for f in one ten; do
  row "info, $f (CPU)" "info_$f" "mediainfo_$f" 1
  row "cut, $f (CPU)" "cut_$f" "mp3splt_$f" 1
  row "split 10, $f (wall)" "split_$f" "cp_$f" 2
done
row "title change, 10 h with cover (wall)" tags mid3v2 2
echo
echo "Peak memory, MB (1 minute / 60 minutes / 10 hours):"
for job in info cut split; do
  printf "  %-6s %s / %s / %s\n" "$job" "$(mb "$(median "${job}_one" 3)")" "$(mb "$(median "$job" 3)")" \
    "$(mb "$(median "${job}_ten" 3)")"
done
