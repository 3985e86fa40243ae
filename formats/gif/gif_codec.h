// SPDX-License-Identifier: GPL-2.0-or-later
// GIF files over giflib 5: the container's GIF decoder and the file reader
// built on it.
//
// Only the first picture of a file is ever decoded, and only as much of the
// file is read as that picture needs: an animation of thousands of frames
// costs no more than its first one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Decodes the first image of the GIF data into `out` (type kCxImageGif).
//
// - The data must start with "GIF8". Blocks are walked up to the first image
//   descriptor whose rectangle has pixels and lies inside the logical screen;
//   the ones before it that do not are skipped. Reaching the trailer, the end
//   of the data or an unknown block first is a failure.
// - Depth from the colour table the image uses (its local table, else the
//   global one): at most 2 entries -> 1 bit, at most 16 -> 4, else 8. A file
//   with no colour table at all is shown with the 8-bit grey ramp.
// - The transparent index of a graphic control extension before the image
//   is recorded in TransparentIndex(); such pixels keep their palette colour.
//   Table entries beyond the file's colour table are black, or white when a
//   transparent index is set. A pixel whose index lies beyond the file's
//   table shows that same colour (a 2- or 16-entry table is widened to the
//   next depth so that such an entry exists; well-formed files never need
//   it).
// - Interlaced rows are put back in order.
// - Canvas case: a file without a global colour table that holds a second
//   image (one that fits the screen), whose first image differs from the
//   screen in both width and height, gives a 24-bit picture of the screen's
//   size, zero (black) except for the first image drawn at its offset.
//   Otherwise the picture has the first image's own size.
// - Damage before the first image is complete (truncated or broken pixel
//   data included) fails; anything after it is either not read or, in the
//   canvas case, ends the search for a second image.
// - Pictures whose 24-bit form would exceed the DibImage limits are refused
//   before any pixel memory is taken.
// False (picture freed, reason in the error text, settings kept) on failure;
// never throws.
bool DecodeGif(const uint8_t* data, size_t size, CxImage& out);

// Reads a GIF file into a 24-bit picture through DecodeGif. *greySource
// (when given) is 1 for a bilevel picture whose two colours are both neutral
// (red = green = blue: a black-and-white scan), else 0; a two-colour picture
// in real colours reports 0 so that "keep as is" keeps its colours. Returns
// 1 on success, 0 on any failure (the image cleared); never throws.
int ReadGifFile(FileProbe& file, DibImage& image, int* greySource);
int ReadGifFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// ReadGifFile on the bytes of a whole file held in memory.
int DecodeGifBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

}  // namespace inkbrite
