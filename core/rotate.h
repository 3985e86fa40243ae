// SPDX-License-Identifier: GPL-2.0-or-later
// Turning a page by any angle about its centre, for deskew.
//
// Each output pixel takes the point of the page it came from (the output
// turned back), in fixed point with 32 fraction bits stepped along the row,
// and blends the four pixels around it with 8-bit fractions fx and fy:
//
//   top    = (a (256 - fx) + b fx + 128) >> 8        a b    (ix, iy)  (ix + 1, iy)
//   bottom = (c (256 - fx) + d fx + 128) >> 8        c d    (ix, iy+1) (ix+1, iy+1)
//   out    = (top (256 - fy) + bottom fy + 128) >> 8
//
// Every sum stays below 65536, so the vector loop works in 16-bit lanes and
// gives the same bytes as the portable one. Pixels outside the page count
// as the fill colour.
#pragma once

#include "core/dib_image.h"
#include "core/scan_analysis.h"

namespace inkbrite {

// Turns the picture anticlockwise (as seen) by `degrees` about its centre,
// keeping its size; what comes in from outside the picture is `fill`.
// The page is turned within its own block: each output row waits in a small
// ring until no later row reads the source row it replaces.
// False (image unchanged) for an empty or non-24-bit image or when memory
// runs out.
bool RotateImage(DibImage& image, double degrees, Bgr8 fill);

// The vector loop (x86-64 with AVX-512 VBMI, chosen at run time) and the
// portable one give the same bytes; SetRotateVectorKernels(false) forces
// the portable loop for tests that compare them and returns the previous
// setting.
bool RotateVectorKernelsAvailable();
bool SetRotateVectorKernels(bool allowed);

}  // namespace inkbrite
