// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "core/enhance.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "platform/file_io.h"
#include "tests/engine/recording_host.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

using test::RecordingHost;

DibImage ColourPage() { return test::MakePattern(8, 6); }
DibImage GreyPage() { return test::MakeGreyPattern(8, 6); }

// Grey pages are written as grey files, so the reader reports them grey.
void WritePage(const fs::path& path, const DibImage& page) {
  fs::create_directories(path.parent_path());
  ASSERT_EQ(SaveImageFile(path, page, page.IsGrey() ? 1 : 0, 90), 1) << path;
}

void WriteBytes(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  test::WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

DibImage LoadPage(const fs::path& path, int* grey = nullptr) {
  DibImage page;
  int g = 0;
  EXPECT_EQ(LoadImageFile(path, page, &g), 1) << path;
  if (grey) *grey = g;
  return page;
}

using test::ReadText;

class BatchJobTest : public ::testing::Test {
 protected:
  BatchJobTest() {
    settings.sourceDir = dir / "src";
    settings.targetDir = dir / "tgt";
    settings.patterns = "*.bmp;*.png;*.jpg";
    settings.newExtension = ".png";
    settings.colourMode = 0;
    settings.params = &params;
    settings.recordPath = dir / "rec.txt";
  }
  void Run(const BatchSelection* selection = nullptr) {
    host = RecordingHost{};
    job.Run(host, settings, selection);
  }

  test::TempDir dir;
  CParaBlock params;
  BatchSettings settings;
  RecordingHost host;
  CBatchJob job;
};

TEST_F(BatchJobTest, MirrorsTreeWithNewExtensionAndCountsProgress) {
  WritePage(dir / "src/a.bmp", ColourPage());
  WritePage(dir / "src/sub/b.png", ColourPage());
  WritePage(dir / "src/sub/deeper/c.bmp", GreyPage());
  WriteBytes(dir / "src/notes.txt", "x");

  Run();
  EXPECT_EQ(host.messages, std::vector<std::string>{"3个文件需要转换，\n3个文件转换成功。"});
  for (const char* name : {"tgt/a.png", "tgt/sub/b.png", "tgt/sub/deeper/c.png"}) {
    EXPECT_EQ(LoadPage(dir / name).Width(), 8) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "tgt/notes.png"));
  EXPECT_EQ(host.range, 4 * 12);
  EXPECT_EQ(host.advanced, 3 * 12);
  EXPECT_EQ(host.positions, (std::vector<int>{48, 0}));
  EXPECT_EQ(host.operations.front(), "统计文件数");
  EXPECT_EQ(host.operations.back(), "");
  EXPECT_TRUE(fs::exists(settings.recordPath));
  EXPECT_EQ(ReadText(settings.recordPath), "");

  // Resized: 13 units reserved a file, 12 used; a read-only target is
  // overwritten.
  fs::permissions(dir / "tgt/a.png", fs::perms::owner_read);
  params.SetValue(kResize, 50);
  settings.resizePercent = 50;
  Run();
  EXPECT_EQ(host.range, 4 * 13);
  EXPECT_EQ(host.advanced, 3 * 12);
  EXPECT_EQ(host.positions, (std::vector<int>{52, 0}));
  EXPECT_EQ(LoadPage(dir / "tgt/a.png").Width(), 4);
}

TEST_F(BatchJobTest, TargetInsideSourceIsNeverWalked) {
  WritePage(dir / "src/a.bmp", ColourPage());
  WritePage(dir / "src/sub/b.bmp", ColourPage());
  settings.targetDir = dir / "src/out";
  settings.newExtension = ".bmp";
  Run();
  Run();  // the converted files are not converted again
  EXPECT_EQ(job.Total(), 2);
  EXPECT_EQ(job.SuccessCount(), 2);
  EXPECT_TRUE(fs::exists(dir / "src/out/a.bmp"));
  EXPECT_TRUE(fs::exists(dir / "src/out/sub/b.bmp"));
  EXPECT_FALSE(fs::exists(dir / "src/out/out"));
}

