// SPDX-License-Identifier: GPL-2.0-or-later
// GIF reading: the container's decoder rules and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/ximage.h"
#include "formats/gif/gif_codec.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using Table = std::vector<test::Bgr>;

// Writes small GIF files byte by byte. The LZW data holds only literal
// codes, with a clear code often enough that the code width never grows, so
// any index, table and block layout can be written.
class GifBuilder {
 public:
  GifBuilder(int width, int height, const Table& global = {})
      : m_bytes{'G', 'I', 'F', '8', '9', 'a'} {
    test::PutLE(m_bytes, 2, {uint32_t(width), uint32_t(height)});
    test::PutLE(m_bytes, 1, {global.empty() ? 0u : 0x80u | TableBits(global), 0, 0});
    Colours(global);
  }
  GifBuilder& Transparent(int index) {
    m_bytes.insert(m_bytes.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(index), 0});
    return *this;
  }
  // `indices` row by row from the top; `codeSize` 2 to 8.
  GifBuilder& Image(int left, int top, int width, int height, const std::vector<uint8_t>& indices,
                    const Table& local = {}, int codeSize = 2) {
    m_bytes.push_back(0x2C);
    test::PutLE(m_bytes, 2, {uint32_t(left), uint32_t(top), uint32_t(width), uint32_t(height)});
    m_bytes.push_back(local.empty() ? 0 : static_cast<uint8_t>(0x80 | TableBits(local)));
    Colours(local);
    m_bytes.push_back(static_cast<uint8_t>(codeSize));
    const int clear = 1 << codeSize;
    std::vector<int> codes{clear};
    for (size_t i = 0; i < indices.size(); ++i) {
      if (i > 0 && i % static_cast<size_t>(clear - 2) == 0) codes.push_back(clear);
      codes.push_back(indices[i]);
    }
    codes.push_back(clear + 1);
    std::vector<uint8_t> packed;
    uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
      bits |= static_cast<uint32_t>(code) << count;
      for (count += codeSize + 1; count >= 8; count -= 8, bits >>= 8) packed.push_back(bits & 0xFF);
    }
    if (count > 0) packed.push_back(bits & 0xFF);
    for (size_t at = 0; at < packed.size(); at += 255) {
      const size_t n = std::min<size_t>(255, packed.size() - at);
      m_bytes.push_back(static_cast<uint8_t>(n));
      m_bytes.insert(m_bytes.end(), packed.begin() + at, packed.begin() + at + n);
    }
    m_bytes.push_back(0);
    return *this;
  }
  std::vector<uint8_t> End() {
    m_bytes.push_back(0x3B);
    return m_bytes;
  }

 private:
  // Tables here have 2, 4, ... 256 entries: size field n for 2^(n+1).
  static uint32_t TableBits(const Table& table) {
    uint32_t n = 0;
    while ((2u << n) < table.size()) ++n;
    return n;
  }
  void Colours(const Table& table) {
    for (const auto& c : table) m_bytes.insert(m_bytes.end(), {c.r, c.g, c.b});
  }
  std::vector<uint8_t> m_bytes;
};

constexpr test::Bgr kRed{0, 0, 255}, kBlue{255, 0, 0}, kGreen{0, 200, 0};
constexpr test::Bgr kBlack{0, 0, 0}, kWhite{255, 255, 255}, kGrey{90, 90, 90};

// Reads bytes through a file, as the program does.
int ReadBytes(const std::vector<uint8_t>& bytes, DibImage& image, int& grey) {
  test::TempDir dir;
  test::WriteAll(dir / "file.gif", bytes);
  grey = -1;
  return ReadGifFile(dir / "file.gif", image, &grey);
}

using test::Pixels;

