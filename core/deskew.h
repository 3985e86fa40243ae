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
// The measure is taken inside the scanner's bands (FindScanBands), and dark
// runs joined to an edge of the picture (a turned picture's filled corners,
// the scanner's background) are left out, so that their straight edges do
// not pull the angle towards the picture's own.
//
// Pages left alone: under kMinSkewDegrees; too little contrast to tell ink
// from paper; a peak that does not stand out (kMinSkewSure); and pages whose best angle lines up
// barely better than the page as it is (variance gain under kMinSkewGain), which is what a photo or
// noise gives.
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
// How sure deskew is of an angle: 1 minus the ratio of the profile's score
// a degree either side of the best (the higher of the two) to the best's.
// Lines that line up at one angle only give a sharp peak (near 1); a photo,
// noise or a page of scattered marks a flat one. Below kMinSkewSure the page
// is left alone.
inline constexpr double kSureDistance = 1.0;
inline constexpr double kMinSkewSure = 0.15;

struct DeskewSettings {
  int maxTenths = 50;  // largest skew looked for, in 0.1 degree, 1 to 50
};

// What deskew found on a page.
struct SkewFound {
  bool applied = false;  // false: the page was left alone
  double angle = 0.0;    // the skew found, in degrees (0 when none)
  double sure = 0.0;     // how sure, 0 to 1 (0 for a page not measured)
  friend bool operator==(const SkewFound&, const SkewFound&) = default;
};

SkewFound FindSkew(const DibImage& image, const DeskewSettings& settings);

// Finds the skew and, when applied, turns the page back over its paper
// colour; a page with scanner bands is turned inside them, the bands kept.
SkewFound Deskew(DibImage& image, const DeskewSettings& settings);

}  // namespace inkbrite
