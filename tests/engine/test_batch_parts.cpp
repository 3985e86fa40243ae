// SPDX-License-Identifier: GPL-2.0-or-later
// Parts of a job (shards), JSON lines records and resumed runs, through the
// engine itself.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_job.h"
#include "batch/cli_host.h"
#include "batch/run_record.h"
#include "formats/image_file.h"
#include "platform/file_io.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

using test::RecordingHost;

void WritePage(const fs::path& path, int seed, bool grey) {
  fs::create_directories(path.parent_path());
  DibImage page = test::MakeNoise(12 + seed % 5, 9, static_cast<uint32_t>(seed));
  if (grey) page.Greyscale();
  ASSERT_EQ(SaveImageFile(path, page, grey ? 1 : 0, 90), 1) << path;
}

// Every file below `root`, relative, with its bytes.
std::map<std::string, std::vector<uint8_t>> Tree(const fs::path& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[entry.path().lexically_relative(root).native()] = test::ReadAll(entry.path());
    }
  }
  return files;
}

// A record's lines with their times left out (the one thing two runs
// cannot agree on).
std::string WithoutTimes(std::string text) {
  for (size_t at = text.find("\"ms\":"); at != std::string::npos; at = text.find("\"ms\":", at)) {
    const size_t end = text.find(',', at);
    text.erase(at, end - at);
  }
  return text;
}

std::vector<RecordEntry> Entries(const fs::path& record) {
  std::vector<RecordEntry> entries;
  const std::string text = test::ReadText(record);
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    RecordEntry e;
    std::string error;
    EXPECT_TRUE(ParseJsonRecordLine(text.substr(start, end - start), e, error)) << error;
    entries.push_back(e);
    start = end + 1;
  }
  return entries;
}

class BatchPartsTest : public ::testing::Test {
 protected:
  BatchPartsTest() {
    settings.sourceDir = dir / "src";
    settings.targetDir = dir / "dst";
    settings.patterns = "*.bmp;*.png;*.jpg";
    settings.newExtension = ".png";
    settings.params = &params;
    settings.recordFormat = RecordFormat::kJsonLines;
  }

  // A tree with what makes parts hard: two sources of one target (a.bmp and
  // a.jpg into a.png), colour pages copied next to names already taken,
  // an unreadable page, folders, a name that is not UTF-8.
  void MakeTree() {
    int seed = 0;
    const std::set<std::string> colour = {"b.bmp", "c.png", "sub/d.png", "g\xff.bmp", "h.png"};
    for (const char* name : {"a.bmp", "a.jpg", "b.bmp", "c (2).bmp", "c.png", "sub/d.png",
                             "sub/e.bmp", "sub/deep/f.jpg", "g\xff.bmp", "h.png", "i.bmp"}) {
      WritePage(dir / "src" / name, ++seed, colour.count(name) == 0);
    }
    for (int i = 0; i < 20; ++i) {
      ++seed;
      WritePage(dir / "src/many" / ("p" + std::to_string(i) + ".bmp"), seed, i % 4 != 0);
    }
    test::WriteText(dir / "src/bad.bmp", "BM not a page");
  }

  void Run(const fs::path& record) {
    settings.recordPath = record;
    host = RecordingHost{};
    job.Run(host, settings);
  }

  test::TempDir dir;
  CParaBlock params;
  BatchSettings settings;
  RecordingHost host;
  CBatchJob job;
};

