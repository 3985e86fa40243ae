// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the metafile reader's parts: each converter turns a metafile into
// an SVG document of a given pixel size, and one rasteriser draws that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/dib_image.h"
#include "core/limits.h"

namespace inkbrite::metafile {

// Pixel size of a drawing (both sides at least 1).
struct PictureSize {
  int32_t width = 0;
  int32_t height = 0;
};

// MulDiv of the Windows API: a * b / c rounded to nearest, halves away from
// zero, computed without overflow; -1 when c is 0 or the result does not fit
// in 32 bits.
int64_t MulDiv(int64_t a, int64_t b, int64_t c);

// True when a 24-bit picture of this size stays within the readers' limits
// (ImageSizeWithinLimits of core/limits.h).
bool SizeFits(int64_t width, int64_t height);

// WMF (placeable or not) to SVG with libwmf. `pictureSize` holds the size
// computed from a placeable header, or 0 x 0 for a plain WMF, in which case
// libwmf's display size at 96 dots per inch is used and returned in it. False, with nothing
// printed, for a damaged file, a size beyond the limits or a drawing that runs too long.
bool WmfToSvg(const uint8_t* data, size_t size, PictureSize& pictureSize, std::string& svg);

// EMF to SVG with libemf2svg, drawn at `pictureSize`.
bool EmfToSvg(const uint8_t* data, size_t size, PictureSize pictureSize, std::string& svg);

// Draws the SVG over white into a new 24-bit image of `pictureSize`.
bool RasteriseSvg(const std::string& svg, PictureSize pictureSize, DibImage& image);

}  // namespace inkbrite::metafile
