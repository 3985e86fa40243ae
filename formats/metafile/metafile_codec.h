// SPDX-License-Identifier: GPL-2.0-or-later
// Windows metafiles (WMF, placeable WMF) and enhanced metafiles (EMF).
//
// A metafile is a list of drawing calls, not pixels: the reader draws it at
// 96 dots per inch over white and delivers the result as a 24-bit picture.
// Drawing goes through SVG: libwmf turns a WMF into SVG, libemf2svg an EMF,
// and librsvg with cairo rasterises the SVG.
//
// Picture size:
// - placeable WMF: the header's bounding box in its own units per inch,
//   first taken to HIMETRIC (0.01 mm) and then to pixels, both steps rounded
//   to nearest: 8268 x 11693 units at 1000 per inch (21.0 x 29.7 cm) give
//   794 x 1123 pixels.
// - EMF: the header's frame rectangle, which is already in HIMETRIC.
// - WMF without the placeable header carries no physical size: libwmf's
//   display size at 96 dots per inch is used (the extent of what it draws).
// Pictures beyond the readers' limits (core/limits.h), including more pixels
// than the file's size can stand for, are refused before anything is drawn.
//
// Nothing is printed; any failure gives 0 and leaves the image unchanged. The
// grey-source flag is always 0 (a drawing has no grey source).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "core/dib_image.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Reads a WMF, placeable WMF or EMF file. 1 on success, else 0.
int ReadPictureFile(FileProbe& file, DibImage& image, int* greySource);
int ReadPictureFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// The same for a metafile held in memory.
int ReadPictureMemory(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Pixel size of a metafile as the reader draws it, read from its header
// (placeable WMF or EMF only; false for any other data or an empty box).
bool MetafileHeaderSize(const uint8_t* data, size_t size, int32_t& width, int32_t& height);

}  // namespace inkbrite
