// SPDX-License-Identifier: GPL-2.0-or-later
// Spread splitting: a double page scanned as one picture becomes two pages.
//
//   +-------------+--+-------------+   A page wider than tall is a spread.
//   |             |  |             |   The split column is the middle of
//   |    left     |gu|    right    |   the widest band of paper columns
//   |    page     |tt|    page     |   (the gutter) within the middle
//   |             |er|             |   quarter of the width, the band
//   |             |  |             |   nearest the middle among equals; a
//   +-------------+--+-------------+   spread without one splits in the
//              3/8  1/2  5/8           middle.
//
// A column is paper when at most kGutterInkPerMille of the sampled pixels
// of it and its two neighbours on each side differ from the paper colour by
// more than kGutterTolerance in a channel: taking five columns together,
// specks of dust and scanner noise in the gutter do not cut it up, while a
// panel's frame (a horizontal line through every column) still counts.
// Runs of paper columns less than five columns apart count as one band (a
// thin line or a cluster of dust in the gutter does not split it). About
// 400 evenly spread rows are looked at.
#pragma once

#include "core/dib_image.h"

namespace inkbrite {

inline constexpr int kGutterTolerance = 48;
inline constexpr int kGutterInkPerMille = 5;

// What spread splitting found on a page.
struct SpreadFound {
  bool split = false;   // the page is a spread
  bool gutter = false;  // a band of paper was found (else the middle)
  int32_t column = 0;   // first column of the right-hand page
  friend bool operator==(const SpreadFound&, const SpreadFound&) = default;
};

SpreadFound FindSpread(const DibImage& image);

// The two pages of a spread in reading order: left then right, or right
// then left for right-to-left (manga) order. False, and both left empty,
// when `found` is not a split within the image or memory runs out.
bool SplitSpread(const DibImage& image, const SpreadFound& found, bool rightToLeft, DibImage& first,
                 DibImage& second);

// A copy of the part `box` of a 24-bit image (which must lie within it).
bool CopyRegion(const DibImage& image, const DibRect& box, DibImage& part);

}  // namespace inkbrite
