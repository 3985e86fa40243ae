// SPDX-License-Identifier: GPL-2.0-or-later
// AVIF and JPEG XL through the codec helper program (see apart_protocol.h):
// the entry points of their rows in the format table. Each call runs
// inkbrite-codec once; the results and promises are those of the codecs
// themselves (formats/avif/avif_codec.h, formats/jxl/jxl_codec.h), and a
// helper that cannot be found or run is a failed read or write.
//
// The helper is looked for in $INKBRITE_CODEC_HELPER when set, else beside
// the running program (a build tree), else in <prefix>/libexec/inkbrite for
// a program installed as <prefix>/bin/<program>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"

namespace inkbrite {

// The helper program; empty when it cannot be found.
std::filesystem::path CodecHelperPath();

int ReadAvifApart(FileProbe& file, DibImage& image, int* greySource);
int DecodeAvifApart(const uint8_t* data, size_t size, DibImage& image, int* greySource);
int WriteAvifApart(const std::filesystem::path& path, const DibImage& image, int colourMode,
                   int quality);

int ReadJxlApart(FileProbe& file, DibImage& image, int* greySource);
int DecodeJxlApart(const uint8_t* data, size_t size, DibImage& image, int* greySource);
int WriteJxlApart(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality);
// The container's JPEG XL encoder (kCxImageJxl): palette pages lossless.
bool EncodeJxlApart(CxImage& image, std::FILE* file);

// True when the bytes start an AVIF file (formats/avif/avif_codec.h).
bool IsAvifHead(const uint8_t* head, size_t size);

}  // namespace inkbrite
