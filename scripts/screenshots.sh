#!/usr/bin/env bash
# Draws both pages of the window offscreen into docs/ (split-page.png and
# tag-page.png), with a generated sample file opened and its waveform drawn,
# for the README and for the AppStream metainfo, which lists them at
# CORVELLA_SCREENSHOT_URL (cmake/Install.cmake) when the folder is published.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j2 --target corvella bass basswma

# A fixed folder, so that the path shown in the pictures stays the same.
sample_dir="$build/samples/Music"
mkdir -p "$sample_dir"
# A tone whose loudness swells and fades, so that the waveform has a shape.
sox -n -r 44100 -c 2 "$sample_dir/tone.wav" synth 94.5 sine 220:660 sine 330:440 \
  tremolo 0.045 90 tremolo 0.7 45 fade q 3 94.5 6 vol 0.9
lame --quiet -b 128 --tt "Morning Tide" --ta "The Harbour Lights" --tl "Coastlines" \
  --ty 2024 --tc "Recorded at the pier" --tn 3 --tg "Folk" --add-id3v2 \
  "$sample_dir/tone.wav" "$sample_dir/Morning Tide.mp3"
rm -f "$sample_dir/tone.wav"

mkdir -p docs
QT_QPA_PLATFORM=offscreen CORVELLA_SILENT_OUTPUT=1 \
  "$build/bin/corvella" --screenshot docs "$sample_dir/Morning Tide.mp3"
echo "Wrote docs/split-page.png and docs/tag-page.png"
