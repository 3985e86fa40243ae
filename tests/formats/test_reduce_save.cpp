// SPDX-License-Identifier: GPL-2.0-or-later
// Saving reduced-colour pages: the container BMP, PNG, TIFF, lossless WebP
// and JPEG XL encoders and
// the dispatch by file name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "core/byte_io.h"
#include "core/colour.h"
#include "core/dib_image.h"
#include "core/enhance.h"
#include "core/ximage.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Colour modes 3 to 7 in order: the reduction each stands for, and the depth
// and table size of the BMP written for it.
struct Mode {
  bool grey;
  int bits, colours, fileBits, clrUsed;
};
const Mode kModes[] = {{false, 8, 256, 8, 256},
                       {true, 4, 16, 4, 16},
                       {true, 4, 8, 4, 16},
                       {true, 2, 4, 4, 16},
                       {true, 1, 2, 1, 2}};

// The BMP header and PNG chunks written for each mode, and every mode in every
// palette format read back through the dispatch as the viewer shows the
// reduced page.
TEST(ReduceColoursAndSave, EveryModeInEveryPaletteFormat) {
  constexpr int W = 61, H = 37;  // 2257 pixels: below 65536, so PNG palettes are cut
  const DibImage source = test::MakeImage(W, H, [](int x, int y) {
    return test::Bgr{uint8_t(x * 4), uint8_t(y * 6), uint8_t((x * y) & 0xFF)};
  });
  test::TempDir dir;
  for (int mode = 3; mode <= 7; ++mode) {
    const Mode& m = kModes[mode - 3];
    ColourReduction r{};
    ASSERT_TRUE(ReductionForColourMode(mode, r));
    ASSERT_EQ(std::tuple(r.grey, r.bits, r.colours), std::tuple(m.grey, m.bits, m.colours)) << mode;
    DibImage expected = source, greyed = source;
    ASSERT_TRUE(expected.ReduceColours(m.grey, m.bits, m.colours));
    ASSERT_TRUE(!m.grey || greyed.Greyscale());
    const std::string page = "page" + std::to_string(mode);
    for (const char* ext : {".BMP", ".Png", ".tif", ".webp", ".JXL"}) {
      SCOPED_TRACE(page + ext);
      DibImage image = source;
      ASSERT_TRUE(ReduceColoursAndSave(image, m.grey, m.bits, m.colours, dir / (page + ext)));
      EXPECT_EQ(image.PackedDib(), greyed.PackedDib());  // the page itself is only greyed
      DibImage loaded;
      int grey = -1;
      ASSERT_EQ(LoadImageFile(dir / (page + ext), loaded, &grey), 1);
      EXPECT_EQ(loaded.PackedDib(), expected.PackedDib());
      if (ext[1] == 'P') {
        EXPECT_EQ(grey, m.fileBits < 8 ? 1 : 0);
      }
    }
    SCOPED_TRACE(page);

    const std::vector<uint8_t> bmp = test::ReadAll(dir / (page + ".BMP"));
    const uint32_t rowBytes = ((W * m.fileBits + 31) / 32) * 4, table = 4u * m.clrUsed;
    ASSERT_EQ(bmp.size(), 14u + 40u + table + rowBytes * H);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    // File size, reserved, pixel offset; depth, image size, 96 dpi, colours
    // in the table and important.
    const std::vector<uint32_t> fields = {
        ReadLE32(&bmp[2]),       ReadLE32(&bmp[6]),       ReadLE32(&bmp[10]),
        ReadLE16(&bmp[14 + 14]), ReadLE32(&bmp[14 + 20]), ReadLE32(&bmp[14 + 24]),
        ReadLE32(&bmp[14 + 28]), ReadLE32(&bmp[14 + 32]), ReadLE32(&bmp[14 + 36])};
    EXPECT_EQ(fields, (std::vector<uint32_t>{uint32_t(bmp.size()), 0, 54 + table,
                                             uint32_t(m.fileBits), rowBytes * H, 3780, 3780,
                                             uint32_t(m.clrUsed), uint32_t(m.colours)}));

    const std::vector<uint8_t> png = test::ReadAll(dir / (page + ".Png"));
    const std::vector<uint8_t> ihdr = test::PngChunk(png, "IHDR");
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(ihdr[8], m.fileBits);
    EXPECT_EQ(ihdr[9], 3);  // palette
    CxImage reduced;
    ASSERT_TRUE(ReduceToContainer(source, m.grey, m.bits, m.colours, reduced));
    int used = 0;
    for (int32_t y = 0; y < H; ++y) {
      for (int32_t x = 0; x < W; ++x) used = std::max(used, reduced.GetPixelIndex(x, y) + 1);
    }
    std::vector<uint8_t> plte;
    for (int i = 0; i < used; ++i) {
      const RgbQuad c = reduced.GetPaletteColor(i);
      plte.insert(plte.end(), {c.red, c.green, c.blue});
    }
    EXPECT_EQ(test::PngChunk(png, "PLTE"), plte);
    // bKGD: the palette entry nearest to white; the grey modes of fewer than
    // 16 colours made their lightest entry pure white.
    const std::vector<uint8_t> bkgd = test::PngChunk(png, "bKGD");
    ASSERT_EQ(bkgd.size(), 1u);
    ASSERT_LT(bkgd[0], used);
    const auto distance = [&](int i) {
      int d = 0;
      for (int c = 0; c < 3; ++c) d += (255 - plte[3 * i + c]) * (255 - plte[3 * i + c]);
      return d;
    };
    for (int i = 0; i < used; ++i) EXPECT_LE(distance(bkgd[0]), distance(i));
    if (m.grey && m.colours < 16) {
      EXPECT_EQ(distance(bkgd[0]), 0);
    }
    EXPECT_EQ(test::PngChunk(png, "pHYs"),
              (std::vector<uint8_t>{0, 0, 0x0E, 0xC4, 0, 0, 0x0E, 0xC4, 1}));
  }
  EXPECT_EQ(test::Listing(dir.path()).size(), 25u);  // no temporary files left
}

