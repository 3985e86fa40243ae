// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG XL files (bare code streams and the ISO-BMFF container) over libjxl.
//
// Reading gives the first frame of an animation (layers of a still picture
// composed, as libjxl shows them), upright (the orientation field applied by
// libjxl), samples above 8 bits (or floating point) rounded to 8 bits, alpha
// composited over white. Colour: lossy (XYB-coded) pictures are asked of
// libjxl in sRGB; pictures kept in their own colour space are converted from
// the colour profile libjxl reports to sRGB when it is not sRGB already.
// Grey (one colour channel) pictures are grey sources. libjxl's allocations
// for the decoder go through a memory manager that holds them to the
// decoder memory limit of core/limits.h.
//
// Writing: VarDCT at a Butteraugli distance from the page quality q (0 to
// 100): 0.1 + (100 - q) * 0.09 for q >= 30, else 6.4 + 2.5^((30 - q) / 5) /
// 6.25, libjxl's own quality scale (cjxl -q), except that 100 stays lossy
// at distance 0.1. Grey pages as one channel. Colour-reduced pages are
// written losslessly (modular, with a palette), one channel when the
// palette is grey. sRGB, no metadata boxes, a bare code stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"
#include "formats/plain_pixels.h"

namespace inkbrite {

// Reads a JPEG XL file into a 24-bit picture. 1 on success with
// *greySource (when given) set; 0 for anything else, the image cleared.
int ReadJxlFile(FileProbe& file, DibImage& image, int* greySource);

// ReadJxlFile on the bytes of a whole file.
int DecodeJxlBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes a 24-bit page as a lossy JPEG XL file (`colourMode` 1: one grey
// channel as Greyscale greys it). 1 on success; 0 with any previous file left
// whole.
int WriteJxlFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int quality);

// The container's JPEG XL encoder (kCxImageJxl): a palette picture written
// losslessly. False with the container's error text set on failure.
bool EncodeJxl(CxImage& image, std::FILE* file);

// Encodes plain pixels (grey or red-green-blue) as a JPEG XL file in
// memory: lossless, or lossy at the distance of `quality`.
bool EncodeJxlPixels(const PlainPixels& pixels, int quality, bool lossless,
                     std::vector<uint8_t>& file);

// EncodeJxlPixels at another effort and on `threads` threads (the settings
// benchmark).
bool EncodeJxlPixelsWithEffort(const PlainPixels& pixels, int quality, bool lossless, int effort,
                               int threads, std::vector<uint8_t>& file);

// The Butteraugli distance of a page quality (0 to 100).
float JxlDistanceForQuality(int quality);

// The encoder settings, for the benchmarks and their documentation.
// Lossy pages use effort 3, libjxl 0.7's fastest on a 1700 x 2400 page at
// quality 75 (modern_settings: 2.4-4x our JPEG writer's time; efforts 1 and 2
// are slower and larger, effort 7 takes 18-20x for 5 % fewer bytes).
inline constexpr int kJxlEffort = 3;          // libjxl's effort, 1 (fastest) to 9
inline constexpr int kJxlLosslessEffort = 7;  // the same for lossless pages

}  // namespace inkbrite
