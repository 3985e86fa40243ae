// SPDX-License-Identifier: GPL-2.0-or-later
// The readers' limits (core/limits.h): a tiny file that claims a huge
// picture is refused without the picture being allocated first.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

#include "core/bmp_decode.h"
#include "core/limits.h"
#include "core/ximage.h"
#include "formats/apart_codecs.h"
#include "formats/avif/avif_codec.h"
#include "formats/gif/gif_codec.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/jxl/jxl_codec.h"
#include "formats/metafile/metafile_codec.h"
#include "formats/plain_pixels.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/webp/webp_codec.h"
#include "tests/test_support.h"

// The largest single allocation request since the last reset: the pixel
// blocks and libtiff's raster are made through operator new, libwebp,
// libavif, dav1d and libjxl through the malloc family, so a reader that
// allocates the claimed picture before it fails shows up here.
// malloc and free are called through these pointers: GCC otherwise takes
// the replaced operators for the standard ones and warns about the pairing.
namespace {
std::atomic<size_t> g_largestNew{0};
void* (*volatile g_malloc)(size_t) = std::malloc;
void (*volatile g_free)(void*) = std::free;

void NoteRequest(size_t n) {
  size_t seen = g_largestNew.load(std::memory_order_relaxed);
  while (n > seen && !g_largestNew.compare_exchange_weak(seen, n)) {
  }
}
}  // namespace

void* operator new(size_t n) {
  NoteRequest(n);
  if (void* p = g_malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// libjxl allocates with new (std::nothrow) and frees with plain delete: the
// sanitizer builds would otherwise pair their own allocation with g_free.
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  NoteRequest(n);
  return g_malloc(n == 0 ? 1 : n);
}
void operator delete(void* p) noexcept { g_free(p); }
void operator delete(void* p, size_t) noexcept { g_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { g_free(p); }

// The C libraries' requests: this program's malloc family notes each size
// and hands it to glibc's own allocator (a replacement glibc supports), so
// every block, whoever frees it, belongs to the one heap. Sanitizer builds
// keep their own allocator and see only the operator new requests.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSeesMallocRequests = false;
#else
constexpr bool kSeesMallocRequests = true;
extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t count, size_t n);
void* __libc_realloc(void* p, size_t n);
void* __libc_memalign(size_t alignment, size_t n);
void __libc_free(void* p);

void* malloc(size_t n) noexcept {
  NoteRequest(n);
  return __libc_malloc(n);
}
void* calloc(size_t count, size_t n) noexcept {
  NoteRequest(n != 0 && count > SIZE_MAX / n ? SIZE_MAX : count * n);
  return __libc_calloc(count, n);
}
void* realloc(void* p, size_t n) noexcept {
  NoteRequest(n);
  return __libc_realloc(p, n);
}
void free(void* p) noexcept { __libc_free(p); }
void* memalign(size_t alignment, size_t n) noexcept {
  NoteRequest(n);
  return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) noexcept { return memalign(alignment, n); }
int posix_memalign(void** out, size_t alignment, size_t n) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = memalign(alignment, n);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
}
#endif

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

// Plain grey pixels of a small page.
PlainPixels SmallPixels(int channels) {
  PlainPixels pixels;
  pixels.width = pixels.height = 16;
  pixels.channels = channels;
  pixels.bytes.assign(pixels.RowBytes() * 16, 0x80);
  return pixels;
}

// A real 16 x 16 lossy WebP (our writer's) whose frame header claims
// kHuge x kHuge.
Bytes HugeWebp() {
  const test::TempDir dir;
  DibImage page;
  EXPECT_TRUE(page.Create(16, 16, 24));
  EXPECT_EQ(WriteWebpFile(dir / "small.webp", page, 0, 75), 1);
  Bytes b = test::ReadAll(dir / "small.webp");
  const uint8_t startCode[] = {0x9D, 0x01, 0x2A};
  const auto at = std::search(b.begin(), b.end(), startCode, startCode + 3);
  EXPECT_NE(at, b.end());
  if (at == b.end()) return b;
  Bytes size;
  PutLE(size, 2, {kHuge, kHuge});  // 14 bits each, no scaling
  std::copy(size.begin(), size.end(), at + 3);
  return b;
}

// A lossless WebP whose 8 bytes of coded data make a 7170 x 16353 picture
// (every code of one symbol, so no pixel takes a bit), padded by an unknown
// chunk of 8 KiB that nothing decodes: the file's size alone would let the
// picture through.
Bytes PaddedTinyLosslessWebp() {
  Bytes b = {'R', 'I', 'F', 'F'};
  PutLE(b, 4, {4 + 16 + 8 + 8192});
  for (const char c : std::string("WEBPVP8L")) b.push_back(static_cast<uint8_t>(c));
  PutLE(b, 4, {8});
  for (const uint8_t c : {0x2f, 0x01, 0x1c, 0xf8, 0x0f, 0x88, 0x88, 0x08}) b.push_back(c);
  for (const char c : std::string("JUNK")) b.push_back(static_cast<uint8_t>(c));
  PutLE(b, 4, {8192});
  b.resize(b.size() + 8192, 0);
  return b;
}