// Parts run one after another and at once, with one and several workers,
// write what one run writes, byte for byte; their records merge into the
// one run's record (text and JSON lines), and every file is in one part.
TEST_F(BatchPartsTest, PartsWriteWhatOneRunWrites) {
  MakeTree();
  for (const bool skipColour : {false, true}) {
    SCOPED_TRACE(skipColour);
    settings.skipColour = skipColour;
    // Names the colour copies must step around.
    auto prepare = [this] {
      fs::remove_all(dir / "dst");
      WritePage(dir / "dst/c.bmp", 99, false);
      WritePage(dir / "dst/h.png", 98, false);
    };
    std::map<RecordFormat, std::string> oneRecord;
    std::map<std::string, std::vector<uint8_t>> one;
    for (const RecordFormat format : {RecordFormat::kText, RecordFormat::kJsonLines}) {
      prepare();
      settings.recordFormat = format;
      settings.shard = {};
      settings.jobs = 1;
      Run(dir / "one.rec");
      EXPECT_EQ(job.Total(), 32);
      EXPECT_EQ(job.FailedCount(), 2);  // bad.bmp and the second source of a.png
      oneRecord[format] = WithoutTimes(test::ReadText(dir / "one.rec"));
      one = Tree(dir / "dst");
    }
    for (const int jobs : {1, 3}) {
      for (const RecordFormat format : {RecordFormat::kText, RecordFormat::kJsonLines}) {
        SCOPED_TRACE(jobs);
        prepare();
        settings.recordFormat = format;
        settings.jobs = jobs;
        std::vector<fs::path> records;
        int total = 0;
        for (int k = 0; k < 3; ++k) {
          settings.shard = {k, 3};
          records.push_back(dir / ("part" + std::to_string(k) + ".rec"));
          Run(records.back());
          total += job.Total();
          EXPECT_EQ(host.MessagesOtherThan("").size(), 1u);  // the summary, no refusal
        }
        EXPECT_EQ(total, 32);
        EXPECT_EQ(Tree(dir / "dst"), one);
        std::string merged, error;
        std::vector<int64_t> gaps;
        ASSERT_TRUE(MergeRecords(records, merged, gaps, error)) << error;
        EXPECT_EQ(WithoutTimes(merged), oneRecord[format]);
        EXPECT_TRUE(gaps.empty());
      }
    }
    // Parts at once, each on its own thread, into one target tree.
    prepare();
    std::vector<std::thread> parts;
    std::vector<fs::path> records;
    for (int k = 0; k < 4; ++k) records.push_back(dir / ("at-once" + std::to_string(k) + ".jsonl"));
    for (int k = 0; k < 4; ++k) {
      parts.emplace_back([this, k, &records] {
        BatchSettings mine = settings;
        mine.recordFormat = RecordFormat::kJsonLines;
        mine.shard = {k, 4};
        mine.jobs = 2;
        mine.recordPath = records[static_cast<size_t>(k)];
        RecordingHost quiet;
        CBatchJob part;
        part.Run(quiet, mine);
      });
    }
    for (std::thread& t : parts) t.join();
    EXPECT_EQ(Tree(dir / "dst"), one);
    std::string merged, error;
    std::vector<int64_t> gaps;
    ASSERT_TRUE(MergeRecords(records, merged, gaps, error)) << error;
    EXPECT_EQ(WithoutTimes(merged), oneRecord[RecordFormat::kJsonLines]);
  }
}

// A JPEG page's bytes, `seed` telling pages apart.
std::vector<uint8_t> JpegBytes(int seed) {
  test::TempDir tmp;
  WritePage(tmp / "p.jpg", seed, false);
  return test::ReadAll(tmp / "p.jpg");
}

