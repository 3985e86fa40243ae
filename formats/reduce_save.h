// SPDX-License-Identifier: GPL-2.0-or-later
// Saving a page reduced to a small palette, at the palette's depth.
#pragma once

#include <filesystem>

#include "core/dib_image.h"

namespace inkbrite {

// Reduces `image` as DibImage::ReduceColours does (see core/colour.h for the
// (grey, bits, colours) combinations) and writes the palette picture to
// `path` in the format its name gives: BMP, PNG or TIFF. The saved picture
// keeps its reduced depth (1, 4 or 8 bits) and palette, with biClrImportant
// the number of colours.
//
// The page itself stays 24 bits and keeps its colours; with `grey` it is
// greyed (DibImage::Greyscale), and only once the file is written. False,
// with the page unchanged and nothing written, for any other file name, a
// refused combination or a page that is not 24 bits, and when the reduction
// or the write fails.
bool ReduceColoursAndSave(DibImage& image, bool grey, int bits, int colours,
                          const std::filesystem::path& path);

// The same file, with the page never changed. A PNG is compressed at zlib
// level `deflateLevel` (-1: zlib's default; CxImage::SetDeflateLevel).
bool SaveReducedPage(const DibImage& image, bool grey, int bits, int colours,
                     const std::filesystem::path& path, int deflateLevel = -1);

}  // namespace inkbrite
