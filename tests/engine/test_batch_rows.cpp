// SPDX-License-Identifier: GPL-2.0-or-later
// The batch job's row-by-row conversion against its whole-page conversion:
// the same files, records, summaries, progress and stop checks, on damaged
// files, stops at every check and full disks too; and the page never held
// whole.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "core/enhance.h"
#include "formats/image_file.h"
#include "platform/file_io.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

using test::RecordingHost;

std::map<std::string, std::vector<uint8_t>> TreeBytes(const fs::path& root) {
  std::map<std::string, std::vector<uint8_t>> tree;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
    tree[entry.path().lexically_relative(root).string()] =
        entry.is_regular_file() ? test::ReadAll(entry.path()) : std::vector<uint8_t>{};
  }
  return tree;
}

void WritePage(const fs::path& path, const DibImage& page, int grey) {
  fs::create_directories(path.parent_path());
  ASSERT_EQ(SaveImageFile(path, page, grey, 85), 1) << path;
}

// A JPEG whose rows all decode but whose end holds a second frame header:
// the decoder fails only when it reads on after the last row.
void WriteFileFailingAtItsEnd(const fs::path& path) {
  WritePage(path, test::MakePattern(40, 24), 0);
  std::vector<uint8_t> file = test::ReadAll(path);
  size_t sof = 0;
  while (sof + 4 < file.size() && !(file[sof] == 0xFF && file[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 4, file.size());
  const size_t length = 2 + (file[sof + 2] << 8 | file[sof + 3]);
  ASSERT_EQ(file[file.size() - 2], 0xFF);
  file.resize(file.size() - 2);  // the end-of-image marker
  file.insert(file.end(), file.begin() + static_cast<ptrdiff_t>(sof),
              file.begin() + static_cast<ptrdiff_t>(sof + length));
  test::WriteAll(path, file);
}

// Pages of every kind the conversion meets: colour and grey files, pages
// under 3 x 3 pixels, a cut file (it still decodes), one that is no picture,
// a PNG (read whole), in a tree of folders, with `corpus` the corpus's JPEG
// files (when it is there); with `lateFailure` one file that
// fails only at its end, after its rows went through (its status lines then
// show the pipeline's stages before the read failure: they differ).
void WriteSources(const fs::path& root, bool lateFailure, bool corpus) {
  WritePage(root / "colour.jpg", test::MakeNoise(67, 45, 3), 0);
  WritePage(root / "grey.jpg", test::MakePattern(50, 33), 1);
  WritePage(root / "sub/one.jpg", test::MakeNoise(1, 1, 4), 0);
  WritePage(root / "sub/two.jpg", test::MakeNoise(2, 7, 5), 0);
  WritePage(root / "sub/three.jpg", test::MakeNoise(3, 3, 6), 1);
  WritePage(root / "sub/deeper/wide.jpg", test::MakePattern(301, 17), 0);
  WritePage(root / "page.png", test::MakePattern(30, 20), 0);
  std::vector<uint8_t> cut = test::ReadAll(root / "colour.jpg");
  cut.resize(cut.size() * 2 / 3);
  test::WriteAll(root / "sub/cut.jpg", cut);
  if (lateFailure) WriteFileFailingAtItsEnd(root / "sub/failing.jpg");
  test::WriteText(root / "sub/deeper/text.jpg", "not a picture");
  if (corpus && test::HaveCorpus()) {
    for (const test::ManifestRow& row : test::ReadManifest("jpeg/")) {
      const fs::path target = root / "corpus" / row.path;
      fs::create_directories(target.parent_path());
      fs::copy_file(test::CorpusDir() / row.path, target);
    }
  }
}

class BatchRowsTest : public ::testing::Test {
 protected:
  BatchRowsTest() {
    settings.sourceDir = dir / "src";
    settings.patterns = "*.jpg;*.jpeg;*.png";
    settings.newExtension = ".jpg";
    settings.params = &params;
  }

  // What one run showed and wrote.
  struct Result {
    std::map<std::string, std::vector<uint8_t>> files;
    std::string record;
    std::vector<std::string> messages;
    std::vector<std::string> operations;
    int advanced = 0;
    int pumps = 0;
    int success = 0;
  };

  Result Run(const std::string& name, bool rowByRow, int jobs = 1, int stopAtPump = 0) {
    settings.targetDir = dir / name;
    settings.recordPath = dir / (name + ".txt");
    settings.rowByRow = rowByRow;
    settings.jobs = jobs;
    RecordingHost host;
    host.stopAtPump = stopAtPump;
    CBatchJob job;
    job.Run(host, settings);
    Result r;
    r.files = TreeBytes(settings.targetDir);
    r.record = test::ReadText(settings.recordPath);
    for (size_t at; (at = r.record.find(name + "/")) != std::string::npos;) {
      r.record.erase(at, name.size() + 1);
    }
    r.messages = host.messages;
    r.operations = host.operations;
    r.advanced = host.advanced;
    r.pumps = host.pumps;
    r.success = job.SuccessCount();
    return r;
  }

  // With sameSteps, the status lines and stop checks too (not for runs with
  // a file that fails after its rows went through).
  void ExpectSame(const Result& rows, const Result& whole, bool sameSteps = true) {
    EXPECT_EQ(rows.files, whole.files);
    EXPECT_EQ(rows.record, whole.record);
    EXPECT_EQ(rows.messages, whole.messages);
    EXPECT_EQ(rows.advanced, whole.advanced);
    EXPECT_EQ(rows.success, whole.success);
    if (sameSteps) {
      EXPECT_EQ(rows.operations, whole.operations);
      EXPECT_EQ(rows.pumps, whole.pumps);
    }
  }

  test::TempDir dir;
  CParaBlock params;
  BatchSettings settings;
};

// Every colour mode that streams ("keep as is" on colour and grey files,
// grey comic, colour) and one that does not (16 greys, into PNG), with no
// step, the tone steps, and sharpen, tone and soften together; one job and
// three.
TEST_F(BatchRowsTest, WritesWhatTheWholePageConversionWrites) {
  WriteSources(dir / "src", true, true);
  struct Steps {
    int sharpen, blur, brightness, highlight, contrast, gamma, curveY1;
  };
  const Steps steps[] = {
      {0, 0, 100, 100, 100, 100, 0}, {0, 0, 110, 100, 120, 90, 0}, {3, 2, 110, 150, 120, 90, -39}};
  int run = 0;
  for (const Steps& s : steps) {
    params.SetValue(kSharpen, s.sharpen);
    params.SetValue(kBlur, s.blur);
    params.SetValue(kBrightness, s.brightness);
    params.SetValue(kHighlight, s.highlight);
    params.SetValue(kContrast, s.contrast);
    params.SetValue(kGamma, s.gamma);
    params.SetValue(kCurveY1, s.curveY1);
    params.SetValue(kCurveY2, s.curveY1 == 0 ? 0 : 293);
    for (int mode : {kKeepAsIs, kGreyComic, kColourComic, kGreys16}) {
      settings.colourMode = mode;
      settings.newExtension = mode == kGreys16 ? ".png" : ".jpg";
      SCOPED_TRACE(testing::Message() << "sharpen " << s.sharpen << " mode " << mode);
      const std::string n = std::to_string(run++);
      const Result whole = Run("whole" + n, false);
      ASSERT_GE(whole.success, 6);
      // The first run makes the folders, so their first pages go whole; a
      // second run finds them and every page of a format that streams goes
      // row by row, over the files of the first.
      ExpectSame(Run("rows" + n, true), whole, false);
      if (run == 1) ExpectSame(Run("rows" + n, true), whole, false);
      ExpectSame(Run("jobs" + n, true, 3), whole, false);
    }
  }
}

// A book's pages stream from their bytes in memory into the CBZ (or the
// book's folder): the same books, folders and records as the whole-page
// way, in every colour mode that streams, one job and three; a book with a
// page that fails (cut, no picture, or only at its end) is not written.
// A loose file is opened once by a run, for its book test, detection and
// reading together, whichever way it is converted (a damaged file and one
// that is no picture included); a run with workers tests the books before
// it hands the files out, one more open each.
TEST_F(BatchRowsTest, ALooseFileIsOpenedOnceByTheConversion) {
  WriteSources(dir / "src", false, false);
  const uint64_t files = 9;
  struct Case {
    const char* name;
    bool rowByRow;
    int jobs;
    uint64_t opensPerFile;
  };
  for (const Case c :
       {Case{"rows", true, 1, 1}, Case{"whole", false, 1, 1}, Case{"workers", true, 2, 2}}) {
    SCOPED_TRACE(c.name);
    const uint64_t before = RegularFileOpens();
    const Result result = Run(c.name, c.rowByRow, c.jobs);
    EXPECT_EQ(RegularFileOpens() - before, files * c.opensPerFile);
    EXPECT_EQ(result.success, 8);  // the cut file still decodes
  }
}

TEST_F(BatchRowsTest, BookPagesWriteWhatTheWholePageConversionWrites) {
  WriteSources(dir / "pages", true, false);
  const auto page = [this](const char* name) { return test::ReadAll(dir / "pages" / name); };
  const std::string info = "<ComicInfo><Title>Rows</Title></ComicInfo>";
  const std::vector<test::MadeEntry> good = {
      {"ComicInfo.xml", {info.begin(), info.end()}},
      {"01.jpg", page("colour.jpg")},
      {"02.jpg", page("grey.jpg")},
      {"ch/03.jpg", page("sub/one.jpg")},
      {"ch/04.jpg", page("sub/deeper/wide.jpg")},
      {"05.png", page("page.png")},
  };
  std::vector<test::MadeEntry> bad = good;
  bad.push_back({"06.jpg", page("sub/cut.jpg")});
  bad.push_back({"07.jpg", page("sub/failing.jpg")});
  bad.push_back({"08.jpg", page("sub/deeper/text.jpg")});
  fs::create_directories(dir / "src");
  test::WriteArchive(dir / "src/good.cbz", test::MadeFormat::kZipDeflated, good);
  test::WriteArchive(dir / "src/bad.cbz", test::MadeFormat::kZipStored, bad);
  settings.patterns = "*.cbz";
  params.SetValue(kSharpen, 2);
  params.SetValue(kBlur, 1);
  params.SetValue(kContrast, 120);
  params.SetValue(kGamma, 90);
  int run = 0;
  for (BookOutput output : {BookOutput::kCbz, BookOutput::kFolder}) {
    settings.books = output;
    for (int mode : {kKeepAsIs, kGreyComic, kColourComic}) {
      settings.colourMode = mode;
      SCOPED_TRACE(testing::Message() << "mode " << mode << " folder " << (run >= 3));
      const std::string n = std::to_string(run++);
      const Result whole = Run("whole" + n, false);
      ASSERT_EQ(whole.success, 1) << whole.record;
      ExpectSame(Run("rows" + n, true), whole, false);
      ExpectSame(Run("jobs" + n, true, 3), whole, false);
    }
  }
}

// A grey page written grey goes through as grey levels, one byte a pixel,
// streamed or whole: the files and records of the 24-bit way, for the
// grey and colour files (and the corpus's JPEG files) in every colour
// mode, into JPEG and PNG, with the steps that work on the levels (the
// reducers, crop, sharpen, tone, soften; every resampler is compared in the
// core's tests) and with auto levels, which widens the page first.
TEST_F(BatchRowsTest, GreyPagesKeptGreyWriteTheFilesOfTheColourWay) {
  WriteSources(dir / "src", false, true);
  DibImage greyNoise = test::MakeNoise(123, 77, 21);
  greyNoise.Greyscale();
  WritePage(dir / "src/grey_noise.jpg", greyNoise, 1);
  struct Steps {
    int resize, crop, sharpen, blur, highlight, contrast, gamma, autoLevels;
  };
  const Steps steps[] = {{100, 0, 3, 2, 150, 120, 90, 0},
                         {50, 0, 3, 0, 100, 120, 90, 0},
                         {37, 2, 9, 1, 100, 100, 100, 0},
                         {100, 0, 0, 0, 100, 100, 100, 1}};
  int run = 0;
  for (const Steps& s : steps) {
    params.SetValue(kResize, s.resize);
    for (int slot : {kCroppingLeft, kCroppingTop, kCroppingBottom}) params.SetValue(slot, s.crop);
    params.SetValue(kSharpen, s.sharpen);
    params.SetValue(kBlur, s.blur);
    params.SetValue(kHighlight, s.highlight);
    params.SetValue(kContrast, s.contrast);
    params.SetValue(kGamma, s.gamma);
    params.SetValue(kAutoLevels, s.autoLevels);
    const bool first = &s == steps;
    for (int mode : {kKeepAsIs, kGreyComic, kColourComic, kGreys16, kGreys4, kBlackWhite}) {
      if (!first && mode != kKeepAsIs && mode != kGreys16) continue;
      const bool reduced = IsReducedMode(mode);
      for (const char* extension : {".jpg", ".png"}) {
        const std::string ext = extension;
        if (reduced ? ext == ".jpg" : !first && ext != ".jpg") continue;
        settings.colourMode = mode;
        settings.newExtension = ext;
        SCOPED_TRACE(testing::Message() << "resize " << s.resize << " sharpen " << s.sharpen
                                        << " mode " << mode << " into " << ext);
        const std::string n = std::to_string(run++);
        settings.greyLevels = false;
        const Result colour = Run("colour" + n, true);
        ASSERT_GE(colour.success, 6);
        settings.greyLevels = true;
        ExpectSame(Run("grey" + n, true), colour);
        if (first) ExpectSame(Run("grey" + n, true), colour);  // the folders there: rows streamed
      }
    }
  }
}

// An automatic step needs the whole page (auto levels measures it, the fit
// resamples it): with one on, the files are those of the whole-page way and
// not those the tone alone would give.
TEST_F(BatchRowsTest, AutomaticStepsTakeTheWholePage) {
  WriteSources(dir / "src", false, false);
  // A dull page (levels 60 to 187) that auto levels stretches.
  DibImage dull = test::MakeNoise(90, 60, 8);
  for (int y = 0; y < dull.Height(); ++y) {
    for (int x = 0; x < dull.Width() * 3; ++x) dull.Row(y)[x] = 60 + dull.Row(y)[x] / 2;
  }
  WritePage(dir / "src/dull.jpg", dull, 0);
  params.SetValue(kContrast, 115);
  settings.colourMode = kKeepAsIs;
  const Result plain = Run("plain", false);
  for (const auto& [slot, value] :
       std::vector<std::pair<int, int>>{{kAutoLevels, 1}, {kFitWidth, 40}}) {
    SCOPED_TRACE(slot);
    params.SetValue(slot, value);
    if (slot == kFitWidth) params.SetValue(kFitHeight, 20);
    const std::string n = std::to_string(slot);
    Run("rows" + n, true);  // makes the folders: the second run could stream
    const Result rows = Run("rows" + n, true);
    const Result whole = Run("whole" + n, false);
    ExpectSame(rows, whole);
    EXPECT_NE(rows.files.at("dull.jpg"), plain.files.at("dull.jpg"));
    params.SetValue(slot, 0);
  }
}

// A stop at each of the run's stop checks ends both conversions at the same
// file and step, with the same files written and nothing half-written.
TEST_F(BatchRowsTest, StopsWhereTheWholePageConversionStops) {
  WriteSources(dir / "src", false, false);
  params.SetValue(kSharpen, 2);
  params.SetValue(kContrast, 130);
  settings.colourMode = kKeepAsIs;
  // The folders exist, as on a second run, so every JPEG streams.
  Run("whole", false);
  Run("rows", true);
  const Result full = Run("whole", false);
  for (int stop = 1; stop <= full.pumps; stop += 3) {
    SCOPED_TRACE(stop);
    const Result whole = Run("whole", false, 1, stop);
    const Result rows = Run("rows", true, 1, stop);
    ExpectSame(rows, whole);
    for (const auto& [name, bytes] : rows.files) {
      EXPECT_EQ(name.find("inkbrite-tmp"), std::string::npos) << name;
    }
  }
}

// A target that cannot grow (a full disk, here a file size limit) fails
// the file as the whole-page conversion fails it, leaving the earlier file.
TEST_F(BatchRowsTest, AWriteFailureFailsTheFileAsWhole) {
  params.SetValue(kBrightness, 120);
  WritePage(dir / "src/big.jpg", test::MakeNoise(400, 300, 9), 0);
  WritePage(dir / "src/small.jpg", test::MakeNoise(8, 8, 9), 0);
  WriteFileFailingAtItsEnd(dir / "src/failing.jpg");
  Run("whole", false);
  Run("rows", true);
  const std::vector<uint8_t> before = test::ReadAll(dir / "rows/big.jpg");
  Result whole, rows;
  {
    test::FileSizeLimit limit(20000);
    whole = Run("whole", false);
    rows = Run("rows", true);
  }
  ExpectSame(rows, whole, false);
  EXPECT_EQ(rows.files.at("big.jpg"), before);
  EXPECT_NE(rows.record.find("文件写入失败：" + (dir / "big.jpg").string()), std::string::npos)
      << rows.record;
  EXPECT_NE(rows.record.find("文件读取失败："), std::string::npos) << rows.record;
}

// The point of it: a large page goes through with a few rows in memory, also
// a book's page. (The encoder still holds the page's coefficients for its
// optimised Huffman tables, about as large as the decoded page: the decoded
// page is what is saved.)
TEST_F(BatchRowsTest, ThePageNeverWaitsWholeInMemory) {
  if (!test::PeakMemory::Available()) GTEST_SKIP() << "the peak memory cannot be reset here";
  WritePage(dir / "src/large.jpg", test::MakePattern(3000, 2000), 0);  // 18 MB decoded
  params.SetValue(kSharpen, 3);
  params.SetValue(kGamma, 90);
  settings.colourMode = kColourComic;
  fs::create_directories(dir / "whole");
  fs::create_directories(dir / "rows");
  int64_t wholeGrowth = 0, rowsGrowth = 0;
  {
    test::PeakMemory peak;
    Run("whole", false);
    wholeGrowth = peak.GrowthBytes();
  }
  {
    test::PeakMemory peak;
    Run("rows", true);
    rowsGrowth = peak.GrowthBytes();
  }
  EXPECT_EQ(test::ReadAll(dir / "rows/large.jpg"), test::ReadAll(dir / "whole/large.jpg"));
  EXPECT_GT(wholeGrowth - rowsGrowth, 15'000'000)
      << "whole page " << wholeGrowth << " bytes, row by row " << rowsGrowth;

  // The same page in a book streams from its bytes into the CBZ: the
  // decoded page (18 MB) is never held; the page's file bytes and its
  // converted bytes (3 MB each) are.
  fs::remove(dir / "src/large.jpg");
  test::WriteArchive(dir / "src/book.cbz", test::MadeFormat::kZipStored,
                     {{"large.jpg", test::ReadAll(dir / "whole/large.jpg")}});
  settings.patterns = "*.cbz";
  {
    test::PeakMemory peak;
    Run("wholeBook", false);
    wholeGrowth = peak.GrowthBytes();
  }
  {
    test::PeakMemory peak;
    Run("rowsBook", true);
    rowsGrowth = peak.GrowthBytes();
  }
  ASSERT_TRUE(fs::exists(dir / "rowsBook/book.cbz"));
  EXPECT_EQ(test::ReadAll(dir / "rowsBook/book.cbz"), test::ReadAll(dir / "wholeBook/book.cbz"));
  EXPECT_GT(wholeGrowth - rowsGrowth, 5'000'000)
      << "whole page " << wholeGrowth << " bytes, row by row " << rowsGrowth;
}

}  // namespace
}  // namespace inkbrite