TEST(ReadGifFile, TwoColourGifDeliversItsTwoColoursAndGreyOnlyWhenNeutral) {
  const std::vector<uint8_t> indices{0, 1, 0, 1, 1, 0};
  const auto colour = GifBuilder(3, 2, {kRed, kBlue}).Image(0, 0, 3, 2, indices).End();
  CxImage container;
  ASSERT_TRUE(DecodeGif(colour.data(), colour.size(), container));
  EXPECT_EQ(container.Bpp(), 1);

  DibImage image;
  int grey = -1;
  ASSERT_EQ(ReadBytes(colour, image, grey), 1);
  ASSERT_TRUE(image.Is24Bit());
  EXPECT_EQ(Pixels(image), (std::vector<test::Bgr>{kRed, kBlue, kRed, kBlue, kBlue, kRed}));
  EXPECT_EQ(grey, 0);  // saved as grey, red and blue would be lost

  const auto scan = GifBuilder(3, 2, {kWhite, kGrey}).Image(0, 0, 3, 2, indices).End();
  ASSERT_EQ(ReadBytes(scan, image, grey), 1);
  EXPECT_EQ(test::PixelAt(image, 1, 0), kGrey);
  EXPECT_EQ(grey, 1);
}

TEST(ReadGifFile, AnimatedGifDeliversItsFirstFittingFrameOnly) {
  const Table global{kRed, kBlue, kGreen, kWhite};
  const auto bytes = GifBuilder(4, 3, global)
                         .Image(3, 2, 2, 2, {3, 3, 3, 3})  // outside the screen: skipped
                         .Image(1, 1, 2, 2, {0, 1, 2, 0})
                         .Image(0, 0, 4, 3, std::vector<uint8_t>(12, 3))
                         .End();
  DibImage image;
  int grey = -1;
  ASSERT_EQ(ReadBytes(bytes, image, grey), 1);
  // A global table: the first frame at its own size, not the screen's.
  EXPECT_EQ(Pixels(image), (std::vector<test::Bgr>{kRed, kBlue, kGreen, kRed}));
  EXPECT_EQ(grey, 0);
}

TEST(DecodeGif, CanvasOnlyWithoutGlobalTableForASecondImageDifferingInBothSides) {
  const Table local{kRed, kBlue};
  CxImage out;
  // No global table, two images, 2 x 1 against 4 x 3: black canvas.
  const std::vector<uint8_t> screenFull(12, 0);
  auto bytes =
      GifBuilder(4, 3).Image(1, 1, 2, 1, {1, 0}, local).Image(0, 0, 4, 3, screenFull, local).End();
  ASSERT_TRUE(DecodeGif(bytes.data(), bytes.size(), out));
  ASSERT_EQ(out.Bpp(), 24);
  DibImage image;
  ASSERT_TRUE(image.FromPackedDib(out.Dib(), out.DibSize()));
  std::vector<test::Bgr> expected(12, kBlack);
  expected[5] = kBlue;
  expected[6] = kRed;
  EXPECT_EQ(Pixels(image), expected);

  // One image only, or the same height as the screen: the image itself.
  bytes = GifBuilder(4, 3).Image(1, 1, 2, 1, {1, 0}, local).End();
  ASSERT_TRUE(DecodeGif(bytes.data(), bytes.size(), out));
  EXPECT_EQ(std::pair(out.Width(), out.Height()), std::pair(2, 1));
  bytes = GifBuilder(4, 3)
              .Image(1, 0, 2, 3, {1, 0, 1, 0, 1, 0}, local)
              .Image(0, 0, 4, 3, screenFull, local)
              .End();
  ASSERT_TRUE(DecodeGif(bytes.data(), bytes.size(), out));
  EXPECT_EQ(std::pair(out.Width(), out.Height()), std::pair(2, 3));
}

