// SPDX-License-Identifier: GPL-2.0-or-later
// DibImage: block layout, attaching, depth conversion, rotation, mirroring.
#include <gtest/gtest.h>

#include "core/byte_io.h"
#include "core/dib_image.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::Bgr;
using test::MakeDib;
using test::MakePattern;
using test::PixelAt;

TEST(DibImageLayout, CreateWritesAPlainBottomUpHeaderAndZeroRows) {
  DibImage image;
  ASSERT_TRUE(image.Create(5, 3, 24));
  EXPECT_EQ(image.RowBytes(), 16);  // 15 bytes padded to 16
  EXPECT_EQ(image.Bounds(), (DibRect{0, 0, 5, 3}));
  const auto& dib = image.PackedDib();
  ASSERT_EQ(dib.size(), 40u + 16u * 3u);
  // Header size, width, height (positive: bottom-up), planes, depth.
  EXPECT_EQ((std::vector<uint32_t>{ReadLE32(dib.data()), ReadLE32(dib.data() + 4),
                                   ReadLE32(dib.data() + 8), ReadLE16(dib.data() + 12),
                                   ReadLE16(dib.data() + 14)}),
            (std::vector<uint32_t>{40, 5, 3, 1, 24}));
  for (size_t i = 16; i < 40; ++i) EXPECT_EQ(dib[i], 0) << "header byte " << i;
  for (size_t i = 40; i < dib.size(); ++i) ASSERT_EQ(dib[i], 0);
  // Row 0 (top) is the last stored row.
  EXPECT_EQ(image.Row(0), image.Bits() + 2 * 16);
}

TEST(DibImageLayout, RowBytesPadToFourBytes) {
  EXPECT_EQ(DibImage::RowBytesFor(9, 1), 4);
  EXPECT_EQ(DibImage::RowBytesFor(33, 1), 8);
  EXPECT_EQ(DibImage::RowBytesFor(5, 24), 16);
  EXPECT_EQ(DibImage::RowBytesFor(3, 4), 4);
  EXPECT_EQ(DibImage::RowBytesFor(65535, 32), 262140);
}

TEST(DibImageLayout, CreateRefusesImpossibleSizes) {
  DibImage image;
  EXPECT_FALSE(image.Create(0, 10, 24));
  EXPECT_FALSE(image.Create(10, 0, 24));
  EXPECT_FALSE(image.Create(-1, 10, 24));
  EXPECT_FALSE(image.Create(65536, 1, 24));
  EXPECT_FALSE(image.Create(40000, 40000, 24));  // 4.8 GB: above the block limit
  EXPECT_FALSE(image.Create(4, 4, 8));           // only 24-bit images are made
  EXPECT_TRUE(image.IsEmpty());
}

TEST(DibImageAttach, RefusesBlocksThatDoNotHoldTheirPicture) {
  auto good = MakeDib(4, 2, 24, {}, {std::vector<uint8_t>(12), std::vector<uint8_t>(12)});
  DibImage image;
  EXPECT_FALSE(image.Attach({}));
  EXPECT_FALSE(image.Attach(std::vector<uint8_t>(good.begin(), good.end() - 1)));
  auto with = [&](size_t at, uint32_t value) {
    auto block = good;
    WriteLE32(block.data() + at, value);
    return block;
  };
  EXPECT_FALSE(image.Attach(with(0, 41))) << "header size";
  EXPECT_FALSE(image.Attach(with(8, static_cast<uint32_t>(-2)))) << "top-down";
  EXPECT_FALSE(image.Attach(with(16, 1))) << "compressed";
  EXPECT_FALSE(image.Attach(with(12, 12u << 16 | 1))) << "12 bits";
  EXPECT_FALSE(image.Attach(with(32, 0x40000000))) << "colour table far past the block";
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_TRUE(image.Attach(good));
  EXPECT_EQ(image.Width(), 4);
}

