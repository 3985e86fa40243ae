// SPDX-License-Identifier: GPL-2.0-or-later
// TIFF files over libtiff 4.
//
// Reading works on the whole file held in memory and delivers the first
// image of the file as a 24-bit DibImage. Single-strip JPEG TIFFs and
// old-style JPEG TIFFs are first decoded by the JPEG reader; everything else
// goes through libtiff's RGBA image reader. Pixels that are not square (fax
// resolutions) are resampled square. Writing makes a single-page file whose
// compression follows the depth: CCITT Group 4 for 1 bit, LZW for 4 bits and
// palettes, JPEG for grey and colour.
//
// Rules shared by every function here:
// - Results are 1/0 (true/false); nothing is thrown and libtiff never prints.
// - Readers never read outside the file's bytes whatever its tags claim;
//   pictures above 65535 pixels per side or 2^31 bytes are refused with 0
//   before any pixel memory is taken.
// - Writers encode into memory first and write the file through a
//   SafeFileWriter: an encoder failure gives 0 and leaves any previous file
//   whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Reads the first image of a TIFF file into `image` (replaced by a 24-bit
// picture). *greySource (when given) is set to 1 when the picture comes from
// grey samples (photometric 0 or 1, or a one-component JPEG), else 0.
// 0 on any failure.
int ReadTiffFile(FileProbe& file, DibImage& image, int* greySource);
int ReadTiffFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// ReadTiffFile on bytes already in memory (the caller keeps them). On failure
// the image is cleared and *greySource left alone.
int DecodeTiffBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes a 24-bit image as a JPEG-compressed TIFF at `quality` (1 .. 100):
// YCbCr colour, or 8-bit black-is-zero grey when `colourMode` is nonzero.
// 96 dpi. Pages wider than JPEG's 65500 pixels are written losslessly (see
// EncodeTiff). 0 when the image is not 24-bit, the encoder fails or the file
// cannot be written (the target is then unchanged).
int WriteTiffFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality);

// The container's TIFF encoder, called by SaveContainer for kCxImageTiff.
// Encodes the page into memory and writes it to `file` only when the whole
// page was encoded. 1 bit: CCITT Group 4, photometric 0 (white is zero; the
// bits are inverted when palette entry 0 is the darker one). 4 bits, and
// 8-bit palettes that are not the grey ramp: LZW with a colour map
// (photometric 3), or photometric 1 for a grey-ramp 4-bit palette. 8-bit grey
// ramp: JPEG, photometric 1. 24 bits: JPEG, photometric 6 (YCbCr). JPEG
// codes at most 65500 pixels per side: a JPEG page is one strip up to that
// height and strips of 65488 rows beyond it, and a page wider than that is
// written with LZW instead (photometric 1 or 2). False, with the container's
// error text set, on failure.
bool EncodeTiff(CxImage& image, std::FILE* file);

// EncodeTiff into a byte buffer (replaced).
bool EncodeTiffBytes(CxImage& image, std::vector<uint8_t>& out);

// Resamples `image` so that its pixels become square, given the horizontal
// and vertical resolution in dots per inch (0 when unknown). Nothing happens
// when either is below 0.001 or they differ by a ratio within 0.001 of 1.
// Otherwise the height is stretched by the ratio c = x / y; when that would
// more than double it (c > 2) the width is narrowed by c instead. Sizes below
// 10 are left alone.
void CorrectPixelAspect(DibImage& image, double xResolution, double yResolution);

}  // namespace inkbrite
