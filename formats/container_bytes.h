// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the container encoders that encode into memory first (TIFF,
// JP2): a failed encode then writes nothing at all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"

namespace inkbrite {

// Encodes a container into bytes; false with the reason in its error text.
using ContainerByteEncoder = bool (*)(CxImage&, std::vector<uint8_t>&);

// Encodes `image` with `encode` and writes the bytes to `file`; false (and
// `writeError` as the container's error text when the write fails) on any
// failure.
bool WriteEncodedContainer(CxImage& image, std::FILE* file, ContainerByteEncoder encode,
                           const char* writeError);

// Copies a 24-bit page into a container (grey when `colourMode` is
// nonzero) with `quality`, encodes it in memory and writes it safely to
// `path`. 1 on success; 0, with nothing written, when the page is not 24
// bits, the container cannot be made, the encoder fails or the write fails.
int WriteThroughContainer(const std::filesystem::path& path, const DibImage& image, int colourMode,
                          int quality, ContainerByteEncoder encode);

}  // namespace inkbrite
