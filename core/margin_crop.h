// SPDX-License-Identifier: GPL-2.0-or-later
// Margin crop: cut the empty paper around a page's content, so uneven
// scanner margins go and the content fills the screen.
//
//   +---------------------------+     The paper colour comes from the
//   |      .  (dust)            |     page's outer frame. A pixel is ink
//   |   +-------------------+   |     when a channel differs from the
//   |   |      content      |   |     paper's by more than `tolerance`;
//   |   |                   |   |     a row (or column) is content only
//   |   +-------------------+   |     when at least kCropNoisePerMille of
//   |          12           |   |     its pixels are ink, and at least
//   +---------------------------+     kCropNoiseLeast: a speck of dust
//                                     (a few pixels), or two in one row,
// are not content; a line of text or a page number is.
//
// The box runs from the first to the last content row and column, grown by
// `border` pixels on each side (within the page). It never cuts into
// content, and never leaves less than `minSharePercent` of the page's width
// or height: a box smaller than that is grown about its centre. A page
// without content (blank) or whose content reaches every edge is left
// alone.
//
// Dark scanner bands along the edges (see FindScanBands) are outside the
// page: the paper and the content are looked for inside them, and the box
// never reaches into them, so a page with a band is always cropped (a
// blank page to the inside of its bands).
//
// Only the margins are read at full size: rows from the top and bottom
// until content, then strips of columns from each side within those rows.
#pragma once

#include "core/dib_image.h"
#include "core/scan_analysis.h"

namespace inkbrite {

inline constexpr int kCropNoisePerMille = 4;
inline constexpr int kCropNoiseLeast = 8;

struct MarginCropSettings {
  int border = 8;            // paper kept around the content, in pixels, 0 to 500
  int tolerance = 48;        // a channel differing by more is ink, 1 to 254
  int minSharePercent = 60;  // smallest share of each side kept, 1 to 100
};

// What margin crop found on a page.
struct CropFound {
  bool applied = false;  // false: the page was left alone
  bool content = false;  // any content found (false for a blank page)
  DibRect box;           // the part kept (the whole page when not applied)
  int32_t pageWidth = 0;
  int32_t pageHeight = 0;
  ScanBands bands;  // the scanner's bands found along the edges
  Bgr8 paper;       // the paper colour inside them
  friend bool operator==(const CropFound&, const CropFound&) = default;
};

CropFound FindMarginCrop(const DibImage& image, const MarginCropSettings& settings);

// Crops the image to `found.box`. Does nothing and returns false when
// `found` is not applied or its box does not lie within the image.
bool ApplyMarginCrop(DibImage& image, const CropFound& found);

// Instead of cropping, fills everything outside `found.box` with the
// paper colour, keeping the page's size (for layouts whose pages must all
// be one size). False, and nothing done, where ApplyMarginCrop would not
// crop.
bool FillMargins(DibImage& image, const CropFound& found);

// Both: finds, then applies what was found.
CropFound MarginCrop(DibImage& image, const MarginCropSettings& settings);

// One crop for two facing pages of the same size, so that turning from one
// to the other does not make the content jump: both get the box holding
// both boxes (each side cut only as far as on the page with the narrower
// margin). A blank page takes its partner's box. Pages of different sizes
// keep their own.
void ShareFacingCrop(CropFound& a, CropFound& b);

}  // namespace inkbrite
