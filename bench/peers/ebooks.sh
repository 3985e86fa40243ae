#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# E-books against a CBZ and against another converter, side by side in one
# run: a 100-page book of 1700 x 2400 JPEG pages for a device (Kindle
# Paperwhite 5, Kobo Libra 2) to CBZ, EPUB (KEPUB for the Kobo) and PDF at
# one job, and the same book through calibre's comic converter
# (ebook-convert, Debian's calibre) with the nearest output profile.
#
#   bash bench/peers/ebooks.sh [BUILD_DIR]
#
# Environment:
#   EBOOKS_PAGES  pages of the book (default 100)
#   EBOOKS_REPS   rounds; the order rotates, the median counts (default 3)
#   EBOOKS_PEERS  0: leave the other converter out (default 1)
#   EBOOKS_EXT    the pages' format (default: the device's, PNG); a format
#                 that holds no palette (.jpg) writes 256 greys (GreyScale=1)
#                 in place of the device's 16
#
# Targets: EPUB and PDF at most 1.05x the CBZ of the same device; against
# the other converter at least 3x faster, and every EPUB passes epubcheck.
# The comic converter the issue names (KCC, Python) is neither in Debian nor
# on npm, the only registries this machine reaches, so calibre stands in.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build}" && pwd)"
INK="$BUILD_DIR/app/inkbrite-batch"
GEN="$BUILD_DIR/app/make_comic_pages"
PAGES="${EBOOKS_PAGES:-100}"
REPS="${EBOOKS_REPS:-3}"
CORPUS="$BUILD_DIR/bench-corpus/ebook${PAGES}"
EPUBCHECK=/usr/share/java/epubcheck.jar

die() { echo "bench-ebooks: $*" >&2; exit 1; }
[ -x "$INK" ] || die "$INK is missing: run 'make build' first"
[ -x "$GEN" ] || cmake --build "$BUILD_DIR" -j2 --target make_comic_pages >/dev/null ||
  die "cannot build make_comic_pages"
command -v python3 >/dev/null || die "python3 is missing"
have_calibre=1
command -v ebook-convert >/dev/null || { have_calibre=0; echo "calibre's ebook-convert missing: skipped"; }
[ "${EBOOKS_PEERS:-1}" = 0 ] && have_calibre=0
ext_option=()
if [ -n "${EBOOKS_EXT:-}" ]; then
  ext_option=(--ext "$EBOOKS_EXT")
  case "$EBOOKS_EXT" in .png | .gif | .bmp | .tif) ;; *) ext_option+=(--set GreyScale=1) ;; esac
fi

if [ ! -f "$CORPUS/.complete" ]; then
  echo "making $PAGES pages of 1700 x 2400 and their book in $CORPUS"
  rm -rf "$CORPUS"
  mkdir -p "$CORPUS/book"
  "$GEN" --pages "$PAGES" --large 0 "$CORPUS/pages" >/dev/null || die "page generation failed"
  python3 - "$CORPUS/book/book.cbz" "$CORPUS"/pages/*.jpg <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for f in sys.argv[2:]:
        z.write(f, os.path.basename(f))
EOF
  touch "$CORPUS/.complete"
fi
echo "book: $PAGES pages, $(du -sm "$CORPUS/pages" | cut -f1) MB of JPEG; load average $(cut -d' ' -f1-3 /proc/loadavg)"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/inkbrite-bench-ebooks.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# run_case DEVICE KIND: seconds of one conversion into $WORK/DEVICE-KIND.
run_case() {
  local device=$1 kind=$2 out=$WORK/$1-$2 t0 t1
  rm -rf "$out"; mkdir -p "$out"
  t0=$(date +%s.%N)
  if [ "$kind" = calibre ]; then
    local profile=kindle_pw3
    [ "$device" = kobo-libra-2 ] && profile=kobo
    ebook-convert "$CORPUS/book/book.cbz" "$out/book.epub" --output-profile "$profile" \
      >"$out/log" 2>&1 || die "ebook-convert failed (log $out/log)"
  else
    "$INK" --quiet --jobs 1 --device "$device" "${ext_option[@]}" --books "$kind" \
      --record "$WORK/record.txt" \
      "$CORPUS/book" "$out" >/dev/null || die "inkbrite-batch failed on $device $kind"
  fi
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A TIMES
for device in kindle-paperwhite-5 kobo-libra-2; do
  kinds=(cbz epub pdf)
  [ "$device" = kobo-libra-2 ] && kinds=(cbz kepub pdf)
  [ "$have_calibre" = 1 ] && kinds+=(calibre)
  n=${#kinds[@]}
  echo "== $device, $REPS rounds, one job"
  for ((r = 0; r < REPS; ++r)); do
    for ((i = 0; i < n; ++i)); do
      k=${kinds[$(((i + r) % n))]}
      s=$(run_case "$device" "$k")
      TIMES[$device.$k]+="$s "
      echo "  round $((r + 1)) $k: ${s}s"
    done
  done
  cbz=$(echo "${TIMES[$device.cbz]}" | tr ' ' '\n' | grep . | median)
  printf '  %-8s %8s %8s\n' kind median "x cbz"
  for k in "${kinds[@]}"; do
    m=$(echo "${TIMES[$device.$k]}" | tr ' ' '\n' | grep . | median)
    printf '  %-8s %7.2fs %8.3f\n' "$k" "$m" "$(awk -v a="$m" -v b="$cbz" 'BEGIN { print a / b }')"
    TIMES[$device.$k.median]=$m
  done
  ebook=epub; [ "$device" = kobo-libra-2 ] && ebook=kepub
  if [ "$have_calibre" = 1 ]; then
    echo "  calibre / inkbrite $ebook: $(awk -v a="${TIMES[$device.calibre.median]}" \
      -v b="${TIMES[$device.$ebook.median]}" 'BEGIN { printf "%.2f", a / b }')x"
  fi
  if [ -r "$EPUBCHECK" ] && command -v java >/dev/null; then
    for k in "$ebook" calibre; do
      [ -d "$WORK/$device-$k" ] || continue  # calibre left out (EBOOKS_PEERS=0)
      f=$(find "$WORK/$device-$k" -name '*.epub' | head -1)
      [ -n "$f" ] || continue
      if out=$(java -jar "$EPUBCHECK" "$f" 2>&1); then
        echo "  epubcheck $k: $(echo "$out" | grep -E 'No errors|Messages' | head -1)"
      else
        echo "  epubcheck $k: FAILED, $(echo "$out" | grep -cE '^(ERROR|FATAL)') errors, $(echo "$out" | grep -c '^WARNING') warnings"
      fi
    done
  fi
done
