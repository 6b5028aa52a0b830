#!/usr/bin/env bash
# split-many over 100 one-minute MP3s beside one `corvella-cli split` per
# file in sequence, as whole processes: each way runs ROUNDS times,
# alternating which goes first; prints the medians of wall time and CPU
# time (user + system, the process and every child it waited for) and the
# ratio of the medians.
#
# Usage: bash tests/bench/bench_split_many.sh [BIN_FOLDER] [ROUNDS] [PARTS]
#   BIN_FOLDER  where corvella-cli and the audio library are (build/bin)
#   ROUNDS      runs of each way (default 5)
#   PARTS       equal parts per file (default 4)
# Needs lame and python3. Makes the files (about 100 MB) in a temporary
# folder and removes them at the end. The jobs of split-many are its
# default, the processor's cores.
set -euo pipefail

bin=$(cd "${1:-build/bin}" && pwd)
rounds=${2:-5}
parts=${3:-4}
cli="$bin/corvella-cli"
for tool in lame python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup.sh)" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no corvella-cli in $bin" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One minute of a tone, encoded once; the hundred files are its copies
# under names of their own (the cutter reads each anyway).
python3 - "$work/minute.wav" <<'WAV'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    frames = bytearray()
    for i in range(44100):
        v = int(8000 * math.sin(2 * math.pi * 440 * i / 44100))
        frames += struct.pack("<hh", v, v)
    w.writeframes(bytes(frames) * 60)
WAV
lame --quiet -b 128 "$work/minute.wav" "$work/minute.mp3"
mkdir "$work/in" "$work/out"
for ((i = 1; i <= 100; i++)); do cp "$work/minute.mp3" "$work/in/file$i.mp3"; done

cat >"$work/sequence.sh" <<SEQ
for f in "$work"/in/*.mp3; do "$cli" split "\$f" $parts "$work/out" >/dev/null || exit 1; done
SEQ

CORVELLA_SILENT_OUTPUT=1 python3 - "$rounds" "$work" \
  "\"$cli\" split-many \"$work/out\" \"$work/in\" --parts $parts >/dev/null 2>&1" \
  "sh \"$work/sequence.sh\"" "$parts" <<'RUN'
import os, shutil, statistics, subprocess, sys, time
rounds, work, many, sequence, parts = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
figures = {"split-many": ([], []), "split per file": ([], [])}
def once(name, command):
    out = os.path.join(work, "out")
    shutil.rmtree(out)
    os.mkdir(out)
    start = time.monotonic()
    process = subprocess.Popen(command, shell=True)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    # Both ways must have written every part, or the figures compare nothing.
    if os.waitstatus_to_exitcode(status) != 0 or len(os.listdir(out)) != 100 * parts:
        sys.exit(f"{name} failed or wrote {len(os.listdir(out))} parts, not {100 * parts}")
    figures[name][0].append(wall)
    figures[name][1].append(usage.ru_utime + usage.ru_stime)
for r in range(rounds):
    order = [("split-many", many), ("split per file", sequence)]
    for name, command in (order if r % 2 == 0 else order[::-1]):
        once(name, command)
print(f"{'':16} {'wall s':>8} {'cpu s':>8}   (medians of {rounds} runs, {os.cpu_count()} cores)")
for name, (wall, cpu) in figures.items():
    print(f"{name:16} {statistics.median(wall):8.2f} {statistics.median(cpu):8.2f}")
many_wall = statistics.median(figures["split-many"][0])
print(f"split per file / split-many, wall: {statistics.median(figures['split per file'][0]) / many_wall:.2f}")
RUN