TEST_F(BatchJobTest, RefusesBeforeCounting) {
  WritePage(dir / "src/a.png", ColourPage());

  settings.colourMode = 3;
  settings.newExtension = ".JPG";
  Run();
  EXPECT_EQ(host.messages,
            std::vector<std::string>{"抱歉，减色后的图像只能保存为PNG格式，请重新选择。"});
  EXPECT_TRUE(host.operations.empty());
  EXPECT_FALSE(fs::exists(settings.recordPath));

  // .bmp and .tif take reduced pages.
  settings.newExtension = ".BMP";
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_TRUE(fs::exists(dir / "tgt/a.BMP"));

  settings.colourMode = 0;
  settings.sourceDir.clear();
  Run();
  EXPECT_EQ(host.messages, std::vector<std::string>{"请先选择存放源文件的目录。"});
  settings.sourceDir = dir / "src";
  settings.targetDir.clear();
  Run();
  EXPECT_EQ(host.messages, std::vector<std::string>{"请先选择存放新文件的目录。"});

  // The same folder, written differently, is still the same folder; No ends
  // the run before counting.
  fs::remove(settings.recordPath);
  settings.targetDir = dir / "src/";
  RecordingHost no;
  no.answer = MessageAnswer::kNo;
  job.Run(no, settings);
  EXPECT_EQ(no.messages, std::vector<std::string>{
                             "源目录与目标目录相同，源文件将被转换后的文件所覆盖。要继续吗？"});
  EXPECT_EQ(no.kinds.back(), MessageKind::kYesNo);
  EXPECT_TRUE(no.operations.empty());
  EXPECT_TRUE(job.SameFolderMode());
  EXPECT_EQ(job.Total(), 0);
  EXPECT_FALSE(fs::exists(settings.recordPath));

  // An empty folder.
  fs::create_directories(dir / "empty");
  settings.sourceDir = dir / "empty";
  settings.targetDir = dir / "tgt";
  Run();
  EXPECT_EQ(host.messages, std::vector<std::string>{"抱歉，在源目录下没有可供转换的文件。"});
}

// The dialog's question before replacing files: asked once with the number
// of files that exist and that the host did not write; No writes nothing.
TEST_F(BatchJobTest, AsksOnceBeforeReplacingFilesTheHostDidNotWrite) {
  for (const char* name : {"a.png", "b.png", "c.png"}) WritePage(dir / "src" / name, ColourPage());
  WriteBytes(dir / "tgt/a.png", "mine");
  WriteBytes(dir / "tgt/b.png", "mine too");
  settings.askBeforeReplacing = true;
  EXPECT_EQ(CountExistingTargets(settings, nullptr), 2);

  RecordingHost no;
  no.answer = MessageAnswer::kNo;
  job.Run(no, settings);
  EXPECT_EQ(no.messages, std::vector<std::string>{
                             "目标目录中已有2个同名文件，它们将被转换后的文件所覆盖。要继续吗？"});
  EXPECT_EQ(ReadText(dir / "tgt/a.png"), "mine");
  EXPECT_FALSE(fs::exists(dir / "tgt/c.png"));
  EXPECT_FALSE(fs::exists(settings.recordPath));

  Run();
  EXPECT_EQ(host.messages.size(), 2u);  // the question, answered Yes, and the summary
  EXPECT_EQ(job.SuccessCount(), 3);
  EXPECT_EQ(job.WrittenFiles().size(), 3u);

  // What the host wrote itself is not asked about again.
  const std::set<fs::path> written = job.WrittenFiles();
  settings.ownFiles = &written;
  WritePage(dir / "src/d.png", ColourPage());
  Run();
  EXPECT_EQ(host.messages, std::vector<std::string>{"4个文件需要转换，\n4个文件转换成功。"});
  WriteBytes(dir / "tgt/e.png", "other");
  WritePage(dir / "src/e.png", ColourPage());
  EXPECT_EQ(CountExistingTargets(settings, nullptr), 2);  // d.png and e.png

  // Over the sources the same-folder question is the only one.
  settings.targetDir = dir / "src";
  Run();
  EXPECT_EQ(host.messages.front(), std::string(kBatchSameFolderQuestion));
  EXPECT_EQ(host.messages.size(), 2u);
}

