// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the metafile reader's parts: each converter turns a metafile into
// an SVG document of a given pixel size, and one rasteriser draws that.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "core/limits.h"

namespace inkbrite::metafile {

// The moment a metafile's reading is given up: the whole reading, from the
// metafile to the drawn picture, runs within kMaxMetafilePlaySeconds.
using Deadline = std::chrono::steady_clock::time_point;

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
// printed, for a damaged file, a size beyond the limits or a drawing that runs past `deadline`.
bool WmfToSvg(const uint8_t* data, size_t size, PictureSize& pictureSize, std::string& svg,
              Deadline deadline);

// EMF to SVG with libemf2svg, drawn at `pictureSize`.
bool EmfToSvg(const uint8_t* data, size_t size, PictureSize pictureSize, std::string& svg);

// Text bytes of a metafile as UTF-8, read in the code page of the drawing
// font's character set (LOGFONT lfCharSet): GB2312 (134) as GBK, SHIFTJIS as
// code page 932, CHINESEBIG5 as 950, HANGUL as 949, the Greek, Turkish,
// Hebrew, Arabic, Baltic, Russian, Thai, East European and OEM sets as their
// Windows code pages; ANSI, DEFAULT and any other set as Windows-1252. A byte
// that starts no character becomes '?'.
std::string TextToUtf8(std::string_view bytes, uint8_t charset);

// Cuts the document into layers drawn one after another: runs of
// consecutive elements of about `layerBytes` of text, children of the root
// or of plain groups, each wrapped in a group `<g id="inkbrite-layer-N">`;
// `ids` receives "#inkbrite-layer-N" in drawing order. Groups with an effect
// on the group as a whole (opacity, filter, mask) are never cut. False for
// a document that is not one well-formed <svg> element.
bool CutIntoLayers(std::string& svg, size_t layerBytes, std::vector<std::string>& ids);

// The text of an SVG layer: at least 16 KiB (a thick path or two of a
// heavy drawing), and no more than 64 layers in all, since each layer costs
// a composite of every tile.
inline size_t LayerBytesFor(size_t svgBytes) {
  return std::max<size_t>(size_t{16} << 10, svgBytes / 64);
}

// Draws the SVG over white into a new 24-bit image of `pictureSize`, one
// layer (CutIntoLayers, `layerBytes`) at a time. False when the drawing
// runs past `deadline`, which is checked between the layers.
bool RasteriseSvg(const std::string& svg, PictureSize pictureSize, DibImage& image,
                  Deadline deadline, size_t layerBytes);

// ReadPictureMemory with the reading given up `budget` after it starts
// (once no other metafile is being converted) instead of
// kMaxMetafilePlaySeconds.
int ReadPictureWithin(const uint8_t* data, size_t size, DibImage& image, int* greySource,
                      std::chrono::milliseconds budget);

}  // namespace inkbrite::metafile