TEST(DibImageConvert, IndexedDepthsTakeTheMostSignificantBitsFirst) {
  const std::vector<RgbQuad> table = {
      {0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {9, 8, 7, 0}};
  const Bgr k{0, 0, 0}, b{255, 0, 0}, g{0, 255, 0}, r{0, 0, 255}, other{9, 8, 7};
  auto converted = [&](int32_t w, int32_t bits, size_t entries,
                       const std::vector<std::vector<uint8_t>>& rows) {
    DibImage image;
    const std::vector<RgbQuad> part(table.begin(), table.begin() + static_cast<long>(entries));
    EXPECT_TRUE(image.Attach(MakeDib(w, static_cast<int32_t>(rows.size()), bits, part, rows)));
    EXPECT_TRUE(image.ConvertTo24Bit());
    return test::Pixels(image);
  };
  // 1 bit: 0b10110000; 2 bits: 0b00011011.
  EXPECT_EQ(converted(5, 1, 2, {{0xB0, 0, 0, 0}}), (std::vector<Bgr>{b, k, b, b, k}));
  EXPECT_EQ(converted(4, 2, 4, {{0x1B, 0, 0, 0}}), (std::vector<Bgr>{k, b, g, r}));
  // 4 bits, two rows: the high nibble is the left pixel; row order kept.
  EXPECT_EQ(converted(3, 4, 5, {{0x31, 0x20, 0, 0}, {0x44, 0x40, 0, 0}}),
            (std::vector<Bgr>{r, b, g, other, other, other}));
  // 8 bits with an index beyond the five-entry table: black, never a read
  // past the table.
  EXPECT_EQ(converted(2, 8, 5, {{4, 200, 0, 0}}), (std::vector<Bgr>{other, k}));
}

TEST(DibImageConvert, CoreHeaderBlocksUseThreeByteEntries) {
  std::vector<RgbQuad> table(256);
  table[1] = {10, 20, 30, 0};
  table[255] = {1, 2, 3, 0};
  DibImage image;
  ASSERT_TRUE(image.Attach(MakeDib(2, 1, 8, table, {{1, 255, 0, 0}}, /*core=*/true)));
  EXPECT_EQ(image.HeaderSize(), 12u);
  ASSERT_TRUE(image.ConvertTo24Bit());
  EXPECT_EQ(image.HeaderSize(), 40u);
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{{10, 20, 30}, {1, 2, 3}}));

  DibImage mono;
  ASSERT_TRUE(mono.Attach(
      MakeDib(9, 1, 1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {{0x80, 0x80, 0, 0}}, true)));
  ASSERT_TRUE(mono.ConvertTo24Bit());
  std::vector<Bgr> expected(9, Bgr{0, 0, 0});
  expected[0] = expected[8] = Bgr{255, 255, 255};
  EXPECT_EQ(test::Pixels(mono), expected);
}

TEST(DibImageConvert, SixteenAndFifteenBitsAreFiveFiveFive) {
  for (int bits : {15, 16}) {
    // 0x7FFF is white at 248; 0x8000 (top bit) is ignored; 0x7C00 red,
    // 0x03E0 green, 0x001F blue.
    DibImage image;
    ASSERT_TRUE(image.Attach(MakeDib(
        5, 1, bits, {}, {{0xFF, 0x7F, 0x00, 0x80, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0}})));
    ASSERT_TRUE(image.ConvertTo24Bit()) << bits;
    EXPECT_EQ(
        test::Pixels(image),
        (std::vector<Bgr>{{248, 248, 248}, {0, 0, 0}, {0, 0, 248}, {0, 248, 0}, {248, 0, 0}}));
  }
}

TEST(DibImageConvert, ThirtyTwoBitsDropTheFourthByteAndTwentyFourIsKept) {
  DibImage image;
  ASSERT_TRUE(image.Attach(MakeDib(2, 1, 32, {}, {{1, 2, 3, 99, 4, 5, 6, 77}})));
  ASSERT_TRUE(image.ConvertTo24Bit());
  EXPECT_EQ(image.BitCount(), 24);
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{{1, 2, 3}, {4, 5, 6}}));
  const auto before = image.PackedDib();
  EXPECT_TRUE(image.ConvertTo24Bit());
  EXPECT_EQ(image.PackedDib(), before);
  DibImage empty;
  EXPECT_FALSE(empty.ConvertTo24Bit());
}

TEST(DibImageTransform, Rotate90MovesTheTopRowToTheRightOrLeftColumn) {
  // 3 x 2 picture:  a b c
  //                 d e f
  const Bgr a{1, 0, 0}, b{2, 0, 0}, c{3, 0, 0}, d{4, 0, 0}, e{5, 0, 0}, f{6, 0, 0};
  const DibImage image = test::MakeImage(3, 2, [&](int32_t x, int32_t y) {
    return std::vector<Bgr>{a, b, c, d, e, f}[static_cast<size_t>(y * 3 + x)];
  });
  DibImage cw = image;
  ASSERT_TRUE(cw.Rotate90(true));
  ASSERT_EQ(cw.Width(), 2);
  EXPECT_EQ(test::Pixels(cw), (std::vector<Bgr>{d, a, e, b, f, c}));
  DibImage ccw = image;
  ASSERT_TRUE(ccw.Rotate90(false));
  ASSERT_EQ(ccw.Width(), 2);
  EXPECT_EQ(test::Pixels(ccw), (std::vector<Bgr>{c, f, b, e, a, d}));
}

