// Saving reduced-colour pages: the container BMP and PNG encoders and the
// dispatch by file name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/byte_io.h"
#include "core/colour.h"
#include "core/dib_image.h"
#include "core/ximage.h"
#include "formats/png/png_codec.h"
#include "formats/reduce_save.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Listing(const fs::path& dir) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  return names;
}

struct Mode {
  bool grey;
  int bits, colours, fileBits, clrUsed;
};
const Mode kModes[] = {{false, 8, 256, 8, 256}, {true, 4, 16, 4, 16}, {true, 4, 8, 4, 16},
                       {true, 2, 4, 4, 16},     {true, 1, 2, 1, 2}};

// The data of the first chunk of `type` in a PNG file; empty when absent.
std::vector<uint8_t> PngChunk(const std::vector<uint8_t>& file, const std::string& type) {
  const auto be32 = [&](size_t at) {
    return uint32_t{file[at]} << 24 | uint32_t{file[at + 1]} << 16 | uint32_t{file[at + 2]} << 8 |
           file[at + 3];
  };
  for (size_t at = 8; at + 12 <= file.size() && be32(at) <= file.size() - at - 12;
       at += 12 + be32(at)) {
    if (std::string(file.begin() + at + 4, file.begin() + at + 8) == type) {
      return std::vector<uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + be32(at));
    }
  }
  return {};
}

TEST(ReduceColoursAndSave, WritesBmpAtTheReducedDepth) {
  const auto& modes = kModes;
  const DibImage source = test::MakePattern(37, 11);
  test::TempDir dir;
  for (const Mode& m : modes) {
    const std::string what = std::to_string(m.colours) + " colours";
    const fs::path path = dir / ("page" + std::to_string(m.colours) + ".BMP");
    DibImage image = source;
    ASSERT_TRUE(ReduceColoursAndSave(image, m.grey, m.bits, m.colours, path)) << what;

    // The page itself is only greyed.
    DibImage greyed = source;
    ASSERT_TRUE(!m.grey || greyed.Greyscale());
    EXPECT_EQ(image.PackedDib(), greyed.PackedDib()) << what;

    const std::vector<uint8_t> file = test::ReadAll(path);
    const uint32_t rowBytes = ((37u * m.fileBits + 31) / 32) * 4;
    const uint32_t table = 4u * m.clrUsed;
    ASSERT_EQ(file.size(), 14u + 40u + table + rowBytes * 11) << what;
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(ReadLE32(&file[2]), file.size());
    EXPECT_EQ(ReadLE32(&file[6]), 0u);
    EXPECT_EQ(ReadLE32(&file[10]), 54u + table);
    EXPECT_EQ(ReadLE16(&file[14 + 14]), m.fileBits) << what;
    EXPECT_EQ(ReadLE32(&file[14 + 20]), rowBytes * 11);
    EXPECT_EQ(ReadLE32(&file[14 + 24]), 3780u);
    EXPECT_EQ(ReadLE32(&file[14 + 28]), 3780u);
    EXPECT_EQ(ReadLE32(&file[14 + 32]), static_cast<uint32_t>(m.clrUsed)) << what;
    EXPECT_EQ(ReadLE32(&file[14 + 36]), static_cast<uint32_t>(m.colours)) << what;

    DibImage reduced = source;
    ASSERT_TRUE(reduced.ReduceColours(m.grey, m.bits, m.colours));
    DibImage loaded;
    int fileBits = 0;
    ASSERT_TRUE(loaded.LoadBmp(path, &fileBits)) << what;
    EXPECT_EQ(fileBits, m.fileBits);
    EXPECT_EQ(loaded.PackedDib(), reduced.PackedDib()) << what;
  }
  EXPECT_EQ(Listing(dir.path()).size(), 5u);  // no temporary files left
}

