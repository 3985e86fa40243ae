#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Checks the Debian package that `make package` built, then runs it from a
# scratch root (dpkg -x: no root rights needed, nothing left on the machine):
#   lintian (errors and warnings fail), appstreamcli validate,
#   desktop-file-validate, the dependencies installable (apt-get --simulate),
#   inkbrite-batch --version and a real conversion from the installed files,
#   a metafile converted through the installed metafile module,
#   the installed viewer started offscreen until its window shows, the bash
#   completion, and nothing written beside the installed programs.
#   package-test.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
shopt -s nullglob
debs=("$build"/inkbrite_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "package-test: expected one inkbrite_*.deb in $build, found ${#debs[@]}" >&2
  exit 1
fi
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "== package-test: $*"; }

step "lintian $deb"
lintian --fail-on error,warning --info "$deb"

step "dependencies: $(dpkg-deb -f "$deb" Depends)"
apt-get install --simulate -q "$(realpath "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; exit 1; }

root=$work/root
dpkg -x "$deb" "$root"
usr=$root/usr

step "appstreamcli validate, desktop-file-validate"
appstreamcli validate --no-net --pedantic "$usr"/share/metainfo/*.metainfo.xml
desktop-file-validate "$usr"/share/applications/*.desktop
for size in 16 22 24 32 48 64 128 256; do
  test -s "$usr/share/icons/hicolor/${size}x${size}/apps/inkbrite.png"
done
test -s "$usr/share/inkbrite/Inkbrite.htm"
test -s "$usr/share/inkbrite/Inkbrite_en.htm"
test -s "$usr/share/inkbrite/translations/inkbrite_en.qm"
test -s "$usr/share/man/man1/inkbrite.1.gz"
test -s "$usr/share/man/man1/inkbrite-batch.1.gz"
test -s "$usr/share/man/zh_CN/man1/inkbrite-batch.1.gz"

# The installed programs run with a home of their own.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset INKBRITE_DATA_DIR INKBRITE_METAFILE_MODULE

step "inkbrite-batch --version"
out=$("$usr/bin/inkbrite-batch" --version)
[ "$out" = "inkbrite-batch $version" ] || { echo "unexpected: $out" >&2; exit 1; }

step "a conversion with the installed inkbrite-batch"
samples=("$usr"/share/inkbrite/samples/*.jpg)
[ ${#samples[@]} -gt 0 ] || { echo "no sample pages installed" >&2; exit 1; }
"$usr/bin/inkbrite-batch" --quiet --set GreyScale=1 --set Resize=50 --ext .png \
  --target "$work/out" "${samples[0]}"
converted=$work/out/$(basename "${samples[0]}" .jpg).png
[ "$(head -c 8 "$converted" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
  { echo "no PNG file written: $converted" >&2; exit 1; }

step "a metafile converted through the installed metafile module"
modules=("$usr"/lib/*/inkbrite/libinkbrite-metafile.so)
[ ${#modules[@]} -eq 1 ] || { echo "metafile module: ${modules[*]}" >&2; exit 1; }
# A placeable WMF of one inch at 96 dots per inch: a rectangle.
printf '\xd7\xcd\xc6\x9a\0\0\0\0\0\0\xe8\x03\xe8\x03\xe8\x03\0\0\0\0\xf9\x54%b%b%b' \
  '\x01\0\x09\0\0\x03\x13\0\0\0\0\0\x07\0\0\0\0\0' \
  '\x07\0\0\0\x1b\x04\x20\x03\x20\x03\xc8\0\xc8\0' '\x03\0\0\0\0\0' >"$work/drawing.wmf"
"$usr/bin/inkbrite-batch" --quiet --ext .png --target "$work/out" "$work/drawing.wmf"
[ "$(head -c 8 "$work/out/drawing.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
  { echo "the metafile was not converted" >&2; exit 1; }

step "the installed viewer, offscreen, until its window shows"
out=$("$usr/bin/inkbrite" --version)
[ "$out" = "inkbrite $version" ] || { echo "unexpected: $out" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen INKBRITE_QUIT_AFTER_START=1 timeout 60 "$usr/bin/inkbrite"

step "the installed viewer in English and in Chinese"
for lang in en zh; do
  QT_QPA_PLATFORM=offscreen INKBRITE_QUIT_AFTER_START=1 INKBRITE_LANG=$lang timeout 60 \
    "$usr/bin/inkbrite" 2>"$work/viewer-$lang.log"
  ! grep -q "translation" "$work/viewer-$lang.log" ||
    { cat "$work/viewer-$lang.log" >&2; exit 1; }
done

step "bash completion"
completions=$(bash -c 'source "$1"; COMP_WORDS=(inkbrite-batch --no); COMP_CWORD=1
  _inkbrite_batch; echo "${COMPREPLY[*]}"' _ "$usr/share/bash-completion/completions/inkbrite-batch")
[ "$completions" = "--no-subdirs" ] || { echo "completion gave: $completions" >&2; exit 1; }

step "nothing written beside the installed programs"
extra=$(ls "$usr/bin" | grep -vxE 'inkbrite|inkbrite-batch' || true)
[ -z "$extra" ] || { echo "written into usr/bin: $extra" >&2; exit 1; }
test -d "$XDG_DATA_HOME/Inkbrite"

echo "package-test: $deb passed"