// Books among loose pages: a book is one unit of a part, as are the loose
// pages in the folder a book is unpacked into (--books folder), which meet
// the book's pages in walk order. Parts with one and several workers write
// what one run writes (a good book, a book with a failed page, an
// encrypted book, pages named like the book's), and their records merge
// into the one run's.
TEST_F(BatchPartsTest, PartsWithBooksWriteWhatOneRunWrites) {
  settings.patterns = "*.bmp;*.png;*.jpg;*.cbz;*.cbr";
  int seed = 0;
  for (const char* name : {"a.bmp", "b.bmp", "sub/c.bmp", "book/001.bmp", "book/extra.bmp",
                           "book/inner/002.bmp", "z.bmp"}) {
    WritePage(dir / "src" / name, ++seed, true);
  }
  auto book = [&seed](int pages) {
    std::vector<test::MadeEntry> entries;
    const std::string info = "<ComicInfo><Title>T</Title></ComicInfo>";
    entries.push_back({"ComicInfo.xml", {info.begin(), info.end()}});
    for (int n = 1; n <= pages; ++n) {
      entries.push_back({"00" + std::to_string(n) + ".jpg", JpegBytes(++seed)});
    }
    entries.push_back({"inner/002.jpg", JpegBytes(++seed)});
    return entries;
  };
  test::WriteArchive(dir / "src/book.cbz", test::MadeFormat::kZipDeflated, book(3));
  test::WriteArchive(dir / "src/sub/other.cbr", test::MadeFormat::kSevenZip, book(2));
  std::vector<test::MadeEntry> broken = book(3);
  broken[2].data.resize(12);  // 002.jpg cut short
  test::WriteArchive(dir / "src/sub/broken.cbz", test::MadeFormat::kZipStored, broken);
  test::WriteArchive(dir / "src/secret.cbz", test::MadeFormat::kZipStored, book(1), "pass");

  for (const BookOutput output : {BookOutput::kCbz, BookOutput::kFolder}) {
    SCOPED_TRACE(static_cast<int>(output));
    settings.books = output;
    std::map<RecordFormat, std::string> oneRecord;
    std::map<std::string, std::vector<uint8_t>> one;
    for (const RecordFormat format : {RecordFormat::kText, RecordFormat::kJsonLines}) {
      fs::remove_all(dir / "dst");
      settings.recordFormat = format;
      settings.shard = {};
      settings.jobs = 1;
      Run(dir / "one.rec");
      EXPECT_EQ(job.Total(), 11);
      // The broken book and the encrypted one; with folders, the loose
      // pages named as pages of the book written before them.
      EXPECT_EQ(job.FailedCount(), output == BookOutput::kCbz ? 2 : 4);
      oneRecord[format] = WithoutTimes(test::ReadText(dir / "one.rec"));
      one = Tree(dir / "dst");
    }
    EXPECT_EQ(one.count(output == BookOutput::kCbz ? "book.cbz" : "book/002.png"), 1u);
    EXPECT_EQ(one.count("sub/broken.cbz") + one.count("sub/broken/001.png"), 0u);
    const std::string& json = oneRecord[RecordFormat::kJsonLines];
    EXPECT_NE(json.find("\"source\":\"sub/broken.cbz\",\"target\":\"sub/broken" +
                        std::string(output == BookOutput::kCbz ? ".cbz" : "") +
                        "\",\"result\":\"read-failed\",\"reason\":\"文件读取失败: 002.jpg: "
                        "文件已损坏或不完整\""),
              std::string::npos)
        << json;
    EXPECT_EQ(json.find("\"source\":\"book/001.bmp\",\"target\":\"book/001.png\",\"result\":"
                        "\"name-taken\"") != std::string::npos,
              output == BookOutput::kFolder)
        << json;
    for (const int jobs : {1, 3}) {
      for (const RecordFormat format : {RecordFormat::kText, RecordFormat::kJsonLines}) {
        SCOPED_TRACE(jobs);
        fs::remove_all(dir / "dst");
        settings.recordFormat = format;
        settings.jobs = jobs;
        std::vector<fs::path> records;
        int total = 0;
        for (int k = 0; k < 4; ++k) {
          settings.shard = {k, 4};
          records.push_back(dir / ("part" + std::to_string(k) + ".rec"));
          Run(records.back());
          total += job.Total();
        }
        EXPECT_EQ(total, 11);
        EXPECT_EQ(Tree(dir / "dst"), one);
        std::string merged, error;
        std::vector<int64_t> gaps;
        ASSERT_TRUE(MergeRecords(records, merged, gaps, error)) << error;
        EXPECT_EQ(WithoutTimes(merged), oneRecord[format]);
      }
    }
  }
}

// The JSON record names every file: what became of it, where it went, its
// sizes; the text record of a part starts its lines with the walk index.
TEST_F(BatchPartsTest, RecordsSayWhatBecameOfEachFile) {
  MakeTree();
  settings.skipColour = true;
  WritePage(dir / "dst/h.png", 98, false);
  Run(dir / "rec.jsonl");
  const std::vector<RecordEntry> entries = Entries(dir / "rec.jsonl");
  ASSERT_EQ(entries.size(), 32u);
  std::map<std::string, RecordEntry> bySource;
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].index, static_cast<int64_t>(i));
    bySource[entries[i].source] = entries[i];
    if (entries[i].result == "converted" || entries[i].result == "copied") {
      EXPECT_EQ(entries[i].bytesWritten, fs::file_size(dir / "dst" / entries[i].target));
      EXPECT_EQ(entries[i].bytesRead, fs::file_size(dir / "src" / entries[i].source));
    }
  }
  EXPECT_EQ(bySource["a.bmp"].result, "converted");
  EXPECT_EQ(bySource["a.bmp"].target, "a.png");
  EXPECT_EQ(bySource["a.jpg"].result, "name-taken");
  EXPECT_EQ(bySource["a.jpg"].reason, "文件重名未转换");
  EXPECT_EQ(bySource["bad.bmp"].result, "read-failed");
  EXPECT_EQ(bySource["bad.bmp"].target, "bad.png");
  EXPECT_EQ(bySource["bad.bmp"].bytesWritten, 0u);
  EXPECT_EQ(bySource["h.png"].result, "copied");  // a colour page, its name taken
  EXPECT_EQ(bySource["h.png"].target, "h (2).png");
  EXPECT_EQ(bySource["g\xff.bmp"].target, "g\xff.bmp");  // copied too
  EXPECT_EQ(bySource["sub/deep/f.jpg"].target, "sub/deep/f.png");

  settings.recordFormat = RecordFormat::kText;
  settings.shard = {0, 1};
  Run(dir / "rec.txt");
  const std::string text = test::ReadText(dir / "rec.txt");
  EXPECT_EQ(text, std::to_string(bySource["bad.bmp"].index) + "\t文件读取失败：" +
                      (dir / "src/bad.bmp").string() + ": 文件已损坏或不完整\n" +
                      std::to_string(bySource["a.jpg"].index) + "\t文件重名未转换：" +
                      (dir / "src/a.jpg").string() + " → " + (dir / "dst/a.png").string() + "\n");
}

