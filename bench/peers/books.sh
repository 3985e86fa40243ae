#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Books against loose pages: what converting a comic book (a CBZ) costs
# beside converting the same pages as a folder, and the memory a long book
# takes.
#
#   bash bench/peers/books.sh [BUILD_DIR]     (make bench-books)
#
# Environment:
#   BOOKS_PAGES   pages of the book, 1700 x 2400 JPEG (default 100)
#   BOOKS_REPS    repetitions, side by side; the order rotates, the median counts (default 3)
#   BOOKS_BIG_MB  size of the long book of the memory check (default 2048; 0 skips it)
#   BOOKS_IM=0    leave out ImageMagick
#   BOOKS_WORK    where the outputs and the long book go, in a new folder made
#                 there and removed at the end (default ${TMPDIR:-/tmp}; never
#                 the repository: the long book takes BOOKS_BIG_MB)
#   BOOKS_KEEP=1  keep the outputs
#
# Speed: the W1 settings of run.sh (brightness 110, contrast 120, gamma 90,
# JPEG quality 70) on the same pages as a folder into a folder and as a
# stored CBZ (how scanners and tools store JPEG pages) into a CBZ, with
# --jobs 1 and the default jobs (one a core). Target: the book at most 1.1x
# the folder. ImageMagick as the pipeline a user would script instead:
# unzip, one `convert` per page, zip (one thread, and its default threads).
#
# Memory: peak resident memory of 20 pages as a folder, the book, and a long
# book (BOOKS_BIG_MB of the same pages repeated under new names, stored).
# A run holds the pages it is converting and the book's read-ahead, never
# the book: target, the long book's peak at most the 20-page folder's plus
# the read-ahead budget (64 MiB, sources/book_limits.h).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build}" && pwd)"
INK="$BUILD_DIR/app/inkbrite-batch"
GEN="$BUILD_DIR/app/make_comic_pages"
PAGES="${BOOKS_PAGES:-100}"
REPS="${BOOKS_REPS:-3}"
BIG_MB="${BOOKS_BIG_MB:-2048}"
CORPUS="$BUILD_DIR/bench-corpus/book${PAGES}"
WORK_ROOT="${BOOKS_WORK:-${TMPDIR:-/tmp}}"
CORES="$(nproc)"
BUDGET_MB=64

die() { echo "bench-books: $*" >&2; exit 1; }

[ -x "$INK" ] || die "$INK is missing: run 'make build' first"
[ -x "$GEN" ] || cmake --build "$BUILD_DIR" -j2 --target make_comic_pages >/dev/null ||
  die "cannot build make_comic_pages"
TIME=/usr/bin/time
[ -x "$TIME" ] || die "GNU time (/usr/bin/time) is missing: apt-get install time"
command -v python3 >/dev/null || die "python3 is missing"
IM_CONVERT="$(command -v convert-im6.q16 || true)"
have_im=1
{ [ "${BOOKS_IM:-1}" = 1 ] && [ -n "$IM_CONVERT" ] && command -v zip >/dev/null &&
  command -v unzip >/dev/null; } || { have_im=0; echo "ImageMagick, zip or unzip missing (or BOOKS_IM=0): skipped"; }

# A stored zip of FILES... named as given (their base names), or of COUNT
# entries cycling through them: make_zip OUT COUNT FILE...
make_zip() {
  python3 - "$@" <<'EOF'
import os, sys, zipfile
out, count, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
with zipfile.ZipFile(out + ".part", "w", zipfile.ZIP_STORED) as z:
    for i in range(count):
        f = files[i % len(files)]
        name = os.path.basename(f) if count == len(files) else "page_%05d.jpg" % (i + 1)
        info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
        with open(f, "rb") as src, z.open(info, "w", force_zip64=True) as dst:
            dst.write(src.read())
os.replace(out + ".part", out)
EOF
}