TEST(ReduceColoursAndSave, WritesPngAtTheReducedDepth) {
  // 407 pixels: below 65536, so the palette is cut to the highest index used.
  const DibImage source = test::MakePattern(37, 11);
  test::TempDir dir;
  for (const Mode& m : kModes) {
    const std::string what = std::to_string(m.colours) + " colours";
    const fs::path path = dir / ("page" + std::to_string(m.colours) + ".Png");
    DibImage image = source;
    ASSERT_TRUE(ReduceColoursAndSave(image, m.grey, m.bits, m.colours, path)) << what;
    DibImage greyed = source;
    ASSERT_TRUE(!m.grey || greyed.Greyscale());
    EXPECT_EQ(image.PackedDib(), greyed.PackedDib()) << what;

    CxImage reduced;
    ASSERT_TRUE(ReduceToContainer(source, m.grey, m.bits, m.colours, reduced));
    int used = 0;
    for (int32_t y = 0; y < 11; ++y) {
      for (int32_t x = 0; x < 37; ++x) used = std::max(used, reduced.GetPixelIndex(x, y) + 1);
    }
    const std::vector<uint8_t> file = test::ReadAll(path);
    const std::vector<uint8_t> ihdr = PngChunk(file, "IHDR");
    ASSERT_EQ(ihdr.size(), 13u) << what;
    EXPECT_EQ(ihdr[8], m.fileBits) << what;
    EXPECT_EQ(ihdr[9], 3) << what;  // palette
    std::vector<uint8_t> plte;
    for (int i = 0; i < used; ++i) {
      const RgbQuad c = reduced.GetPaletteColor(i);
      plte.insert(plte.end(), {c.red, c.green, c.blue});
    }
    EXPECT_EQ(PngChunk(file, "PLTE"), plte) << what;
    // bKGD: the palette entry nearest to white; the grey modes of fewer than
    // 16 colours made their lightest entry pure white.
    const std::vector<uint8_t> bkgd = PngChunk(file, "bKGD");
    ASSERT_EQ(bkgd.size(), 1u) << what;
    ASSERT_LT(bkgd[0], used);
    const auto distance = [&](int i) {
      int d = 0;
      for (int c = 0; c < 3; ++c) d += (255 - plte[3 * i + c]) * (255 - plte[3 * i + c]);
      return d;
    };
    for (int i = 0; i < used; ++i) EXPECT_LE(distance(bkgd[0]), distance(i)) << what;
    if (m.grey && m.colours < 16) {
      EXPECT_EQ(distance(bkgd[0]), 0) << what;
    }
    EXPECT_EQ(PngChunk(file, "pHYs"), (std::vector<uint8_t>{0, 0, 0x0E, 0xC4, 0, 0, 0x0E, 0xC4, 1}));

    DibImage expected = source;
    ASSERT_TRUE(expected.ReduceColours(m.grey, m.bits, m.colours));
    DibImage loaded;
    int greySource = -1;
    ASSERT_EQ(ReadPngFile(path, loaded, &greySource), 1) << what;
    EXPECT_EQ(greySource, m.fileBits < 8 ? 1 : 0) << what;
    EXPECT_EQ(loaded.PackedDib(), expected.PackedDib()) << what;
  }
  EXPECT_EQ(Listing(dir.path()).size(), 5u);
}

TEST(ReduceColoursAndSave, OtherFormatsAndFailuresWriteNothingAndKeepThePage) {
  const DibImage source = test::MakePattern(9, 5);
  test::TempDir dir;
  // JPEG and JP2 have no reduced-colour writer; a name without a known
  // extension is no format at all. A folder in the way of the BMP, PNG or
  // TIFF makes the final rename fail.
  fs::create_directory(dir / "taken.bmp");
  fs::create_directory(dir / "taken.png");
  fs::create_directory(dir / "taken.tif");
  for (const char* name :
       {"page.jpg", "page.jp2", "page", "taken.bmp", "taken.png", "taken.tif"}) {
    DibImage image = source;
    EXPECT_FALSE(ReduceColoursAndSave(image, true, 4, 16, dir / name)) << name;
    EXPECT_EQ(image.PackedDib(), source.PackedDib()) << name;
  }
  DibImage image = source;
  EXPECT_FALSE(ReduceColoursAndSave(image, true, 4, 12, dir / "page.bmp"));
  std::vector<fs::path> left = Listing(dir.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<fs::path>{"taken.bmp", "taken.png", "taken.tif"}));
  EXPECT_TRUE(fs::is_empty(dir / "taken.bmp"));
  EXPECT_TRUE(fs::is_empty(dir / "taken.png"));
}

}  // namespace
}  // namespace inkbrite
