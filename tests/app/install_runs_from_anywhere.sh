#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the desktop files with
# their validators and the icons in every size, then runs the installed
# corvella-cli and the installed program (offscreen) from another folder:
# both must find the audio library in the prefix's private folder.
# Usage: install_runs_from_anywhere.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

id=org.corvella.corvella
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
grep -q '^MimeType=audio/mpeg;' "$prefix/share/applications/$id.desktop" || fail "MP3 is not among the types"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null || fail "metainfo"
for size in 16 22 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ "$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "")' "$icon")" = "${size}x${size}" ] \
    || fail "icon $size"
done
python3 -c 'import sys, xml.etree.ElementTree as e; r=e.parse(sys.argv[1]).getroot(); sys.exit(r.tag != "{http://www.w3.org/2000/svg}svg")' \
  "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "scalable icon"
for page in corvella corvella-cli; do
  [ -z "$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)" ] || fail "$page man page warnings"
done
for file in bin/corvella bin/corvella-cli lib/corvella/libbass.so lib/corvella/libbasswma.so \
            lib/corvella/Corvella.html lib/corvella/Option.ini lib/corvella/split-page.png; do
  [ -f "$prefix/$file" ] || fail "missing $file"
done
[ ! -e "$prefix/bin/libbass.so" ] || fail "the library belongs in the private folder"

# From another folder, with a file named relative to it.
mkdir "$work/elsewhere"
cd "$work/elsewhere"
sox -n -r 44100 -c 2 -b 16 tone.wav synth 3 sine 440 vol 0.5
lame --quiet -b 128 tone.wav song.mp3
info=$("$prefix/bin/corvella-cli" info song.mp3)
grep -q '^playLength: 30[0-9][0-9]$' <<<"$info" || fail "corvella-cli did not play the file: $info"
"$prefix/bin/corvella-cli" cut song.mp3 00:01.000 00:02.000 part.mp3 >/dev/null || fail "corvella-cli cut"
[ -s part.mp3 ] || fail "no section written"
# The screenshot mode draws the split page once the waveform is complete,
# which needs the audio library; the default Option.ini gives the caption.
QT_QPA_PLATFORM=offscreen CORVELLA_SILENT_OUTPUT=1 "$prefix/bin/corvella" --screenshot shots song.mp3 \
  || fail "the installed program could not open and decode the file"
[ -s shots/split-page.png ] || fail "no picture of the split page"
# --help is answered on the terminal, with no display to open a window on.
usage=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$prefix/bin/corvella" --help) \
  || fail "corvella --help did not exit at once"
grep -q '^Usage: corvella' <<<"$usage" || fail "corvella --help printed no usage: $usage"
echo "installed tree runs from $work/elsewhere"
