// SPDX-License-Identifier: GPL-2.0-or-later
#include "fuzz/fuzz_targets.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/bmp_decode.h"
#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/gif/gif_codec.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"

namespace inkbrite::fuzz {
namespace {

// What every reader promises on success: a 24-bit picture whose rows are
// all there. Touching the first and last byte lets the sanitizers see a
// block that is shorter than it claims.
int Check(int result, const DibImage& image) {
  if (result == 0) return 0;
  if (!image.Is24Bit() || image.Width() <= 0 || image.Height() <= 0) __builtin_trap();
  const uint8_t* first = image.Row(0);
  const uint8_t* last = image.Row(image.Height() - 1) + image.Width() * 3 - 1;
  volatile uint8_t sink = static_cast<uint8_t>(*first ^ *last);
  (void)sink;
  return 0;
}

// A reader of the common shape: bytes in, picture and grey flag out.
template <int (*Decode)(const uint8_t*, size_t, DibImage&, int*)>
int FuzzDecoder(const uint8_t* data, size_t size) {
  DibImage image;
  int grey = 0;
  return Check(Decode(data, size, image, &grey), image);
}

int FuzzBmp(const uint8_t* data, size_t size) {
  // The steps of DibImage::LoadBmp after the file is read.
  std::vector<uint8_t> block;
  int bits = 0;
  if (!DecodeBmp(data, size, block, &bits)) return 0;
  DibImage image;
  const int ok = image.Attach(std::move(block)) && image.ConvertTo24Bit() ? 1 : 0;
  return Check(ok, image);
}

// Mutated chunks almost never keep a valid CRC, and libpng rejects them
// before anything of ours runs: the CRCs are put right in a copy first.
int FuzzPng(const uint8_t* data, size_t size) {
  std::vector<uint8_t> png(data, data + size);
  size_t at = 8;
  while (at <= png.size() && png.size() - at >= 12) {
    const uint8_t* p = png.data() + at;
    const size_t length = size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3];
    if (length > png.size() - at - 12) break;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, p + 4, static_cast<uInt>(length + 4)));
    uint8_t* out = png.data() + at + 8 + length;
    out[0] = static_cast<uint8_t>(crc >> 24);
    out[1] = static_cast<uint8_t>(crc >> 16);
    out[2] = static_cast<uint8_t>(crc >> 8);
    out[3] = static_cast<uint8_t>(crc);
    at += 12 + length;
  }
  DibImage image;
  int grey = 0;
  return Check(DecodePngBytes(png.data(), png.size(), image, &grey), image);
}

int FuzzGif(const uint8_t* data, size_t size) {
  // The steps of ReadGifFile after the file is read.
  CxImage picture;
  if (!DecodeGif(data, size, picture)) return 0;
  DibImage image;
  return Check(image.FromPackedDib(picture.Dib(), picture.DibSize()) ? 1 : 0, image);
}

// LoadImageFile reads from a file: the bytes go to a file of this process.
// Files without a signature (UFO, EMF, a plain WMF) are recognised by their
// extension, which the last byte of the input chooses.
int FuzzLoad(const uint8_t* data, size_t size) {
  static const char* const kExtensions[] = {".ufo", ".emf", ".wmf", ".jpg", ".bmp", ".png",
                                            ".gif", ".tif", ".jp2", ".j2k", ".dat"};
  constexpr size_t kCount = sizeof kExtensions / sizeof kExtensions[0];
  const char* ext = kExtensions[size == 0 ? 0 : data[size - 1] % kCount];
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("inkbrite-fuzz-" + std::to_string(getpid()) + ext);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  DibImage image;
  int grey = 0;
  const int ok = written ? LoadImageFile(path, image, &grey) : 0;
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return Check(ok, image);
}

}  // namespace

const Target kTargets[] = {
    {"bmp", FuzzBmp},
    {"jpeg", FuzzDecoder<ReadJpegMemory>},
    {"ufo", FuzzDecoder<DecodeUfoBytes>},
    {"png", FuzzPng},
    {"gif", FuzzGif},
    {"tiff", FuzzDecoder<DecodeTiffBytes>},
    {"jp2", FuzzDecoder<DecodeJpeg2000Bytes>},
    {"j2k", FuzzDecoder<DecodeJpeg2000Bytes>},
    {"wmf", FuzzDecoder<ReadPictureMemory>},
    {"emf", FuzzDecoder<ReadPictureMemory>},
    {"load", FuzzLoad},
};
const size_t kTargetCount = sizeof kTargets / sizeof kTargets[0];

TargetFunction FindTarget(std::string_view name) {
  for (const Target& t : kTargets) {
    if (name == t.name) return t.run;
  }
  return nullptr;
}

}  // namespace inkbrite::fuzz
