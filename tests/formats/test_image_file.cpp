// Reading and writing through the dispatch: the whole corpus, round trips,
// and writes that cannot succeed.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include "core/enhance.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Every format, wherever its files lie in the corpus.
TEST(LoadImageFile, EveryCorpusFileOfTheReadFormatsLoadsAsListed) {
  const auto rows = test::ReadManifest("");
  if (rows.empty()) GTEST_SKIP() << "corpus not found at " << test::CorpusDir();
  int checked = 0;
  for (const auto& row : rows) {
    if (row.formatCode < kFormatJpeg) continue;
    SCOPED_TRACE(row.path);
    ++checked;
    DibImage image;
    int grey = -1;
    const int result = LoadImageFile(test::CorpusDir() / row.path, image, &grey);
    if (row.expect == "fail") {
      if (!test::EitherResultAccepted(row.path)) {
        EXPECT_EQ(result, 0);
      }
      if (result == 0) {
        EXPECT_TRUE(image.IsEmpty());
      }
      continue;
    }
    ASSERT_EQ(result, 1);
    EXPECT_EQ(image.BitCount(), 24);
    if (row.greySource >= 0) {
      EXPECT_EQ(grey, row.greySource);
    }
    // TIFF orientations 5, 7 and 8 are turned upright here; their
    // references keep them on their side (tested in test_tiff.cpp).
    const bool turned = row.path.find("g4_orientation_5") != std::string::npos ||
                        row.path.find("g4_orientation_7") != std::string::npos ||
                        row.path.find("g4_orientation_8") != std::string::npos;
    if (row.expect == "ok" && !turned) {
      test::Ppm ppm;
      ASSERT_TRUE(test::ReadPpm(test::CorpusDir() / "expected" / (row.path + ".ppm"), ppm));
      EXPECT_EQ(test::CompareWithPpm(image, ppm, row.tolerance), "");
    }
  }
  EXPECT_GT(checked, 300);
}

TEST(LoadImageFile, UnknownAndMissingFilesGiveZero) {
  test::TempDir dir;
  DibImage image;
  int grey = 7;
  EXPECT_EQ(LoadImageFile(dir / "none.jpg", image, &grey), 0);
  test::WriteAll(dir / "notes.txt", std::vector<uint8_t>(64, 'a'));
  EXPECT_EQ(LoadImageFile(dir / "notes.txt", image, &grey), 0);
  EXPECT_EQ(grey, 7);
}