TEST_F(BatchJobTest, KeepAsIsJudgesEachPageAndSkippedColourPagesAreCopiedOrLeft) {
  WritePage(dir / "src/grey.png", GreyPage());
  WritePage(dir / "src/colour.png", ColourPage());
  settings.colourMode = 2;
  Run();
  int grey = 0;
  EXPECT_TRUE(LoadPage(dir / "tgt/grey.png", &grey).IsGrey());
  EXPECT_EQ(grey, 1);  // written as a grey file
  EXPECT_FALSE(LoadPage(dir / "tgt/colour.png", &grey).IsGrey());
  EXPECT_EQ(grey, 0);

  // Black-and-white comic: grey in every format, BMP included.
  settings.colourMode = 1;
  settings.newExtension = ".bmp";
  Run();
  EXPECT_TRUE(LoadPage(dir / "tgt/colour.bmp").IsGrey());
  EXPECT_FALSE(LoadPage(dir / "src/colour.png").IsGrey());

  // Skip colour: the colour page is copied, never over an existing file.
  WritePage(dir / "tgt/colour.png", GreyPage());
  settings.colourMode = 2;
  settings.newExtension = ".png";
  settings.skipColour = true;
  Run();
  EXPECT_EQ(job.SuccessCount(), 2);
  EXPECT_TRUE(LoadPage(dir / "tgt/colour.png").IsGrey());  // kept
  EXPECT_EQ(test::ReadAll(dir / "tgt/colour (2).png"), test::ReadAll(dir / "src/colour.png"));
  EXPECT_EQ(host.advanced, 2 * 12);

  // Over the sources: the grey page is replaced, the colour one left alone.
  const std::vector<uint8_t> colourBytes = test::ReadAll(dir / "src/colour.png");
  settings.targetDir = dir / "src";
  Run();
  EXPECT_EQ(job.SuccessCount(), 2);
  EXPECT_EQ(test::ReadAll(dir / "src/colour.png"), colourBytes);
  EXPECT_FALSE(fs::exists(dir / "src/colour (2).png"));
  EXPECT_TRUE(LoadPage(dir / "src/grey.png", &grey).IsGrey());
  EXPECT_EQ(grey, 1);
}

// A coloured bilevel page (red and yellow) reads as a grey source, so "keep
// as is" writes it grey: in every format the batch job writes the bytes the
// viewer's Save writes for that page (SavePageInColourMode), the page greyed
// as Greyscale greys it rather than, say, its blue bytes (all black).
TEST_F(BatchJobTest, KeepAsIsWritesWhatTheViewerSavesInEveryFormat) {
  const RgbQuad red{0, 0, 255, 0}, yellow{0, 255, 255, 0};
  std::vector<uint8_t> file = {'B', 'M'};
  const std::vector<uint8_t> dib =
      test::MakeDib(8, 2, 1, {red, yellow}, {{0x5A, 0, 0, 0}, {0xF0, 0, 0, 0}});
  test::PutLE(file, 4, {uint32_t(14 + dib.size()), 0, 14 + 40 + 8});
  file.insert(file.end(), dib.begin(), dib.end());
  fs::create_directories(dir / "src");
  test::WriteAll(dir / "src/page.bmp", file);
  int greySource = 0;
  DibImage page = LoadPage(dir / "src/page.bmp", &greySource);
  ASSERT_EQ(greySource, 1);
  ASSERT_FALSE(page.IsGrey());
  EnhanceHooks batchMode;
  batchMode.mode = EnhanceMode::kBatch;
  ASSERT_EQ(EnhanceImage(params, page, batchMode), 0);
  DibImage greyed = page;
  ASSERT_TRUE(greyed.Greyscale());

  settings.patterns = "*.bmp";
  settings.colourMode = kKeepAsIs;
  for (const std::string& ext : SaveExtensions()) {
    SCOPED_TRACE(ext);
    settings.newExtension = ext;
    Run();
    ASSERT_EQ(job.SuccessCount(), 1);
    const fs::path viewer = dir / ("viewer" + ext);
    ASSERT_EQ(SavePageInColourMode(viewer, page, kKeepAsIs, true, settings.jpegQuality), 1);
    EXPECT_EQ(test::ReadAll(dir / ("tgt/page" + ext)), test::ReadAll(viewer));
    if (ext == ".png") {
      EXPECT_EQ(LoadPage(dir / "tgt/page.png").PackedDib(), greyed.PackedDib());
    }
  }
}

