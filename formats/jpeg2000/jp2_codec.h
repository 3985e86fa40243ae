// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG 2000 over OpenJPEG 2: JP2 files and bare code streams are read, JP2
// files are written through the codec container.
//
// Reading turns the decoded components into a 24-bit DibImage: exactly three
// components of equal sampling and precision give colour (component 0 red,
// 1 green, 2 blue); any other layout gives grey from component 0. Samples of
// up to 8 bits are taken as they are (their low byte); wider samples are
// scaled down to 8 bits by their precision, signed ones offset to unsigned
// first.
//
// Writing makes one quality layer whose rate (the fraction of the raw size
// kept) is (quality / 100)^3, at least 0.001; a rate of 1 or more is coded
// losslessly with the reversible 5/3 wavelet, anything lower with the
// irreversible 9/7 wavelet at a compression ratio of 1 / rate.
//
// Rules shared by every function here:
// - Results are 1/0 (true/false); nothing is thrown or printed (the
//   library's message handlers are silenced).
// - The decoder reads only from a buffer holding the whole file and never
//   outside it; a truncated or damaged file gives 0. Pictures above 65535
//   pixels per side or 2^31 bytes are refused from the header, before any
//   pixel memory is taken.
// - Files are written through a SafeFileWriter: the code stream is made in
//   memory first, so a failed encode leaves any previous file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/file_probe.h"

namespace inkbrite {

// Reads a JP2 file (12-byte signature box 00 00 00 0C 6A 50 20 20 0D 0A 87 0A)
// or a bare code stream (FF 4F FF 51) into `image`, replaced by a 24-bit
// picture of component 0's size. On success *greySource (when given) is 0 for
// the colour layout and 1 for grey. 0 for any other content or on failure,
// the image cleared and *greySource untouched.
int ReadJpeg2000File(FileProbe& file, DibImage& image, int* greySource);
int ReadJpeg2000File(const std::filesystem::path& path, DibImage& image, int* greySource);

// ReadJpeg2000File on bytes already in memory.
int DecodeJpeg2000Bytes(const uint8_t* data, size_t size, DibImage& image, int* greySource);

// The rate of a quality: (quality / 100)^3 rounded to three decimals, at
// least 0.001 (70 -> 0.343, 100 -> 1.000, 50 -> 0.125, 5 -> 0.001).
double Jp2RateForQuality(int quality);

// Writes a 24-bit image as a JP2 file: colour when `colourMode` is 0, else
// one grey component ((blue + green + red) / 3 of each pixel). 0 for an
// image that cannot be put into a container, an encoder failure or a failed
// write; the target is then left as it was.
int WriteJp2File(const std::filesystem::path& path, const DibImage& image, int colourMode,
                 int quality);

// The container's JP2 encoder: a 24-bit container gives three components
// (sRGB), a grey-ramp palette container one (grey, from the palette
// indices); any other palette container is refused with the error text
// "JasPer can save only RGB or GrayScale images". The rate comes from the
// container's quality. The file is made in `out` (replaced). False with the
// container's error text set on failure.
bool EncodeJp2(CxImage& image, std::vector<uint8_t>& out);

// EncodeJp2 into memory, then the bytes written to `file` (for SaveContainer,
// whose SafeFileWriter provides the stream). Nothing is written when the
// encoder fails.
bool EncodeJp2(CxImage& image, std::FILE* file);

}  // namespace inkbrite
