#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang
  # program
  qt6-base-dev qt6-base-dev-tools libgl-dev libjpeg62-turbo-dev
  libmpg123-dev libvorbis-dev libsndfile1-dev libopenmpt-dev libsdl2-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libebur128-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  lame sox libsox-fmt-mp3 vorbis-tools ffmpeg mpg123 python3 python3-mutagen time
  xdg-utils fonts-dejavu-core desktop-file-utils appstream
  # styles the window is laid out in by its tests (Adwaita, Adwaita-dark)
  adwaita-qt6
  # the Debian package and its check (scripts/package-check.sh)
  dpkg-dev file man-db lintian
  # peers of the start-up benchmark (tests/bench/bench_startup.sh)
  mediainfo mp3splt time
  # the checkers and peers of the volume change (mp3val, mp3gain, loudgain)
  mp3val mp3gain loudgain
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
