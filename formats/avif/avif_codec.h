// SPDX-License-Identifier: GPL-2.0-or-later
// AVIF files over libavif (decoding with dav1d, encoding with the AV1
// encoder chosen below).
//
// Reading gives the primary picture, or the first frame of an image
// sequence, turned upright (irot, quarter turns anticlockwise, then imir),
// samples above 8 bits rounded to 8, alpha composited over white. Colour:
// an ICC profile is converted to sRGB; CICP gamma 2.2 or 2.8 transfer on
// BT.709 primaries is converted to the sRGB curve; the sRGB, BT.709 and
// BT.601 curves are taken as sRGB; other colour spaces (PQ or HLG HDR,
// BT.2020 primaries) are shown as they are. Monochrome (4:0:0) files are
// grey sources. libavif's strict checks are kept except two that real
// encoders break without harm: an alpha item without its ispe property and a
// picture without its pixi property are read.
//
// Writing: 8-bit 4:2:0 (4:0:0 for grey pages), full range, sRGB CICP
// (1/13/6), no metadata. The page quality q (0 to 100) sets the quantizer
// (minimum = maximum) to ((100 - q) * 63 + 50) / 100, the mapping later
// libavif versions use for their own quality setting. AVIF keeps no palette:
// colour-reduced pages are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/dib_image.h"
#include "formats/file_probe.h"
#include "formats/plain_pixels.h"

namespace inkbrite {

// Reads an AVIF file into a 24-bit picture. 1 on success with *greySource
// (when given) set; 0 for anything else, the image cleared.
int ReadAvifFile(FileProbe& file, DibImage& image, int* greySource);

// ReadAvifFile on the bytes of a whole file.
int DecodeAvifBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes a 24-bit page as an AVIF file (`colourMode` 1: monochrome as Greyscale
// greys it). 1 on success; 0 with any previous file left whole.
int WriteAvifFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality);

// Encodes plain pixels (grey or red-green-blue) as an AVIF file in memory.
bool EncodeAvifPixels(const PlainPixels& pixels, int quality, std::vector<uint8_t>& file);

// The AV1 quantizer (0 to 63) of a page quality (0 to 100).
int AvifQuantizerForQuality(int quality);

// The encoder settings, for the benchmarks and their documentation.
// aom at speed 8 on one thread (modern_settings, 1700 x 2400 page, quality
// 75): 12-22x our JPEG writer's time; nothing reaches 3x. Speed 9 and 10
// halve the time but write 55 % more bytes (more than the JPEG), rav1e and
// SVT-AV1 are slower and larger, and a second thread gains little while the
// batch already runs one page a core.
inline constexpr int kAvifSpeed = 8;  // libavif's speed, 0 (slowest) to 10

}  // namespace inkbrite
