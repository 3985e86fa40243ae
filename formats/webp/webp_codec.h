// SPDX-License-Identifier: GPL-2.0-or-later
// WebP files over libwebp (decode, encode) and libwebpdemux (animations).
//
// Reading gives the first frame of an animation (composed on its canvas as
// libwebp's animation decoder shows it), lossy data with libwebp's default
// ("fancy") chroma upsampling, and alpha composited over white. WebP has no
// grey picture type: the grey-source flag is set when every pixel of the
// decoded picture is neutral within one level, and such a picture is
// delivered exactly grey from its red values (lossy grey pages decode with
// red = blue and green up to one level off).
//
// Writing: lossy VP8 at the page quality (0 to 100, libwebp's own quality
// scale), grey pages as Greyscale greys them (neutral chroma); colour-reduced
// pages losslessly (VP8L, which keeps a palette of up to 256 colours). No
// metadata chunk is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Reads a WebP file into a 24-bit picture. 1 on success with *greySource
// (when given) set; 0 for any file that is not a whole WebP picture within
// the limits, the image cleared.
int ReadWebpFile(FileProbe& file, DibImage& image, int* greySource);

// ReadWebpFile on the bytes of a whole file.
int DecodeWebpBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// Writes a 24-bit page as a lossy WebP file (`colourMode` 1: grey as Greyscale
// greys it). 1 on success; 0 with any previous file left whole.
int WriteWebpFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality);

// True when the bytes start a WebP file: "RIFF", a size, "WEBP".
bool IsWebpHead(const uint8_t* head, size_t size);

// The container's WebP encoder (kCxImageWebp): a palette picture written
// losslessly, so that it reads back with exactly its colours. False with the
// container's error text set on failure.
bool EncodeWebp(CxImage& image, std::FILE* file);

// The encoder settings, for the benchmarks and their documentation.
// Lossy pages use method 0, the only one that stays within 3x our JPEG
// writer's time on a 1700 x 2400 page at quality 75 (modern_settings: method
// 0 about 2x, method 1 2.6-3.2x for 1.7 % fewer bytes, method 4 8-14x).
inline constexpr int kWebpLossyMethod = 0;      // libwebp's speed/size trade-off, 0-6
inline constexpr int kWebpLosslessMethod = 4;   // the same for lossless pages
inline constexpr int kWebpLosslessEffort = 50;  // lossless "quality": effort, 0-100

}  // namespace inkbrite
