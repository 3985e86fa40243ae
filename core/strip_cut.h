// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting a long strip (a webtoon: one very tall picture, or slices read as
// one) into pages no taller than a limit, each cut in a gutter.
//
//   ███ panel ███      A row is blank when it is paper: at most one pixel
//   ███████████████    in a thousand of it differs from the paper colour by
//   . . . . . . . .    more than the tolerance (the margin crop's test, held
//   . . gutter  . .    tighter: a balloon's outline crossing a row makes it
//   . . . . . . . .    busy). A cut lies in a gutter when the two rows above
//   ( balloon )        it and the two below are blank, so every page keeps a
//   ███ panel ███      little paper at its cut edges.
//
// The cut of a page is the lowest gutter cut within the limit. A gutter in
// the upper half of the page is taken only when the page after it finds a
// gutter of its own within reach (or ends the strip): a short page that
// only puts off a cut through the art is not made. Where there is no gutter
// to take, the page is cut at the least busy row of its lower half (the
// fewest ink pixels in the two rows the cut parts), and the cut is marked
// as one through the art.
//
// The finder works on the rows' ink counts alone (StripRowInk), so a caller
// may keep the counts of a window of slices and never the strip itself.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/dib_image.h"
#include "core/scan_analysis.h"

namespace inkbrite {

// The most rows a page cut from a strip may have (a picture's largest side).
inline constexpr int32_t kMaxStripPageRows = 65535;

// Blank rows on each side of a cut in a gutter.
inline constexpr int32_t kStripGutterSide = 2;

// The rows of ink counts FindStripCut needs to place a cut for `limit`
// (unless the strip ends before).
constexpr int64_t StripRowsToCut(int32_t limit) {
  return int64_t{limit} + (int64_t{limit} + 1) / 2 + 2 * kStripGutterSide + 1;
}

// The ink pixels of each row of the 24-bit `image`, from the top, appended
// to `ink`.
void StripRowInk(const DibImage& image, const InkTest& test, std::vector<int32_t>& ink);

// Whether a row of `width` pixels holding `ink` ink pixels is blank.
constexpr bool IsStripBlankRow(int32_t ink, int32_t width) {
  return int64_t{ink} * 1000 <= int64_t{width};
}

struct StripCut {
  int32_t row = 0;      // the page is rows 0 .. row-1
  bool gutter = false;  // false: through the art, at the least busy row
  friend bool operator==(const StripCut&, const StripCut&) = default;
};

// Where to cut the page whose rows' ink counts start at ink[0]: a page of
// at most `limit` rows (limit >= 1). `ink` holds the rows seen so far: all
// that are left of the strip, or at least StripRowsToCut(limit) of them
// (what lies past the limit tells whether the rows below it are paper, and
// whether the page after a gutter high up finds one). A strip of at most
// `limit` rows is one page (row: its size).
StripCut FindStripCut(std::span<const int32_t> ink, int32_t width, int32_t limit);

// The height of a page `width` x `height` after the pipeline's fitting to
// the screen's width (a page wider than fitWidth reduced to it, when both
// fitWidth and fitHeight are set) and resizing (`percent`): the most it
// can be, since the fit to the screen's height only reduces it further.
int64_t StripTargetHeight(int32_t width, int64_t height, int32_t fitWidth, int32_t fitHeight,
                          int percent);

// The most rows of a strip `width` wide that a page may take so that it is
// at most `targetHeight` high once fitted and resized (see
// StripTargetHeight), taking the fit to the screen's width; at least 1.
int32_t StripSourceLimit(int32_t width, int32_t targetHeight, int32_t fitWidth, int32_t fitHeight,
                         int percent);

}  // namespace inkbrite
