// SPDX-License-Identifier: GPL-2.0-or-later
// Writing a codec container to a file: the one place that picks the
// container's encoder for a type.
//
// Every file goes through a SafeFileWriter: a temporary file beside the
// target, renamed over it only when the encoder succeeded and every byte
// reached the disk. A failure leaves any previous file untouched and no
// temporary file behind.
//
// Encoders: BMP, PNG, TIFF, JP2, and lossless WebP and JPEG XL. A type without an encoder fails
// with the error text "Encode: Unknown format" and writes nothing.
#pragma once

#include <filesystem>

#include "core/ximage.h"

namespace inkbrite {

// Saves `image` to `path` with the encoder of `type` (a CxImageType). False,
// with the reason in the container's error text, for an empty container, a
// type without an encoder, or a failed write.
bool SaveContainer(CxImage& image, const std::filesystem::path& path, int type);

}  // namespace inkbrite
