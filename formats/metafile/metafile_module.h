// SPDX-License-Identifier: GPL-2.0-or-later
// The metafile module's entry table: the one interface between the programs
// and libinkbrite-metafile.so, the shared module that holds the metafile
// converters (libwmf, libemf2svg) and the SVG rasteriser (librsvg, cairo).
//
// The programs load the module the first time a metafile is read
// (metafile_codec.h), so the libraries it brings cost nothing at start-up
// and nothing to a run that reads no metafile. Plain C types only: the
// module and the program each have their own copy of whatever C++ they use.
//
// The module exports one function, kMetafileModuleEntry, which returns its
// table. A program uses the table only when `version` is the one it was
// built with and `size` at least its own size of the table.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Where the module draws a picture: `make` is called once the picture's size
// is known and sound, and returns the first (top) row of a 24-bit picture of
// width x height, blue, green and red bytes, and in *rowStep the distance in
// bytes from a row to the row below it; null when the picture cannot be
// made (no memory). The picture is the program's; it keeps it only when
// `draw` gives 1.
struct InkbriteMetafileCanvas {
  void* owner;
  uint8_t* (*make)(void* owner, int32_t width, int32_t height, ptrdiff_t* rowStep);
};

struct InkbriteMetafileModule {
  uint32_t version;
  uint32_t size;  // sizeof(InkbriteMetafileModule) as the module was built
  // Draws the WMF, placeable WMF or EMF in data[0, size) onto the canvas,
  // the whole reading given up `budgetMilliseconds` after it starts (once
  // no other metafile is being converted). 1 when drawn; 0 with *error set
  // to the reason (a ReadError of platform/read_status.h) on any failure.
  // Never throws; safe to call from several threads at once.
  int (*draw)(const uint8_t* data, size_t size, int64_t budgetMilliseconds,
              const InkbriteMetafileCanvas* canvas, int* error);
};

// The version of the table above: one more with any change of it.
inline constexpr uint32_t kMetafileModuleVersion = 1;

// The name of the exported function and its type.
inline constexpr const char kMetafileModuleEntry[] = "inkbrite_metafile_module";
using InkbriteMetafileModuleEntry = const InkbriteMetafileModule* (*)();

}  // extern "C"
