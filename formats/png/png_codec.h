// SPDX-License-Identifier: GPL-2.0-or-later
// PNG files over libpng 1.6.
//
// Reading turns any PNG into a 24-bit DibImage: palettes and depths below 8
// bits are expanded, 16-bit samples keep their high byte, grey becomes
// (v, v, v), and transparency (an alpha channel or a tRNS chunk) is
// composited over black. Writing makes an 8-bit RGB PNG, or an 8-bit grey one
// of the levels Greyscale gives; the container encoder writes reduced
// pages as palette PNGs at their own depth.
//
// Rules shared by every function here:
// - Results are 1/0 (true/false); a library error is a failure, never a
//   success, and nothing is thrown or printed.
// - Readers never read outside the file's bytes: a truncated or damaged file
//   gives 0. Pictures above 65535 pixels per side or 2^31 bytes are refused
//   before any pixel memory is taken.
// - Writers go through a SafeFileWriter (the container encoder through
//   SaveContainer): a failed write leaves any previous file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Reads a PNG file into `image` (replaced by a 24-bit picture). On success
// *greySource (when given) is 1 for a grey or grey-with-alpha file and for a
// palette file below 8 bits per pixel, else 0. 0 on failure, the image
// cleared and *greySource untouched.
int ReadPngFile(FileProbe& file, DibImage& image, int* greySource);
int ReadPngFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// ReadPngFile on bytes already in memory.
int DecodePngBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes a 24-bit image as a non-interlaced 8-bit PNG with the default
// deflate settings and no chunk besides IHDR, IDAT and IEND. `colourMode` 1
// writes grey (colour type 0) of the levels DibImage::Greyscale gives, the
// page itself unchanged; any other value
// writes RGB (colour type 2). 0 for an image that is not 24 bits, an output
// that cannot be created, or any library or write error (the target is then
// left as it was).
int WritePngFile(const std::filesystem::path& path, const DibImage& image, int colourMode);

// The container's PNG encoder, called by SaveContainer for kCxImagePng.
// Palette containers (1, 4, 8 bits) give colour type 3 at their own depth;
// below 65536 pixels and with more than 2 entries the palette is cut to the
// highest index used plus one. 24-bit containers give 8-bit RGB. A bKGD chunk
// holds white (the palette entry nearest to white in a palette file) unless
// the container has a transparent index, and pHYs the container's pixels per
// metre. Adam7 when the container's PNG codec option is 1. False with the
// container's error text set on failure.
bool EncodePng(CxImage& image, std::FILE* file);

}  // namespace inkbrite
