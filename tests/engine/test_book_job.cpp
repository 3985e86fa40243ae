// SPDX-License-Identifier: GPL-2.0-or-later
// Books in the batch job: a book among the sources becomes a CBZ (or a
// folder) of its converted pages, whole or not at all; every refusal is a
// record line and writes nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "batch/book_writer.h"
#include "batch/cli_host.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "platform/file_io.h"
#include "sources/book_source.h"
#include "tests/engine/job_fixture.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/sources/book_corpus.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;
using test::RecordingHost;

// A JPEG page whose pixels tell `n` apart, `w` pixels wide and 30 tall.
std::vector<uint8_t> JpegPage(int n, int w = 20, int h = 30) {
  test::TempDir dir;
  const DibImage page = test::MakeImage(w, h, [n](int32_t x, int32_t y) {
    return test::Bgr{static_cast<uint8_t>(n * 17), static_cast<uint8_t>(x * 5 + y),
                     static_cast<uint8_t>(y * 7)};
  });
  EXPECT_EQ(SaveImageFile(dir / "p.jpg", page, 0, 90), 1);
  return test::ReadAll(dir / "p.jpg");
}

std::vector<MadeEntry> Book(int pages) {
  std::vector<MadeEntry> entries;
  const std::string info = "<ComicInfo><Title>Book</Title></ComicInfo>";
  entries.push_back({"ComicInfo.xml", {info.begin(), info.end()}});
  for (int n = 1; n <= pages; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", n);
    entries.push_back({name, JpegPage(n)});
  }
  return entries;
}

// Every file below `dir`, relative, sorted.
std::set<std::string> Tree(const fs::path& dir) {
  std::set<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    files.insert(it->path().lexically_relative(dir).string());
  }
  return files;
}

class BookJobTest : public test::JobTest {
 protected:
  std::vector<std::string> Entries(const fs::path& cbz) {
    std::vector<std::string> names;
    for (const MadeEntry& e : test::ReadArchive(cbz)) names.push_back(e.name);
    return names;
  }
};

TEST_F(BookJobTest, ABookBecomesACbzOfItsConvertedPagesInReadingOrder) {
  std::vector<MadeEntry> book = Book(3);
  std::swap(book[1], book[3]);  // stored 003, 002, 001
  book.push_back({"__MACOSX/._001.jpg", {'x'}});
  test::WriteArchive(dir / "src/b.cbr", MadeFormat::kZipDeflated, book);  // a zip named .cbr
  Run();
  EXPECT_EQ(job.Total(), 1);
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(test::ReadText(settings.recordPath), "");
  // Names kept, the pages in reading order, the extension changed, litter
  // left out, the ComicInfo.xml copied unchanged, the entries' times kept.
  const std::vector<MadeEntry> out = test::ReadArchive(dir / "tgt/b.cbz");
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].name, "ComicInfo.xml");
  EXPECT_EQ(out[0].data, book[0].data);
  EXPECT_EQ(out[1].name, "001.png");
  EXPECT_EQ(out[2].name, "002.png");
  EXPECT_EQ(out[3].name, "003.png");
  for (const MadeEntry& e : out) EXPECT_EQ(e.mtime, book[0].mtime) << e.name;
  // Each page is the page converted: here, with neutral settings, the
  // decoded JPEG itself.
  for (int i = 1; i <= 3; ++i) {
    DibImage page, converted;
    const std::vector<uint8_t>& source = book[static_cast<size_t>(4 - i)].data;
    ASSERT_EQ(LoadImageMemory(source.data(), source.size(), "p.jpg", page, nullptr), 1);
    ASSERT_EQ(LoadImageMemory(out[static_cast<size_t>(i)].data.data(),
                              out[static_cast<size_t>(i)].data.size(), "p.png", converted, nullptr),
              1);
    EXPECT_EQ(converted.PackedDib(), page.PackedDib());
  }
  // Nothing else is left in the target: no temporary file or folder.
  EXPECT_EQ(Tree(dir / "tgt"), (std::set<std::string>{"b.cbz"}));
}

