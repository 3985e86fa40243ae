// SPDX-License-Identifier: GPL-2.0-or-later
// The readers' limits (core/limits.h): a tiny file that claims a huge
// picture is refused without the picture being allocated first.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/bmp_decode.h"
#include "core/limits.h"
#include "core/ximage.h"
#include "formats/gif/gif_codec.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "tests/test_support.h"

// The largest single operator new request since the last reset: the pixel
// blocks and libtiff's raster are all made through it, so a reader that
// allocates the claimed picture before it fails shows up here.
// malloc and free are called through these pointers: GCC otherwise takes
// the replaced operators for the standard ones and warns about the pairing.
namespace {
std::atomic<size_t> g_largestNew{0};
void* (*volatile g_malloc)(size_t) = std::malloc;
void (*volatile g_free)(void*) = std::free;
}  // namespace

void* operator new(size_t n) {
  size_t seen = g_largestNew.load(std::memory_order_relaxed);
  while (n > seen && !g_largestNew.compare_exchange_weak(seen, n)) {
  }
  if (void* p = g_malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { g_free(p); }
void operator delete(void* p, size_t) noexcept { g_free(p); }

namespace inkbrite {
namespace {

constexpr uint32_t kHuge = 16000;  // 256 million pixels: within every per-side limit
constexpr size_t kSmallAllocation = size_t{64} << 20;

using Bytes = std::vector<uint8_t>;
using test::PutBE;
using test::PutLE;

void PngChunk(Bytes& b, const char* type, const Bytes& data) {
  PutBE(b, 4, {static_cast<uint32_t>(data.size())});
  const size_t start = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  PutBE(b, 4,
        {static_cast<uint32_t>(crc32(0, b.data() + start, static_cast<uInt>(b.size() - start)))});
}

// RLE8 picture that ends at once: legal, all black.
Bytes HugeRleBmp(uint32_t width, uint32_t height) {
  Bytes b = {'B', 'M'};
  PutLE(b, 4, {0, 0, 14 + 40 + 1024, 40, width, height});
  PutLE(b, 2, {1, 8});
  PutLE(b, 4, {1, 0, 0, 0, 0, 0});  // RLE8
  b.resize(b.size() + 1024, 0x40);  // colour table
  PutLE(b, 1, {0, 1});              // end of bitmap
  return b;
}

// JFIF start and a baseline JPEG header with one grey component and the shortest Huffman
// tables, then a scan that stops after a few bytes (accepted as truncated).
Bytes HugeJpeg() {
  Bytes b;
  PutBE(b, 1, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  PutBE(b, 1, {0xFF, 0xDB, 0, 67, 0});
  b.resize(b.size() + 64, 1);
  PutBE(b, 1, {0xFF, 0xC0, 0, 11, 8});
  PutBE(b, 2, {kHuge, kHuge});
  PutBE(b, 1, {1, 1, 0x11, 0});
  for (uint32_t tableClass = 0; tableClass < 2; ++tableClass) {
    PutBE(b, 1, {0xFF, 0xC4, 0, 20, tableClass << 4, 1});
    b.resize(b.size() + 16, 0);
  }
  PutBE(b, 1, {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0, 0, 0, 0, 0xFF, 0xD9});
  return b;
}

Bytes HugePng() {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  PutBE(ihdr, 4, {kHuge, kHuge});
  PutBE(ihdr, 1, {8, 2, 0, 0, 0});
  PngChunk(b, "IHDR", ihdr);
  PngChunk(b, "IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
  PngChunk(b, "IEND", {});
  return b;
}

Bytes HugeGif() {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  PutLE(b, 2, {kHuge, kHuge});
  PutLE(b, 1, {0x87, 0, 0});  // 256-entry global table
  b.resize(b.size() + 768, 0x80);
  PutLE(b, 1, {','});
  PutLE(b, 2, {0, 0, kHuge, kHuge});
  PutLE(b, 1, {0, 8, 2, 0x00, 0x01, 0, ';'});
  return b;
}

// Uncompressed grey TIFF whose only strip holds 100 bytes.
Bytes HugeTiff() {
  Bytes b = {'I', 'I', 42, 0};
  PutLE(b, 4, {8});
  PutLE(b, 2, {9});
  const uint32_t entries[][3] = {{256, 4, kHuge}, {257, 4, kHuge}, {258, 3, 8},
                                 {259, 3, 1},     {262, 3, 1},     {273, 4, 200},
                                 {277, 3, 1},     {278, 4, kHuge}, {279, 4, 100}};
  for (const auto& [tag, type, value] : entries) {
    PutLE(b, 2, {tag, type});
    PutLE(b, 4, {1, value});  // a short value sits in the low half of the field
  }
  PutLE(b, 4, {0});
  b.resize(300, 0x55);
  return b;
}

// A JPEG 2000 code stream: one 8-bit component in one tile, reversible
// 5/3 transform, and a tile with no data (decoded as blank).
Bytes HugeJ2k() {
  Bytes b;
  PutBE(b, 1, {0xFF, 0x4F, 0xFF, 0x51, 0, 41, 0, 0});
  PutBE(b, 4, {kHuge, kHuge, 0, 0, kHuge, kHuge, 0, 0});
  PutBE(b, 1, {0, 1, 7, 1, 1});
  PutBE(b, 1, {0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 5, 4, 4, 0, 1});
  PutBE(b, 1, {0xFF, 0x5C, 0, 19, 0x40});
  b.resize(b.size() + 16, 0x40);
  PutBE(b, 1, {0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0x93, 0xFF, 0xD9});
  return b;
}

// Placeable WMF with a 20000 x 20000 pixel box at 96 units per inch and an
// empty record list.
Bytes HugeWmf() {
  Bytes b;
  PutLE(b, 4, {0x9AC6CDD7u});
  PutLE(b, 2, {0, 0, 0, 20000, 20000, 96, 0, 0, 0});
  PutLE(b, 1, {1, 0, 9, 0, 0, 3});
  PutLE(b, 2, {12, 0, 0, 3, 0, 0, 3, 0, 0});  // size in words; end-of-file record
  return b;
}

// EMF whose frame is 20000 x 20000 pixels (in 0.01 mm).
Bytes HugeEmf() {
  Bytes b;
  PutLE(b, 4, {1, 88, 0, 0, 0, 0, 0, 0, 529167, 529167, 0x464D4520u, 0x10000, 88 + 20, 2});
  b.resize(88, 0);
  PutLE(b, 4, {14, 20, 0, 0, 20});  // end of file
  return b;
}

TEST(ReaderLimits, SizeRules) {
  // Per side, pixel count, and pixels per byte of the file.
  EXPECT_TRUE(ImageSizeWithinLimits(10000, 14000));
  EXPECT_TRUE(ImageSizeWithinLimits(65535, 1));
  EXPECT_FALSE(ImageSizeWithinLimits(65536, 1));
  EXPECT_FALSE(ImageSizeWithinLimits(0, 10));
  EXPECT_TRUE(ImageSizeWithinLimits(16384, 16384));
  EXPECT_FALSE(ImageSizeWithinLimits(16384, 16385));
  EXPECT_TRUE(DecodeWithinLimits(10000, 14000, 4 << 20));
  EXPECT_FALSE(DecodeWithinLimits(10000, 14000, 2000));
  EXPECT_FALSE(DecodeWithinLimits(100, 100, 1 << 20, kMaxDecoderBytes + 1));
  EXPECT_TRUE(DecodeWithinLimits(1000, 1000, 1000, 0, 1000));
  EXPECT_FALSE(DecodeWithinLimits(1000, 1000, 999, 0, 1000));
}

// Each reader, fed a tiny file claiming a picture of 16000 x 16000 (or
// 20000 x 20000 for the metafiles), returns 0 without a large allocation.
TEST(ReaderLimits, TinyFilesClaimingHugePicturesAreRefusedUpFront) {
  struct Case {
    const char* name;
    Bytes bytes;
    int (*read)(const Bytes&, DibImage&);
  };
  const Case cases[] = {
      {"bmp rle", HugeRleBmp(kHuge, kHuge),
       [](const Bytes& b, DibImage&) {
         std::vector<uint8_t> dib;
         return DecodeBmp(b.data(), b.size(), dib, nullptr) ? 1 : 0;
       }},
      {"jpeg", HugeJpeg(),
       [](const Bytes& b, DibImage& i) { return ReadJpegMemory(b.data(), b.size(), i, nullptr); }},
      {"ufo", HugeJpeg(),
       [](const Bytes& b, DibImage& i) { return DecodeUfoBytes(b.data(), b.size(), i, nullptr); }},
      {"png", HugePng(),
       [](const Bytes& b, DibImage& i) { return DecodePngBytes(b.data(), b.size(), i, nullptr); }},
      {"gif", HugeGif(),
       [](const Bytes& b, DibImage&) {
         CxImage c;
         return DecodeGif(b.data(), b.size(), c) ? 1 : 0;
       }},
      {"tiff", HugeTiff(),
       [](const Bytes& b, DibImage& i) { return DecodeTiffBytes(b.data(), b.size(), i, nullptr); }},
      {"j2k", HugeJ2k(),
       [](const Bytes& b, DibImage& i) {
         return DecodeJpeg2000Bytes(b.data(), b.size(), i, nullptr);
       }},
      {"wmf", HugeWmf(),
       [](const Bytes& b, DibImage& i) {
         return ReadPictureMemory(b.data(), b.size(), i, nullptr);
       }},
      {"emf", HugeEmf(),
       [](const Bytes& b, DibImage& i) {
         return ReadPictureMemory(b.data(), b.size(), i, nullptr);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DibImage image;
    g_largestNew = 0;
    EXPECT_EQ(c.read(c.bytes, image), 0);
    EXPECT_LT(g_largestNew.load(), kSmallAllocation);
    EXPECT_TRUE(image.IsEmpty());
  }
}

// The same RLE file at a size its bytes can stand for decodes, through
// LoadImageFile as a whole.
TEST(ReaderLimits, SmallClaimsStillLoad) {
  const test::TempDir dir;
  test::WriteAll(dir / "small.bmp", HugeRleBmp(300, 200));
  test::WriteAll(dir / "huge.bmp", HugeRleBmp(kHuge, kHuge));
  DibImage image;
  int grey = -1;
  EXPECT_EQ(LoadImageFile(dir / "small.bmp", image, &grey), 1);
  EXPECT_EQ(image.Width(), 300);
  EXPECT_EQ(image.Height(), 200);
  g_largestNew = 0;
  EXPECT_EQ(LoadImageFile(dir / "huge.bmp", image, &grey), 0);
  EXPECT_LT(g_largestNew.load(), kSmallAllocation);
}

}  // namespace
}  // namespace inkbrite