TEST(ReduceColoursAndSave, OtherFormatsAndFailuresWriteNothingAndKeepThePage) {
  const DibImage source = test::MakePattern(9, 5);
  test::TempDir dir;
  // JPEG, JP2 and AVIF have no reduced-colour writer; a name without a known
  // extension is no format at all. A folder in the way of the BMP, PNG or
  // TIFF makes the final rename fail.
  fs::create_directory(dir / "taken.bmp");
  fs::create_directory(dir / "taken.png");
  fs::create_directory(dir / "taken.tif");
  for (const char* name :
       {"page.jpg", "page.jp2", "page.avif", "page", "taken.bmp", "taken.png", "taken.tif"}) {
    DibImage image = source;
    EXPECT_FALSE(ReduceColoursAndSave(image, true, 4, 16, dir / name)) << name;
    EXPECT_EQ(image.PackedDib(), source.PackedDib()) << name;
  }
  DibImage image = source;
  EXPECT_FALSE(ReduceColoursAndSave(image, true, 4, 12, dir / "page.bmp"));
  EXPECT_EQ(test::Listing(dir.path()),
            (std::vector<std::string>{"taken.bmp", "taken.png", "taken.tif"}));
  EXPECT_TRUE(fs::is_empty(dir / "taken.bmp"));
  EXPECT_TRUE(fs::is_empty(dir / "taken.png"));
}

// The zlib level changes how a 16-grey PNG page is compressed, never what
// it holds: every level decodes to the default's pixels and palette; the
// default's own level (6) and levels out of range give its very bytes;
// level 0 stores the rows as they are, the fastest level writes fewer.
TEST(ReduceColoursAndSave, DeflateLevelChangesOnlyTheCompression) {
  constexpr int W = 320, H = 240;  // flat paper with a noisy panel, as a scan
  const DibImage noise = test::MakeNoise(W, H, 77);
  const DibImage source = test::MakeImage(W, H, [&](int x, int y) {
    if (x < 40 || y < 30 || x > 280) return test::Bgr{250, 250, 250};
    const uint8_t* p = noise.Row(y) + 3 * x;
    return test::Bgr{p[0], uint8_t(p[0] / 2 + x % 64), uint8_t(y)};
  });
  test::TempDir dir;
  ASSERT_TRUE(SaveReducedPage(source, true, 4, 16, dir / "default.png"));
  const std::vector<uint8_t> reference = test::ReadAll(dir / "default.png");
  DibImage expected;
  ASSERT_EQ(LoadImageFile(dir / "default.png", expected, nullptr), 1);
  const size_t rowsBytes = size_t{W / 2 + 1} * H;  // 4-bit rows and their filter bytes
  enum class Bytes { kDefault, kOther, kStored };
  const struct {
    int level;
    Bytes bytes;
  } cases[] = {{-1, Bytes::kDefault}, {6, Bytes::kDefault}, {10, Bytes::kDefault},
               {-2, Bytes::kDefault}, {0, Bytes::kStored},  {1, Bytes::kOther},
               {9, Bytes::kOther}};
  for (const auto& [level, bytes] : cases) {
    SCOPED_TRACE(level);
    const fs::path path = dir / ("level" + std::to_string(level) + ".png");
    ASSERT_EQ(SavePageInColourMode(path, source, 4, false, 0, nullptr, level), 1);
    const std::vector<uint8_t> written = test::ReadAll(path);
    DibImage loaded;
    ASSERT_EQ(LoadImageFile(path, loaded, nullptr), 1);
    EXPECT_EQ(loaded.PackedDib(), expected.PackedDib());
    switch (bytes) {
      case Bytes::kDefault: EXPECT_EQ(written, reference); break;
      case Bytes::kOther: EXPECT_NE(written, reference); break;
      case Bytes::kStored: EXPECT_GT(written.size(), rowsBytes); break;
    }
    if (level == 1) {
      EXPECT_LT(written.size(), rowsBytes);
    }
  }
}

}  // namespace
}  // namespace inkbrite