TEST_F(BookJobTest, PagesConvertedInParallelGiveTheSameBytes) {
  test::WriteArchive(dir / "src/a.cbz", MadeFormat::kZipStored, Book(24));
  test::WriteArchive(dir / "src/b.cb7", MadeFormat::kSevenZip, Book(9));
  settings.newExtension = ".jpg";
  settings.jobs = 1;
  Run();
  ASSERT_EQ(job.SuccessCount(), 2);
  const std::vector<uint8_t> one = test::ReadAll(dir / "tgt/a.cbz");
  const std::vector<uint8_t> oneB = test::ReadAll(dir / "tgt/b.cbz");
  // JPEG pages are stored, not deflated again.
  EXPECT_GT(one.size(), 24 * 500u);
  for (int jobs : {2, 5}) {
    fs::remove_all(dir / "tgt");
    settings.jobs = jobs;
    Run();
    EXPECT_EQ(test::ReadAll(dir / "tgt/a.cbz"), one) << jobs;
    EXPECT_EQ(test::ReadAll(dir / "tgt/b.cbz"), oneB) << jobs;
  }
}

// A manga book (ComicInfo: right to left) splits its spreads right page
// first, as the viewer reads it, unless the run chose the order itself.
TEST_F(BookJobTest, AMangaBookSplitsItsSpreadsRightPageFirst) {
  constexpr test::Bgr kLeft{120, 20, 20};
  constexpr test::Bgr kRight{20, 20, 120};
  const DibImage spread = test::MakeImage(800, 400, [&](int32_t x, int32_t) {
    return x >= 390 && x < 410 ? test::Bgr{255, 255, 255} : x < 400 ? kLeft : kRight;
  });
  ASSERT_EQ(SaveImageFile(dir / "spread.png", spread, 0, 90), 1);
  const struct {
    const char* manga;  // the ComicInfo's Manga field
    bool chosen;        // the run set the order itself (to left first)
    test::Bgr first;
  } cases[] = {
      {"YesAndRightToLeft", false, kRight},
      {"YesAndRightToLeft", true, kLeft},
      {"No", false, kLeft},
  };
  params.SetValue(kSplitSpreads, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.manga << (c.chosen ? ", order chosen" : ""));
    const std::string info = std::string("<ComicInfo><Manga>") + c.manga + "</Manga></ComicInfo>";
    const std::vector<MadeEntry> book = {{"ComicInfo.xml", {info.begin(), info.end()}},
                                         {"001.png", test::ReadAll(dir / "spread.png")}};
    fs::remove_all(dir / "tgt");
    test::WriteArchive(dir / "src/m.cbz", MadeFormat::kZipStored, book);
    settings.readingOrderChosen = c.chosen;
    Run();
    ASSERT_EQ(job.SuccessCount(), 1);
    const std::vector<MadeEntry> out = test::ReadArchive(dir / "tgt/m.cbz");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].name, "001_1.png");
    test::WriteAll(dir / "first.png", out[1].data);
    DibImage first;
    ASSERT_EQ(LoadImageFile(dir / "first.png", first, nullptr), 1);
    EXPECT_EQ(test::PixelAt(first, 100, 200), c.first);
  }
}

// A spread split in two by the automatic steps becomes two entries of the
// book, side by side where the page was.
TEST_F(BookJobTest, ASplitSpreadBecomesTwoEntriesInItsPlace) {
  std::vector<MadeEntry> book = Book(2);
  book[2].data = JpegPage(2, 800, 320);  // 002.jpg: wider than tall, tall enough to be a spread
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  params.SetValue(kSplitSpreads, 1);
  for (int jobs : {1, 2}) {
    settings.jobs = jobs;
    Run();
    ASSERT_EQ(job.SuccessCount(), 1);
    EXPECT_EQ(Entries(dir / "tgt/b.cbz"),
              (std::vector<std::string>{"ComicInfo.xml", "001.png", "002_1.png", "002_2.png"}))
        << jobs;
  }
}

