#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Peer benchmark W4: the tone settings of W1 (run.sh) written as WebP, AVIF
# and JPEG XL at quality 75 by inkbrite-batch, against the libraries' own
# command-line encoders (cwebp, avifenc, cjxl) given the decoded and toned
# page as PNG, and against ImageMagick and libvips doing the whole job where
# they can write the format.
#
#   bash bench/peers/modern.sh [BUILD_DIR]      (make bench-peers runs it after run.sh)
#
# Environment:
#   MODERN_PAGES   pages of 1700 x 2400 (default 6; AVIF takes seconds a page)
#   MODERN_REPS    repetitions; the order rotates, the best time is reported (default 2)
#   MODERN_FORMATS the formats (default "webp avif jxl")
#   PEERS_KEEP=1   keep the outputs in build/bench-modern-out/
#
# Equal settings (our writers' defaults, README "Writing WebP, AVIF and JPEG XL"):
#   WebP     cwebp -q 75 -m 0 (libwebp's other defaults are cwebp's too)
#   AVIF     avifenc -c aom -s 8 -j 1 --min 16 --max 16 -y 420 -r full
#            (quantizer ((100 - 75) * 63 + 50) / 100 = 16; 4:0:0 for grey pages)
#   JPEG XL  cjxl -d 2.35 -e 3 --num_threads=0 (distance 0.1 + (100 - 75) * 0.09)
# The reference encoders read the PNG that inkbrite-batch wrote for the toned
# page (made once, not timed); our side decodes the JPEG and tones it as well,
# so the --jobs 1 target allows our decode and tone on top of the encoder's
# time: inkbrite-batch --jobs 1 writing the toned page as BMP (the cheapest
# writer). ImageMagick and vips are given their W1 tone (run.sh says how it
# maps onto ours) and their own encoder options at the same quality: they
# show what a user of those tools would wait, not equal settings.
#
# Prints seconds, megapixels per second, output bytes and PSNR (dB) of the
# outputs (decoded by dwebp, avifdec and djxl) against the toned PNG, then
# each target with its ratio and PASS/MISS:
#   --jobs 1 time <= 1.1 x (reference encoder + our decode and tone)
#   default jobs faster than every peer (the reference encoder alone, with its
#     own default threads, one file after another as its users run it)
#   bytes within 2 % of the reference encoder's
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build}" && pwd)"
INK="$BUILD_DIR/app/inkbrite-batch"
GEN="$BUILD_DIR/app/make_comic_pages"
PAGES="${MODERN_PAGES:-6}"
REPS="${MODERN_REPS:-2}"
FORMATS="${MODERN_FORMATS:-webp avif jxl}"
CORPUS="$BUILD_DIR/bench-corpus/p${PAGES}_l0"
WORK="$BUILD_DIR/bench-modern-out"

die() { echo "bench-modern: $*" >&2; exit 1; }

[ -x "$INK" ] || die "$INK is missing: run 'make build' first"
if [ ! -x "$GEN" ]; then
  cmake --build "$BUILD_DIR" -j2 --target make_comic_pages >/dev/null || die "cannot build make_comic_pages"
fi
for tool in cwebp dwebp avifenc avifdec cjxl djxl; do
  command -v "$tool" >/dev/null ||
    die "$tool is missing: bash scripts/install-deps.sh --bench (webp, libavif-bin, libjxl-tools)"
done
IM_MOGRIFY="$(command -v mogrify-im6.q16 || command -v mogrify || true)"
IM_COMPARE="$(command -v compare-im6.q16 || command -v compare || true)"
VIPS="$(command -v vips || true)"
[ -n "$IM_COMPARE" ] || die "ImageMagick (compare) is missing: apt-get install imagemagick"
CORES="$(nproc)"

if [ ! -f "$CORPUS/.complete" ]; then
  echo "making the corpus: $PAGES pages of 1700 x 2400 in $CORPUS"
  rm -rf "$CORPUS"
  "$GEN" --pages "$PAGES" --large 0 "$CORPUS" || die "corpus generation failed"
  touch "$CORPUS/.complete"
