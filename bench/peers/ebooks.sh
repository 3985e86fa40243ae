#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# E-books against a CBZ and against another converter, side by side in one
# run: a 100-page book of 1700 x 2400 JPEG pages for a device (Kindle
# Paperwhite 5, Kobo Libra 2) to CBZ, EPUB (KEPUB for the Kobo) and PDF at
# one job, and the same book through the other converter for the same
# device: Kindle Comic Converter's command line (kcc-c2e, profile KPW5 or
# KoL, EPUB; a checkout named by KCC_DIR), else calibre's comic converter
# (ebook-convert, Debian's calibre) with the nearest output profile.
# Every conversion runs on one processor (taskset), so the converter's
# worker pool is one process as our run is one job.
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
#   EBOOKS_CPU    the processor every conversion runs on (default 0)
#   KCC_DIR       a checkout of Kindle Comic Converter (github
#                 ciromattia/kcc): the other converter. It runs with
#                 Debian's python3 and its packages (python3-pil,
#                 python3-psutil, python3-slugify, python3-natsort,
#                 python3-numpy, python3-fitz, python3-packaging, p7zip-full).
#                 Debian 12's PyMuPDF is imported as "fitz", so a module
#                 "pymupdf" naming it is put on the path; the optional
#                 mozjpeg_lossless_optimization (only for --mozjpeg, not
#                 packaged) is a module that refuses to run.
#   KCC_PYTHON    the Python for it (default /usr/bin/python3)
#
# Targets: EPUB and PDF at most 1.05x the CBZ of the same device; against
# the other converter at least 3x faster, and every EPUB passes epubcheck.
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
[ -x /usr/bin/time ] || die "GNU time is missing: apt install time"
CPU="${EBOOKS_CPU:-0}"
PIN=(taskset -c "$CPU")
"${PIN[@]}" true 2>/dev/null || die "cannot run on processor $CPU (taskset, util-linux)"
KCC_PYTHON="${KCC_PYTHON:-/usr/bin/python3}"
peer=
if [ "${EBOOKS_PEERS:-1}" != 0 ]; then
  if [ -n "${KCC_DIR:-}" ]; then
    [ -f "$KCC_DIR/kcc-c2e.py" ] || die "KCC_DIR=$KCC_DIR holds no kcc-c2e.py"
    command -v 7z >/dev/null || die "KCC reads a CBZ with 7z: apt install p7zip-full"
    KCC_DIR="$(cd "$KCC_DIR" && pwd)"
    peer=kcc
  elif command -v ebook-convert >/dev/null; then
    peer=calibre
  else
    echo "no other converter (KCC_DIR unset, calibre's ebook-convert missing): skipped"
  fi
fi
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

if [ "$peer" = kcc ]; then
  # What Debian's packages lack of KCC's imports, and a worker pool as large
  # as the processors it may run on (os.cpu_count counts all of them).
  mkdir -p "$WORK/kcc-path" "$WORK/kcc-tmp"
  if ! "$KCC_PYTHON" -c 'import pymupdf' 2>/dev/null; then
    "$KCC_PYTHON" -c 'import fitz' 2>/dev/null || die "KCC needs PyMuPDF: apt install python3-fitz"
    printf '%s\n' 'from fitz import *  # noqa' \
      'from fitz import Matrix, Pixmap, csRGB, VersionBind as __version__  # noqa' \
      >"$WORK/kcc-path/pymupdf.py"
  fi
  if ! "$KCC_PYTHON" -c 'import mozjpeg_lossless_optimization' 2>/dev/null; then
    printf '%s\n' 'def optimize(data):' \
      '    raise RuntimeError("mozjpeg_lossless_optimization is not installed")' \
      >"$WORK/kcc-path/mozjpeg_lossless_optimization.py"
  fi
  printf '%s\n' 'import os' 'os.cpu_count = lambda: len(os.sched_getaffinity(0))' \
    >"$WORK/kcc-path/sitecustomize.py"
  kcc_version=$(PYTHONPATH="$WORK/kcc-path" "$KCC_PYTHON" -c \
    "import sys; sys.path.insert(0, '$KCC_DIR'); from kindlecomicconverter import __version__; print(__version__)") ||
    die "KCC does not start with $KCC_PYTHON (see its requirements.txt)"
  echo "other converter: KCC $kcc_version ($(git -C "$KCC_DIR" log -1 --format=%h 2>/dev/null || echo ?)), $KCC_PYTHON"
