// SPDX-License-Identifier: GPL-2.0-or-later
// Metafile reading: picture size from the headers, drawing over white, the
// corpus files and damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "formats/metafile/metafile_codec.h"
#include "formats/metafile/metafile_pvt.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::PutLE;

// A placeable WMF whose box is (left, top, right, bottom) at `inch` units per
// inch, holding the given records (function, parameter words) and the end
// record.
std::vector<uint8_t> PlaceableWmf(int left, int top, int right, int bottom, int inch,
                                  const std::vector<std::vector<uint16_t>>& records) {
  std::vector<uint8_t> out;
  PutLE(out, 4, {0x9AC6CDD7u});
  PutLE(out, 2,
        {0, uint16_t(left), uint16_t(top), uint16_t(right), uint16_t(bottom), uint16_t(inch)});
  PutLE(out, 4, {0});
  uint16_t checksum = 0;
  for (size_t i = 0; i < 20; i += 2) checksum ^= static_cast<uint16_t>(out[i] | (out[i + 1] << 8));
  PutLE(out, 2, {checksum, 1, 9, 0x300});
  uint32_t words = 9 + 3;
  uint32_t largest = 3;
  for (const auto& r : records) {
    words += static_cast<uint32_t>(r.size()) + 2;
    largest = std::max<uint32_t>(largest, static_cast<uint32_t>(r.size()) + 2);
  }
  PutLE(out, 4, {words});
  PutLE(out, 2, {1});
  PutLE(out, 4, {largest});
  PutLE(out, 2, {0});
  for (const auto& r : records) {
    PutLE(out, 4, {static_cast<uint32_t>(r.size()) + 2});
    for (uint16_t w : r) PutLE(out, 2, {w});
  }
  PutLE(out, 4, {3});
  PutLE(out, 2, {0});
  return out;
}

// An EMF header record only, with the given frame in 0.01 mm.
std::vector<uint8_t> EmfHeader(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  std::vector<uint8_t> out;
  PutLE(out, 4,
        {1, 88, 0, 0, 0, 0, uint32_t(left), uint32_t(top), uint32_t(right), uint32_t(bottom),
         0x464D4520u});
  out.resize(88, 0);
  return out;
}

TEST(Metafile, SizeFromHeadersAtScreenResolution) {
  int32_t w = 0;
  int32_t h = 0;
  // 21.0 x 29.7 cm: 8268 x 11693 units at 1000 per inch, either way round.
  for (const auto& a4 :
       {PlaceableWmf(10866, 9154, 19134, 20847, 1000, {}),
        PlaceableWmf(19134, 20847, 10866, 9154, 1000, {}), EmfHeader(0, 0, 21000, 29700)}) {
    ASSERT_TRUE(MetafileHeaderSize(a4.data(), a4.size(), w, h));
    EXPECT_EQ(std::pair(w, h), std::pair(794, 1123));
  }
  auto noInch = PlaceableWmf(0, 0, 100, 100, 0, {});
  auto emptyBox = PlaceableWmf(5, 5, 5, 100, 1000, {});
  auto badFrame = EmfHeader(100, 0, 0, 100);
  for (const auto* bytes : {&noInch, &emptyBox, &badFrame})
    EXPECT_FALSE(MetafileHeaderSize(bytes->data(), bytes->size(), w, h));

  EXPECT_EQ(794, metafile::MulDiv(21001, 96, 2540));
  EXPECT_EQ(-3, metafile::MulDiv(-5, 1, 2));  // halves away from zero
  EXPECT_EQ(-1, metafile::MulDiv(1, 1, 0));
}

// Pictures beyond the limits are refused from the header alone: a box of
// 32767 units at 1 per inch would be over three million pixels a side.
TEST(Metafile, RefusesHugePicturesBeforeDrawing) {
  DibImage image;
  auto wide = PlaceableWmf(-32768, 0, 32767, 10, 1, {});
  auto emf = EmfHeader(0, 0, 2000000000, 2000000000);
  auto tooManyBytes = EmfHeader(0, 0, 1700000, 1700000);  // 64260 x 64260
  int grey = 7;
  for (const auto* bytes : {&wide, &emf, &tooManyBytes})
    EXPECT_EQ(0, ReadPictureMemory(bytes->data(), bytes->size(), image, &grey));
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_EQ(7, grey);
}