// A part with no files of a job that has some runs (it writes its empty
// record) instead of being refused; a job with no files at all is refused.
TEST_F(BatchPartsTest, EmptyPartRunsEmptyJobIsRefused) {
  WritePage(dir / "src/only.bmp", 1, false);
  int converted = 0;
  for (int k = 0; k < 4; ++k) {
    settings.shard = {k, 4};
    Run(dir / ("r" + std::to_string(k) + ".jsonl"));
    EXPECT_TRUE(fs::exists(dir / ("r" + std::to_string(k) + ".jsonl")));
    converted += job.SuccessCount();
    EXPECT_NE(host.messages.back(), std::string(kBatchNoFilesMessage));
  }
  EXPECT_EQ(converted, 1);
  fs::remove(dir / "src/only.bmp");
  Run(dir / "r.jsonl");
  EXPECT_EQ(host.messages.back(), std::string(kBatchNoFilesMessage));
}

// --skip-existing: a second run skips what the first converted, and redoes
// what changed: a source newer than its target, a removed target, other
// settings, a failure. The skipped files still block a second source of
// their target, as in one run.
TEST_F(BatchPartsTest, SkipExistingRedoesOnlyWhatChanged) {
  MakeTree();
  settings.skipExisting = true;
  Run(dir / "rec.jsonl");
  ASSERT_EQ(job.SuccessCount(), 30);
  const auto before = Tree(dir / "dst");
  const auto when = fs::last_write_time(dir / "dst/b.png");

  Run(dir / "rec.jsonl");
  EXPECT_EQ(job.SkippedCount(), 30);
  EXPECT_EQ(job.SuccessCount(), 30);
  EXPECT_EQ(job.FailedCount(), 2);  // bad.bmp again, a.jpg name taken again
  EXPECT_EQ(fs::last_write_time(dir / "dst/b.png"), when);
  EXPECT_EQ(Tree(dir / "dst"), before);
  std::map<std::string, std::string> results;
  for (const RecordEntry& e : Entries(dir / "rec.jsonl")) results[e.source] = e.result;
  EXPECT_EQ(results["a.jpg"], "name-taken");
  EXPECT_EQ(results["b.bmp"], "skipped");

  // Skipped entries count as done for the run after.
  Run(dir / "rec.jsonl");
  EXPECT_EQ(job.SkippedCount(), 30);

  fs::last_write_time(dir / "src/b.bmp",
                      fs::last_write_time(dir / "dst/b.png") + std::chrono::seconds(2));
  fs::remove(dir / "dst/sub/e.png");
  Run(dir / "rec.jsonl");
  EXPECT_EQ(job.SkippedCount(), 28);
  EXPECT_TRUE(fs::exists(dir / "dst/sub/e.png"));

  params.SetValue(kBrightness, 120);
  Run(dir / "rec.jsonl");
  EXPECT_EQ(job.SkippedCount(), 0);
  EXPECT_NE(Tree(dir / "dst"), before);

  // Same-folder mode never skips: the target there may be the source.
  settings.targetDir = settings.sourceDir;
  settings.newExtension = ".bmp";
  settings.patterns = "i.bmp";
  Run(dir / "rec.jsonl");
  Run(dir / "rec.jsonl");
  EXPECT_EQ(job.SkippedCount(), 0);
}

// The JSON record's reason_code is fixed whatever the language; its reason
// is the text record's words in the run's language.
TEST_F(BatchPartsTest, ReasonCodesAreTheSameInEveryLanguage) {
  MakeTree();
  std::map<std::string, std::pair<std::string, std::string>> seen[2];
  for (int lang : {0, 1}) {
    SetMessageLanguage(lang == 0 ? MessageLanguage::kChinese : MessageLanguage::kEnglish);
    fs::remove_all(dir / "dst");
    Run(dir / "rec.jsonl");
    for (const RecordEntry& e : Entries(dir / "rec.jsonl")) {
      seen[lang][e.source] = {e.reasonCode, e.reason};
    }
  }
  SetMessageLanguage(MessageLanguage::kChinese);
  EXPECT_EQ(seen[0]["bad.bmp"], (std::pair<std::string, std::string>{
                                    "unreadable", "文件读取失败: 文件已损坏或不完整"}));
  EXPECT_EQ(seen[1]["bad.bmp"],
            (std::pair<std::string, std::string>{
                "unreadable", "Read failed: the file is damaged or incomplete"}));
  EXPECT_EQ(seen[0]["a.jpg"].first, "name-taken");
  EXPECT_EQ(seen[1]["a.jpg"].first, "name-taken");
  EXPECT_EQ(seen[0]["b.bmp"], (std::pair<std::string, std::string>{"", ""}));
}

