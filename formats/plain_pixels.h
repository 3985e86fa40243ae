// SPDX-License-Identifier: GPL-2.0-or-later
// A page's pixels laid out as the encoders of WebP, AVIF and JPEG XL take
// them: top row first, red-green-blue or one grey byte a pixel, rows packed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"

namespace inkbrite {

struct PlainPixels {
  std::vector<uint8_t> bytes;
  int32_t width = 0;
  int32_t height = 0;
  int channels = 3;  // 1 (grey) or 3 (red, green, blue)
  size_t RowBytes() const { return static_cast<size_t>(width) * channels; }
};

// The pixels of a 24-bit page: with `grey`, the levels Greyscale gives the
// page (GreyLevelsRow, one byte a pixel), else red, green, blue. False for a page
// that is not 24 bits; std::bad_alloc when there is no memory.
bool PagePixels(const DibImage& page, bool grey, PlainPixels& out);

// The pixels of a palette container (1, 4 or 8 bits): grey when every
// colour of its table is neutral, else red, green, blue. False for an empty
// or 24-bit container.
bool ContainerPixels(const CxImage& image, PlainPixels& out);

// Encodes a palette container with `encode` (its pixels in, the file's bytes
// out) and writes the bytes to `file`. Each failure is left as the
// container's last error, named with `format` ("Encode: WebP needs a palette
// picture", "Encode: WebP encoder error", "Encode: cannot write the file",
// "Encode: out of memory").
using ContainerEncoder =
    std::function<bool(const PlainPixels& pixels, std::vector<uint8_t>& bytes)>;
bool EncodeContainer(CxImage& image, std::FILE* file, std::string_view format,
                     const ContainerEncoder& encode);

}  // namespace inkbrite