TEST(DibImageTransform, TurnsComposeAsRotationsShould) {
  const DibImage original = MakePattern(7, 5);
  DibImage twiceCw = original;
  ASSERT_TRUE(twiceCw.Rotate90(true));
  ASSERT_TRUE(twiceCw.Rotate90(true));
  DibImage twiceCcw = original;
  ASSERT_TRUE(twiceCcw.Rotate90(false));
  ASSERT_TRUE(twiceCcw.Rotate90(false));
  EXPECT_EQ(twiceCw.PackedDib(), twiceCcw.PackedDib());
  // A half turn is a mirror of rows and of columns.
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) ASSERT_EQ(PixelAt(twiceCw, x, y), PixelAt(original, 6 - x, 4 - y));
  DibImage back = original;
  ASSERT_TRUE(back.Rotate90(true));
  ASSERT_TRUE(back.Rotate90(false));
  EXPECT_EQ(back.PackedDib(), original.PackedDib());
}

TEST(DibImageTransform, MirrorReversesEveryRowAndKeepsPadding) {
  DibImage image = MakePattern(5, 3);  // 15 bytes of pixels, 1 byte of padding
  image.Row(1)[15] = 0xAB;
  const DibImage original = image;
  ASSERT_TRUE(image.MirrorHorizontal());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(PixelAt(image, x, y), PixelAt(original, 4 - x, y));
  EXPECT_EQ(image.Row(1)[15], 0xAB);
  ASSERT_TRUE(image.MirrorHorizontal());
  EXPECT_EQ(image.PackedDib(), original.PackedDib());
}

TEST(DibImageTransform, TwentyFourBitOnlyOperationsRefuseOtherDepths) {
  DibImage indexed;
  ASSERT_TRUE(indexed.Attach(MakeDib(2, 1, 8, {{}, {}}, {{0, 1, 0, 0}})));
  const auto before = indexed.PackedDib();
  EXPECT_FALSE(indexed.Rotate90(true));
  EXPECT_FALSE(indexed.MirrorHorizontal());
  EXPECT_FALSE(indexed.IsGrey());
  EXPECT_EQ(indexed.PackedDib(), before);
  DibImage empty;
  EXPECT_FALSE(empty.Rotate90(false));
  EXPECT_FALSE(empty.MirrorHorizontal());
  EXPECT_FALSE(empty.IsGrey());
  // Grey needs every pixel neutral.
  DibImage image;
  ASSERT_TRUE(image.Create(3, 3, 24));
  EXPECT_TRUE(image.IsGrey());
  test::SetPixel(image, 1, 1, {77, 77, 77});
  EXPECT_TRUE(image.IsGrey());
  test::SetPixel(image, 2, 2, {77, 77, 78});
  EXPECT_FALSE(image.IsGrey());
}

TEST(DibImageValue, CopiesAreDeepAndMovesLeaveTheSourceEmpty) {
  DibImage original = MakePattern(4, 4);
  DibImage copy(original);
  test::SetPixel(copy, 0, 0, {1, 2, 3});
  EXPECT_NE(PixelAt(original, 0, 0), PixelAt(copy, 0, 0));

  DibImage target = MakePattern(2, 2);
  const auto targetBefore = target.PackedDib();
  EXPECT_FALSE(target.CopyFrom(DibImage{}));  // an empty source changes nothing
  EXPECT_EQ(target.PackedDib(), targetBefore);
  EXPECT_TRUE(target.CopyFrom(original));
  EXPECT_EQ(target.PackedDib(), original.PackedDib());

  DibImage moved(std::move(original));
  EXPECT_TRUE(original.IsEmpty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.Width(), 4);
  std::vector<uint8_t> block = moved.Detach();
  EXPECT_TRUE(moved.IsEmpty());
  EXPECT_EQ(block.size(), 40u + 12u * 4u);
}

TEST(DibImageValue, FromPackedDibCopiesAndConverts) {
  DibImage image;
  EXPECT_FALSE(image.FromPackedDib(nullptr, 0));
  const auto dib = MakeDib(3, 1, 4, {{0, 0, 0, 0}, {50, 60, 70, 0}}, {{0x10, 0x10, 0, 0}});
  ASSERT_TRUE(image.FromPackedDib(dib.data(), dib.size()));
  EXPECT_EQ(image.BitCount(), 24);
  EXPECT_EQ(test::Pixels(image), (std::vector<Bgr>{{50, 60, 70}, {0, 0, 0}, {50, 60, 70}}));
  EXPECT_FALSE(image.FromPackedDib(dib.data(), dib.size() - 1));
  EXPECT_TRUE(image.IsEmpty());
}

}  // namespace
}  // namespace inkbrite
