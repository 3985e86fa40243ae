// SPDX-License-Identifier: GPL-2.0-or-later
// Colour modes: greyscale and colour reduction.
//
// The page's colour mode either keeps it, greys it, or reduces it to a small
// palette. The reductions, as (bits per pixel of the palette picture,
// colours, quantiser colour bits):
//
//   256 colours   8 bits, 256 colours, colour bits 7   (colour pages)
//   16 greys      4 bits,  16 colours, colour bits 8   (with the grey flag)
//   8 greys       4 bits,   8 colours, colour bits 8
//   4 greys       2 bits,   4 colours, colour bits 8   (stored with 4 bits)
//   black/white   1 bit,    2 colours, no quantiser: palette black, white
//
// Any other (bits, colours) pair is refused. The grey flag is free: it greys
// the pixels first, exactly as DibImage::Greyscale does.
//
// Reducing: an octree quantiser with maxColours = max(colours, 16) takes
// every (greyed) pixel, bottom stored row first, left to right; its table
// goes into a zeroed palette of 256, 16 or 4 entries for 8, 4 or 2 bits; a
// palette container (2 bits stored as 4) receives each pixel as the nearest
// entry among the first `colours` (zero entries included), without error
// diffusion, and biClrImportant = colours. With
// the grey flag and fewer than 16 colours, the lightest entry (each channel
// strictly above the best so far, starting from black) becomes white.
#pragma once

#include <cstdint>

#include "core/dib_image.h"
#include "core/ximage.h"

namespace inkbrite {

// True for the (bits, colours) pairs listed above.
bool IsValidReduction(int bits, int colours);

// Greys `width` pixels of blue, green, red: every byte of a pixel becomes
// (54 blue + 183 green + 19 red) >> 8. `src` may equal `dst`.
void GreyscaleRow(const uint8_t* src, uint8_t* dst, int32_t width);
// The same grey levels, one byte per pixel: what a one-component grey
// encoding of the page writes.
void GreyLevelsRow(const uint8_t* src, uint8_t* dst, int32_t width);

// The reduction shared by DibImage::ReduceColours and ReduceColoursAndSave:
// fills `out` with the reduced palette picture of a 24-bit image. The image
// itself is never changed: with `grey` its pixels are greyed on the way into
// the container, and a caller that keeps the greyed page greys it after the
// whole operation succeeded, so a failure leaves the page as it was. False,
// `out` unchanged, for an image that is not 24 bits, a pair that is not
// listed above, or no memory.
bool ReduceToContainer(const DibImage& image, bool grey, int bits, int colours, CxImage& out);

}  // namespace inkbrite
