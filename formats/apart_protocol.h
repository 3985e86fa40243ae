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
// - learned: input a LearnedHeader then the page's rows top row first,
//   blue-green-red, width * 3 bytes each; output a DecodedHeader and the
//   upscaled or denoised rows (scale x the size) in the same order. The
//   waifu2x networks run on oneDNN (learned/), which is under Apache-2.0
//   alone like the libraries above.
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
inline constexpr char kLearned[] = "learned";

inline constexpr uint32_t kDecodedMagic = 0x444B4249;  // "IBKD"
inline constexpr uint32_t kEncodeMagic = 0x454B4249;   // "IBKE"
inline constexpr uint32_t kLearnedMagic = 0x4C4B4249;  // "IBKL"

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

struct LearnedHeader {
  uint32_t magic = kLearnedMagic;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t model = 0;  // 0 upconv_7, 1 cunet
  int32_t noise = -1;  // -1 none, 0..3
  uint32_t scale = 2;  // 1 or 2
  uint32_t threads = 1;
};

// The longest a helper may run on one request (CPU seconds).
inline constexpr int kHelperCpuSeconds = 120;
// ... and on a learned request, per million pixels of output (several times
// what cunet, the slower network, takes on one core), at least the plain
// limit.
inline constexpr int kLearnedCpuSecondsPerMegapixel = 120;

}  // namespace inkbrite::apart