TEST_F(BatchJobTest, RecordsReadAndWriteFailures) {
  WriteBytes(dir / "src/bad.jpg", "not a JPEG");
  WritePage(dir / "src/good.png", ColourPage());
  WritePage(dir / "src/sub/x.bmp", ColourPage());
  WritePage(dir / "src/sub/y.png", ColourPage());
  WriteBytes(dir / "tgt/sub", "x");  // a file where the folder should be
  settings.skipColour = false;

  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(host.advanced, 4 * 12);
  EXPECT_EQ(ReadText(settings.recordPath),
            "文件读取失败：" + (dir / "src/bad.jpg").string() + ": 文件已损坏或不完整\n" +
                "文件写入失败：" + (dir / "tgt/sub/x.png").string() + "\n" + "文件写入失败：" +
                (dir / "tgt/sub/y.png").string() + "\n");
  EXPECT_EQ(host.messages,
            std::vector<std::string>{"4个文件需要转换，\n1个文件转换成功。\n您想看结果记录吗？"});
  EXPECT_EQ(host.opened, std::vector<fs::path>{settings.recordPath});

  // A colour page that cannot be copied is a write failure, not a success.
  settings.skipColour = true;
  settings.patterns = "*.png";
  fs::remove(dir / "tgt/good.png");
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(ReadText(settings.recordPath),
            "文件写入失败：" + (dir / "tgt/sub/y.png").string() + "\n");
}

// What killed runs left: temporary files of ours whose writer is gone are
// removed from the folders a run writes into and from the record's folder;
// those of a running process, in folders the run does not write into, and
// names that only look like ours stay.
TEST_F(BatchJobTest, TemporariesLeftByKilledRunsAreRemoved) {
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  WritePage(dir / "src/a.png", ColourPage());
  WritePage(dir / "src/sub/b.png", ColourPage());
  const fs::path stale[] = {dir / "tgt" / TempFileName("a.png", gone, "abcdefgh"),
                            dir / "tgt/sub" / TempFileName("b.png", gone, "k2k2k2k2"),
                            dir / TempFileName("rec.txt", gone, "abcdefgh")};
  const fs::path kept[] = {dir / "tgt" / TempFileName("c.png", getpid(), "abcdefgh"),
                           dir / "tgt" / (".c.png." + std::to_string(gone) + ".short.inkbrite-tmp"),
                           dir / "tgt/elsewhere" / TempFileName("d.png", gone, "abcdefgh")};
  for (const fs::path& path : stale) WriteBytes(path, "half a page");
  for (const fs::path& path : kept) WriteBytes(path, "x");
  settings.jobs = 2;
  Run();
  EXPECT_EQ(job.SuccessCount(), 2);
  for (const fs::path& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  for (const fs::path& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_EQ(RemoveStaleTemporaries(dir / "tgt/elsewhere"), 1);
}

TEST_F(BatchJobTest, StopsDuringConversionAndCounting) {
  WritePage(dir / "src/a.png", ColourPage());
  WritePage(dir / "src/b.png", ColourPage());
  WritePage(dir / "src/c.png", ColourPage());
  RecordingHost stopping;
  stopping.stopAtFile = 2;
  job.Run(stopping, settings);
  EXPECT_EQ(stopping.messages,
            std::vector<std::string>{"3个文件需要转换，\n1个文件转换成功。\n您选择了中途停止。"});
  EXPECT_EQ(stopping.positions, std::vector<int>{0});  // never filled
  EXPECT_TRUE(fs::exists(dir / "tgt/a.png"));
  EXPECT_FALSE(fs::exists(dir / "tgt/c.png"));

  // Picked files: the same stop rule, and only those files.
  BatchSelection picked{dir / "src", {dir / "src/c.png", dir / "src/a.png"}};
  Run(&picked);
  EXPECT_EQ(job.Total(), 2);
  EXPECT_EQ(job.SuccessCount(), 2);
  EXPECT_TRUE(fs::exists(dir / "tgt/c.png"));
  EXPECT_FALSE(fs::exists(dir / "tgt/b.png"));

  // Stopped while counting: no message at all, no record.
  fs::remove(settings.recordPath);
  RecordingHost always;
  always.stopAtPump = 1;
  job.Run(always, settings);
  EXPECT_TRUE(always.messages.empty());
  EXPECT_FALSE(fs::exists(settings.recordPath));
}

// Every file below `root` by relative path, with its bytes.
std::map<std::string, std::vector<uint8_t>> TreeBytes(const fs::path& root) {
  std::map<std::string, std::vector<uint8_t>> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      tree[entry.path().lexically_relative(root).string()] = test::ReadAll(entry.path());
    }
  }
  return tree;
}

