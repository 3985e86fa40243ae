// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the parts of the metafile module (metafile_module.h): each
// converter turns a metafile into an SVG document of a given pixel size, and
// one rasteriser draws that. Nothing here is in the programs themselves,
// which reach the module through its entry table alone.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/limits.h"
#include "formats/metafile/metafile_module.h"

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

// DecodeWithinLimits of core/limits.h inside the module: a refusal is noted
// with NoteFailure.
bool WithinLimits(int64_t width, int64_t height, uint64_t inputBytes, uint64_t maxPixelsPerByte);

// Notes why the drawing under way on this thread fails (the first note of a
// drawing counts); DrawMetafile gives it as its reason. The programs'
// ReadNotes (platform/read_status.h) are not the module's: it reports its
// reasons through its entry table.
void NoteFailure(ReadError error);

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

// Draws the SVG over white into a picture of `pictureSize` made on the
// canvas, one layer (CutIntoLayers, `layerBytes`) at a time. False when the
// drawing runs past `deadline`, which is checked between the layers, or the
// picture cannot be made.
bool RasteriseSvg(const std::string& svg, PictureSize pictureSize,
                  const InkbriteMetafileCanvas& canvas, Deadline deadline, size_t layerBytes);

// Pixel size of a metafile as it is drawn, read from its header (placeable
// WMF or EMF only; false for any other data or an empty box).
bool HeaderPictureSize(const uint8_t* data, size_t size, int32_t& width, int32_t& height);

// The module's drawing of a metafile (InkbriteMetafileModule::draw): 1, or
// 0 with the reason in `error`.
int DrawMetafile(const uint8_t* data, size_t size, std::chrono::milliseconds budget,
                 const InkbriteMetafileCanvas& canvas, ReadError& error);

}  // namespace inkbrite::metafile