// The ComicInfo.xml carried over says how many pages were written and
// where they are: a split spread is two single pages in the <Pages> list,
// the later ones renumbered (with splitting on it is written last, once
// every page is known), in a CBZ and in a folder, at any job count.
TEST_F(BookJobTest, ComicInfoStaysTrueWhenASpreadIsSplit) {
  std::vector<MadeEntry> book = Book(3);
  const std::string info =
      "<?xml version=\"1.0\"?>\n<ComicInfo><Title>B</Title><PageCount>3</PageCount>\n"
      "  <Pages>\n    <Page Image=\"0\" Type=\"FrontCover\"/>\n"
      "    <Page Image=\"1\" Type=\"Story\" DoublePage=\"True\" ImageWidth=\"80\"/>\n"
      "    <Page Image=\"2\" ImageSize=\"100\"/>\n  </Pages>\n</ComicInfo>";
  book[0].data.assign(info.begin(), info.end());
  book[2].data = JpegPage(2, 800, 320);  // 002.jpg: a spread
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  const std::string expected =
      "<?xml version=\"1.0\"?>\n<ComicInfo><Title>B</Title><PageCount>4</PageCount>\n"
      "  <Pages>\n    <Page Image=\"0\" Type=\"FrontCover\"/>\n"
      "    <Page Image=\"1\" Type=\"Story\"/>\n    <Page Image=\"2\"/>\n"
      "    <Page Image=\"3\" ImageSize=\"100\"/>\n  </Pages>\n</ComicInfo>";
  params.SetValue(kSplitSpreads, 1);
  for (BookOutput output : {BookOutput::kCbz, BookOutput::kFolder}) {
    for (int jobs : {1, 2}) {
      SCOPED_TRACE(jobs);
      fs::remove_all(dir / "tgt");
      settings.books = output;
      settings.jobs = jobs;
      Run();
      ASSERT_EQ(job.SuccessCount(), 1) << test::ReadText(settings.recordPath);
      if (output == BookOutput::kFolder) {
        EXPECT_EQ(test::ReadText(dir / "tgt/b/ComicInfo.xml"), expected);
        continue;
      }
      const std::vector<MadeEntry> out = test::ReadArchive(dir / "tgt/b.cbz");
      ASSERT_EQ(out.size(), 5u);
      EXPECT_EQ(out[4].name, "ComicInfo.xml");
      EXPECT_EQ(std::string(out[4].data.begin(), out[4].data.end()), expected);
    }
  }
  // Without splitting a true ComicInfo.xml keeps its bytes and its place,
  // and a false page count is made true.
  params.SetValue(kSplitSpreads, 0);
  settings.books = BookOutput::kCbz;
  Run();
  EXPECT_EQ(test::ReadArchive(dir / "tgt/b.cbz")[0].data, book[0].data);
  const std::string wrong = "<ComicInfo><PageCount>9</PageCount></ComicInfo>";
  book[0].data.assign(wrong.begin(), wrong.end());
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  Run();
  const std::vector<uint8_t> now = test::ReadArchive(dir / "tgt/b.cbz")[0].data;
  EXPECT_EQ(std::string(now.begin(), now.end()), "<ComicInfo><PageCount>3</PageCount></ComicInfo>");
}

// Entries left out of a book are counted by their reason, in the record
// and in the summary; a second entry of a name is written once.
TEST_F(BookJobTest, EntriesLeftOutAreCountedAndNamesWrittenOnce) {
  std::vector<MadeEntry> book = Book(1);
  book.push_back({"notes.txt", {'a'}});
  book.push_back({"notes.txt", {'b'}});
  book.push_back({"../up.txt", {'c'}});
  MadeEntry link;
  link.name = "link.txt";
  link.kind = MadeEntry::kSymlink;
  link.linkTarget = "/etc/passwd";
  book.push_back(link);
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  Run();
  ASSERT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(Entries(dir / "tgt/b.cbz"),
            (std::vector<std::string>{"ComicInfo.xml", "notes.txt", "001.png"}));
  EXPECT_EQ(test::ReadArchive(dir / "tgt/b.cbz")[1].data, std::vector<uint8_t>{'a'});
  EXPECT_EQ(job.LeftOutCount(), 3u);
  const std::string record = test::ReadText(settings.recordPath);
  EXPECT_NE(record.find("2项已略去（链接或指向包外的文件名）"), std::string::npos) << record;
  EXPECT_NE(record.find("1项已略去（与前面的项同名）"), std::string::npos) << record;
  EXPECT_EQ(CliSummaryLine(settings, job, false),
            "inkbrite-batch: 1个已转换，0个失败，0个跳过，3项已略去");
  EXPECT_NE(host.messages.back().find("书中有3项已略去"), std::string::npos);
  // A failed entry whose name holds a line break stays on its line.
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored,
                     {{"ok.jpg", JpegPage(1)}, {"bad\nname.jpg", {'x'}}});
  Run();
  EXPECT_EQ(test::ReadText(settings.recordPath), "文件读取失败：" + (dir / "src/b.cbz").string() +
                                                     ": bad\\nname.jpg: 文件已损坏或不完整\n");
}

