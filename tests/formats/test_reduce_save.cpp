// Saving reduced-colour pages: the container BMP encoder and the dispatch by
// file name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/byte_io.h"
#include "core/dib_image.h"
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

TEST(ReduceColoursAndSave, WritesBmpAtTheReducedDepth) {
  struct Mode {
    bool grey;
    int bits, colours, fileBits, clrUsed;
  };
  const Mode modes[] = {{false, 8, 256, 8, 256}, {true, 4, 16, 4, 16}, {true, 4, 8, 4, 16},
                        {true, 2, 4, 4, 16},     {true, 1, 2, 1, 2}};
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

TEST(ReduceColoursAndSave, OtherFormatsAndFailuresWriteNothingAndKeepThePage) {
  const DibImage source = test::MakePattern(9, 5);
  test::TempDir dir;
  // JPEG has no reduced-colour writer; PNG and TIFF have none yet; a name
  // without a known extension is no format at all. A folder in the way of
  // the BMP makes the final rename fail.
  fs::create_directory(dir / "taken.bmp");
  for (const char* name : {"page.jpg", "page.png", "page.tif", "page", "taken.bmp"}) {
    DibImage image = source;
    EXPECT_FALSE(ReduceColoursAndSave(image, true, 4, 16, dir / name)) << name;
    EXPECT_EQ(image.PackedDib(), source.PackedDib()) << name;
  }
  DibImage image = source;
  EXPECT_FALSE(ReduceColoursAndSave(image, true, 4, 12, dir / "page.bmp"));
  EXPECT_EQ(Listing(dir.path()), std::vector<fs::path>{"taken.bmp"});
  EXPECT_TRUE(fs::is_empty(dir / "taken.bmp"));
}

}  // namespace
}  // namespace inkbrite