fi
mapfile -t FILES < <(cd "$CORPUS" && ls -- *.jpg)
NFILES=${#FILES[@]}
[ "$NFILES" -gt 0 ] || die "empty corpus in $CORPUS"
MPIX=$(awk -v n="$NFILES" 'BEGIN { printf "%.2f", n * 1700 * 2400 / 1e6 }')
echo "W4 corpus: $NFILES pages, $MPIX megapixels; $CORES cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"

rm -rf "$WORK"
mkdir -p "$WORK"
cleanup() { if [ "${PEERS_KEEP:-0}" != 1 ]; then rm -rf "$WORK"; fi; }
trap cleanup EXIT

INK_TONE=(--set Brightness=110 --set Contrast=120 --set Gamma=90 --set JpegQuality=75 --set GreyScale=2)
IM_TONE=(-level 7.604%,83.365%,1.1111111)
ink() {  # jobs ext out
  "$INK" --quiet --jobs "$1" --no-subdirs --record "$WORK/record.txt" "${INK_TONE[@]}" --ext "$2" \
    "$CORPUS" "$3" >/dev/null || die "inkbrite-batch failed writing $2 (record: $WORK/record.txt)"
}

# The toned pages as PNG: the reference encoders' input and the PSNR reference.
ink "$CORES" .png "$WORK/toned"
if [ -n "$VIPS" ]; then
  "$VIPS" identity "$WORK/lut0.v"
  "$VIPS" linear "$WORK/lut0.v" "$WORK/lut1.v" --uchar -- 1.32 -25.6
  "$VIPS" gamma "$WORK/lut1.v" "$WORK/lut.v" --exponent 1.1111111
fi
# Which peers write which format (their lists read once: grep -q on a pipe
# would stop the lister early, and pipefail would count that as a failure).
VIPS_SAVERS=""
[ -z "$VIPS" ] || VIPS_SAVERS=$("$VIPS" -l 2>/dev/null || true)
IM_FORMATS=""
[ -z "$IM_MOGRIFY" ] || IM_FORMATS=$("$IM_MOGRIFY" -list format 2>/dev/null || true)
can_vips() {
  case $1 in
    webp) grep -q webpsave <<<"$VIPS_SAVERS" ;;
    avif) grep -q heifsave <<<"$VIPS_SAVERS" ;;  # libheif with its AV1 encoder
    jxl) grep -q jxlsave <<<"$VIPS_SAVERS" ;;
  esac
}
can_im() { grep -qiE "^ *${1}\*? +[A-Z0-9]+ +rw" <<<"$IM_FORMATS"; }

# One run of tool $1 for format $2 into $3; prints the seconds.
run_tool() {
  local tool=$1 fmt=$2 out=$3 t0 t1 f b
  rm -rf "$out"; mkdir -p "$out"
  t0=$(date +%s.%N)
  case $tool in
    ink1) ink 1 ".$fmt" "$out" ;;
    inkN) ink "$CORES" ".$fmt" "$out" ;;
    tone) ink 1 .bmp "$out" ;;
    ref)
      for f in "${FILES[@]}"; do
        b=${f%.jpg}
        case $fmt in
          webp) cwebp -quiet -q 75 -m 0 "$WORK/toned/$b.png" -o "$out/$b.webp" ;;
          avif) avifenc -c aom -s 8 -j 1 --min 16 --max 16 -y 420 -r full \
                  "$WORK/toned/$b.png" "$out/$b.avif" >/dev/null ;;
          jxl) cjxl -d 2.35 -e 3 --num_threads=0 "$WORK/toned/$b.png" "$out/$b.jxl" 2>/dev/null ;;
        esac || die "the reference encoder failed on $b.$fmt"
      done
      ;;
    refN)  # cjxl at its default threads
      for f in "${FILES[@]}"; do
        b=${f%.jpg}
        cjxl -d 2.35 -e 3 "$WORK/toned/$b.png" "$out/$b.jxl" 2>/dev/null ||
          die "cjxl failed on $b.jxl"
      done
      ;;
    im)
      local opts=(-quality 75)
      case $fmt in
        webp) opts+=(-define webp:method=0) ;;
        avif) opts+=(-define heic:speed=8) ;;
      esac
      (cd "$CORPUS" && "$IM_MOGRIFY" -path "$out" -format "$fmt" "${IM_TONE[@]}" "${opts[@]}" \
        "${FILES[@]}") || die "ImageMagick failed writing $fmt"
      ;;
    vips)
      local save
      case $fmt in
        webp) save="[Q=75,effort=0,strip]" ;;
        avif) save="[Q=75,compression=av1,effort=1,strip]" ;;  # aom speed 9 - effort
        jxl) save="[Q=75,effort=3,strip]" ;;
      esac
      for f in "${FILES[@]}"; do
        b=${f%.jpg}
        "$VIPS" maplut "$CORPUS/$f" "$out/$b.$fmt$save" "$WORK/lut.v" || die "vips failed on $b.$fmt"
      done
      ;;
  esac
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

