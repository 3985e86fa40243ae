#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The learned 2x upscaling over a book, one job against several: a CBZ of
# LJ_PAGES scan-like pages (default 20, LJ_SIZE default 600x850 JPEG)
# converted with --set Learned=1 (upconv_7, noise 1, 2x) into a CBZ, with
# --jobs 1 and --jobs LJ_JOBS (default 2), LJ_REPS times side by side
# (default 3, the order alternating), medians of the wall clock and of the
# processor time (user + system). Both runs' books must hold the same bytes
# page for page. In a batch run a page's networks run on one thread, so
# --jobs 1 keeps to one core and the figure says how the run scales with
# its jobs.
#
#   bash bench/peers/learned_jobs.sh [BUILD_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build}" && pwd)"
INK="$BUILD_DIR/app/inkbrite-batch"
GEN="$BUILD_DIR/app/make_comic_pages"
PAGES="${LJ_PAGES:-20}"
SIZE="${LJ_SIZE:-600x850}"
JOBS="${LJ_JOBS:-2}"
REPS="${LJ_REPS:-3}"
[ -d "$BUILD_DIR/models/waifu2x" ] || { echo "learned_jobs: no weights in $BUILD_DIR/models (see scripts/fetch-waifu2x.sh)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/inkbrite-learned-jobs.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$GEN" --pages "$PAGES" --large 0 --size "$SIZE" --quality 85 --prefix page "$work/pages" >/dev/null
mkdir -p "$work/src"
(cd "$work/pages" && zip -q -0 "$work/src/book.cbz" ./*.jpg)

# run JOBS OUT: prints "wall cpu" in seconds
run() {
  rm -rf "$2"
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$INK" --quiet --jobs "$1" --set Learned=1 \
    --ext .png "$work/src" "$2"
  awk '{printf "%.2f %.2f\n", $1, $2 + $3}' "$work/time"
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
: >"$work/one"
: >"$work/many"
for r in $(seq 1 "$REPS"); do
  if [ $((r % 2)) -eq 1 ]; then
    run 1 "$work/out1" >>"$work/one"
    run "$JOBS" "$work/outN" >>"$work/many"
  else
    run "$JOBS" "$work/outN" >>"$work/many"
    run 1 "$work/out1" >>"$work/one"
  fi
done
(cd "$work/out1" && unzip -q -d x book.cbz) && (cd "$work/outN" && unzip -q -d x book.cbz)
diff -r "$work/out1/x" "$work/outN/x" >/dev/null || { echo "learned_jobs: --jobs $JOBS wrote other pages than --jobs 1" >&2; exit 1; }
w1=$(cut -d' ' -f1 "$work/one" | median)
c1=$(cut -d' ' -f2 "$work/one" | median)
wn=$(cut -d' ' -f1 "$work/many" | median)
cn=$(cut -d' ' -f2 "$work/many" | median)
echo "== learned 2x, $PAGES pages of $SIZE in a CBZ, medians of $REPS; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-12s %10s %10s\n" "" "wall s" "cpu s"
printf "%-12s %10s %10s\n" "--jobs 1" "$w1" "$c1"
printf "%-12s %10s %10s\n" "--jobs $JOBS" "$wn" "$cn"
awk -v a="$w1" -v b="$wn" -v j="$JOBS" 'BEGIN {printf "--jobs %d is %.2fx as fast as --jobs 1 (same pages, byte for byte)\n", j, a / b}'