// A real 16 x 16 AVIF (our encoder's) whose image size property claims
// kHuge x kHuge: the container says one size, the AV1 data another.
Bytes HugeAvif(Bytes& small) {
  EXPECT_TRUE(EncodeAvifPixels(SmallPixels(3), 75, small));
  Bytes b = small;
  const char* ispe = "ispe";
  const auto at = std::search(b.begin(), b.end(), ispe, ispe + 4);
  EXPECT_NE(at, b.end());
  if (at == b.end()) return b;
  Bytes size;
  PutBE(size, 4, {kHuge, kHuge});
  std::copy(size.begin(), size.end(), at + 8);  // after version and flags
  return b;
}

// The bits of a JPEG XL code stream, least significant first.
class Bits {
 public:
  explicit Bits(const Bytes& bytes = {}) : bytes_(bytes) {}
  uint32_t Get(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++used_) {
      const uint32_t bit = used_ / 8 < bytes_.size() ? (bytes_[used_ / 8] >> (used_ % 8)) & 1 : 0;
      value |= bit << i;
    }
    return value;
  }
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i, ++used_) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << (used_ % 8));
    }
  }
  size_t Used() const { return used_; }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t used_ = 0;
};

// A real 16 x 16 JPEG XL code stream (our encoder's, 8-bit sRGB: the
// default image metadata and transforms) whose size header is rewritten to claim
// side x side; its frame follows at the next whole byte as before.
Bytes JxlClaiming(uint32_t side) {
  Bytes small;
  EXPECT_TRUE(EncodeJxlPixels(SmallPixels(3), 75, false, small));
  EXPECT_TRUE(small.size() > 2 && small[0] == 0xFF && small[1] == 0x0A);
  Bits in(small);
  in.Get(16);
  // The size header: a small flag, the height, a ratio, the width.
  const auto skipSize = [&in](bool small8) {
    if (small8) {
      in.Get(5);
    } else {
      const int widths[] = {9, 13, 18, 30};
      in.Get(widths[in.Get(2)]);
    }
  };
  const bool small8 = in.Get(1) != 0;
  skipSize(small8);
  if (in.Get(3) == 0) skipSize(small8);
  EXPECT_EQ(in.Get(2), 3u);  // default metadata and transforms: the frame starts at the next byte
  Bits out;
  out.Put(0xFF, 8);
  out.Put(0x0A, 8);
  out.Put(0, 1);  // not small
  out.Put(2, 2);  // height - 1 in 18 bits
  out.Put(side - 1, 18);
  out.Put(1, 3);  // width = height
  out.Put(3, 2);  // default metadata and transforms
  Bytes b = out.bytes();
  b.insert(b.end(), small.begin() + static_cast<std::ptrdiff_t>((in.Used() + 7) / 8), small.end());
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

// The WebP, AVIF and JPEG XL readers the same way, in this process; and the
// AVIF and JPEG XL readers through the helper program, which refuses the
// files while this side never makes room for the claimed picture.
TEST(ReaderLimits, ModernFilesClaimingHugePicturesAreRefusedUpFront) {
  Bytes smallAvif;
  const Bytes avif = HugeAvif(smallAvif);
  const Bytes jxl = JxlClaiming(kHuge);
  struct Case {
    const char* name;
    Bytes bytes;
    int (*read)(const uint8_t*, size_t, DibImage&, int*);
  };
  const Case cases[] = {
      {"webp", HugeWebp(), DecodeWebpBytes},
      {"webp, padded", PaddedTinyLosslessWebp(), DecodeWebpBytes},
      {"avif", avif, DecodeAvifBytes},
      {"jxl", jxl, DecodeJxlBytes},
      {"avif apart", avif, DecodeAvifApart},
      {"jxl apart", jxl, DecodeJxlApart},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DibImage image;
    g_largestNew = 0;
    EXPECT_EQ(c.read(c.bytes.data(), c.bytes.size(), image, nullptr), 0);
    if (kSeesMallocRequests) {
      EXPECT_LT(g_largestNew.load(), kSmallAllocation);
    }
    EXPECT_TRUE(image.IsEmpty());
  }
  // The same AVIF before its size was changed, and the JPEG XL rewritten
  // with its true size, read in both places.
  ASSERT_FALSE(CodecHelperPath().empty());
  const Bytes smallJxl = JxlClaiming(16);
  for (const auto read : {DecodeAvifBytes, DecodeAvifApart, DecodeJxlBytes, DecodeJxlApart}) {
    const bool avifReader = read == DecodeAvifBytes || read == DecodeAvifApart;
    const Bytes& file = avifReader ? smallAvif : smallJxl;
    DibImage image;
    EXPECT_EQ(read(file.data(), file.size(), image, nullptr), 1);
    EXPECT_EQ(image.Width(), 16);
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
