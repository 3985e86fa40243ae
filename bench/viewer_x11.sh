#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The viewer in a real window, beside qimgv and MComix when they are
# installed (scripts/install-deps.sh --bench adds them): an Xvfb screen of
# 1400 x 1000 with openbox, keys sent through XTEST and the screen's pixels
# watched by bench/x11_page_timer.cpp, on grey one-component scan-like pages
# of 1700 x 2400 (line art, screentone, noise; make_comic_pages --grey).
#
#   bash bench/viewer_x11.sh [BUILD_DIR]          (make bench-viewer-x11)
#
# Environment: X11_ROUNDS measurements of each figure (default 13, the
# median is shown), X11_VIEWERS (default "inkbrite qimgv mcomix", those
# installed), X11_DISPLAY (default :77); X11_TIMER and X11_INKBRITE name
# the programs when they are not those of BUILD_DIR.
#
# Figures, each the median of X11_ROUNDS:
#   next page   a key press to the page area settled on the next page
#               (fitted to the window; "first" is the first changed pixel)
#   cold start  starting the program with a page to the page painted
#   big page    an 8000 x 12000 JPEG: starting the program with it to its
#               first picture, and the resident memory once it settled
#               (decoded, 24 bits: 288 MB)
# Every program runs with a fresh home folder (its defaults), fitted to the
# window where that is not its default (Inkbrite: Ctrl+Minus once).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$(cd "${1:-$ROOT/build}" && pwd)"
ROUNDS="${X11_ROUNDS:-13}"
DISP="${X11_DISPLAY:-:77}"
TIMER="${X11_TIMER:-$BUILD_DIR/bench/x11_page_timer}"
INK="${X11_INKBRITE:-$BUILD_DIR/app/inkbrite}"
GEN="$BUILD_DIR/app/make_comic_pages"
WORK="$BUILD_DIR/bench-x11"
die() { echo "viewer_x11: $*" >&2; exit 1; }

if [ ! -x "$TIMER" ] || [ ! -x "$INK" ] || [ ! -x "$GEN" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target x11_page_timer inkbrite make_comic_pages >/dev/null ||
    die "cannot build x11_page_timer, inkbrite and make_comic_pages (libxtst-dev missing?)"
fi
command -v Xvfb >/dev/null && command -v openbox >/dev/null || die "Xvfb and openbox are needed"

mkdir -p "$WORK"
if [ ! -f "$WORK/pages/.complete" ]; then
  rm -rf "$WORK/pages" "$WORK/big"
  "$GEN" --grey --pages $((ROUNDS + 2)) --large 0 "$WORK/pages" >/dev/null
  "$GEN" --grey --pages 1 --large 0 --size 8000x12000 --prefix big "$WORK/big" >/dev/null
  touch "$WORK/pages/.complete"
fi
FIRST="$WORK/pages/page_001.jpg"
BIG="$WORK/big/big_001.jpg"

# The screen, its window manager, and what is left of them at the end.
Xvfb "$DISP" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY="$DISP"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
HOME_DIR="$WORK/home"
rm -rf "$HOME_DIR"; mkdir -p "$HOME_DIR"
HOME="$HOME_DIR" openbox >/dev/null 2>&1 &
WM=$!
cleanup() { kill "$WM" "$XVFB" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1

# The page area: the screen below a title bar and above a status bar.
AREA=(100 120 1200 780)

# How each program is started on a file, and its next-page key.
command_of() {
  case $1 in
    inkbrite) echo "$INK" ;;
    qimgv) echo qimgv ;;
    mcomix) echo mcomix ;;
  esac
}
next_key() { case $1 in inkbrite) echo KP_Add ;; qimgv) echo Right ;; mcomix) echo Page_Down ;; esac; }

