// SPDX-License-Identifier: GPL-2.0-or-later
// Deskew: find how far a page was turned on the scanner and turn it back.
//
// The skew is the angle at which the rows of dark pixels line up best (the
// projection profile): panel borders, text lines and the page's edges are
// long horizontal runs, and their profile is sharpest when the page is
// projected along their own slope.
//
//        a = 0 (page is skewed)         a = skew
//     ______                         |
//    |      \______                  |______________
//    |             \______           |
//    |  projection        \          |  one tall bin per line
//    +-------------------            +--------------------
//
// The analysis works on a reduced grid (about 256 cells across, rows of at
// most 2 pixels, every other pixel): each cell counts its dark pixels
// (darker than the middle of the page's 2nd and 98th lightness
// percentiles). The profile of the grid's rows, each column of cells
// shifted by its distance from the middle times tan(a), is scored by its
// variance. Three rounds narrow the angle down: 0.5 degree steps over the
// whole range on rows merged eight at a time, 0.1 degree steps near the
// best on rows merged in pairs, then 0.02 degree steps on the grid's own
// rows, with a parabola through the best three for the last digits.
//
// Pages left alone: under kMinSkewDegrees; too little contrast to tell ink
// from paper; and pages whose best angle lines up barely better than the
// page as it is (variance gain under kMinSkewGain), which is what a photo
// or noise gives.
//
// Angles are in degrees, positive when the content is turned anticlockwise
// as the page is seen.
#pragma once

#include "core/dib_image.h"
#include "core/rotate.h"
#include "core/scan_analysis.h"

namespace inkbrite {

inline constexpr double kMinSkewDegrees = 0.1;
inline constexpr double kMaxSkewDegrees = 5.0;
inline constexpr double kMinSkewGain = 0.05;

struct DeskewSettings {
  int maxTenths = 50;  // largest skew looked for, in 0.1 degree, 1 to 50
};

// What deskew found on a page.
struct SkewFound {
  bool applied = false;  // false: the page was left alone
  double angle = 0.0;    // the skew found, in degrees (0 when none)
  friend bool operator==(const SkewFound&, const SkewFound&) = default;
};

SkewFound FindSkew(const DibImage& image, const DeskewSettings& settings);

// Finds the skew and, when applied, turns the page back over its paper
// colour.
SkewFound Deskew(DibImage& image, const DeskewSettings& settings);

}  // namespace inkbrite
