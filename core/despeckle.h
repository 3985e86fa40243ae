// SPDX-License-Identifier: GPL-2.0-or-later
// Despeckle: removes the specks and dust a flatbed leaves on a scanned page.
//
// The page is split into ink and ground at the lightness between its two
// main levels (Otsu's threshold over the page's lightness histogram). A
// speck is a connected group of pixels (8-neighbours) of one side whose
// box is at most `largest` pixels wide and high and that stands apart from
// the rest of the page:
//   - a dark speck on light ground: no other dark pixel within two pixels
//     of its box, so a dot touching or almost touching a line stays, and
//     fewer than three other specks within `largest` + 2 pixels, so the
//     dots of a light screen tone stay;
//   - a light speck on dark ground: no light pixel of a larger group within
//     `largest` pixels of its box, and fewer than three other specks within
//     `largest` + 2, so the counter of a small letter, the gap between
//     hatching lines and the holes of a dark screen tone stay and only holes
//     in a black fill are closed.
// A speck is painted over with the mean colour of the ground around its
// box. A largest size of 0 changes nothing; sizes above 20 are treated as
// 20. The page must be 24 bits (others are left alone).
#pragma once

#include <cstdint>

#include "core/dib_image.h"

namespace inkbrite {

inline constexpr int kLargestSpeck = 20;

struct SpecksFound {
  int32_t dark = 0;   // dark specks removed from light ground
  int32_t light = 0;  // light specks removed from dark ground
  int threshold = 0;  // the lightness between ink and ground
};

SpecksFound Despeckle(DibImage& image, int largest);

}  // namespace inkbrite