// One inch square page with a black rectangle over its bottom-right quarter.
TEST(Metafile, DrawsPlaceablePageOverWhite) {
  const std::vector<std::vector<uint16_t>> records = {
      {0x020B, 0, 0},                  // SetWindowOrg
      {0x020C, 1000, 1000},            // SetWindowExt
      {0x02FC, 0, 0, 0, 0},            // CreateBrushIndirect: solid black
      {0x012D, 0},                     // SelectObject
      {0x041B, 1000, 1000, 500, 500},  // Rectangle(500, 500, 1000, 1000)
  };
  auto wmf = PlaceableWmf(0, 0, 1000, 1000, 1000, records);
  DibImage image;
  int grey = 1;
  ASSERT_EQ(1, ReadPictureMemory(wmf.data(), wmf.size(), image, &grey));
  EXPECT_EQ(0, grey);
  ASSERT_TRUE(image.Is24Bit());
  ASSERT_EQ(std::pair(image.Width(), image.Height()), std::pair(96, 96));
  const test::Bgr white{255, 255, 255};
  for (auto [x, y] : {std::pair{10, 10}, {80, 10}, {10, 80}})
    EXPECT_EQ(white, test::PixelAt(image, x, y));
  EXPECT_EQ((test::Bgr{0, 0, 0}), test::PixelAt(image, 75, 75));
}

// Text bytes reach the SVG document as the metafile holds them; markup
// characters and ANSI bytes must not make it unreadable.
TEST(Metafile, TextWithMarkupAndAnsiBytesLoads) {
  // TextOut(100, 100, "a<b&\xE9")
  const std::vector<std::vector<uint16_t>> records = {
      {0x0521, 5, 'a' | ('<' << 8), 'b' | ('&' << 8), 0xE9, 100, 100}};
  auto wmf = PlaceableWmf(0, 0, 1000, 1000, 1000, records);
  DibImage image;
  ASSERT_EQ(1, ReadPictureMemory(wmf.data(), wmf.size(), image, nullptr));
  EXPECT_EQ(96, image.Width());
}

TEST(Metafile, A4PlaceableFileKeepsItsPageAndMargins) {
  INKBRITE_NEED_CORPUS();
  DibImage image;
  int grey = -1;
  ASSERT_EQ(1, ReadPictureFile(test::CorpusDir() / "metafile/libwmf/fjftest.wmf", image, &grey));
  ASSERT_EQ(std::pair(image.Width(), image.Height()), std::pair(794, 1123));
  const test::Bgr white{255, 255, 255};
  for (auto [x, y] : {std::pair{0, 0}, {793, 0}, {0, 1122}, {793, 1122}})
    EXPECT_EQ(white, test::PixelAt(image, x, y));
  int coloured = 0;
  for (int y = 0; y < image.Height(); y += 7)
    for (int x = 0; x < image.Width(); x += 7) coloured += test::PixelAt(image, x, y) != white;
  EXPECT_GT(coloured, 100);
}

// Every prefix of the valid files (in steps) and a few corrupted copies are
// read without crashing; a result of 1 always comes with a picture.
TEST(Metafile, DamagedDataNeverCrashes) {
  INKBRITE_NEED_CORPUS();
  for (const char* name :
       {"metafile/libwmf/fjftest.wmf", "metafile/libwmf/text.wmf", "metafile/libwmf/p0000016.wmf",
        "metafile/pillow/drawing.emf", "metafile/libemf2svg/test-012.emf"}) {
    SCOPED_TRACE(name);
    const auto bytes = test::ReadAll(test::CorpusDir() / name);
    ASSERT_FALSE(bytes.empty());
    const size_t step = std::max<size_t>(1, bytes.size() / 40);
    for (size_t n = 0; n < bytes.size(); n += step) {
      DibImage image;
      const int result = ReadPictureMemory(bytes.data(), n, image, nullptr);
      EXPECT_EQ(result == 1, image.Is24Bit());
    }
    for (size_t at = 40; at < bytes.size(); at += bytes.size() / 8) {
      auto damaged = bytes;
      for (size_t i = at; i < std::min(bytes.size(), at + 16); ++i) damaged[i] ^= 0xA5;
      DibImage image;
      const int result = ReadPictureMemory(damaged.data(), damaged.size(), image, nullptr);
      EXPECT_EQ(result == 1, image.Is24Bit());
    }
  }
  DibImage kept = test::MakePattern(3, 2);
  const std::vector<uint8_t> junk(100, 0x5A);
  EXPECT_EQ(0, ReadPictureMemory(junk.data(), junk.size(), kept, nullptr));
  EXPECT_EQ(3, kept.Width());  // a failed read leaves the image as it was
  EXPECT_EQ(0, ReadPictureFile(test::CorpusDir() / "metafile/missing.wmf", kept, nullptr));
}

}  // namespace
}  // namespace inkbrite