// Names that are not ASCII carry the zip's UTF-8 flag, so another zip
// reader (Python's zipfile) reads them as written; ASCII names do not. (The
// book is a .zip, which the default patterns take.)
TEST_F(BookJobTest, AnotherZipReaderReadsNamesThatAreNotAscii) {
  if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  test::WriteArchive(dir / "src/b.zip", MadeFormat::kZipDeflated,
                     {{"第1話.jpg", JpegPage(1)}, {"メモ.txt", {'m'}}, {"p2.jpg", JpegPage(2)}});
  Run();
  ASSERT_EQ(job.SuccessCount(), 1);
  test::WriteText(dir / "list.py",
                  "import sys, zipfile\n"
                  "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                  "    print(i.filename, (i.flag_bits >> 11) & 1)\n");
  const std::string command = "/usr/bin/python3 '" + (dir / "list.py").string() + "' '" +
                              (dir / "tgt/b.cbz").string() + "' >'" + (dir / "py.txt").string() +
                              "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << test::ReadText(dir / "py.txt");
  EXPECT_EQ(test::ReadText(dir / "py.txt"), "メモ.txt 1\np2.png 0\n第1話.png 1\n");
}

TEST_F(BookJobTest, ProgressCountsPages) {
  test::WriteArchive(dir / "src/a.cbz", MadeFormat::kZipStored, Book(10));
  test::WriteAll(dir / "src/loose.jpg", JpegPage(1));
  for (int jobs : {1, 3}) {
    settings.jobs = jobs;
    Run();
    // Two files counted; the book's ten pages widen the range by nine files.
    EXPECT_EQ(host.range, (2 + 1 + 9) * 12) << jobs;
    EXPECT_EQ(host.advanced, 11 * 12) << jobs;
    // The range widened after the loose page (walked first): the bar kept.
    EXPECT_EQ(host.positions.front(), 12) << jobs;
  }
}

TEST_F(BookJobTest, ABookWithAFailedPageIsRecordedPageByPageAndNotWritten) {
  std::vector<MadeEntry> book = Book(4);
  book[2].data.resize(10);         // 002.jpg cut short
  book[4].data = {'n', 'o', 't'};  // 004.jpg no picture
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  for (int jobs : {1, 3}) {
    settings.jobs = jobs;
    Run();
    EXPECT_EQ(job.SuccessCount(), 0);
    EXPECT_EQ(test::ReadText(settings.recordPath),
              "文件读取失败：" + (dir / "src/b.cbz: 002.jpg").string() +
                  ": 文件已损坏或不完整\n文件读取失败：" + (dir / "src/b.cbz: 004.jpg").string() +
                  ": 文件已损坏或不完整\n");
    EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{}) << jobs;
  }
}

