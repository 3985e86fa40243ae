// SPDX-License-Identifier: GPL-2.0-or-later
// What the codec helper program (inkbrite-codec) and the formats layer say
// to each other. The AVIF and JPEG XL codecs run in that separate program:
// Debian's libavif and libjxl link libraries under Apache-2.0 alone (libgav1
// and Abseil; Highway), which may not be combined in one program with the
// GPL-2.0-only libemf2svg that the metafile reader links. A crash of either
// codec on a hostile file also ends only the helper.
//
// One request a run: `inkbrite-codec OPERATION`, the request's bytes on
// standard input, the answer on standard output, exit status 0 on success.
// - decode-avif, decode-jxl: input the file's bytes; output a DecodedHeader
//   then the picture's rows top row first, blue-green-red, width * 3 bytes
//   each (no padding).
// - encode-avif, encode-jxl, encode-jxl-lossless: input an EncodeHeader then
//   the pixels (rows top first, 1 or 3 bytes a pixel, red-green-blue);
//   output the encoded file.
// Numbers are 32-bit, in the machine's order (both ends are this build).
#pragma once

#include <cstdint>

namespace inkbrite::apart {

inline constexpr char kHelperName[] = "inkbrite-codec";
inline constexpr char kDecodeAvif[] = "decode-avif";
inline constexpr char kDecodeJxl[] = "decode-jxl";
inline constexpr char kEncodeAvif[] = "encode-avif";
inline constexpr char kEncodeJxl[] = "encode-jxl";
inline constexpr char kEncodeJxlLossless[] = "encode-jxl-lossless";

inline constexpr uint32_t kDecodedMagic = 0x444B4249;  // "IBKD"
inline constexpr uint32_t kEncodeMagic = 0x454B4249;   // "IBKE"

struct DecodedHeader {
  uint32_t magic = kDecodedMagic;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t greySource = 0;
};

struct EncodeHeader {
  uint32_t magic = kEncodeMagic;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t channels = 3;  // 1 or 3
  uint32_t colourMode = 0;
  uint32_t quality = 75;
};

// The longest a helper may run on one request (CPU seconds).
inline constexpr int kHelperCpuSeconds = 120;

}  // namespace inkbrite::apart
