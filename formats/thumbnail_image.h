// SPDX-License-Identifier: GPL-2.0-or-later
// Small pictures of pages for the viewer's thumbnails: made from a page
// file's bytes (JPEG decoded directly at 1/8, 1/4 or 1/2 of its size, so a
// page costs a fraction of a full decode; any other format through its
// reader, within the same limits), and written as PNG files carrying text
// fields (the thumbnail cache's records, platform/thumbnail_cache.h).
//
// Threads: any; nothing is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite {

// Decodes JPEG bytes at the smallest of the library's reduced scales (1/8,
// 1/4, 1/2, or the whole picture) whose longer side still reaches `atLeast`
// pixels, with the JPEG reader's reduced decoding (as ReadJpegFileReduced).
// The same limits as the full reader hold; false (image cleared) on any
// failure.
bool ReadJpegReduced(const uint8_t* data, size_t size, int32_t atLeast, DibImage& image);

// Shrinks a 24-bit picture to fit a `box` x `box` square, keeping its shape
// (never enlarged). False when it cannot.
bool ShrinkToFit(DibImage& image, int32_t box);

// A thumbnail of a page file's bytes fitting a `box` x `box` square: the
// picture format from the bytes (else `nameHint`'s extension). False when no
// reader takes the bytes.
bool MakeThumbnail(const uint8_t* data, size_t size, std::string_view nameHint, int32_t box,
                   DibImage& thumbnail);

// The PNG file (8-bit RGB) of a 24-bit picture with the text fields in
// order (tEXt chunks before the image data); empty when it cannot be made.
std::string EncodePngWithText(const DibImage& image,
                              const std::vector<std::pair<std::string, std::string>>& text);

}  // namespace inkbrite