// Without a JSON record --skip-existing goes by the targets alone: a file
// whose target exists and is newer than its source is skipped, whatever the
// settings now; a newer source or a removed target is converted again, and
// the pages of a split spread count as its target.
TEST_F(BatchPartsTest, SkipExistingWithATextRecordGoesByTheTargets) {
  MakeTree();
  settings.recordFormat = RecordFormat::kText;
  Run(dir / "rec.txt");
  const int done = job.SuccessCount();
  ASSERT_EQ(done, 30);
  settings.skipExisting = true;
  params.SetValue(kBrightness, 120);
  Run(dir / "rec.txt");
  EXPECT_EQ(job.SkippedCount(), done);
  EXPECT_EQ(CliSummaryLine(settings, job, false),
            "inkbrite-batch: 0个已转换，2个失败，30个跳过（跳过：目标文件比源文件新）");
  fs::last_write_time(dir / "src/b.bmp",
                      fs::last_write_time(dir / "dst/b.png") + std::chrono::seconds(2));
  fs::remove(dir / "dst/sub/e.png");
  Run(dir / "rec.txt");
  EXPECT_EQ(job.SkippedCount(), done - 2);
  EXPECT_TRUE(fs::exists(dir / "dst/sub/e.png"));
  // A split spread's two pages stand for its target; one alone does not.
  const fs::path source = dir / "src/i.bmp";
  fs::remove(dir / "dst/i.png");
  const auto later = fs::last_write_time(source) + std::chrono::seconds(2);
  test::WriteText(dir / "dst/i_1.png", "1");
  fs::last_write_time(dir / "dst/i_1.png", later);
  EXPECT_TRUE(
      DoneByNewerTarget(source, settings.sourceDir, settings.targetDir, settings, true).empty());
  test::WriteText(dir / "dst/i_2.png", "2");
  fs::last_write_time(dir / "dst/i_2.png", later);
  EXPECT_EQ(DoneByNewerTarget(source, settings.sourceDir, settings.targetDir, settings, true),
            (std::vector<fs::path>{dir / "dst/i_1.png", dir / "dst/i_2.png"}));
  EXPECT_TRUE(
      DoneByNewerTarget(source, settings.sourceDir, settings.targetDir, settings, false).empty());
}

// A run killed between writing a page and recording it: the next run finds
// the record of the killed run (its temporary file) and the page, and does
// not do it twice; a colour copy made but not recorded is found by its
// bytes, so the next run does not add a "(2)" copy beside it.
TEST_F(BatchPartsTest, ResumedRunFindsWhatAKilledRunDid) {
  WritePage(dir / "src/grey1.bmp", 1, true);
  WritePage(dir / "src/grey2.bmp", 2, true);
  WritePage(dir / "src/colour.png", 3, false);
  settings.skipColour = true;
  settings.skipExisting = true;
  Run(dir / "full.jsonl");
  ASSERT_EQ(job.SuccessCount(), 3);
  const auto one = Tree(dir / "dst");

  // The killed run recorded grey1 only (its temporary record, its process
  // gone); grey2 and the copy were written but never recorded.
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  std::string killed;
  for (const RecordEntry& e : Entries(dir / "full.jsonl")) {
    if (e.source == "grey1.bmp") killed = JsonRecordLine(e);
  }
  ASSERT_FALSE(killed.empty());
  const fs::path temp = dir / TempFileName("rec.jsonl", gone, "abcdefgh", ThisMachineTag());
  test::WriteText(temp, killed + "{\"index\":1,\"sou");
  fs::last_write_time(dir / "dst/grey1.png", fs::file_time_type::clock::now());
  const auto grey1 = fs::last_write_time(dir / "dst/grey1.png");

  Run(dir / "rec.jsonl");
  EXPECT_EQ(job.SuccessCount(), 3);
  EXPECT_EQ(job.SkippedCount(), 2);  // grey1 by the record, the copy by its bytes
  EXPECT_EQ(fs::last_write_time(dir / "dst/grey1.png"), grey1);
  EXPECT_EQ(Tree(dir / "dst"), one);
  EXPECT_FALSE(fs::exists(temp));  // swept once read
}

}  // namespace
}  // namespace inkbrite