TEST(SaveImageFile, LosslessFormatsRoundTripAndGreyJpegReadsBackGrey) {
  test::TempDir dir;
  const DibImage page = test::MakePattern(37, 23);
  for (const char* name : {"a.bmp", "a.png", "A.PNG", "a.dib"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(SaveImageFile(dir / name, page, 0, 70), 1);
    DibImage back;
    int grey = -1;
    ASSERT_EQ(LoadImageFile(dir / name, back, &grey), 1);
    EXPECT_EQ(grey, 0);
    EXPECT_EQ(back.PackedDib(), page.PackedDib());
  }
  DibImage greyPage = page;
  ASSERT_TRUE(greyPage.Greyscale());
  for (const char* name : {"g.jpg", "g.png", "g.tif", "g.jp2"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(SaveImageFile(dir / name, greyPage, 1, 90), 1);
    DibImage back;
    int grey = -1;
    ASSERT_EQ(LoadImageFile(dir / name, back, &grey), 1);
    EXPECT_EQ(grey, 1);
    EXPECT_TRUE(back.IsGrey());
  }
}

// Every colour-reducing mode into every palette format reads back as the
// viewer shows the reduced page.
TEST(ReduceColoursAndSave, EveryModeReadsBackFromEveryPaletteFormat) {
  test::TempDir dir;
  DibImage page = test::MakePattern(61, 37);
  for (int y = 0; y < 37; ++y) {
    for (int x = 0; x < 61; ++x) {
      test::SetPixel(page, x, y, {static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 6),
                                  static_cast<uint8_t>((x * y) & 0xFF)});
    }
  }
  for (int mode = 3; mode <= 7; ++mode) {
    ColourReduction r{};
    ASSERT_TRUE(ReductionForColourMode(mode, r));
    DibImage expected = page;
    ASSERT_TRUE(expected.ReduceColours(r.grey, r.bits, r.colours));
    for (const char* ext : {".bmp", ".png", ".tif"}) {
      SCOPED_TRACE(std::to_string(mode) + ext);
      const fs::path path = dir / ("mode" + std::to_string(mode) + ext);
      DibImage work = page;
      ASSERT_TRUE(ReduceColoursAndSave(work, r.grey, r.bits, r.colours, path));
      DibImage back;
      int grey = -1;
      ASSERT_EQ(LoadImageFile(path, back, &grey), 1);
      EXPECT_EQ(back.PackedDib(), expected.PackedDib());
    }
  }
}

TEST(SaveImageFile, UnsupportedNamesWriteNothing) {
  test::TempDir dir;
  const DibImage page = test::MakePattern(8, 8);
  for (const char* name : {"a.gif", "a.ufo", "a.wmf", "a.j2k", "a.txt", "noext"}) {
    SaveError why = SaveError::kNone;
    EXPECT_EQ(SaveImageFile(dir / name, page, 0, 70, &why), 0) << name;
    EXPECT_EQ(why, SaveError::kUnsupportedExtension) << name;
  }
  SaveError why = SaveError::kNone;
  EXPECT_EQ(SaveImageFile(dir / "a.bmp", DibImage{}, 0, 70, &why), 0);
  EXPECT_EQ(why, SaveError::kEmptyImage);
  EXPECT_EQ(SaveImageFile(dir / "missing" / "a.jpg", page, 0, 70, &why), 0);
  EXPECT_EQ(why, SaveError::kWriteFailed);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A small file system of its own, mounted for the test (root only).
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& where) : m_path(where) {
    fs::create_directory(m_path);
    m_mounted = ::geteuid() == 0 &&
                ::mount("tmpfs", m_path.c_str(), "tmpfs", 0, "size=96k") == 0;
  }
  ~SmallDisk() {
    if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
  }
  bool mounted() const { return m_mounted; }
  bool MakeReadOnly() {
    return ::mount("tmpfs", m_path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=96k") == 0;
  }

 private:
  fs::path m_path;
  bool m_mounted = false;
};

TEST(SaveImageFile, FullOrReadOnlyDiskLeavesTheEarlierFileWhole) {
  test::TempDir dir;
  SmallDisk disk(dir / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const DibImage small = test::MakePattern(10, 10);
  // Noise compresses badly: every format needs far more than the disk.
  DibImage big = test::MakePattern(300, 300);
  uint32_t state = 12345;
  for (int y = 0; y < big.Height(); ++y) {
    uint8_t* row = big.Row(y);
    for (int i = 0; i < big.Width() * 3; ++i) {
      state = state * 1664525u + 1013904223u;
      row[i] = static_cast<uint8_t>(state >> 24);
    }
  }
  for (const char* name : {"page.bmp", "page.png", "page.jpg", "page.tif", "page.jp2"}) {
    SCOPED_TRACE(name);
    const fs::path target = dir / "disk" / name;
    ASSERT_EQ(SaveImageFile(target, small, 0, 70), 1);
    const auto before = test::ReadAll(target);
    EXPECT_EQ(SaveImageFile(target, big, 0, 100), 0);
    EXPECT_EQ(test::ReadAll(target), before);
  }
  // Nothing but the five earlier files: no temporary file is left.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "disk"), fs::directory_iterator{}), 5);

  ASSERT_TRUE(disk.MakeReadOnly());
  for (const char* name : {"page.bmp", "page.png", "page.jpg", "page.tif", "page.jp2"}) {
    const fs::path target = dir / "disk" / name;
    const auto before = test::ReadAll(target);
    EXPECT_EQ(SaveImageFile(target, small, 0, 70), 0) << name;
    EXPECT_EQ(test::ReadAll(target), before) << name;
  }
}

}  // namespace
}  // namespace inkbrite
