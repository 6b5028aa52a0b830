#!/usr/bin/env bash
# Draws both pages of the window offscreen into docs/ (split-page.png and
# tag-page.png), with a generated sample file opened and its waveform drawn,
# for the README and for the AppStream metainfo, which lists them at
# CORVELLA_SCREENSHOT_URL (cmake/Install.cmake) when the folder is published.
# "screenshots.sh --desktops FOLDER" draws them instead as common desktops
# show the window, one subfolder each: at 12 pt in the Adwaita-dark style
# (Debian package adwaita-qt6) and at a screen scale of 2.
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

if [ "${1:-}" = "--desktops" ]; then
  out=${2:?"usage: screenshots.sh --desktops FOLDER"}
  QT_QPA_PLATFORM=offscreen CORVELLA_SILENT_OUTPUT=1 \
    "$build/bin/corvella" --screenshot "$out/adwaita-dark-12pt" "$sample_dir/Morning Tide.mp3" \
    --points 12 -style Adwaita-Dark
  QT_QPA_PLATFORM=offscreen CORVELLA_SILENT_OUTPUT=1 QT_SCALE_FACTOR=2 \
    "$build/bin/corvella" --screenshot "$out/scale-2" "$sample_dir/Morning Tide.mp3"
  echo "Wrote $out/adwaita-dark-12pt and $out/scale-2"
  exit 0
fi

mkdir -p docs
QT_QPA_PLATFORM=offscreen CORVELLA_SILENT_OUTPUT=1 \
  "$build/bin/corvella" --screenshot docs "$sample_dir/Morning Tide.mp3"
echo "Wrote docs/split-page.png and docs/tag-page.png"
