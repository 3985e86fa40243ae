// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing through the dispatch: the whole corpus, round trips,
// and writes that cannot succeed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <set>

#include "core/enhance.h"
#include "core/para_block.h"
#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/picture_size.h"
#include "formats/reduce_save.h"
#include "platform/file_io.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Every format of the table, wherever its files lie in the corpus: each
// has files, and each file loads (or fails) as listed.
TEST(LoadImageFile, EveryCorpusFileOfEveryFormatLoadsAsListed) {
  INKBRITE_NEED_CORPUS();
  const auto rows = test::ReadManifest("");
  int checked = 0;
  for (const FileFormat& format : FileFormats()) {
    if (format.role == FormatRole::kBook) continue;  // books: tests/sources/
    SCOPED_TRACE(format.name);
    int files = 0;
    for (auto row : rows) {
      if (row.formatCode != format.code) continue;
      ++files;
      DibImage image;
      int grey = -1;
      const int result = LoadImageFile(test::CorpusDir() / row.path, image, &grey);
      // TIFF orientations 5, 7 and 8 are turned upright here; their
      // references keep them on their side (tested in test_tiff.cpp).
      for (const char* turned : {"g4_orientation_5", "g4_orientation_7", "g4_orientation_8"}) {
        if (row.path.find(turned) != std::string::npos) row.expect = "load-only";
      }
      test::ExpectAsListed(row, result, image, grey);
    }
    EXPECT_GT(files, 0) << "the corpus has no file of this format";
    checked += files;
  }
  EXPECT_GT(checked, 300);
}

// A page inside a book is read from memory: the same picture as from its
// file, the name telling the formats without a signature (UFO, EMF).
TEST(LoadImageMemory, EveryCorpusFileReadsAsFromItsFile) {
  INKBRITE_NEED_CORPUS();
  int checked = 0;
  for (const auto& row : test::ReadManifest("")) {
    if (row.expect == "fail") continue;
    SCOPED_TRACE(row.path);
    const fs::path path = test::CorpusDir() / row.path;
    const std::vector<uint8_t> bytes = test::ReadAll(path);
    DibImage fromFile, fromMemory;
    int greyFile = -1, greyMemory = -1;
    const int file = LoadImageFile(path, fromFile, &greyFile);
    const int memory = LoadImageMemory(bytes.data(), bytes.size(), path.filename().string(),
                                       fromMemory, &greyMemory);
    ASSERT_EQ(memory, file);
    EXPECT_EQ(greyMemory, greyFile);
    EXPECT_EQ(fromMemory.PackedDib(), fromFile.PackedDib());
    ++checked;
  }
  EXPECT_GT(checked, 200);
}

