// SPDX-License-Identifier: GPL-2.0-or-later
// The limits every image reader holds a file to, in one place.
//
// A file says how large its picture is before any pixel is decoded, and a
// damaged or hostile file can claim anything: a 60-byte file may claim a
// picture of 16000 x 16000 pixels, a few kilobytes of PNG or JPEG 2000 may
// inflate to gigabytes. Every reader checks the header's claim here before it
// (or the codec library) allocates anything of the picture's size, and
// refuses with 0 when a limit is passed.
//
// The numbers:
// - kMaxDibDimension, 65535 per side: what the DIB header, GIF, and the
//   JPEG writer's 65500 can hold; no scan comes near it.
// - kMaxImagePixels, 2^28 (268 million, 16384 x 16384): a comic page scanned
//   at 1200 dpi is at most about 10000 x 14000 (140 million) and an A0
//   poster at 300 dpi 9933 x 14043 (139 million); both fit with room to
//   spare. Its 24-bit picture takes 768 MiB, and the enhancement pipeline
//   needs a second copy while it works.
// - kMaxDibBytes, 2^31: the in-memory picture's block (a 24-bit picture of
//   kMaxImagePixels stays well below it).
// - kMaxDecoderBytes, 2^31: the working memory a codec library may take for
//   one file besides the picture (libtiff's 32-bit RGBA raster, OpenJPEG's
//   32-bit samples for every component, libjpeg's coefficient arrays of a
//   progressive file). A colour JPEG 2000 page of 140 million pixels needs
//   1.6 GiB there.
// - kMaxPixelsPerInputByte, 2^16: the most pixels a reader accepts per byte
//   of the file. A tiny file that claims a huge picture is refused before the
//   picture is allocated. Complete files of every codec we read stay far
//   below it (deflate gives at most 1032 bytes per byte, LZW about 2730,
//   a Huffman-coded JPEG 2048 pixels); the exceptions are formats that can
//   skip pixels outright (RLE deltas, fax rows, empty JPEG 2000 packets,
//   truncated JPEG data, which the reader accepts), and there the bound
//   still allows a 4 KiB file to claim a full-sized picture.
// - Per-codec work bounds: kMaxJpegScans scans of a progressive JPEG (each a
//   pass over the whole picture; real files have about ten), the deflate
//   ratio of PNG image data, kMaxMetafilePlaySeconds for reading and drawing
//   a metafile and kMaxMetafilePixelsPerByte for its picture size.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/read_status.h"

namespace inkbrite {

inline constexpr int32_t kMaxDibDimension = 65535;
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 28;
inline constexpr uint64_t kMaxDibBytes = uint64_t{1} << 31;
inline constexpr uint64_t kMaxDecoderBytes = uint64_t{1} << 31;
inline constexpr uint64_t kMaxPixelsPerInputByte = uint64_t{1} << 16;

// A progressive JPEG may repeat scans without end, each one a pass over the
// whole picture.
inline constexpr int kMaxJpegScans = 500;
// The most output bytes one byte of deflate data can give (a 258-byte match
// in 2 bits).
inline constexpr uint64_t kMaxDeflateRatio = 1032;
// Reading one metafile, its drawing included, beyond which it is given up.
inline constexpr int kMaxMetafilePlaySeconds = 20;
// A metafile's picture size is only a number in its header, and drawing
// costs time for every pixel (each 2048 x 2048 tile draws the whole
// document): at most 2^14 pixels per byte of the file. An A4 page at 96 dpi
// (0.9 million pixels) needs a file of 57 bytes, an A0 poster (14 million)
// one of 870 bytes; real drawings of that size are far larger.
inline constexpr uint64_t kMaxMetafilePixelsPerByte = uint64_t{1} << 14;

// True when a picture of width x height is within the size limits: both
// sides from 1 to kMaxDibDimension, at most kMaxImagePixels pixels, and its
// 24-bit picture within kMaxDibBytes.
constexpr bool ImageSizeWithinLimits(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxDibDimension || height > kMaxDibDimension) {
    return false;
  }
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  const uint64_t rowBytes = (static_cast<uint64_t>(width) * 24 + 31) / 32 * 4;
  return pixels <= kMaxImagePixels && 40 + rowBytes * static_cast<uint64_t>(height) <= kMaxDibBytes;
}

// The check a reader makes once it knows what a file claims, before anything
// of the picture's size is allocated: the size limits above, `decoderBytes`
// (the codec's own working memory for the picture; 0 when it needs none
// worth counting) within kMaxDecoderBytes, and at most `maxPixelsPerByte`
// pixels per byte of `inputBytes`, the file's (or its compressed data's)
// size. True when decoding may go on.
// Which limit refuses a picture, kNone when none does.
constexpr ReadError ExceededLimit(int64_t width, int64_t height, uint64_t inputBytes,
                                  uint64_t decoderBytes = 0,
                                  uint64_t maxPixelsPerByte = kMaxPixelsPerInputByte) {
  if (width <= 0 || height <= 0) return ReadError::kDamaged;
  if (width > kMaxDibDimension || height > kMaxDibDimension) return ReadError::kOverSideLimit;
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixels > kMaxImagePixels) return ReadError::kOverPixelLimit;
  if (!ImageSizeWithinLimits(width, height)) return ReadError::kOverByteLimit;
  if (decoderBytes > kMaxDecoderBytes) return ReadError::kOverDecoderMemory;
  // inputBytes * maxPixelsPerByte cannot overflow for any file we read
  // (below 2^40 bytes) and the ratios used (below 2^20); divide instead.
  if (pixels / maxPixelsPerByte > inputBytes) return ReadError::kOverPixelsPerByte;
  return ReadError::kNone;
}

// The check itself; a refusal is noted as the reason of the read under way
// (platform/read_status.h).
constexpr bool DecodeWithinLimits(int64_t width, int64_t height, uint64_t inputBytes,
                                  uint64_t decoderBytes = 0,
                                  uint64_t maxPixelsPerByte = kMaxPixelsPerInputByte) {
  const ReadError exceeded =
      ExceededLimit(width, height, inputBytes, decoderBytes, maxPixelsPerByte);
  if (exceeded == ReadError::kNone) return true;
  if (!std::is_constant_evaluated()) NoteReadFailure(exceeded);
  return false;
}

}  // namespace inkbrite