TEST_F(BookJobTest, RefusedBooksAreRecordedWithTheirReason) {
  test::WriteArchive(dir / "src/secret.cbz", MadeFormat::kZipStored, Book(2), "pass");
  test::WriteArchive(dir / "src/text.cbz", MadeFormat::kZipStored, {{"a.txt", {'a'}}});
  test::WriteAll(dir / "src/junk.cbr", std::vector<uint8_t>(100, 'x'));
  Run();
  EXPECT_EQ(job.Total(), 3);
  EXPECT_EQ(job.FailedCount(), 3);
  const std::string record = test::ReadText(settings.recordPath);
  EXPECT_NE(record.find("secret.cbz: 加密的压缩包无法读取。"), std::string::npos) << record;
  EXPECT_NE(record.find("text.cbz: 压缩包中没有可显示的图像。"), std::string::npos) << record;
  EXPECT_NE(record.find("junk.cbr: 压缩包已损坏，无法读取。"), std::string::npos) << record;
  EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{});
}

using test::PdfOf;

// A PDF refused is named as a PDF in the record, not as an archive: a page
// whose one picture claims 100000 x 100000 pixels.
// A book's pages are held within the job's memory: a page whose picture and
// bytes would pass it fails with the reason, the others convert, and pages
// that fit only one at a time wait for each other (two jobs).
TEST_F(BookJobTest, APageThatWouldPassTheJobsMemoryFailsAndTheRestWaitForRoom) {
  // A PNG header claiming 8192 x 8192 (192 MiB of picture) in 60 bytes.
  std::vector<uint8_t> claim = {0x89, 'P', 'N',  'G', '\r', '\n', 0x1A, '\n', 0,    0,
                                0,    13,  'I',  'H', 'D',  'R',  0,    0,    0x20, 0,
                                0,    0,   0x20, 0,   8,    2,    0,    0,    0};
  claim.resize(claim.size() + 4 + 24, 0);
  std::vector<MadeEntry> book = Book(3);
  book.push_back({"004.png", claim});
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipDeflated, book);
  settings.bookPagesMemory = 64 << 20;
  settings.jobs = 2;
  Run();
  EXPECT_EQ(job.SuccessCount(), 0);
  EXPECT_NE(test::ReadText(settings.recordPath).find("004.png: 页面超出内存限制。"),
            std::string::npos)
      << test::ReadText(settings.recordPath);
  EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{});

  // Room for one small page at a time: all of them convert, in order.
  book.pop_back();
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipDeflated, book);
  settings.bookPagesMemory = 8 * 1024;
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(Entries(dir / "tgt/b.cbz"),
            (std::vector<std::string>{"ComicInfo.xml", "001.png", "002.png", "003.png"}));
}

// A PDF's pages count too: a drawn page by its listed size before it is
// drawn, a page that is one picture by that picture once it is read.
TEST_F(BookJobTest, APdfPageThatWouldPassTheJobsMemoryFails) {
  // Page 2 is one grey picture of 3000 x 4000 (2 x 36 MB held once read);
  // page 1 is drawn 1800 x 2400 (3 x 13 MB held while it is drawn).
  const std::string pixels(size_t{3000} * 4000, '\x80');
  uLongf packedSize = compressBound(pixels.size());
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
            reinterpret_cast<const Bytef*>(pixels.data()), pixels.size(), 9);
  packed.resize(packedSize);
  const std::string square = "0 0 1 rg 50 50 100 100 re f";
  const std::string draw = "q 600 0 0 800 0 0 cm /Im0 Do Q";
  test::WriteText(
      dir / "src/b.pdf",
      PdfOf(
          {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R >>",
           "<< /Length " + std::to_string(square.size()) + " >>\nstream\n" + square + "\nendstream",
           "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 6 0 R "
           "/Resources << /XObject << /Im0 7 0 R >> >> >>",
           "<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream",
           "<< /Type /XObject /Subtype /Image /Width 3000 /Height 4000 /ColorSpace "
           "/DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length " +
               std::to_string(packed.size()) + " >>\nstream\n" + packed + "\nendstream"}));
  const std::string line = "文件读取失败：" + (dir / "src/b.pdf").string() + ": ";
  for (const auto& [budget, expected] :
       {std::pair{uint64_t{64} << 20, line + "002: 页面超出内存限制。\n"},
        std::pair{uint64_t{32} << 20,
                  line + "001: 页面超出内存限制。\n" + line + "002: 页面超出内存限制。\n"}}) {
    settings.bookPagesMemory = budget;
    Run();
    EXPECT_EQ(job.FailedCount(), 1) << budget;
    EXPECT_EQ(test::ReadText(settings.recordPath), expected) << budget;
  }
  settings.bookPagesMemory = uint64_t{80} << 20;
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(Entries(dir / "tgt/b.cbz"), (std::vector<std::string>{"001.png", "002.png"}));
}

