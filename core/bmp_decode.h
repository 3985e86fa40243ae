// SPDX-License-Identifier: GPL-2.0-or-later
// BMP file decoding into a packed DIB. Internal to the image core; the public
// entry is DibImage::LoadBmp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace inkbrite {

class DibImage;

// The largest BMP file read: no sound BMP is larger than its largest
// picture plus headers and a full colour table; a bigger file is refused
// without being read.
inline constexpr uint64_t kMaxBmpFileBytes = (uint64_t{1} << 31) + (uint64_t{1} << 20);

// DibImage::LoadBmp on the bytes of a whole file, taken over (most files
// become the picture's block without a second copy): `image` replaced by
// the 24-bit picture, *fileBitCount (when given) the file's bit count. False,
// `image` untouched, for anything but a sound BMP.
bool LoadBmpFileBytes(std::vector<uint8_t> fileBytes, DibImage& image, int* fileBitCount);

// Turns the bytes of a whole BMP file into a packed DIB that DibImage::Attach
// accepts:
// - uncompressed files keep their depth and colour table; a 12-byte core
//   header is kept, every other info header (16 to 124 bytes) is rewritten
//   as a 40-byte header; top-down rows are put bottom-up; rows are taken from
//   the file header's pixel offset when it is sound, else right after the
//   colour table;
// - RLE8, RLE4 and bit-field files are decoded to 24 bits. Pixels that RLE
//   delta and end codes skip stay black. Bit-field channels of 8 bits are
//   taken as they are, narrower ones scaled to 0..255, wider ones cut to
//   their top 8 bits.
// False, with `dib` untouched, for anything that is not a sound BMP: no "BM",
// unknown header size or depth, dimensions of 0, negative width or above
// 65535, a colour table (at 8 bits or fewer; deeper pictures need none, and
// a colour count with no table is ignored) or pixel rows beyond the end of
// the file, RLE runs
// past a row, the picture or the data, a top-down RLE file, an empty
// bit-field mask, compression other than 0 to 3, or a picture beyond the
// readers' limits (core/limits.h: pixel count, bytes, pixels per byte of
// the file). *fileBitCount receives the depth given in the file.
bool DecodeBmp(const uint8_t* data, size_t size, std::vector<uint8_t>& dib, int* fileBitCount);

// DecodeBmp over the bytes of a whole file, which are replaced by the packed
// DIB (the same block DecodeBmp gives). A file that already holds a packed
// bitmap after its file header (40-byte header, uncompressed, bottom-up, full
// colour table right before the rows) becomes the block in place, without a
// second copy of the picture. False, with `file` untouched, where DecodeBmp
// refuses.
bool DecodeBmpInPlace(std::vector<uint8_t>& file, int* fileBitCount);

}  // namespace inkbrite
