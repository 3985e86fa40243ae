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
//
// The drawing is done by the metafile module, libinkbrite-metafile.so
// (metafile_module.h), which holds libwmf, libemf2svg, librsvg and cairo and
// is loaded at the first metafile read, not when the program starts. It is
// looked for in $INKBRITE_METAFILE_MODULE when set (that file only), else
// beside the running program (a build tree), else in
// <prefix>/lib/<multiarch>/inkbrite (INKBRITE_MODULE_DIR) for a program in
// <prefix>/bin or <prefix>/libexec/inkbrite. Without a usable module every
// metafile read fails with ReadError::kNoReaderModule; everything else reads
// as before.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/dib_image.h"
#include "formats/file_probe.h"
#include "formats/metafile/metafile_module.h"

namespace inkbrite {

// Reads a WMF, placeable WMF or EMF file. 1 on success, else 0.
int ReadPictureFile(FileProbe& file, DibImage& image, int* greySource);
int ReadPictureFile(const std::filesystem::path& path, DibImage& image, int* greySource);

// The same for a metafile held in memory.
int ReadPictureMemory(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// The module's file as it is looked for (above); empty when none is found.
std::filesystem::path MetafileModulePath();
// True once the module is loaded (after the first metafile read, when it
// could be loaded).
bool MetafileModuleLoaded();
// Why the module could not be loaded, for a person; empty when it was, or
// no metafile was read yet.
std::string MetafileModuleError();

// A canvas (metafile_module.h) that makes its picture in `picture`.
InkbriteMetafileCanvas CanvasFor(DibImage& picture);

namespace metafile {

// ReadPictureMemory with the reading given up `budget` after it starts
// (once no other metafile is being converted) instead of
// kMaxMetafilePlaySeconds.
int ReadPictureWithin(const uint8_t* data, size_t size, DibImage& image, int* greySource,
                      std::chrono::milliseconds budget);

}  // namespace metafile

}  // namespace inkbrite
