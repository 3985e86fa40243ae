#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# How often the converter opens its source files: strace counts the opens
# of the files of the source folder (not the folders' listings) during a run over 18 pages (the six
# sample pages as JPEG, PNG and TIFF, a folder each), at --jobs 1 and 2.
#
#   bash bench/file_opens.sh BUILD_DIR [OTHER_BUILD_DIR]
#
# With a second build (another checkout's), both are counted side by side.
set -euo pipefail
builds=("$@")
[ ${#builds[@]} -ge 1 ] || { echo "usage: $0 BUILD_DIR [OTHER_BUILD_DIR]" >&2; exit 2; }
command -v strace >/dev/null || { echo "strace is not installed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
first="${builds[0]}"
for ext in .jpg .png .tif; do
  "$first/app/inkbrite-batch" --ext "$ext" --record "$work/rcd.txt" "$first/app/samples" \
    "$work/src/${ext#.}" >/dev/null
done
count=$(find "$work/src" -type f | wc -l)
printf '%-40s %6s %8s %8s\n' build files jobs=1 jobs=2
for build in "${builds[@]}"; do
  line=$(printf '%-40s %6s' "$build" "$count")
  for jobs in 1 2; do
    rm -rf "$work/out"
    strace -f -qq -e trace=open,openat -o "$work/trace" \
      "$build/app/inkbrite-batch" --jobs "$jobs" --record "$work/out.txt" "$work/src" \
      "$work/out" >/dev/null
    # The files' opens, not the folders' listings.
    opens=$(grep -F "$work/src/" "$work/trace" | grep -c -v O_DIRECTORY || true)
    line+=$(printf ' %8s' "$opens")
  done
  echo "$line"
done