TEST_F(BookJobTest, ARefusedPdfIsCalledAPdf) {
  const std::string draw = "q 600 0 0 800 0 0 cm /Im0 Do Q";
  const std::string image(64, '\0');
  test::WriteText(
      dir / "src/huge.pdf",
      PdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R "
             "/Resources << /XObject << /Im0 5 0 R >> >> >>",
             "<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream",
             "<< /Type /XObject /Subtype /Image /Width 100000 /Height 100000 /ColorSpace "
             "/DeviceGray /BitsPerComponent 8 /Length 64 >>\nstream\n" +
                 image + "\nendstream"}));
  Run();
  EXPECT_EQ(job.FailedCount(), 1);
  EXPECT_EQ(
      test::ReadText(settings.recordPath),
      "文件读取失败：" + (dir / "src/huge.pdf").string() + ": PDF文件中的页面过大，无法读取。\n");
  EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{});
}

TEST_F(BookJobTest, AFolderOfPagesNeverWritesOutsideItOrThroughALink) {
  std::vector<MadeEntry> book = Book(2);
  book.push_back({"../evil.jpg", JpegPage(5)});
  book.push_back({"/abs.jpg", JpegPage(6)});
  MadeEntry link;
  link.name = "link.jpg";
  link.kind = MadeEntry::kSymlink;
  link.linkTarget = "../../../etc/passwd";
  book.push_back(link);
  book.push_back({"Chapter 1/003.jpg", JpegPage(3)});
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  settings.books = BookOutput::kFolder;
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(Tree(dir / "tgt"),
            (std::set<std::string>{"b", "b/ComicInfo.xml", "b/001.png", "b/002.png", "b/Chapter 1",
                                   "b/Chapter 1/003.png"}));
  EXPECT_FALSE(fs::exists(dir / "evil.jpg"));
  EXPECT_FALSE(fs::exists(dir / "evil.png"));
  EXPECT_NE(test::ReadText(settings.recordPath).find("3项已略去"), std::string::npos);

  // Converting again over a book folder that now holds a link: the link is
  // left alone and nothing is written where it points.
  fs::create_directories(dir / "elsewhere");
  fs::remove_all(dir / "tgt/b/Chapter 1");
  fs::create_directory_symlink(dir / "elsewhere", dir / "tgt/b/Chapter 1");
  Run();
  EXPECT_EQ(Tree(dir / "elsewhere"), std::set<std::string>{});
  EXPECT_TRUE(fs::is_symlink(dir / "tgt/b/Chapter 1"));
}

TEST_F(BookJobTest, InTheSameFolderABookIsOnlyReplacedByOneOfItsKind) {
  settings.targetDir = settings.sourceDir;
  test::WriteArchive(dir / "src/zip.cbz", MadeFormat::kZipStored, Book(2));
  const std::vector<uint8_t> seven = test::MakeArchive(MadeFormat::kSevenZip, Book(2));
  test::WriteAll(dir / "src/seven.cbz", seven);  // a 7z under a .cbz name
  settings.newExtension = ".jpg";
  Run();
  EXPECT_EQ(job.SuccessCount(), 1);
  EXPECT_EQ(test::ReadAll(dir / "src/seven.cbz"), seven);  // untouched
  EXPECT_NE(test::ReadText(settings.recordPath).find("seven.cbz: 原书不是ZIP格式，不会被替换"),
            std::string::npos);
  EXPECT_EQ(Entries(dir / "src/zip.cbz"),
            (std::vector<std::string>{"ComicInfo.xml", "001.jpg", "002.jpg"}));
  EXPECT_EQ(Tree(dir / "src"), (std::set<std::string>{"zip.cbz", "seven.cbz"}));
}