fi

# run_case DEVICE KIND: "WALL CPU", the seconds of one conversion into
# $WORK/DEVICE-KIND and the processor seconds it (and every process it
# waited for) spent, which a loaded machine disturbs far less.
run_case() {
  local device=$1 kind=$2 out=$WORK/$1-$2 t0 t1 cmd
  rm -rf "$out"; mkdir -p "$out"
  if [ "$kind" = calibre ]; then
    local profile=kindle_pw3
    [ "$device" = kobo-libra-2 ] && profile=kobo
    cmd=(ebook-convert "$CORPUS/book/book.cbz" "$out/book.epub" --output-profile "$profile")
  elif [ "$kind" = kcc ]; then
    # Its Kindle and Kobo profiles, EPUB (a .kepub.epub for the Kobo); the
    # device's 16 greys as PNG (GIF for a Kindle, as KCC writes them) unless
    # JPEG pages are asked for.
    local profile=KPW5 png=(--forcepng)
    [ "$device" = kobo-libra-2 ] && profile=KoL
    case "${EBOOKS_EXT:-.png}" in .png | .gif) ;; *) png=() ;; esac
    cmd=(env TMPDIR="$WORK/kcc-tmp" PYTHONPATH="$WORK/kcc-path" "$KCC_PYTHON"
      "$KCC_DIR/kcc-c2e.py" -p "$profile" -f EPUB "${png[@]}" -o "$out" "$CORPUS/book/book.cbz")
  else
    cmd=("$INK" --quiet --jobs 1 --device "$device" "${ext_option[@]}" --books "$kind"
      --record "$WORK/record.txt" "$CORPUS/book" "$out")
  fi
  t0=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$WORK/cpu" "${PIN[@]}" "${cmd[@]}" >"$out/log" 2>&1 ||
    die "$kind failed on $device (log $out/log)"
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" '{ printf "%.3f %.3f", b - a, $1 + $2 }' "$WORK/cpu"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

declare -A TIMES CPUS
for device in kindle-paperwhite-5 kobo-libra-2; do
  kinds=(cbz epub pdf)
  [ "$device" = kobo-libra-2 ] && kinds=(cbz kepub pdf)
  [ -n "$peer" ] && kinds+=("$peer")
  n=${#kinds[@]}
  echo "== $device, $REPS rounds, one job"
  for ((r = 0; r < REPS; ++r)); do
    for ((i = 0; i < n; ++i)); do
      k=${kinds[$(((i + r) % n))]}
      times=$(run_case "$device" "$k")
      read -r wall cpu <<<"$times"
      TIMES[$device.$k]+="$wall "
      CPUS[$device.$k]+="$cpu "
      echo "  round $((r + 1)) $k: ${wall}s, ${cpu}s of processor"
    done
  done
  cbz=$(echo "${TIMES[$device.cbz]}" | tr ' ' '\n' | grep . | median)
  cbzCpu=$(echo "${CPUS[$device.cbz]}" | tr ' ' '\n' | grep . | median)
  printf '  %-8s %8s %8s %10s %8s\n' kind median "x cbz" processor "x cbz"
  for k in "${kinds[@]}"; do
    m=$(echo "${TIMES[$device.$k]}" | tr ' ' '\n' | grep . | median)
    c=$(echo "${CPUS[$device.$k]}" | tr ' ' '\n' | grep . | median)
    printf '  %-8s %7.2fs %8s %9.2fs %8s\n' "$k" "$m" "$(ratio "$m" "$cbz")" "$c" "$(ratio "$c" "$cbzCpu")"
    TIMES[$device.$k.median]=$m
    CPUS[$device.$k.median]=$c
  done
  ebook=epub; [ "$device" = kobo-libra-2 ] && ebook=kepub
  if [ -n "$peer" ]; then
    echo "  $peer / inkbrite $ebook: $(ratio "${TIMES[$device.$peer.median]}" \
      "${TIMES[$device.$ebook.median]}")x, processor $(ratio "${CPUS[$device.$peer.median]}" \
      "${CPUS[$device.$ebook.median]}")x"
  fi
  if [ -r "$EPUBCHECK" ] && command -v java >/dev/null; then
    for k in "$ebook" $peer; do
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
