#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a build tree into a temporary prefix and runs what was installed with a clean
# environment (nothing of the build tree on any path): the command line's main job (add a
# folder, index, search, similar) on the per-user default library, and, when the application
# is built, its snapshot mode; then validates the installed launcher and AppStream files.
# install-test.sh BUILD_DIR SOURCE_DIR APP(0|1)
set -euo pipefail
build="$(cd "$1" && pwd)"
source_dir="$(cd "$2" && pwd)"
app="$3"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
fail() {
  echo "install test: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null

# The installed binaries find their libraries from their own place, never from the build.
binaries=("$prefix/bin/quillmere-cli")
[[ $app == 1 ]] && binaries+=("$prefix/bin/quillmere")
for binary in "${binaries[@]}"; do
  [[ -x $binary ]] || fail "$binary was not installed"
  runpath="$(readelf -d "$binary" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')"
  for entry in ${runpath//:/ }; do
    [[ $entry == '$ORIGIN'* ]] || fail "$binary has the search path $entry"
  done
done
[[ -f $prefix/share/quillmere/Model/model.json ]] || fail "the model was not installed"

# Only the system's paths, a new home, and the sanitizers' settings of the suite.
mkdir -p "$tmp/home"
clean_env=(env -i PATH=/usr/bin:/bin HOME="$tmp/home" QT_QPA_PLATFORM=offscreen)
# Leaks of system libraries the suite already knows about are not the installation's.
: "${LSAN_OPTIONS:=suppressions=$source_dir/tests/lsan.supp}"
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS; do
  [[ -n ${!name:-} ]] && clean_env+=("$name=${!name}")
done
run() { (cd "$tmp" && "${clean_env[@]}" "$@"); }

# A small sample folder: real photos, one of them twice, and a clip that cuts from grey to red.
media="$tmp/media"
mkdir -p "$media"
photos=(/usr/share/backgrounds/mate/nature/*.jpg)
[[ -f ${photos[0]} ]] || fail "no wallpaper photos in /usr/share/backgrounds/mate/nature"
for photo in "${photos[@]:0:4}"; do
  vips thumbnail "$photo" "$media/$(basename "$photo")[Q=90]" 320
done
first="$media/$(basename "${photos[0]}")"
cp "$first" "$media/copy.jpg"
ffmpeg -loglevel error -y -f lavfi -i "color=c=0x707070:s=160x90:r=10:d=3" \
  -f lavfi -i "color=c=0xcc1a1a:s=160x90:r=10:d=3" \
  -filter_complex "[0][1]concat=n=2:v=1,noise=alls=30:allf=t" -c:v libx264 -pix_fmt yuv420p \
  "$media/grey-then-red.mp4"

cli="$prefix/bin/quillmere-cli"
run "$cli" add "$media" >/dev/null
run "$cli" index >/dev/null
[[ -f $tmp/home/.local/share/Quillmere/Library.sqlite ]] ||
  fail "the library is not in the per-user data directory"
red="$(run "$cli" search red --limit 3 --exact)"
echo "$red"
grep -m1 -E 'mp4|jpg' <<<"$red" | grep -q grey-then-red.mp4 || fail "'red' did not find the red clip first"
similar="$(run "$cli" similar "$first" --limit 2)"
echo "$similar"
grep -q copy.jpg <<<"$similar" || fail "the copy of the example photo is not among its similar photos"

[[ $(run "$cli" --version) == "quillmere-cli "[0-9]* ]] || fail "quillmere-cli --version"
run "$cli" model list --available | grep "^siglip2-b16 " >/dev/null ||
  fail "the installed command line does not list the models it offers to download"

if [[ $app == 1 ]]; then
  # No display at all: --help and --version must not need one.
  no_display=(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY)
  [[ $(run "${no_display[@]}" "$prefix/bin/quillmere" --version) == "quillmere "[0-9]* ]] ||
    fail "quillmere --version needs a display"
  run "${no_display[@]}" "$prefix/bin/quillmere" --help | grep -q -- --snapshot-windows ||
    fail "quillmere --help needs a display"
  run "$prefix/bin/quillmere" --snapshot-windows "$tmp/shots"
  shots=("$tmp/shots"/*.png)
  [[ -f ${shots[0]} ]] || fail "the snapshot mode wrote no pictures"
  for shot in "${shots[@]}"; do
    # A blank picture has no spread in its values.
    deviation="$(vips deviate "$shot")"
    awk -v d="$deviation" 'BEGIN { exit !(d > 1) }' || fail "$(basename "$shot") is blank"
  done
  echo "snapshot mode: ${#shots[@]} pictures"

  id=org.quillmere.Quillmere
  desktop-file-validate "$prefix/share/applications/$id.desktop"
  appstreamcli validate --pedantic --no-net "$prefix/share/metainfo/$id.metainfo.xml"
  for size in scalable/apps/$id.svg {16x16,48x48,512x512}/apps/$id.png; do
    [[ -f $prefix/share/icons/hicolor/$size ]] || fail "the icon $size was not installed"
  done
fi
echo "install test: passed"
