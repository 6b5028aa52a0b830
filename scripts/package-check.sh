#!/usr/bin/env bash
# Builds the Debian package from a built build folder (cpack -G DEB), unpacks
# it into a clean root folder and checks it as a user's machine would see it:
# every file the desktop entry, the metainfo and the man pages name is where
# they say, the Depends name the libraries the audio library opens itself,
# the unpacked corvella-cli and corvella run from there on a generated MP3,
# and lintian and appstreamcli validate --pedantic report nothing wrong.
# Usage: package-check.sh [BUILD_DIR]   (default build; build it first)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for file in bin/corvella bin/corvella-cli bin/libbass.so bin/libbasswma.so \
            resources/man/corvella.1.gz resources/man/corvella-cli.1.gz resources/doc/changelog.gz; do
  [ -f "$build/$file" ] || fail "$build/$file is not built; build the whole project first"
done

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/corvella_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single corvella_*.deb"
deb=${debs[0]}
echo "built $(basename "$deb")"

root=$work/root
dpkg-deb -x "$deb" "$root"
depends=$(dpkg-deb -f "$deb" Depends)
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "section is not sound"

# Every library the audio library opens by name at run time, whatever its
# sources name today, must come with the package.
while read -r soname; do
  owner=$(dpkg-query --search "*/$soname" | sed -n '1s/[:,].*//p')
  [ -n "$owner" ] || fail "no installed package holds $soname"
  grep -Eq "(^|, )$owner( |,|$)" <<<"$depends" || fail "Depends lacks $owner ($soname): $depends"
done < <(grep -ohE 'LoadedLibrary [A-Za-z_]+\("[^"]+"\)' "$source_dir"/engine/*.cpp | sed -E 's/.*\("(.*)"\)/\1/' | sort -u)
# And what the programs link, through dpkg-shlibdeps.
for package in libqt6widgets6 libmpg123-0 libavformat; do
  grep -q "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done

# The desktop entry: its program and its icon in every size drawn.
desktop=$(echo "$root"/usr/share/applications/*.desktop)
[ -f "$desktop" ] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "desktop entry"
id=$(basename "$desktop" .desktop)
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/usr/bin/$exec_program" ] || fail "the desktop entry starts $exec_program, which is not in /usr/bin"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
[ "$(ls "$root"/usr/share/icons/hicolor/*x*/apps/"$icon".png | wc -l)" -ge 8 ] || fail "icon $icon is missing in some sizes"

# The metainfo: named after its id, launching the desktop entry, providing
# binaries that are there, and valid without a single remark.
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
[ -f "$metainfo" ] || fail "no metainfo named after the desktop entry $id"
read -r meta_id launchable binaries images < <(python3 - "$metainfo" <<'EOF'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.findtext("id"), root.findtext("launchable"),
      ",".join(b.text for b in root.iter("binary")),
      ",".join(i.text.rsplit("/", 1)[-1] for i in root.iter("image")) or "-")
EOF
)
[ "$meta_id" = "$id" ] || fail "metainfo id $meta_id differs from the desktop entry's name $id"
[ "$launchable" = "$id.desktop" ] || fail "metainfo launches $launchable"
validation=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) || { echo "$validation" >&2; fail "appstreamcli validate"; }
! grep -Eq '^[EWI]: ' <<<"$validation" || { echo "$validation" >&2; fail "appstreamcli has remarks"; }

# The man pages: one for every program, clean, and the program's folder
# their FILES section names holds what it lists.
IFS=, read -ra provided <<<"$binaries"
for program in "${provided[@]}"; do
  [ -x "$root/usr/bin/$program" ] || fail "metainfo provides $program, which is not in /usr/bin"
done
for program in "$root"/usr/bin/*; do
  page=$root/usr/share/man/man1/$(basename "$program").1.gz
  [ -f "$page" ] || fail "no man page for $(basename "$program")"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $(basename "$page"): $warnings"
done
listed=$(zcat "$root/usr/share/man/man1/corvella.1.gz" | sed -n '/^\.SH FILES/,/^\.SH /p')
folder=$(sed -n 's/^\.I \(\/usr\/[^ ]*\)$/\1/p' <<<"$listed")
[ -n "$folder" ] || fail "the man page names no program folder"
for name in $(sed -n 's/^\.IR\? \([^/"]*\)$/\1/p; s/^\.IR \([^ ]*\) ", " \([^ ]*\)$/\1 \2/p' <<<"$listed"); do
  [ -f "$root$folder/$name" ] || fail "the man page lists $folder/$name, which is not there"
done
[ -f "$root$folder/libbass.so" ] || fail "the man page's folder $folder holds no audio library"
[ -f "$root/usr/share/doc/corvella/copyright" ] || fail "no copyright file"

# The unpacked programs, from another folder: both must find the audio
# library in the unpacked program folder.
mkdir "$work/elsewhere"
cd "$work/elsewhere"
sox -n -r 44100 -c 2 -b 16 tone.wav synth 3 sine 440 vol 0.5
lame --quiet -b 128 tone.wav song.mp3
"$root/usr/bin/corvella-cli" --help >/dev/null || fail "corvella-cli --help"
info=$("$root/usr/bin/corvella-cli" info song.mp3) || fail "corvella-cli info: $info"
grep -q '^playLength: 30[0-9][0-9]$' <<<"$info" || fail "the unpacked corvella-cli did not play the file: $info"
QT_QPA_PLATFORM=offscreen CORVELLA_SILENT_OUTPUT=1 "$root/usr/bin/corvella" --screenshot shots song.mp3 \
  || fail "the unpacked program could not open and decode the file"
# The metainfo's screenshots are pictures the program takes itself.
if [ "$images" != - ]; then
  IFS=, read -ra names <<<"$images"
  for name in "${names[@]}"; do
    [ -s "shots/$name" ] || fail "the metainfo shows $name, which the program's --screenshot does not take"
  done
fi

lintian_report=$(lintian --fail-on error "$deb" 2>&1) \
  || { echo "$lintian_report" >&2; fail "lintian"; }
[ -z "$lintian_report" ] || echo "$lintian_report"
echo "package checked: $(basename "$deb") (Depends: $depends)"