TEST_F(BookJobTest, SkippedBooksAreNeitherCountedNorConverted) {
  test::WriteArchive(dir / "src/a.cbz", MadeFormat::kZipStored, Book(2));
  test::WriteAll(dir / "src/loose.jpg", JpegPage(1));
  settings.books = BookOutput::kSkip;
  Run();
  EXPECT_EQ(job.Total(), 1);
  EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{"loose.png"});
}

TEST_F(BookJobTest, AStoppedBookLeavesNothingBehind) {
  test::WriteArchive(dir / "src/a.cbz", MadeFormat::kZipStored, Book(12));
  for (int jobs : {1, 3}) {
    settings.jobs = jobs;
    host = RecordingHost{};
    host.stopAtPump = 20;
    job.Run(host, settings);
    EXPECT_EQ(job.SuccessCount(), 0);
    EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{}) << jobs;
  }
}

TEST_F(BookJobTest, WhatAKilledRunLeftOfABookIsSweptAway) {
  // A temporary folder of a process that no longer runs.
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const fs::path stale = dir / "tgt" / TempFileName("a.cbz", child, "abcdefgh", ThisMachineTag());
  fs::create_directories(stale / "sub");
  test::WriteAll(stale / "sub/1.jpg", {'x'});
  test::WriteArchive(dir / "src/a.cbz", MadeFormat::kZipStored, Book(1));
  Run();
  EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{"a.cbz"});
}

// Every book of the corpus converts to a CBZ whose pages, read back as a
// book, are the listed pages in the listed order with the expected pixels;
// every other archive is refused with nothing written.
TEST_F(BookJobTest, EveryCorpusBookConvertsWithItsPagesAndPixels) {
  INKBRITE_NEED_CORPUS();
  int books = 0;
  for (const test::BookRow& row : test::ReadBookRows()) {
    SCOPED_TRACE(row.path);
    settings.patterns = BookPatterns();
    fs::remove_all(dir / "src");
    fs::remove_all(dir / "tgt");
    fs::create_directories(dir / "src");
    // Under the name of its kind (libarchive's test files end in .zipx too).
    fs::path name = fs::path(row.path).filename();
    const std::map<std::string, std::string> named = {{"zip", ".cbz"},  {"rar4", ".cbr"},
                                                      {"rar5", ".cbr"}, {"7z", ".cb7"},
                                                      {"tar", ".cbt"},  {"pdf", ".pdf"}};
    name.replace_extension(named.at(row.kind));
    fs::copy_file(test::CorpusDir() / row.path, dir / "src" / name);
    Run();
    const bool corrupt = row.path.find("corrupt-page") != std::string::npos;
    if (row.expect != "book" || corrupt) {
      const bool traversal = row.path.find("traversal") != std::string::npos;
      if (!traversal) {
        EXPECT_EQ(job.FailedCount(), 1);
        EXPECT_EQ(Tree(dir / "tgt"), std::set<std::string>{});
        continue;
      }
    }
    ASSERT_EQ(job.SuccessCount(), 1) << test::ReadText(settings.recordPath);
    SourceError error = SourceError::kNone;
    fs::path cbz = dir / "tgt" / name;
    cbz.replace_extension(".cbz");
    const auto book = BookSource::Open(cbz, error);
    ASSERT_NE(book, nullptr) << SourceErrorName(error);
    std::vector<std::string> expected;
    for (size_t i = 0; i < row.pages.size(); ++i) {
      const std::string page = row.kind == "pdf"
                                   ? std::string(3 - row.pages[i].size(), '0') + row.pages[i]
                                   : row.pages[i];
      const size_t dot = page.rfind('.');
      expected.push_back((dot == std::string::npos ? page : page.substr(0, dot)) + ".png");
    }
    std::vector<std::string> names;
    for (const PageEntry& p : book->Pages()) names.push_back(p.name);
    EXPECT_EQ(names, expected);
    for (size_t i = 0; i < book->PageCount() && i < row.sources.size(); ++i) {
      DibImage image;
      ASSERT_EQ(book->LoadPage(i, image, nullptr), SourceError::kNone);
      EXPECT_EQ(test::CompareWithExpected(image, row.sources[i]), "") << names[i];
    }
    ++books;
  }
  EXPECT_EQ(books, 17);
}