TEST(LoadImageMemory, BooksUnknownBytesAndNothingGiveZero) {
  DibImage image;
  int grey = 7;
  const std::vector<uint8_t> zip = {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(LoadImageMemory(zip.data(), zip.size(), "page.jpg", image, &grey), 0);
  const std::vector<uint8_t> text(64, 'a');
  EXPECT_EQ(LoadImageMemory(text.data(), text.size(), "notes.txt", image, &grey), 0);
  EXPECT_EQ(LoadImageMemory(nullptr, 0, "page.jpg", image, &grey), 0);
  EXPECT_EQ(grey, 7);
  EXPECT_EQ(DetectImageFormatInMemory(zip.data(), zip.size(), "page.jpg"), kFormatZipBook);
  EXPECT_EQ(DetectImageFormatInMemory(text.data(), 2, "a.UFO"), kFormatUfo);
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

// A FIFO with a picture's name is refused at once, whatever reader its name
// picks: opening it to read would wait for a writer that never comes. When a
// reader does wait, the test opens the writing end itself so that it fails
// instead of hanging.
TEST(LoadImageFile, AFifoIsRefusedWithoutWaiting) {
  test::TempDir dir;
  std::set<std::string> names;
  for (const FileFormat& format : FileFormats()) {
    for (const FormatExtension& e : format.extensions) {
      if (e.text != nullptr) names.insert(std::string("x") + e.text);
    }
  }
  ASSERT_GE(names.size(), 14u);
  for (const std::string& name : names) {
    const fs::path fifo = dir / name;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << name;
    auto load = std::async(std::launch::async, [fifo] {
      DibImage image;
      int grey = 0;
      return LoadImageFile(fifo, image, &grey);
    });
    if (load.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
      ADD_FAILURE() << name << ": the reader waits on the FIFO";
      const int writer = ::open(fifo.c_str(), O_WRONLY);  // lets the blocked open return
      if (writer >= 0) ::close(writer);
    }
    EXPECT_EQ(load.get(), 0) << name;
  }
}

// A file of every format with a writer is opened once for detection, its
// size, its JPEG table and its decoding together, and reads what a reading
// of its own path reads; a file that does not open keeps its reason for
// every reader given its probe.
TEST(FileProbe, OneOpenServesDetectionSizeAndDecoding) {
  test::TempDir dir;
  const DibImage page = test::MakeNoise(45, 31);
  for (const std::string& ext : SaveExtensions()) {
    SCOPED_TRACE(ext);
    const fs::path path = dir / ("page" + ext);
    ASSERT_EQ(SaveImageFile(path, page, 0, 90), 1);
    DibImage alone;
    int aloneGrey = -1;
    ASSERT_EQ(LoadImageFile(path, alone, &aloneGrey), 1);

    const uint64_t before = RegularFileOpens();
    FileProbe file(path);
    const ImageFormat format = DetectImageFormat(file);
    PictureSize size;
    const bool sized = ReadPictureFileSize(file, size);
    JpegQuantisers tables;
    const bool jpeg = ReadJpegQuantisers(file, tables);
    DibImage image;
    int grey = -1;
    EXPECT_EQ(LoadImageFile(file, image, &grey), 1);
    EXPECT_EQ(RegularFileOpens() - before, 1u);

    EXPECT_EQ(format, DetectImageFormat(path, true));
    EXPECT_EQ(file.Size(), fs::file_size(path));
    EXPECT_EQ(jpeg, format == kFormatJpeg);
    EXPECT_TRUE(sized);
    EXPECT_EQ(size.width, 45);
    EXPECT_EQ(size.height, 31);
    EXPECT_EQ(grey, aloneGrey);
    EXPECT_EQ(image.PackedDib(), alone.PackedDib());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(file.ReadAll(UINT64_MAX, bytes));
    EXPECT_EQ(bytes, test::ReadAll(path));
  }
  FileProbe missing(dir / "missing.png");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_TRUE(missing.Head().empty());
  DibImage image;
  ReadStatus status;
  EXPECT_EQ(LoadImageFile(missing, image, nullptr, &status), 0);
  EXPECT_EQ(status, (ReadStatus{ReadError::kIoError, ENOENT}));
  std::vector<uint8_t> bytes{1};
  ReadNotes notes;
  EXPECT_FALSE(missing.ReadAll(UINT64_MAX, bytes));
  EXPECT_EQ(notes.Status(), (ReadStatus{ReadError::kIoError, ENOENT}));
  EXPECT_EQ(bytes, std::vector<uint8_t>{1});
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

// A red and yellow page (grey mode once saved it all black as PNG) and a
// page of every colour.
std::vector<DibImage> ColouredPages() {
  return {test::MakeImage(16, 9,
                          [](int32_t x, int32_t y) {
                            return (x + y) % 3 ? test::Bgr{0, 255, 255} : test::Bgr{0, 0, 255};
                          }),
          test::MakeNoise(33, 17)};
}

// One rule for every writer: grey writes the page as Greyscale greys it,
// byte for byte what the greyed page gives, and never changes the page.
TEST(SaveImageFile, GreyIsTheGreyscaledPageInEveryWriter) {
  test::TempDir dir;
  for (const DibImage& page : ColouredPages()) {
    DibImage greyed = page;
    ASSERT_TRUE(greyed.Greyscale());
    const std::vector<uint8_t> before = page.PackedDib();
    for (const std::string& ext : SaveExtensions()) {
      SCOPED_TRACE(ext + " " + std::to_string(page.Width()));
      ASSERT_EQ(SaveImageFile(dir / ("colour" + ext), page, 1, 80), 1);
      ASSERT_EQ(SaveImageFile(dir / ("greyed" + ext), greyed, 1, 80), 1);
      EXPECT_EQ(test::ReadAll(dir / ("colour" + ext)), test::ReadAll(dir / ("greyed" + ext)));
      EXPECT_EQ(page.PackedDib(), before);
      // Read back: grey, and exactly the greyed page where the format keeps
      // a colour page exactly.
      DibImage back;
      int grey = -1;
      ASSERT_EQ(LoadImageFile(dir / ("colour" + ext), back, &grey), 1);
      EXPECT_TRUE(back.IsGrey());
      DibImage colourBack;
      ASSERT_EQ(SaveImageFile(dir / ("plain" + ext), page, 0, 80), 1);
      ASSERT_EQ(LoadImageFile(dir / ("plain" + ext), colourBack, &grey), 1);
      if (colourBack.PackedDib() == page.PackedDib()) {
        EXPECT_EQ(back.PackedDib(), greyed.PackedDib());
      }
    }
  }
}

// The one call both the viewer's Save and the batch job make: "keep as is"
// follows the source, and every mode writes what its own path gives.
TEST(SavePageInColourMode, EveryModeWritesWhatItsPathGives) {
  test::TempDir dir;
  const DibImage page = ColouredPages().front();
  DibImage greyed = page;
  ASSERT_TRUE(greyed.Greyscale());
  const auto expect = [&](const std::string& name, int mode, bool greySource,
                          const std::vector<uint8_t>& wanted) {
    SaveError why = SaveError::kWriteFailed;
    ASSERT_EQ(SavePageInColourMode(dir / name, page, mode, greySource, 80, &why), 1) << name;
    EXPECT_EQ(why, SaveError::kNone);
    EXPECT_EQ(test::ReadAll(dir / name), wanted) << name << " mode " << mode;
  };
  for (const std::string& ext : SaveExtensions()) {
    ASSERT_EQ(SaveImageFile(dir / ("grey" + ext), greyed, 1, 80), 1);
    ASSERT_EQ(SaveImageFile(dir / ("colour" + ext), page, 0, 80), 1);
    const auto grey = test::ReadAll(dir / ("grey" + ext));
    const auto colour = test::ReadAll(dir / ("colour" + ext));
    expect("keep-grey" + ext, kKeepAsIs, true, grey);
    expect("keep-colour" + ext, kKeepAsIs, false, colour);
    expect("grey-comic" + ext, kGreyComic, false, grey);
    expect("colour-comic" + ext, kColourComic, true, colour);
    for (const int mode : {kColours256, kGreys16, kGreys8, kGreys4, kBlackWhite}) {
      const fs::path reducedName = dir / ("reduced" + std::to_string(mode) + ext);
      if (!TakesReducedPages(reducedName)) {
        SaveError why = SaveError::kNone;
        EXPECT_EQ(SavePageInColourMode(reducedName, page, mode, false, 80, &why), 0);
        EXPECT_EQ(why, SaveError::kNoReducedPages);
        EXPECT_FALSE(fs::exists(reducedName));
        continue;
      }
      ColourReduction r{};
      ASSERT_TRUE(ReductionForColourMode(mode, r));
      DibImage copy = page;
      ASSERT_TRUE(ReduceColoursAndSave(copy, r.grey, r.bits, r.colours, reducedName));
      expect("mode" + std::to_string(mode) + ext, mode, false, test::ReadAll(reducedName));
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
    m_mounted = ::geteuid() == 0 && ::mount("tmpfs", m_path.c_str(), "tmpfs", 0, "size=96k") == 0;
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
  const DibImage big = test::MakeNoise(300, 300);  // every format needs far more than the disk
  const char* const names[] = {"page.bmp", "page.jp2", "page.jpg", "page.png", "page.tif"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const fs::path target = dir / "disk" / name;
    ASSERT_EQ(SaveImageFile(target, small, 0, 70), 1);
    const auto before = test::ReadAll(target);
    EXPECT_EQ(SaveImageFile(target, big, 0, 100), 0);
    EXPECT_EQ(test::ReadAll(target), before);
  }
  // Nothing but the five earlier files: no temporary file is left.
  EXPECT_EQ(test::Listing(dir / "disk"),
            std::vector<std::string>(std::begin(names), std::end(names)));

  ASSERT_TRUE(disk.MakeReadOnly());
  for (const char* name : names) {
    const fs::path target = dir / "disk" / name;
    const auto before = test::ReadAll(target);
    EXPECT_EQ(SaveImageFile(target, small, 0, 70), 0) << name;
    EXPECT_EQ(test::ReadAll(target), before) << name;
  }
}

}  // namespace
}  // namespace inkbrite
