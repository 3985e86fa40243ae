// SPDX-License-Identifier: GPL-2.0-or-later
// Spread splitting: a double page scanned as one picture becomes two pages.
//
//   +-------------+--+-------------+   A page is a spread when it has the
//   |             |  |             |   shape of two of the book's pages
//   |    left     |gu|    right    |   side by side (see SinglePage). The
//   |             |  |             |   split column is the middle of the
//   |             |  |             |   widest band of paper columns
//   |    page     |tt|    page     |   (the gutter) within the middle
//   |             |er|             |   quarter of the width, the band
//   +-------------+--+-------------+   nearest the middle among equals; a
//              3/8  1/2  5/8           spread without one splits in the
//                                      middle.
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

// What a single page of the book looks like, to tell a spread from it.
//   - A size (`sized`, the median of a book's pages): a spread is 1.6 to
//     2.5 times as wide as the page and at least 80 % as tall.
//   - Only a shape (the screen loose files are fitted to): a spread's
//     width to height is 1.6 to 2.5 times the page's.
//   - Nothing known (both 0): a spread is wider than tall.
// Whatever is known, a picture under kMinSpreadHeight pixels tall (a
// picture in a book, an icon) is never a spread.
struct SinglePage {
  int32_t width = 0;
  int32_t height = 0;
  bool sized = false;
};
inline constexpr int32_t kMinSpreadHeight = 300;

// Whether a picture of `width` x `height` is a spread of pages like `page`.
bool SpreadShaped(int32_t width, int32_t height, const SinglePage& page);

// What spread splitting found on a page.
struct SpreadFound {
  bool split = false;   // the page is a spread
  bool gutter = false;  // a band of paper was found (else the middle)
  int32_t column = 0;   // first column of the right-hand page
  friend bool operator==(const SpreadFound&, const SpreadFound&) = default;
};

SpreadFound FindSpread(const DibImage& image, const SinglePage& page = {});

// The two pages of a spread in reading order: left then right, or right
// then left for right-to-left (manga) order. False, and both left empty,
// when `found` is not a split within the image or memory runs out.
bool SplitSpread(const DibImage& image, const SpreadFound& found, bool rightToLeft, DibImage& first,
                 DibImage& second);

// A copy of the part `box` of a 24-bit image (which must lie within it).
bool CopyRegion(const DibImage& image, const DibRect& box, DibImage& part);

}  // namespace inkbrite