#ifdef INKBRITE_BATCH_EXE
// Ctrl-C while inkbrite-batch converts a book: the run ends as a stopped
// run (exit 130, the record written), and neither the book nor its
// temporary folder or file is left behind.
TEST(BookCliRun, InterruptInABookLeavesNothingOfIt) {
  test::TempDir dir;
  std::vector<MadeEntry> book;
  const std::vector<uint8_t> page = JpegPage(1, 600);
  for (int n = 1; n <= 300; ++n) book.push_back({"p" + std::to_string(n) + ".jpg", page});
  fs::create_directories(dir / "src");
  test::WriteArchive(dir / "src/b.cbz", MadeFormat::kZipStored, book);
  fs::create_directories(dir / "dst");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (freopen((dir / "out.txt").c_str(), "w", stdout) == nullptr) _exit(126);
    if (freopen((dir / "err.txt").c_str(), "w", stderr) == nullptr) _exit(126);
    setenv("INKBRITE_DATA_DIR", (dir / "data").c_str(), 1);
    const std::string src = (dir / "src").string(), dst = (dir / "dst").string();
    const std::string record = (dir / "rec.txt").string();
    execl(INKBRITE_BATCH_EXE, INKBRITE_BATCH_EXE, "--jobs", "2", "--set", "Sharpen=9", "--record",
          record.c_str(), src.c_str(), dst.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait (generously: the machine may be busy) for the book's temporary
  // folder, then interrupt.
  auto temporaries = [&dir] {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir / "dst", ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->path().native().ends_with(".inkbrite-tmp")) found.push_back(it->path());
    }
    return found;
  };
  for (int i = 0; i < 6000 && temporaries().empty(); ++i) usleep(10000);
  ASSERT_FALSE(temporaries().empty())
      << "the book was never started: " << test::ReadText(dir / "err.txt")
      << test::ReadText(dir / "out.txt");
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130) << test::ReadText(dir / "err.txt");
  EXPECT_NE(test::ReadText(dir / "out.txt").find(kBatchStoppedSuffix), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "rec.txt"));
  EXPECT_FALSE(fs::exists(dir / "dst/b.cbz"));
  EXPECT_EQ(temporaries(), std::vector<fs::path>{});
}
#endif

TEST(BookCli, BooksOptionAndItsHelp) {
  auto parse = [](std::vector<std::string_view> args, CliOptions& options, std::string& error) {
    return ParseCliOptions(args, options, error);
  };
  std::string error;
  CliOptions folder, skip, plain, bad;
  ASSERT_TRUE(parse({"--books", "folder", "a", "b"}, folder, error)) << error;
  EXPECT_EQ(folder.settings.books, BookOutput::kFolder);
  ASSERT_TRUE(parse({"--books=skip", "a", "b"}, skip, error)) << error;
  EXPECT_EQ(skip.settings.books, BookOutput::kSkip);
  ASSERT_TRUE(parse({"a", "b"}, plain, error)) << error;
  EXPECT_EQ(plain.settings.books, BookOutput::kCbz);
  EXPECT_FALSE(parse({"--books", "zip", "a", "b"}, bad, error));
  EXPECT_EQ(error, "--books必须是epub、kepub、pdf、cbz、folder或skip，而不是“zip”");
  for (const BookKindRow& row : BookKindRows()) {
    CliOptions kind;
    error.clear();
    ASSERT_TRUE(parse({"--books", row.name, "a", "b"}, kind, error)) << row.name << error;
    EXPECT_EQ(kind.settings.books, row.output);
  }
  CliOptions named;
  error.clear();
  ASSERT_TRUE(parse({"--title", "T", "--series=S", "--author", "A, B", "a", "b"}, named, error));
  EXPECT_EQ(named.settings.bookTitle + named.settings.bookSeries + named.settings.bookAuthor,
            "TSA, B");
  EXPECT_NE(CliUsageText().find("--books MODE"), std::string::npos);
}

}  // namespace
}  // namespace inkbrite
