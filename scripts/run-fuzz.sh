#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Fuzzes every image reader with libFuzzer (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer):
#   bash scripts/run-fuzz.sh SECONDS [TARGET...]
# SECONDS per target (default 60); all targets when none is named (the
# targets are the format table's, listed by fuzz_make_seeds --list). FUZZ_JOBS=2
# runs two targets at once; FUZZ_TIMEOUT (default 30) is the seconds one
# input may take before it counts as a hang. Builds in build-fuzz/, seeds each target from the
# shared corpus, from files our own writers make and from fuzz/regressions/,
# keeps the growing corpus in build-fuzz/corpus/<target>/ and whatever is
# found (crash-*, timeout-*, oom-*, leak-*) in build-fuzz/artifacts/<target>/.
# A target that stops on a finding is started again until its time is used.
# Prints per target: executions, coverage, and findings.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_PER_TARGET=${1:-60}
shift || true
TARGETS=("$@")
JOBS=${FUZZ_JOBS:-1}
# Seconds one input may take before it counts as a hang. Under the sanitizers
# a legitimate large picture is slow: a 16 KB AVIF of 65364 x 640 pixels
# (42 million, within every limit) takes 20-26 s to decode, 5 s in a release
# build with the JPEG written.
TIMEOUT=${FUZZ_TIMEOUT:-30}
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
CORPUS=${INKBRITE_CORPUS_DIR:-$ROOT/../shared/corpus}

CC=${CC:-clang} CXX=${CXX:-clang++}
export CC CXX
# The AVIF and JPEG XL writers and the "load" target run the codec helper.
export INKBRITE_CODEC_HELPER=$BUILD/app/inkbrite-codec
# The "pdf" target draws its pages in the PDF helper.
export INKBRITE_PDF_HELPER=$BUILD/app/inkbrite-pdf
# The metafile module, loaded by the WMF and EMF targets.
export INKBRITE_METAFILE_MODULE=$BUILD/app/libinkbrite-metafile.so
SAN="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DINKBRITE_FUZZ=ON \
  -DINKBRITE_BUILD_TESTS=OFF -DINKBRITE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$SAN" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" -j2 --target fuzz_make_seeds fuzz_readers inkbrite-codec inkbrite-pdf inkbrite-metafile >"$BUILD/build.log" 2>&1 ||
  { tail -40 "$BUILD/build.log"; exit 1; }

# The targets and the extensions of their files, from the format table.
declare -A EXTENSIONS
ALL_TARGETS=()
while read -r name exts; do
  ALL_TARGETS+=("$name")
  EXTENSIONS[$name]=$exts
done < <("$BUILD/fuzz/fuzz_make_seeds" --list)
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL_TARGETS[@]}")
for t in "${TARGETS[@]}"; do
  [ -n "${EXTENSIONS[$t]+x}" ] || { echo "unknown target $t (targets: ${ALL_TARGETS[*]})" >&2; exit 2; }
done

# Seeds: our writers' files, the corpus by extension (files up to 256 KiB:
# big ones slow every run down and add little; "load" only under 16 KiB), and
# every reproducer.
SEEDS=$BUILD/seeds
rm -rf "$SEEDS"
mkdir -p "$SEEDS"
"$BUILD/fuzz/fuzz_make_seeds" "$SEEDS" >/dev/null
for t in "${ALL_TARGETS[@]}"; do
  mkdir -p "$SEEDS/$t"
  if [ -d "$CORPUS" ]; then
    size=-256k
    [ "$t" = load ] && size=-16k
    names=()
    for e in ${EXTENSIONS[$t]}; do names+=(-o -iname "*$e"); done
    find "$CORPUS" -type f -size "$size" \( "${names[@]:1}" \) -exec cp -t "$SEEDS/$t" {} + \
      2>/dev/null || true
  fi
  if [ -d "$ROOT/fuzz/regressions/$t" ]; then
    cp -t "$SEEDS/$t" "$ROOT"/fuzz/regressions/"$t"/* 2>/dev/null || true
  fi
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

fuzz_one() {
  local t=$1
  local corpus=$BUILD/corpus/$t artifacts=$BUILD/artifacts/$t log=$BUILD/logs/$t.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  : >"$log"
  local start now left
  start=$(date +%s)
  while :; do
    now=$(date +%s)
    left=$((SECONDS_PER_TARGET - (now - start)))
    [ "$left" -gt 0 ] || break
    INKBRITE_FUZZ_TARGET=$t "$BUILD/fuzz/fuzz_readers" -max_total_time="$left" -rss_limit_mb=2048 -timeout="$TIMEOUT" \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$SEEDS/$t" >>"$log" 2>&1 || true
  done
  local execs cov found
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{s += $2} END {print s + 0}')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  found=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' \
    -o -name 'leak-*' \) | wc -l)
  printf '%-5s executions %10s  cov %6s  crashes %s timeouts %s ooms %s leaks %s  (%s)\n' "$t" "$execs" \
    "${cov:-?}" "$(find "$artifacts" -name 'crash-*' | wc -l)" \
    "$(find "$artifacts" -name 'timeout-*' | wc -l)" "$(find "$artifacts" -name 'oom-*' | wc -l)" \
    "$(find "$artifacts" -name 'leak-*' | wc -l)" "$found found, artifacts in $artifacts"
}

running=0
for t in "${TARGETS[@]}"; do
  fuzz_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait
