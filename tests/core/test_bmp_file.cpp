// SPDX-License-Identifier: GPL-2.0-or-later
// BMP files: the conformance corpus, hand-made RLE and bit-field files,
// damaged files, and safe saving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "core/bmp_decode.h"
#include "core/byte_io.h"
#include "core/dib_image.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::Bgr;
using test::PixelAt;

TEST(BmpCorpus, EveryFileGivesItsExpectedResult) {
  INKBRITE_NEED_CORPUS();
  const auto rows = test::ReadManifest("bmp/");
  EXPECT_EQ(rows.size(), 106u);
  for (const auto& row : rows) {
    DibImage image;
    int bits = -1;
    const bool loaded = image.LoadBmp(test::CorpusDir() / row.path, &bits);
    test::ExpectAsListed(row, loaded ? 1 : 0, image, bits < 2 ? 1 : 0);
  }
}

TEST(BmpCorpus, LoadOnlyFilesDecodeSensibly) {
  INKBRITE_NEED_CORPUS();
  const fs::path suite = test::CorpusDir() / "bmp/bmpsuite";
  DibImage reference;
  ASSERT_TRUE(reference.LoadBmp(suite / "g/pal8.bmp"));
  // Same picture stored top-down, with a version 4 or 5 header, with a pixel
  // offset that leaves a gap after the colour table, or with a short OS/2
  // colour table: all must give the same pixels.
  for (const char* name : {"g/pal8topdown.bmp", "g/pal8v4.bmp", "g/pal8v5.bmp", "q/pal8offs.bmp",
                           "q/pal8os2v2.bmp", "q/pal8os2v2-16.bmp", "q/pal8os2sp.bmp"}) {
    SCOPED_TRACE(name);
    DibImage image;
    ASSERT_TRUE(image.LoadBmp(suite / name));
    EXPECT_EQ(image.PackedDib(), reference.PackedDib());
  }
  // Bit fields of any width bring full-scale channels to 255.
  DibImage rgb24;
  ASSERT_TRUE(rgb24.LoadBmp(suite / "g/rgb24.bmp"));
  for (const char* name : {"g/rgb16-565.bmp", "q/rgba32-1010102.bmp", "q/rgb32-111110.bmp"}) {
    SCOPED_TRACE(name);
    DibImage image;
    ASSERT_TRUE(image.LoadBmp(suite / name));
    ASSERT_EQ(image.Width(), rgb24.Width());
    // The top-left corner of the suite's picture is pure red.
    EXPECT_EQ(PixelAt(image, 0, 0), PixelAt(rgb24, 0, 0));
  }
}

// --- hand-made files -------------------------------------------------------

// A BMP file around `pixels` with a 40-byte header.
std::vector<uint8_t> MakeBmpFile(int32_t width, int32_t height, int bits, uint32_t compression,
                                 const std::vector<RgbQuad>& table,
                                 const std::vector<uint8_t>& extra,  // masks
                                 const std::vector<uint8_t>& pixels) {
  const auto offset = static_cast<uint32_t>(14 + 40 + extra.size() + table.size() * 4);
  std::vector<uint8_t> f = {'B', 'M'};
  test::PutLE(f, 4,
              {offset + uint32_t(pixels.size()), 0, offset, 40, uint32_t(width), uint32_t(height)});
  test::PutLE(f, 2, {1, uint32_t(bits)});
  test::PutLE(f, 4, {compression, 0, 0, 0, uint32_t(table.size()), 0});
  f.insert(f.end(), extra.begin(), extra.end());
  for (const RgbQuad& e : table) test::PutLE(f, 1, {e.blue, e.green, e.red, 0});
  f.insert(f.end(), pixels.begin(), pixels.end());
  return f;
}

bool Decode(const std::vector<uint8_t>& file, DibImage& image, int* bits = nullptr) {
  std::vector<uint8_t> dib;
  if (!DecodeBmp(file.data(), file.size(), dib, bits)) return false;
  return image.Attach(std::move(dib)) && image.ConvertTo24Bit();
}

const std::vector<RgbQuad> kFour = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}};
const Bgr kBlack{0, 0, 0}, kBlue{255, 0, 0}, kGreen{0, 255, 0}, kRed{0, 0, 255};

TEST(BmpRle, Rle8RunsLiteralsDeltasAndLineEnds) {
  // 5 x 3, rows counted from the bottom:
  //   bottom: run of 3 index 1, runs of 1 of index 2 and 3, end of line
  //   middle: delta (+2, +0), run of 2 index 3, end of line
  //   top:    literal of 3 (1, 2, 1) padded to 4 bytes, end of bitmap
  const std::vector<uint8_t> rle = {3, 1, 1, 2, 1, 3, 0, 0,   // bottom
                                    0, 2, 2, 0, 2, 3, 0, 0,   // middle
                                    0, 3, 1, 2, 1, 0, 0, 1};  // top
  DibImage image;
  ASSERT_TRUE(Decode(MakeBmpFile(5, 3, 8, 1, kFour, {}, rle), image));
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{kBlue, kGreen, kBlue, kBlack, kBlack,  // top
                                                   kBlack, kBlack, kRed, kRed, kBlack,    // delta
                                                   kBlue, kBlue, kBlue, kGreen, kRed}));
}

TEST(BmpRle, Rle4AlternatesNibbles) {
  // 5 x 1: run of 5 from 0x12 gives 1 2 1 2 1; then a second line is not
  // needed: end of bitmap. Then 3 x 1 literal 0x32 0x10 -> 3 2 1.
  DibImage image;
  ASSERT_TRUE(Decode(MakeBmpFile(5, 1, 4, 2, kFour, {}, {5, 0x12, 0, 1}), image));
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{kBlue, kGreen, kBlue, kGreen, kBlue}));
  ASSERT_TRUE(Decode(MakeBmpFile(3, 1, 4, 2, kFour, {}, {0, 3, 0x32, 0x10, 0, 1}), image));
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{kRed, kGreen, kBlue}));
}

TEST(BmpRle, DamagedStreamsAreRefused) {
  DibImage image;
  struct Case {
    const char* what;
    std::vector<uint8_t> rle;
  };
  const Case cases[] = {
      {"run past the row", {6, 1, 0, 1}},
      {"literal past the row", {0, 6, 1, 1, 1, 1, 1, 1, 0, 1}},
      {"delta past the row", {0, 2, 6, 0, 0, 1}},
      {"delta past the picture", {0, 2, 0, 3, 0, 1}},
      {"run above the top row", {0, 0, 0, 0, 1, 1, 0, 1}},
      {"literal past the data", {0, 5, 1, 1}},
      {"no end of bitmap", {5, 1}},
      {"cut escape", {5, 1, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Decode(MakeBmpFile(5, 2, 8, 1, kFour, {}, c.rle), image)) << c.what;
  }
  // Top-down RLE does not exist.
  EXPECT_FALSE(Decode(MakeBmpFile(5, -1, 8, 1, kFour, {}, {5, 1, 0, 1}), image));
  // RLE8 must be 8 bits and RLE4 4 bits.
  EXPECT_FALSE(Decode(MakeBmpFile(5, 1, 4, 1, kFour, {}, {5, 1, 0, 1}), image));
  EXPECT_FALSE(Decode(MakeBmpFile(5, 1, 8, 2, kFour, {}, {5, 1, 0, 1}), image));
  // A tiny file claiming a picture of more than 2^31 bytes.
  EXPECT_FALSE(Decode(MakeBmpFile(65535, 65535, 8, 1, kFour, {}, {0, 1}), image));
}

std::vector<uint8_t> Masks(uint32_t r, uint32_t g, uint32_t b) {
  std::vector<uint8_t> m;
  test::PutLE(m, 4, {r, g, b});
  return m;
}

TEST(BmpBitFields, ChannelsOfAnyPositionAndWidth) {
  // 5-6-5: full channels give 255; 16 of 31 gives round(16 * 255 / 31) = 132.
  const std::vector<uint8_t> px565 = {0xFF, 0xFF, 0x00, 0x80, 0x10, 0x00, 0, 0};
  DibImage image;
  ASSERT_TRUE(Decode(MakeBmpFile(3, 1, 16, 3, {}, Masks(0xF800, 0x07E0, 0x001F), px565), image));
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{{255, 255, 255}, {0, 0, 132}, {132, 0, 0}}));

  // 32 bits with 8-bit channels in an unusual order (x, b, g, r from the
  // top): values are taken as they are. 10-bit channels keep their top 8.
  std::vector<uint8_t> px(4);
  WriteLE32(px.data(), 0x11223344);
  ASSERT_TRUE(
      Decode(MakeBmpFile(1, 1, 32, 3, {}, Masks(0x000000FF, 0x0000FF00, 0x00FF0000), px), image));
  EXPECT_EQ(PixelAt(image, 0, 0), (Bgr{0x22, 0x33, 0x44}));
  WriteLE32(px.data(), (1023u << 20) | (512u << 10) | 3u);
  ASSERT_TRUE(
      Decode(MakeBmpFile(1, 1, 32, 3, {}, Masks(0x3FF00000, 0x000FFC00, 0x000003FF), px), image));
  EXPECT_EQ(PixelAt(image, 0, 0), (Bgr{0, 128, 255}));

  // Top-down bit-field rows are put back bottom-up.
  std::vector<uint8_t> two(8);
  WriteLE32(&two[0], 0x00FF0000);  // first stored row = top: red
  WriteLE32(&two[4], 0x000000FF);  // blue
  ASSERT_TRUE(Decode(MakeBmpFile(1, -2, 32, 3, {}, Masks(0xFF0000, 0xFF00, 0xFF), two), image));
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{kRed, kBlue}));
}

TEST(BmpBitFields, EmptyMaskOrWrongDepthIsRefused) {
  DibImage image;
  const std::vector<uint8_t> px(4);
  EXPECT_FALSE(Decode(MakeBmpFile(1, 1, 32, 3, {}, Masks(0xFF0000, 0, 0xFF), px), image));
  EXPECT_FALSE(Decode(MakeBmpFile(1, 1, 24, 3, {}, Masks(0xFF0000, 0xFF00, 0xFF), px), image));
  EXPECT_FALSE(Decode(MakeBmpFile(1, 1, 32, 4, {}, {}, px), image));  // embedded JPEG
}

TEST(BmpHeaders, LyingOrImpossibleHeadersAreRefused) {
  const std::vector<uint8_t> rows(16 * 2, 0x40);
  const auto good = MakeBmpFile(5, 2, 24, 0, {}, {}, rows);
  DibImage image;
  int bits = 0;
  ASSERT_TRUE(Decode(good, image, &bits));
  EXPECT_EQ(bits, 24);

  auto with = [&](size_t at, uint32_t value, int size = 4) {
    auto f = good;
    if (size == 4)
      WriteLE32(&f[at], value);
    else
      WriteLE16(&f[at], static_cast<uint16_t>(value));
    return f;
  };
  EXPECT_FALSE(Decode(with(0, 0x4142, 2), image)) << "not BM";
  EXPECT_FALSE(Decode(with(14, 66), image)) << "unknown header size";
  EXPECT_FALSE(Decode(with(18, 0), image)) << "width 0";
  EXPECT_FALSE(Decode(with(18, static_cast<uint32_t>(-5)), image)) << "negative width";
  EXPECT_FALSE(Decode(with(18, 65536), image)) << "width above 65535";
  EXPECT_FALSE(Decode(with(22, 0), image)) << "height 0";
  EXPECT_FALSE(Decode(with(22, 0x80000000u), image)) << "most negative height";
  EXPECT_FALSE(Decode(with(22, 70000), image)) << "height above 65535";
  EXPECT_FALSE(Decode(with(28, 7, 2), image)) << "bit count 7";
  EXPECT_FALSE(Decode(with(28, 64, 2), image)) << "bit count 64";
  EXPECT_FALSE(Decode(with(30, 9), image)) << "unknown compression";
  const auto indexed = MakeBmpFile(2, 1, 8, 0, kFour, {}, {3, 1, 0, 0});
  ASSERT_TRUE(Decode(indexed, image));
  auto tableCut = indexed;
  WriteLE32(&tableCut[46], 200);
  EXPECT_FALSE(Decode(tableCut, image)) << "colour table past the end at 8 bits";
  EXPECT_FALSE(Decode(with(22, 3), image)) << "rows past the end";
  auto cut = good;
  cut.resize(cut.size() - 1);
  EXPECT_FALSE(Decode(cut, image)) << "last byte missing";
  for (size_t n = 0; n < 30; ++n) {
    std::vector<uint8_t> head(good.begin(), good.begin() + static_cast<long>(n));
    EXPECT_FALSE(Decode(head, image)) << "first " << n << " bytes";
  }
  // A pixel offset that points outside the file falls back to the rows
  // right after the colour table.
  EXPECT_TRUE(Decode(with(10, 0xFFFFFFF0u), image));
  EXPECT_EQ(PixelAt(image, 4, 1), (Bgr{0x40, 0x40, 0x40}));
}

// Above 8 bits a colour table is only a display hint: a colour count with no
// table behind it changes nothing, wherever the pixel offset points.
TEST(BmpHeaders, DeepPicturesNeedNoColourTable) {
  const std::vector<uint8_t> rows(16 * 2, 0x40);
  const auto plain = MakeBmpFile(5, 2, 24, 0, {}, {}, rows);
  DibImage reference;
  ASSERT_TRUE(Decode(plain, reference));
  for (const uint32_t count : {1u, 256u, 0x10000000u, 0xFFFFFFFFu}) {
    for (const uint32_t offset : {54u, 0xFFFFFFF0u}) {
      auto f = plain;
      WriteLE32(&f[46], count);
      WriteLE32(&f[10], offset);
      DibImage image;
      int bits = 0;
      ASSERT_TRUE(Decode(f, image, &bits)) << count << " colours, offset " << offset;
      EXPECT_EQ(bits, 24);
      EXPECT_EQ(image.PackedDib(), reference.PackedDib());
    }
  }
}

TEST(BmpHeaders, ColourTableShorterThanTheDepthGivesBlackForMissingEntries) {
  // 1 bit, one table entry (white): index 1 has no entry.
  DibImage image;
  ASSERT_TRUE(Decode(MakeBmpFile(2, 1, 1, 0, {{255, 255, 255, 0}}, {}, {0x40, 0, 0, 0}), image));
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{{255, 255, 255}, kBlack}));
}

// Every prefix and thousands of header mutations of real files: the reader
// must refuse or decode, never touch memory outside its buffers (run under
// AddressSanitizer by `make asan`).
TEST(BmpHeaders, TruncatedAndMutatedFilesNeverCrash) {
  INKBRITE_NEED_CORPUS();
  std::mt19937 rng(1234);
  for (const char* name : {"g/pal1.bmp", "g/pal4rle.bmp", "g/pal8rle.bmp", "g/pal8os2.bmp",
                           "g/rgb16-565pal.bmp", "g/rgb32bf.bmp", "q/rgba32h56.bmp"}) {
    const auto file = test::ReadAll(test::CorpusDir() / "bmp/bmpsuite" / name);
    ASSERT_FALSE(file.empty()) << name;
    for (size_t n = 0; n < file.size(); n += 1 + n / 16) {
      std::vector<uint8_t> dib;
      std::vector<uint8_t> head(file.begin(), file.begin() + static_cast<long>(n));
      DecodeBmp(head.data(), head.size(), dib, nullptr);
    }
    for (int i = 0; i < 1500; ++i) {
      auto f = file;
      const int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits; ++e) {
        // Mostly the headers and the first data bytes, sometimes anywhere.
        const size_t span = (rng() % 4 == 0) ? f.size() : std::min<size_t>(f.size(), 160);
        f[rng() % span] = static_cast<uint8_t>(rng());
      }
      // Huge pictures from a few bytes of RLE are a resource question
      // checked elsewhere; keep each decode small here.
      const int64_t w = ReadLE32s(&f[18]), h = ReadLE32s(&f[22]);
      if (ReadLE32(&f[14]) != 12 && std::llabs(w) * std::llabs(h) > 4'000'000) continue;
      std::vector<uint8_t> dib;
      DibImage image;
      if (DecodeBmp(f.data(), f.size(), dib, nullptr)) {
        ASSERT_TRUE(image.Attach(std::move(dib))) << name << " mutation " << i;
        ASSERT_TRUE(image.ConvertTo24Bit());
      }
    }
  }
}