TEST(DecodeGif, IndicesBeyondTheTableAreBlackOrWhiteWithATransparentIndex) {
  const Table four{kRed, kBlue, kGreen, kGrey};
  const std::vector<uint8_t> indices{0, 5, 7, 2};
  for (const bool transparent : {false, true}) {
    GifBuilder builder(4, 1, four);
    if (transparent) builder.Transparent(2);
    const auto bytes = builder.Image(0, 0, 4, 1, indices, {}, 3).End();
    CxImage out;
    ASSERT_TRUE(DecodeGif(bytes.data(), bytes.size(), out));
    EXPECT_EQ(out.Bpp(), 4);
    EXPECT_EQ(out.TransparentIndex(), transparent ? 2 : -1);
    DibImage image;
    ASSERT_TRUE(image.FromPackedDib(out.Dib(), out.DibSize()));
    const test::Bgr beyond = transparent ? kWhite : kBlack;
    // The transparent pixel keeps its palette colour.
    EXPECT_EQ(Pixels(image), (std::vector<test::Bgr>{kRed, beyond, beyond, kGreen})) << transparent;
  }
  // A full two-entry table has no entry to spare: still black, never a read
  // past the table.
  const auto bytes = GifBuilder(3, 1, {kRed, kBlue}).Image(0, 0, 3, 1, {1, 3, 0}).End();
  DibImage image;
  int grey = -1;
  ASSERT_EQ(ReadBytes(bytes, image, grey), 1);
  EXPECT_EQ(Pixels(image), (std::vector<test::Bgr>{kBlue, kBlack, kRed}));
}

TEST(DecodeGif, RefusesWhatIsNotAGifAndPicturesBeyondTheLimitsBeforeDecoding) {
  CxImage out;
  auto bytes = GifBuilder(2, 1, {kRed, kBlue}).Image(0, 0, 2, 1, {0, 1}).End();
  bytes[3] = '7';  // "GIF7"
  EXPECT_FALSE(DecodeGif(bytes.data(), bytes.size(), out));
  EXPECT_FALSE(DecodeGif(bytes.data(), 3, out));
  EXPECT_FALSE(DecodeGif(nullptr, 0, out));
  // 65535 x 65535 and 30000 x 30000 would be above 2^31 bytes in 24 bits.
  for (const int side : {65535, 30000}) {
    bytes = GifBuilder(side, side, {kRed, kBlue}).Image(0, 0, side, side, {}).End();
    EXPECT_FALSE(DecodeGif(bytes.data(), bytes.size(), out));
    EXPECT_NE(out.LastError().find("too large"), std::string::npos) << side;
    EXPECT_FALSE(out.IsValid());
  }
}

TEST(ReadGifFile, TruncatedAndMutatedFilesNeverCrash) {
  INKBRITE_NEED_CORPUS();
  const auto dir = test::CorpusDir() / "gif";
  CxImage out;
  // A single image: every cut before its data ends fails; only the trailer
  // may be missing.
  const auto small = test::ReadAll(dir / "giflib/treescap.gif");
  for (size_t n = 0; n < small.size(); ++n) {
    EXPECT_EQ(DecodeGif(small.data(), n, out), n + 1 == small.size()) << n;
  }
  std::mt19937 random(1234);
  for (const char* name : {"giflib/treescap-interlaced.gif", "giflib/welcome2.gif",
                           "pillow/missing_background.gif", "pillow/hopper.gif"}) {
    const auto file = test::ReadAll(dir / name);
    for (size_t n = 0; n < file.size(); n += 1 + file.size() / 150) {
      std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
      if (DecodeGif(cut.data(), cut.size(), out)) {
        EXPECT_GT(out.Width(), 0);
      }
    }
    for (int trial = 0; trial < 300; ++trial) {
      auto mutated = file;
      for (int k = 0; k < 1 + trial % 4; ++k) {
        // Mostly the header and tables, where sizes and flags live.
        const size_t at = random() % std::min<size_t>(mutated.size(), trial % 2 ? 64 : 1 << 20);
        mutated[at] = static_cast<uint8_t>(random());
      }
      if (DecodeGif(mutated.data(), mutated.size(), out)) {
        DibImage image;
        EXPECT_TRUE(image.FromPackedDib(out.Dib(), out.DibSize())) << name << trial;
      }
    }
  }
}

}  // namespace
}  // namespace inkbrite
