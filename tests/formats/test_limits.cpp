// The readers' limits (core/limits.h): a tiny file that claims a huge
// picture is refused without the picture being allocated first.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
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

void Le16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Le32(Bytes& b, uint32_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, v >> 16);
}
void Be16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void Be32(Bytes& b, uint32_t v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}
void Append(Bytes& b, std::initializer_list<int> bytes) {
  for (int v : bytes) b.push_back(static_cast<uint8_t>(v));
}

void PngChunk(Bytes& b, const char* type, const Bytes& data) {
  Be32(b, static_cast<uint32_t>(data.size()));
  const size_t start = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  Be32(b, static_cast<uint32_t>(crc32(0, b.data() + start, static_cast<uInt>(b.size() - start))));
}

// RLE8 picture that ends at once: legal, all black.
Bytes HugeRleBmp(uint32_t width, uint32_t height) {
  Bytes b = {'B', 'M'};
  Le32(b, 0);
  Le32(b, 0);
  Le32(b, 14 + 40 + 1024);
  Le32(b, 40);
  Le32(b, width);
  Le32(b, height);
  Le16(b, 1);
  Le16(b, 8);
  Le32(b, 1);  // RLE8
  for (int i = 0; i < 5; ++i) Le32(b, 0);
  b.resize(b.size() + 1024, 0x40);  // colour table
  Append(b, {0, 1});                // end of bitmap
  return b;
}

// JFIF start and a baseline JPEG header with one grey component and the shortest Huffman
// tables, then a scan that stops after a few bytes (accepted as truncated).
Bytes HugeJpeg() {
  Bytes b;
  Append(b, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  Append(b, {0xFF, 0xDB, 0, 67, 0});
  b.resize(b.size() + 64, 1);
  Append(b, {0xFF, 0xC0, 0, 11, 8});
  Be16(b, kHuge);
  Be16(b, kHuge);
  Append(b, {1, 1, 0x11, 0});
  for (int tableClass = 0; tableClass < 2; ++tableClass) {
    Append(b, {0xFF, 0xC4, 0, 20, tableClass << 4, 1});
    b.resize(b.size() + 15, 0);
    b.push_back(0);
  }
  Append(b, {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0, 0, 0, 0, 0xFF, 0xD9});
  return b;
}

Bytes HugePng() {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  Be32(ihdr, kHuge);
  Be32(ihdr, kHuge);
  Append(ihdr, {8, 2, 0, 0, 0});
  PngChunk(b, "IHDR", ihdr);
  PngChunk(b, "IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
  PngChunk(b, "IEND", {});
  return b;
}

Bytes HugeGif() {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  Le16(b, kHuge);
  Le16(b, kHuge);
  Append(b, {0x87, 0, 0});  // 256-entry global table
  b.resize(b.size() + 768, 0x80);
  b.push_back(',');
  Le32(b, 0);
  Le16(b, kHuge);
  Le16(b, kHuge);
  Append(b, {0, 8, 2, 0x00, 0x01, 0, ';'});
  return b;
}

// Uncompressed grey TIFF whose only strip holds 100 bytes.
Bytes HugeTiff() {
  Bytes b = {'I', 'I', 42, 0};
  Le32(b, 8);
  const uint32_t entries[][3] = {{256, 4, kHuge}, {257, 4, kHuge}, {258, 3, 8}, {259, 3, 1},
                                 {262, 3, 1},     {273, 4, 200},   {277, 3, 1}, {278, 4, kHuge},
                                 {279, 4, 100}};
  Le16(b, 9);
  for (const auto& e : entries) {
    Le16(b, e[0]);
    Le16(b, e[1]);
    Le32(b, 1);
    if (e[1] == 3) {
      Le16(b, e[2]);
      Le16(b, 0);
    } else {
      Le32(b, e[2]);
    }
  }
  Le32(b, 0);
  b.resize(300, 0x55);
  return b;
}

// A JPEG 2000 code stream: one 8-bit component in one tile, reversible
// 5/3 transform, and a tile with no data (decoded as blank).
Bytes HugeJ2k() {
  Bytes b;
  Append(b, {0xFF, 0x4F, 0xFF, 0x51, 0, 41, 0, 0});
  Be32(b, kHuge);
  Be32(b, kHuge);
  Be32(b, 0);
  Be32(b, 0);
  Be32(b, kHuge);
  Be32(b, kHuge);
  Be32(b, 0);
  Be32(b, 0);
  Append(b, {0, 1, 7, 1, 1});
  Append(b, {0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 5, 4, 4, 0, 1});
  Append(b, {0xFF, 0x5C, 0, 19, 0x40});
  b.resize(b.size() + 16, 0x40);
  Append(b, {0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0x93, 0xFF, 0xD9});
  return b;
}

// Placeable WMF with a 20000 x 20000 pixel box at 96 units per inch and an
// empty record list.
Bytes HugeWmf() {
  Bytes b;
  Le32(b, 0x9AC6CDD7u);
  Le16(b, 0);
  Le16(b, 0);
  Le16(b, 0);
  Le16(b, 20000);
  Le16(b, 20000);
  Le16(b, 96);
  Le32(b, 0);
  Le16(b, 0);
  Append(b, {1, 0, 9, 0, 0, 3});
  Le32(b, 12);  // size in words
  Le16(b, 0);
  Le32(b, 3);
  Le16(b, 0);
  Le32(b, 3);  // end-of-file record
  Le16(b, 0);
  return b;
}

// EMF whose frame is 20000 x 20000 pixels (in 0.01 mm).
Bytes HugeEmf() {
  Bytes b;
  Le32(b, 1);
  Le32(b, 88);
  for (int i = 0; i < 4; ++i) Le32(b, 0);  // bounds
  Le32(b, 0);
  Le32(b, 0);
  Le32(b, 529167);
  Le32(b, 529167);
  Le32(b, 0x464D4520u);
  Le32(b, 0x10000);
  Le32(b, 88 + 20);
  Le32(b, 2);
  b.resize(88, 0);
  Le32(b, 14);  // end of file
  Le32(b, 20);
  Le32(b, 0);
  Le32(b, 0);
  Le32(b, 20);
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
       [](const Bytes& b, DibImage& i) { return ReadPictureMemory(b.data(), b.size(), i, nullptr); }},
      {"emf", HugeEmf(),
       [](const Bytes& b, DibImage& i) { return ReadPictureMemory(b.data(), b.size(), i, nullptr); }},
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
  const auto dir = std::filesystem::temp_directory_path() /
                   ("inkbrite-limits-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
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
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace inkbrite