# Runs the timer with a fresh home folder; prints its line.
timed() { HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" INKBRITE_LANG=en "$TIMER" "$@"; }
field() { sed -n "s/.*$1=\\([0-9.]*\\).*/\\1/p"; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }'; }

declare -A NEXT NEXT_FIRST COLD BIGPIC BIGMEM
VIEWERS=()
for v in ${X11_VIEWERS:-inkbrite qimgv mcomix}; do
  cmd=$(command_of "$v")
  command -v "$cmd" >/dev/null || { echo "$v not installed: skipped"; continue; }
  VIEWERS+=("$v")
  rm -rf "$HOME_DIR"/.config "$HOME_DIR"/.local "$HOME_DIR"/.cache
  # Cold start and the big page, a fresh process each round.
  cold=() bigpic=() bigmem=()
  for ((r = 0; r < ROUNDS; ++r)); do
    line=$(timed start "${AREA[@]}" 700 -- "$cmd" "$FIRST") || true
    cold+=("$(echo "$line" | field settled)")
  done
  for ((r = 0; r < (ROUNDS + 3) / 4; ++r)); do
    line=$(timed start "${AREA[@]}" 1500 -- "$cmd" "$BIG") || true
    bigpic+=("$(echo "$line" | field picture)")
    bigmem+=("$(echo "$line" | field rss_kb)")
  done
  # The page turns: one process, the pages in turn.
  line=$(X11_TIMER_KEEP=1 timed start "${AREA[@]}" 700 -- "$cmd" "$FIRST") || true
  pid=$(echo "$line" | sed -n 's/.*pid=\([0-9]*\).*/\1/p')
  if [ "$v" = inkbrite ]; then timed key "${AREA[@]}" ctrl+minus 500 >/dev/null || true; fi
  next=() first=()
  for ((r = 0; r < ROUNDS; ++r)); do
    line=$(timed key "${AREA[@]}" "$(next_key "$v")" 400) || true
    next+=("$(echo "$line" | field settled)")
    first+=("$(echo "$line" | field first)")
  done
  [ "${X11_SHOT:-0}" = 1 ] && import -window root "$WORK/$v.png" 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  sleep 0.5
  COLD[$v]=$(printf '%s\n' "${cold[@]}" | grep . | median)
  BIGPIC[$v]=$(printf '%s\n' "${bigpic[@]}" | grep . | median)
  BIGMEM[$v]=$(printf '%s\n' "${bigmem[@]}" | grep . | median)
  NEXT[$v]=$(printf '%s\n' "${next[@]}" | grep . | median)
  NEXT_FIRST[$v]=$(printf '%s\n' "${first[@]}" | grep . | median)
  echo "  $v: next ${NEXT[$v]} ms (first pixel ${NEXT_FIRST[$v]}), cold ${COLD[$v]} ms," \
    "big first picture ${BIGPIC[$v]} ms, ${BIGMEM[$v]} kB"
done

echo
echo "== Real window 1400 x 1000 (Xvfb, openbox), medians of $ROUNDS; load average" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-44s' measurement
for v in "${VIEWERS[@]}"; do printf ' %12s' "$v"; done
printf ' %14s\n' "target"
row() {  # name, array name, unit, target
  local -n values=$2
  printf '%-44s' "$1"
  for v in "${VIEWERS[@]}"; do
    local x=${values[$v]:--}
    if [ "$3" = MB ] && [ "$x" != - ]; then x=$(awk -v k="$x" 'BEGIN { printf "%.0f", k / 1024 }'); fi
    printf ' %9s %-2s' "$x" "$3"
  done
  printf ' %14s\n' "$4"
}
row "next page, fitted (settled)" NEXT ms "<= 40 ms"
row "next page, first changed pixel" NEXT_FIRST ms ""
row "cold start to the page painted" COLD ms "<= 300 ms"
row "8000 x 12000 JPEG, first picture" BIGPIC ms "hold"
row "memory with that page open (decoded 288 MB)" BIGMEM MB "<= 375 MB"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2fx", a / b }'; }
for peer in qimgv mcomix; do
  [ -n "${NEXT[$peer]:-}" ] || continue
  echo "inkbrite / $peer: next page $(ratio "${NEXT[inkbrite]:--}" "${NEXT[$peer]}")," \
    "cold start $(ratio "${COLD[inkbrite]:--}" "${COLD[$peer]}")," \
    "big page $(ratio "${BIGPIC[inkbrite]:--}" "${BIGPIC[$peer]}")," \
    "memory $(ratio "${BIGMEM[inkbrite]:--}" "${BIGMEM[$peer]}")"
done