// A folder whose files touch each other's names: in same-folder mode the
// BMP's output replaces the colour PNG before the PNG pattern reads it; the
// skip-colour copies need free names; one file is unreadable.
void WriteTangledTree(const fs::path& root) {
  WritePage(root / "a.bmp", GreyPage());
  WritePage(root / "a.png", ColourPage());
  WritePage(root / "b.png", ColourPage());
  WritePage(root / "b (2).png", GreyPage());
  WritePage(root / "c.jpg", ColourPage());
  WriteBytes(root / "d.png", "broken");
  for (int i = 0; i < 6; ++i)
    WritePage(root / "sub" / ("p" + std::to_string(i) + ".bmp"), GreyPage());
  WritePage(root / "sub/p0.png", ColourPage());
}

// Two sources with one target: page.png and page.jpg into ".bmp", the same
// name in two picked folders, and a.jpg and a.bmp over the sources into
// ".png". The first in walk order is written, the second fails with its own
// record line, and the counts say so; workers choose the same file.
TEST_F(BatchJobTest, ASecondFileForOneTargetFailsInsteadOfReplacingTheFirst) {
  WritePage(dir / "src/page.png", test::MakePattern(10, 6));
  WritePage(dir / "src/page.jpg", test::MakePattern(12, 6));
  WritePage(dir / "src/other.png", ColourPage());
  settings.newExtension = ".bmp";
  std::vector<std::string> records;
  for (int jobs : {1, 4}) {
    settings.jobs = jobs;
    settings.targetDir = dir / ("tgt" + std::to_string(jobs));
    Run();
    EXPECT_EQ(job.Total(), 3);
    EXPECT_EQ(job.SuccessCount(), 2);
    EXPECT_EQ(host.messages, std::vector<std::string>{"3个文件需要转换，\n2个文件转换成功。\n"
                                                      "您想看结果记录吗？"});
    EXPECT_EQ(LoadPage(settings.targetDir / "page.bmp").Width(), 10);  // "*.png" comes first
    EXPECT_EQ(ReadText(settings.recordPath), "文件重名未转换：" + (dir / "src/page.jpg").string() +
                                                 " → " +
                                                 (settings.targetDir / "page.bmp").string() + "\n");
    records.push_back(ReadText(settings.recordPath));
  }
  EXPECT_EQ(TreeBytes(dir / "tgt1"), TreeBytes(dir / "tgt4"));

  // Picked in two folders: both would be "tgt/p.png".
  WritePage(dir / "a/p.png", ColourPage());
  WritePage(dir / "b/p.png", GreyPage());
  BatchSelection picked{dir / "a", {dir / "a/p.png", dir / "b/p.png"}};
  settings.newExtension = ".png";
  for (int jobs : {1, 4}) {
    settings.jobs = jobs;
    Run(&picked);
    EXPECT_EQ(job.SuccessCount(), 1) << jobs;
    EXPECT_FALSE(LoadPage(settings.targetDir / "p.png").IsGrey()) << jobs;
  }

  // Over the sources: a.jpg and a.bmp both become a.png.
  WritePage(dir / "same/a.jpg", ColourPage());
  WritePage(dir / "same/a.bmp", GreyPage());
  settings.sourceDir = settings.targetDir = dir / "same";
  settings.patterns = "*.bmp;*.jpg";
  settings.jobs = 1;
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_TRUE(LoadPage(dir / "same/a.png").IsGrey());
  EXPECT_TRUE(fs::exists(dir / "same/a.jpg"));
}

// A two-page spread (left page dark blue, right page dark red, white
// gutter at 190 to 210) and its pages as the split gives them.
DibImage Spread() {
  return test::MakeImage(400, 320, [](int32_t x, int32_t y) {
    if (x < 10 || x >= 390 || y < 10 || y >= 310 || (x >= 190 && x < 210)) {
      return test::Bgr{255, 255, 255};
    }
    return x < 200 ? test::Bgr{120, 20, 20} : test::Bgr{20, 20, 120};
  });
}

