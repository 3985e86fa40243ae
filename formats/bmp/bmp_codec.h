// SPDX-License-Identifier: GPL-2.0-or-later
// BMP files through the image core's own codec (DibImage::LoadBmp and
// SaveBmp, core/bmp_decode.h), with the readers' and writers' common
// arguments.
//
// The grey-source flag is 1 for a bilevel (1-bit) file, measured on the file
// before its conversion to 24 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "core/dib_image.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Reads a BMP file into a 24-bit picture. 1 on success; 0 on failure, with
// the image left as it was and *greySource untouched.
int ReadBmpFile(FileProbe& file, DibImage& image, int* greySource);

// ReadBmpFile on the bytes of a whole file held in memory; on failure the
// image is cleared.
int DecodeBmpBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes the page as a 24-bit BMP file (SaveBmp), greyed in colour mode 1;
// quality is not used. 1 on success, 0 with any previous file left whole.
int WriteBmpFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int quality);

}  // namespace inkbrite