# --- corpus (made once, kept) -------------------------------------------------
if [ ! -f "$CORPUS/.complete" ]; then
  echo "making $PAGES pages of 1700 x 2400 and their book in $CORPUS"
  rm -rf "$CORPUS"
  mkdir -p "$CORPUS/book" "$CORPUS/twenty"
  "$GEN" --pages "$PAGES" --large 0 "$CORPUS/pages" >/dev/null || die "page generation failed"
  make_zip "$CORPUS/book/book.cbz" "$PAGES" "$CORPUS"/pages/*.jpg
  for f in $(cd "$CORPUS/pages" && ls -- *.jpg | head -20); do
    ln "$CORPUS/pages/$f" "$CORPUS/twenty/$f"
  done
  touch "$CORPUS/.complete"
fi
PAGE_MB=$(du -sm "$CORPUS/pages" | cut -f1)
echo "book: $PAGES pages, ${PAGE_MB} MB of JPEG; $CORES cores"
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) (times are only as good as the machine is idle)"

WORK="$(mktemp -d "$WORK_ROOT/inkbrite-bench-books.XXXXXX")" || die "cannot make a folder in $WORK_ROOT"
cleanup() { if [ "${BOOKS_KEEP:-0}" != 1 ]; then rm -rf "$WORK"; else echo "outputs kept in $WORK"; fi; }
trap cleanup EXIT

W1=(--set Brightness=110 --set Contrast=120 --set Gamma=90 --set JpegQuality=70 --set GreyScale=2)
IM_OPS=(-level 7.604%,83.365%,1.1111111 -quality 70 -define jpeg:dct-method=float
        -define jpeg:optimize-coding=true)

# One run: run_case CASE OUT; prints "seconds peak_kb cpu_seconds" (the
# processor time of every process of the case, user and system).
run_case() {
  local c=$1 out=$2 m=$WORK/mem t0 t1
  rm -rf "$out"; mkdir -p "$out"; : >"$m"
  t0=$(date +%s.%N)
  case $c in
    folder1|folderN|book1|bookN|twenty1|twentyN|big1|bigN)
      local jobs=1 src
      case $c in *N) jobs=$CORES ;; esac
      case $c in
        folder*) src=$CORPUS/pages ;; book*) src=$CORPUS/book ;;
        twenty*) src=$CORPUS/twenty ;; big*) src=$WORK/big ;;
      esac
      "$TIME" -f '%M %U %S' -o "$m" "$INK" --quiet --jobs "$jobs" --record "$WORK/record.txt" "${W1[@]}" \
        "$src" "$out" >/dev/null || die "inkbrite-batch failed on $c (record: $WORK/record.txt)"
      ;;
    im1|imN)
      local lim=()
      [ "$c" = im1 ] && lim=(env MAGICK_THREAD_LIMIT=1)
      local tmp=$out/.pages f
      mkdir -p "$tmp/in" "$tmp/out"
      "$TIME" -a -f '%M %U %S' -o "$m" unzip -q "$CORPUS/book/book.cbz" -d "$tmp/in"
      for f in "$tmp"/in/*.jpg; do
        "${lim[@]}" "$TIME" -a -f '%M %U %S' -o "$m" "$IM_CONVERT" "$f" "${IM_OPS[@]}" \
          "$tmp/out/$(basename "$f")" || die "convert failed on $f"
      done
      (cd "$tmp/out" && "$TIME" -a -f '%M %U %S' -o "$m" zip -q -0 -X "$out/book.cbz" -- *.jpg)
      rm -rf "$tmp"
      ;;
  esac
  t1=$(date +%s.%N)
  local peak cpu
  peak=$(grep -E '^[0-9]+ ' "$m" | cut -d' ' -f1 | sort -n | tail -1)
  cpu=$(grep -E '^[0-9]+ ' "$m" | awk '{ s += $2 + $3 } END { printf "%.2f", s }')
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') ${peak:-0} ${cpu:-0}"
}

declare -A BEST MED PEAK CPU ROUND
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
best() { sort -g | head -1; }

measure() {  # REPS CASE...
  local reps=$1; shift
  local cases=("$@") n=$# r i c s k u
  declare -A times=() cpus=()
  for ((r = 0; r < reps; ++r)); do
    for ((i = 0; i < n; ++i)); do
      if [ "${PAIRED:-0}" = 1 ]; then
        # Pairs side by side, each pair's order swapped every other round.
        c=${cases[$((i ^ (r & 1)))]}
      else
        c=${cases[$(((i + r) % n))]}
      fi
      read -r s k u <<<"$(run_case "$c" "$WORK/$c")"
      times[$c]+="$s "
      cpus[$c]+="$u "
      ROUND[$c.$r]=$s
      [ "${PEAK[$c]:-0}" -ge "$k" ] || PEAK[$c]=$k
      echo "  rep $((r + 1)) $c: ${s}s (processor ${u}s), peak ${k} KB"
    done
  done
  for c in "${cases[@]}"; do
    BEST[$c]=$(echo "${times[$c]}" | tr ' ' '\n' | grep . | best)
    MED[$c]=$(echo "${times[$c]}" | tr ' ' '\n' | grep . | median)
    CPU[$c]=$(echo "${cpus[$c]}" | tr ' ' '\n' | grep . | median)
  done
  REPS_DONE=$reps
}
# The median over the rounds of A's time over B's in the same round (the
# two ran side by side, so a load that changes between rounds cancels out).
round_ratio() {
  local r
  for ((r = 0; r < REPS_DONE; ++r)); do
    awk -v a="${ROUND[$1.$r]}" -v b="${ROUND[$2.$r]}" 'BEGIN { printf "%.4f\n", a / b }'
  done | median
}

echo "== speed (W1), $REPS rounds side by side"
PAIRED=1 measure "$REPS" folder1 book1 folderN bookN
RATIO1=$(round_ratio book1 folder1)
RATION=$(round_ratio bookN folderN)
# The converted book holds the folder's pages, byte for byte.
python3 - "$WORK/book1/book.cbz" "$WORK/folder1" <<'EOF' || die "the book's pages differ from the folder's"
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
assert len(names) == len(os.listdir(sys.argv[2])), "page count"
for n in names:
    assert z.read(n) == open(os.path.join(sys.argv[2], n), "rb").read(), n
    assert z.getinfo(n).compress_type == zipfile.ZIP_STORED, n
EOF
cmp -s "$WORK/book1/book.cbz" "$WORK/bookN/book.cbz" || die "--jobs 1 and --jobs $CORES books differ"
echo "  the book's pages equal the folder's; --jobs 1 and --jobs $CORES books identical"
if [ "$have_im" = 1 ]; then
  echo "== ImageMagick: unzip, convert per page, zip (once)"
  measure 1 im1 imN
fi

echo "== memory"
measure 1 twenty1 twentyN
if [ "$BIG_MB" -gt 0 ]; then
  count=$(awk -v mb="$BIG_MB" -v all="$(du -sb "$CORPUS/pages" | cut -f1)" -v p="$PAGES" \
    'BEGIN { printf "%d", mb * 1048576 / (all / p) + 1 }')
  mkdir -p "$WORK/big"
  echo "  making a long book: $count pages, about $BIG_MB MB"
  make_zip "$WORK/big/long.cbz" "$count" "$CORPUS"/pages/*.jpg
  echo "  long book: $(du -sm "$WORK/big/long.cbz" | cut -f1) MB"
  measure 1 big1 bigN
  rm -rf "$WORK/big" "$WORK/big1" "$WORK/bigN"
fi

# --- report --------------------------------------------------------------------
label() {
  case $1 in
    folder1) echo "folder -> folder, --jobs 1" ;; folderN) echo "folder -> folder, --jobs $CORES" ;;
    book1) echo "CBZ -> CBZ, --jobs 1" ;; bookN) echo "CBZ -> CBZ, --jobs $CORES" ;;
    im1) echo "ImageMagick, 1 thread" ;; imN) echo "ImageMagick, default threads" ;;
    twenty1) echo "20-page folder, --jobs 1" ;; twentyN) echo "20-page folder, --jobs $CORES" ;;
    big1) echo "long book, --jobs 1" ;; bigN) echo "long book, --jobs $CORES" ;;
  esac
}
echo
echo "== Results ($PAGES pages of 1700 x 2400; peak memory of the process)"
printf '%-34s %9s %9s %11s %10s\n' case best median "processor" "peak MB"
for c in folder1 book1 folderN bookN im1 imN twenty1 twentyN big1 bigN; do
  [ -n "${BEST[$c]:-}" ] || continue
  printf '%-34s %9.2f %9.2f %11.2f %10.1f\n' "$(label "$c")" "${BEST[$c]}" "${MED[$c]}" \
    "${CPU[$c]}" "$(awk -v k="${PEAK[$c]}" 'BEGIN { print k / 1024 }')"
done
echo "(seconds: wall clock; processor: median user + system seconds)"

misses=0
verdict() {  # label, value, op, target
  local ok
  ok=$(awk -v v="$2" -v t="$4" -v op="$3" 'BEGIN { print (op == "<=" ? v <= t : v >= t) ? "PASS" : "MISS" }')
  [ "$ok" = PASS ] || misses=$((misses + 1))
  printf '  %-52s %9.2f  (target %s %s)  %s\n' "$1" "$2" "$3" "$4" "$ok"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
# Ratios of the medians (the best times' ratios beside them, for noise).
echo
echo "== Targets"
verdict "CBZ / folder, --jobs 1 (x, median of rounds)" "$RATIO1" "<=" 1.1
verdict "CBZ / folder, --jobs $CORES (x, median of rounds)" "$RATION" "<=" 1.1
echo "  medians' ratio: --jobs 1 $(ratio "${MED[book1]}" "${MED[folder1]}")x, --jobs $CORES" \
  "$(ratio "${MED[bookN]}" "${MED[folderN]}")x; best times' ratio: --jobs 1" \
  "$(ratio "${BEST[book1]}" "${BEST[folder1]}")x, --jobs $CORES $(ratio "${BEST[bookN]}" "${BEST[folderN]}")x;" \
  "processor time: --jobs 1 $(ratio "${CPU[book1]}" "${CPU[folder1]}")x, --jobs $CORES" \
  "$(ratio "${CPU[bookN]}" "${CPU[folderN]}")x"
if [ "$have_im" = 1 ]; then
  verdict "ImageMagick 1 thread / CBZ --jobs 1 (x faster)" "$(ratio "${MED[im1]}" "${MED[book1]}")" ">=" 1
  verdict "ImageMagick default / CBZ --jobs $CORES (x faster)" "$(ratio "${MED[imN]}" "${MED[bookN]}")" ">=" 1
fi
for j in 1 N; do
  mb() { awk -v k="${PEAK[$1]}" 'BEGIN { print k / 1024 }'; }
  limit=$(awk -v a="$(mb "twenty$j")" -v b="$BUDGET_MB" 'BEGIN { print a + b }')
  verdict "the $PAGES-page book's peak MB, --jobs ${j/N/$CORES}" "$(mb "book$j")" "<=" "$limit"
  [ -n "${PEAK[big$j]:-}" ] &&
    verdict "the long book's peak MB, --jobs ${j/N/$CORES}" "$(mb "big$j")" "<=" "$limit"
done
echo
echo "== $misses target(s) missed"