TEST_F(BatchJobTest, SpreadsAreWrittenAsTwoPagesInReadingOrderAndReported) {
  WritePage(dir / "src/spread.png", Spread());
  WritePage(dir / "src/single.png", test::MakePattern(6, 8));  // taller than wide
  params.SetValue(kSplitSpreads, 1);
  settings.reportFindings = true;
  std::vector<std::map<std::string, std::vector<uint8_t>>> trees;
  for (int jobs : {1, 4}) {
    settings.jobs = jobs;
    settings.targetDir = dir / ("tgt" + std::to_string(jobs));
    Run();
    EXPECT_EQ(host.messages, std::vector<std::string>{"2个文件需要转换，\n2个文件转换成功。"});
    EXPECT_EQ(host.advanced, 2 * 12);  // a split file takes one file's units
    const DibImage first = LoadPage(settings.targetDir / "spread_1.png");
    const DibImage second = LoadPage(settings.targetDir / "spread_2.png");
    EXPECT_EQ(first.Width() + second.Width(), 400);
    EXPECT_EQ(test::PixelAt(first, 40, 60), (test::Bgr{120, 20, 20}));  // left page first
    EXPECT_EQ(test::PixelAt(second, 40, 60), (test::Bgr{20, 20, 120}));
    EXPECT_FALSE(fs::exists(settings.targetDir / "spread.png"));
    EXPECT_EQ(LoadPage(settings.targetDir / "single.png").Width(), 6);  // not a spread
    const std::string record = ReadText(settings.recordPath);
    const std::string column = std::to_string(first.Width());
    for (const std::string& line :
         {"自动处理：" + (settings.targetDir / "spread_1.png").string() +
              "\tskew=\tsplit=" + column + "/1\tcrop=\tlevels=\tfit=\tsure=\n",
          "自动处理：" + (settings.targetDir / "spread_2.png").string() +
              "\tskew=\tsplit=" + column + "/2\tcrop=\tlevels=\tfit=\tsure=\n",
          "自动处理：" + (settings.targetDir / "single.png").string() +
              "\tskew=\tsplit=-\tcrop=\tlevels=\tfit=\tsure=\n"}) {
      EXPECT_NE(record.find(line), std::string::npos) << record;
    }
    trees.push_back(TreeBytes(settings.targetDir));
  }
  EXPECT_EQ(trees[0], trees[1]);

  // A JSON record carries the findings as a member of the file's object.
  settings.recordFormat = RecordFormat::kJsonLines;
  settings.targetDir = dir / "json";
  Run();
  const std::string json = ReadText(settings.recordPath);
  EXPECT_NE(json.find("\"findings\":\"spread_1.png\\tskew=\\tsplit="), std::string::npos) << json;
  EXPECT_NE(json.find("\\nspread_2.png\\tskew="), std::string::npos) << json;
  settings.recordFormat = RecordFormat::kText;

  // Right to left (manga): the right page comes first; no report asked.
  params.SetValue(kSplitRightToLeft, 1);
  settings.reportFindings = false;
  settings.jobs = 1;
  Run();
  EXPECT_EQ(test::PixelAt(LoadPage(settings.targetDir / "spread_1.png"), 40, 60),
            (test::Bgr{20, 20, 120}));
  EXPECT_EQ(ReadText(settings.recordPath), "");

  // A source named like a page of the split fails instead of replacing it,
  // for any number of workers.
  WritePage(dir / "src/spread_2.png", test::MakePattern(6, 8));
  for (int jobs : {1, 4}) {
    settings.jobs = jobs;
    settings.targetDir = dir / ("clash" + std::to_string(jobs));
    Run();
    EXPECT_EQ(job.SuccessCount(), 2) << jobs;
    EXPECT_EQ(LoadPage(settings.targetDir / "spread_2.png").Width(), 200) << jobs;
    EXPECT_NE(ReadText(settings.recordPath).find("文件重名未转换："), std::string::npos);
  }
}

// A spread turned a quarter (the page read first at the top), or turned and
// then split: the turned spread, then its pages in reading order.
TEST_F(BatchJobTest, SpreadsTurnedOrTurnedAndSplit) {
  WritePage(dir / "src/spread.png", Spread());
  WritePage(dir / "src/single.png", test::MakePattern(6, 8));
  params.SetValue(kSplitSpreads, 1);
  const test::Bgr left{120, 20, 20}, right{20, 20, 120};
  struct Case {
    SpreadPages mode;
    bool rightToLeft;
    int jobs;
    std::vector<std::string> files;
    test::Bgr top;    // of the turned spread
    test::Bgr first;  // the first page of the split, if any
  };
  const std::vector<std::string> turned{"single.png", "spread.png"};
  const std::vector<std::string> both{"single.png", "spread_1.png", "spread_2.png", "spread_3.png"};
  for (const Case& c : {Case{SpreadPages::kRotate, false, 1, turned, left, {}},
                        Case{SpreadPages::kRotate, true, 1, turned, right, {}},
                        Case{SpreadPages::kBoth, false, 4, both, left, left},
                        Case{SpreadPages::kBoth, true, 1, both, right, right}}) {
    SCOPED_TRACE(static_cast<int>(c.mode) * 10 + c.rightToLeft);
    settings.spreadPages = c.mode;
    settings.jobs = c.jobs;
    params.SetValue(kSplitRightToLeft, c.rightToLeft ? 1 : 0);
    fs::remove_all(dir / "tgt");
    Run();
    EXPECT_EQ(job.SuccessCount(), 2);
    EXPECT_EQ(host.advanced, 2 * 12);
    EXPECT_EQ(test::Listing(dir / "tgt"), c.files);
    const DibImage whole = LoadPage(dir / "tgt" / c.files[1]);
    EXPECT_EQ(whole.Width(), 320);
    EXPECT_EQ(whole.Height(), 400);
    EXPECT_EQ(test::PixelAt(whole, 60, 40), c.top);
    if (c.mode == SpreadPages::kBoth) {
      const DibImage first = LoadPage(dir / "tgt/spread_2.png");
      EXPECT_EQ(first.Height(), 320);
      EXPECT_EQ(test::PixelAt(first, 40, 60), c.first);
    }
  }
}