# Mean PSNR of a tool's outputs against the toned pages (up to 3 pages).
psnr() {  # fmt dir
  local fmt=$1 dir=$2 f b sum=0 n=0 p
  for f in "${FILES[@]:0:3}"; do
    b=${f%.jpg}
    case $fmt in
      webp) dwebp -quiet "$dir/$b.webp" -o "$WORK/back.png" ;;
      avif) avifdec "$dir/$b.avif" "$WORK/back.png" >/dev/null ;;
      jxl) djxl "$dir/$b.jxl" "$WORK/back.png" >/dev/null 2>&1 ;;
    esac || { echo 0; return; }
    p=$("$IM_COMPARE" -metric PSNR "$WORK/toned/$b.png" "$WORK/back.png" null: 2>&1 || true)
    sum=$(awk -v s="$sum" -v p="${p%% *}" 'BEGIN { print s + p }')
    n=$((n + 1))
  done
  awk -v s="$sum" -v n="$n" 'BEGIN { printf "%.2f", s / n }'
}
bytes() { find "$1" -maxdepth 1 -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

declare -A SECS BYTES PSNR
best() { tr ' ' '\n' | grep . | sort -g | head -1; }
TOOLS_OF=()
for fmt in $FORMATS; do
  # cwebp and avifenc run on one thread by default; cjxl on every core.
  tools=(ink1 inkN tone ref)
  if [ "$fmt" = jxl ]; then tools+=(refN); fi
  if can_im "$fmt"; then tools+=(im); fi
  if can_vips "$fmt"; then tools+=(vips); fi
  TOOLS_OF+=("$fmt:${tools[*]}")
  n=${#tools[@]}
  declare -A times=()
  for ((r = 0; r < REPS; ++r)); do
    for ((i = 0; i < n; ++i)); do
      t=${tools[$(((i + r) % n))]}
      s=$(run_tool "$t" "$fmt" "$WORK/$fmt/$t")
      times[$t]+="$s "
      echo "  W4 $fmt rep $((r + 1)) $t: ${s}s"
    done
  done
  for t in "${tools[@]}"; do
    SECS[$fmt,$t]=$(echo "${times[$t]}" | best)
    BYTES[$fmt,$t]=$(bytes "$WORK/$fmt/$t")
    [ "$t" = tone ] || PSNR[$fmt,$t]=$(psnr "$fmt" "$WORK/$fmt/$t")
  done
  unset times
done

label() {
  case $1 in
    ink1) echo "inkbrite-batch --jobs 1" ;; inkN) echo "inkbrite-batch --jobs $CORES" ;;
    tone) echo "inkbrite decode+tone (BMP)" ;;
    ref) echo "$2, 1 thread" ;; refN) echo "$2, default threads" ;;
    im) echo "ImageMagick default" ;; vips) echo "vips default" ;;
  esac
}
refname() { case $1 in webp) echo cwebp ;; avif) echo avifenc ;; jxl) echo cjxl ;; esac; }

echo
echo "== W4 results: best of $REPS, $NFILES pages, $MPIX MP, quality 75"
printf '%-5s %-30s %9s %9s %12s %8s\n' fmt tool seconds "MP/s" bytes "PSNR dB"
for entry in "${TOOLS_OF[@]}"; do
  fmt=${entry%%:*}
  for t in ${entry#*:}; do
    printf '%-5s %-30s %9.2f %9.1f %12d %8s\n' "$fmt" "$(label "$t" "$(refname "$fmt")")" \
      "${SECS[$fmt,$t]}" "$(awk -v p="$MPIX" -v s="${SECS[$fmt,$t]}" 'BEGIN { print p / s }')" \
      "${BYTES[$fmt,$t]}" "${PSNR[$fmt,$t]:--}"
  done
done

misses=0
verdict() {  # label, value, op, target
  local ok
  ok=$(awk -v v="$2" -v t="$4" -v op="$3" 'BEGIN { print (op == "<=" ? v <= t : v >= t) ? "PASS" : "MISS" }')
  [ "$ok" = PASS ] || misses=$((misses + 1))
  printf '  %-62s %8.3f  (target %s %s)  %s\n' "$1" "$2" "$3" "$4" "$ok"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }

echo
echo "== W4 targets"
for entry in "${TOOLS_OF[@]}"; do
  fmt=${entry%%:*}
  ref=$(refname "$fmt")
  verdict "$fmt --jobs 1 / ($ref + our decode and tone) (x)" \
    "$(awk -v a="${SECS[$fmt,ink1]}" -v r="${SECS[$fmt,ref]}" -v t="${SECS[$fmt,tone]}" \
      'BEGIN { printf "%.4f", a / (r + t) }')" "<=" 1.1
  for t in ${entry#*:}; do
    case $t in ref|refN|im|vips) ;; *) continue ;; esac
    verdict "$fmt $(label "$t" "$ref") / inkbrite --jobs $CORES (x faster)" \
      "$(ratio "${SECS[$fmt,$t]}" "${SECS[$fmt,inkN]}")" ">=" 1.0
  done
  r=$(ratio "${BYTES[$fmt,ink1]}" "${BYTES[$fmt,ref]}")
  verdict "$fmt bytes / $ref bytes, |x - 1| (x)" "$(awk -v r="$r" 'BEGIN { d = r - 1; print d < 0 ? -d : d }')" \
    "<=" 0.02
  if ! diff -rq "$WORK/$fmt/ink1" "$WORK/$fmt/inkN" >/dev/null; then
    echo "  $fmt inkbrite --jobs 1 and --jobs $CORES: FILES DIFFER"; misses=$((misses + 1))
  fi
done
echo
echo "== W4: $misses target(s) missed"