// --- saving ---------------------------------------------------------------

TEST(BmpSave, WritesHeaderSizesAndRoundTrips) {
  test::TempDir dir;
  const DibImage image = test::MakePattern(3, 2);
  ASSERT_TRUE(image.SaveBmp(dir / "a.bmp"));
  const auto f = test::ReadAll(dir / "a.bmp");
  ASSERT_EQ(f.size(), 14u + 40u + 24u);
  // "BM", file size, reserved, pixel offset, image size.
  EXPECT_EQ((std::vector<uint32_t>{ReadLE16(&f[0]), ReadLE32(&f[2]), ReadLE32(&f[6]),
                                   ReadLE32(&f[10]), ReadLE32(&f[14 + 20])}),
            (std::vector<uint32_t>{0x4D42, 78, 0, 54, 24}));
  DibImage back;
  int bits = 0;
  ASSERT_TRUE(back.LoadBmp(dir / "a.bmp", &bits));
  EXPECT_EQ(bits, 24);
  EXPECT_EQ(back.PackedDib(), image.PackedDib());
}

TEST(BmpSave, IndexedImagesKeepTheirColourTable) {
  test::TempDir dir;
  DibImage indexed;
  ASSERT_TRUE(indexed.Attach(test::MakeDib(9, 2, 1, {{0, 0, 0, 0}, {10, 20, 30, 0}},
                                           {{0x80, 0x00, 0, 0}, {0x00, 0x80, 0, 0}})));
  ASSERT_TRUE(indexed.SaveBmp(dir / "mono.bmp"));
  const auto f = test::ReadAll(dir / "mono.bmp");
  EXPECT_EQ(ReadLE32(&f[10]), 14u + 40u + 8u);
  EXPECT_EQ(f.size(), 14u + 40u + 8u + 8u);
  DibImage back;
  int bits = 0;
  ASSERT_TRUE(back.LoadBmp(dir / "mono.bmp", &bits));
  EXPECT_EQ(bits, 1);
  EXPECT_EQ(PixelAt(back, 0, 0), (Bgr{10, 20, 30}));
  EXPECT_EQ(PixelAt(back, 8, 1), (Bgr{10, 20, 30}));
  EXPECT_EQ(PixelAt(back, 1, 0), kBlack);
}

TEST(BmpSave, FailuresLeaveNoFileAndNoDebris) {
  test::TempDir dir;
  const DibImage image = test::MakePattern(4, 4);
  EXPECT_FALSE(DibImage{}.SaveBmp(dir / "empty.bmp"));
  EXPECT_FALSE(fs::exists(dir / "empty.bmp"));
  EXPECT_FALSE(image.SaveBmp(dir / "missing-folder" / "a.bmp"));
  // A folder standing where the file should go cannot be replaced.
  fs::create_directory(dir / "taken.bmp");
  EXPECT_FALSE(image.SaveBmp(dir / "taken.bmp"));
  EXPECT_TRUE(fs::is_directory(dir / "taken.bmp"));
  // Core-header images are not written.
  DibImage core;
  ASSERT_TRUE(core.Attach(test::MakeDib(1, 1, 1, {{}, {}}, {{0, 0, 0, 0}}, true)));
  EXPECT_FALSE(core.SaveBmp(dir / "core.bmp"));
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"taken.bmp"});
}

TEST(BmpSave, ReplacesAnExistingFileWhole) {
  test::TempDir dir;
  test::WriteAll(dir / "page.bmp", std::vector<uint8_t>(5000, 0x55));
  fs::permissions(dir / "page.bmp",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const DibImage image = test::MakePattern(2, 2);
  ASSERT_TRUE(image.SaveBmp(dir / "page.bmp"));
  EXPECT_EQ(fs::file_size(dir / "page.bmp"), 14u + 40u + 16u);
  EXPECT_EQ(fs::status(dir / "page.bmp").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"page.bmp"});
}