TEST_F(BatchJobTest, WorkersWriteWhatOneAtATimeWrites) {
  WriteTangledTree(dir / "src");
  params.SetValue(kSharpen, 2);
  settings.colourMode = 2;
  settings.skipColour = true;
  WritePage(dir / "tgt1/b.png", GreyPage());  // taken names for the copies
  WritePage(dir / "tgt4/b.png", GreyPage());

  // Into another folder, and over the sources themselves.
  for (bool sameFolder : {false, true}) {
    std::vector<std::string> records;
    for (int jobs : {1, 4}) {
      const std::string n = std::to_string(jobs);
      if (sameFolder) fs::copy(dir / "src", dir / ("same" + n), fs::copy_options::recursive);
      settings.sourceDir = dir / (sameFolder ? "same" + n : "src");
      settings.targetDir = dir / (sameFolder ? "same" + n : "tgt" + n);
      settings.jobs = jobs;
      Run();
      EXPECT_EQ(job.Total(), 13);
      EXPECT_EQ(job.SuccessCount(), 12) << jobs;
      EXPECT_EQ(host.advanced, 13 * 12);
      EXPECT_EQ(host.filesStarted, 13);
      std::string record = ReadText(settings.recordPath);
      const std::string folder = settings.targetDir.string();
      for (size_t at; (at = record.find(folder)) != std::string::npos;)
        record.erase(at, folder.size());
      records.push_back(record);
    }
    const std::string a = sameFolder ? "same1" : "tgt1", b = sameFolder ? "same4" : "tgt4";
    EXPECT_EQ(TreeBytes(dir / a), TreeBytes(dir / b)) << sameFolder;
    EXPECT_EQ(records[0], records[1]);
    EXPECT_NE(records[0].find("d.png"), std::string::npos);
  }
  // The copies went to free names, and nothing was left half-written.
  EXPECT_TRUE(fs::exists(dir / "tgt4/b (3).png"));
  for (const auto& [name, bytes] : TreeBytes(dir.path())) {
    EXPECT_EQ(name.find("inkbrite-tmp"), std::string::npos) << name;
  }
}

TEST_F(BatchJobTest, WorkersStopOnRequest) {
  // Links to one large page, so the run is still going when the stop comes.
  WritePage(dir / "page.bmp", test::MakePattern(900, 900));
  fs::create_directories(dir / "src");
  for (int i = 0; i < 30; ++i)
    fs::create_symlink(dir / "page.bmp", dir / "src" / ("p" + std::to_string(i) + ".bmp"));
  params.SetValue(kSharpen, 5);
  settings.jobs = 3;
  RecordingHost stopping;
  stopping.stopAtFile = 4;
  job.Run(stopping, settings);
  ASSERT_EQ(stopping.messages.size(), 1u);
  EXPECT_TRUE(stopping.messages[0].ends_with("\n您选择了中途停止。"));
  EXPECT_LT(job.SuccessCount(), 30);
  // The summary counts exactly the pages written.
  size_t written = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir / "tgt", ec)) {
    written += entry.path().extension() == ".png";
  }
  EXPECT_EQ(written, static_cast<size_t>(job.SuccessCount()));
  EXPECT_EQ(ReadText(settings.recordPath), "");
}

}  // namespace
}  // namespace inkbrite
