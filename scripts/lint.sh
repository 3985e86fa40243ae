#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# clang-tidy with .clang-tidy over the program's own sources (not the tests,
# benchmarks or fuzzers), on the compile database of a configured and built
# tree (generated headers included), JOBS files at once. Prints each finding
# and fails when there is any.
#   lint.sh [build-dir] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${2:-2}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build/compile_commands.json not found (run make build first)" >&2
  exit 2
fi
start=$(date +%s)
set +e +o pipefail
git ls-files 'app/*.cpp' 'batch/*.cpp' 'browse/*.cpp' 'core/*.cpp' 'formats/*.cpp' 'learned/*.cpp' \
  'platform/*.cpp' 'sources/*.cpp' |
  xargs -P "$jobs" -n 2 clang-tidy -p "$build" --quiet 2>&1 |
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$'
codes=("${PIPESTATUS[@]}")
set -e -o pipefail
if [ "${codes[1]}" -ne 0 ]; then
  echo "lint: clang-tidy found problems (xargs status ${codes[1]})" >&2
  exit 1
fi
echo "lint: clean in $(( $(date +%s) - start )) s" >&2