// In place or copied, the block is the one DecodeBmp makes; a packed file's
// own buffer becomes the block.
TEST(BmpLoad, InPlaceDecodingGivesTheSameBlock) {
  const std::vector<uint8_t> rows24(16 * 2, 0x40);
  std::vector<RgbQuad> full(256);
  for (int i = 0; i < 256; ++i) full[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
  const auto packed8 = MakeBmpFile(3, 2, 8, 0, full, {}, {1, 2, 3, 0, 200, 100, 50, 0});
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool inPlace;
  };
  std::vector<Case> cases = {
      {"24 bits", MakeBmpFile(5, 2, 24, 0, {}, {}, rows24), true},
      {"8 bits, full table", packed8, true},
      {"8 bits, short table", MakeBmpFile(2, 1, 8, 0, kFour, {}, {3, 1, 0, 0}), false},
      {"24 bits, colour hint", MakeBmpFile(5, 2, 24, 0, kFour, {}, rows24), false},
      {"RLE8", MakeBmpFile(2, 1, 8, 1, kFour, {}, {2, 3, 0, 1}), false},
  };
  auto topDown = cases[0].file;
  WriteLE32(&topDown[22], static_cast<uint32_t>(-2));
  cases.push_back({"top-down", topDown, false});
  auto gap = packed8;
  gap.insert(gap.begin() + 14 + 40 + 1024, {9, 9, 9, 9});
  WriteLE32(&gap[10], 14 + 40 + 1024 + 4);
  cases.push_back({"gap before the rows", gap, false});
  auto trailing = cases[0].file;
  trailing.resize(trailing.size() + 7, 0xEE);
  cases.push_back({"bytes after the rows", trailing, true});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> expected;
    int expectedBits = 0;
    ASSERT_TRUE(DecodeBmp(c.file.data(), c.file.size(), expected, &expectedBits));
    const uint8_t* buffer = c.file.data();
    int bits = 0;
    ASSERT_TRUE(DecodeBmpInPlace(c.file, &bits));
    EXPECT_EQ(c.file, expected);
    EXPECT_EQ(bits, expectedBits);
    EXPECT_EQ(c.file.data() == buffer, c.inPlace);
  }
  std::vector<uint8_t> bad = {'B', 'M', 1, 2, 3};
  EXPECT_FALSE(DecodeBmpInPlace(bad, nullptr));
  EXPECT_EQ(bad, (std::vector<uint8_t>{'B', 'M', 1, 2, 3}));
}

// Loading or saving a page holds it once: the file's bytes become the page,
// and the writer sends the page's own rows (a second copy would double the
// peak of a large page).
TEST(BmpLoad, LoadAndSaveHoldOneCopyOfThePage) {
  if (!test::PeakMemory::Available()) GTEST_SKIP() << "the peak memory cannot be measured here";
  test::TempDir dir;
  const int64_t pageBytes = int64_t{3000} * 9000;
  {
    const DibImage page = test::MakeNoise(3000, 3000);
    const test::PeakMemory peak;
    ASSERT_TRUE(page.SaveBmp(dir / "page.bmp"));
    EXPECT_LT(peak.GrowthBytes(), pageBytes / 4) << "save";
  }
  DibImage loaded;
  const test::PeakMemory peak;
  ASSERT_TRUE(loaded.LoadBmp(dir / "page.bmp"));
  EXPECT_LT(peak.GrowthBytes(), pageBytes * 5 / 4) << "load";
  EXPECT_EQ(loaded.Width(), 3000);
}

TEST(BmpLoad, MissingUnreadableAndNonBmpFilesGiveFalseAndKeepTheImage) {
  test::TempDir dir;
  DibImage image = test::MakePattern(2, 2);
  const auto before = image.PackedDib();
  EXPECT_FALSE(image.LoadBmp(dir / "none.bmp"));
  EXPECT_FALSE(image.LoadBmp(dir.path()));  // a folder
  test::WriteAll(dir / "text.bmp", {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(image.LoadBmp(dir / "text.bmp"));
  EXPECT_EQ(image.PackedDib(), before);
}

}  // namespace
}  // namespace inkbrite
