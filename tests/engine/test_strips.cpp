// SPDX-License-Identifier: GPL-2.0-or-later
// Long strips in the batch job: a tall page, or the slices of a book or a
// folder joined, cut into pages no taller than the limit, each cut in a
// gutter and never through a balloon; the pages stacked again are the strip.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_job.h"
#include "batch/cli_host.h"
#include "batch/strip_pages.h"
#include "core/strip_cut.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "sources/book_source.h"
#include "sources/page_source.h"
#include "tests/engine/job_fixture.h"
#include "tests/engine/recording_host.h"
#include "tests/sources/archive_maker.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;

struct Span {
  int top, bottom;  // rows top .. bottom-1
};
struct Balloon {
  int cy, ry;  // centre row and half height; across the middle of the strip
};

// A webtoon strip 160 wide: panels of noisy art on white paper, and
// balloons (white, a black outline) lying over gutters. Slices of 160
// rows break panels and balloons in two (1120 lies inside the third
// balloon, 320 and 640 inside the other two).
constexpr int kWidth = 160;
constexpr int kSlice = 160;
constexpr int kHeight = 1760;
constexpr Span kPanels[] = {{10, 140},   {170, 280},   {300, 430},   {470, 640},  {700, 820},
                            {860, 1100}, {1200, 1400}, {1430, 1600}, {1620, 1740}};
constexpr Balloon kBalloons[] = {{290, 35}, {660, 30}, {1130, 20}};

bool InBalloon(int x, int y, const Balloon& b, bool& outline) {
  const double dx = (x - kWidth / 2) / 60.0;
  const double dy = static_cast<double>(y - b.cy) / b.ry;
  const double r = dx * dx + dy * dy;
  outline = r > 0.8;
  return r <= 1.0;
}

DibImage DrawStrip(int height, const std::vector<Span>& panels) {
  return test::MakeImage(kWidth, height, [&](int32_t x, int32_t y) {
    for (const Balloon& b : kBalloons) {
      bool outline = false;
      if (InBalloon(x, y, b, outline))
        return outline ? test::Bgr{0, 0, 0} : test::Bgr{255, 255, 255};
    }
    for (const Span& p : panels) {
      if (y >= p.top && y < p.bottom && x >= 6 && x < kWidth - 6) {
        const auto v = static_cast<uint8_t>((x * 37 + y * 11 + (x * y) % 29) % 140);
        return test::Bgr{v, static_cast<uint8_t>(v / 2), static_cast<uint8_t>(140 - v)};
      }
    }
    return test::Bgr{255, 255, 255};
  });
}

// Whether row y is paper all across: no panel and no balloon.
bool PaperRow(int y, const std::vector<Span>& panels) {
  for (const Span& p : panels) {
    if (y >= p.top && y < p.bottom) return false;
  }
  return std::none_of(std::begin(kBalloons), std::end(kBalloons),
                      [y](const Balloon& b) { return y >= b.cy - b.ry && y <= b.cy + b.ry; });
}

// The record's line of the page written as `name` (empty: none).
std::string RecordLineOf(const std::string& record, const std::string& name) {
  const size_t at = record.find("/" + name + "\t");
  if (at == std::string::npos) return {};
  const size_t start = record.rfind('\n', at) + 1;  // npos + 1: the start
  return record.substr(start, record.find('\n', at) - start);
}

std::vector<uint8_t> PngOf(const DibImage& image) {
  test::TempDir dir;
  EXPECT_EQ(SaveImageFile(dir / "p.png", image, 0, 0), 1);
  return test::ReadAll(dir / "p.png");
}

DibImage Rows(const DibImage& image, int top, int rows) {
  DibImage part = image;
  EXPECT_TRUE(part.Crop(0, top, 0, image.Height() - top - rows));
  return part;
}

// The pages of a written book (or folder) in reading order.
std::vector<DibImage> PagesOf(const fs::path& output) {
  SourceError error = SourceError::kNone;
  std::unique_ptr<PageSource> source = OpenPageSource(output, error);
  std::vector<DibImage> pages;
  if (!source) {
    ADD_FAILURE() << output << " cannot be opened";
    return pages;
  }
  for (size_t i = 0; i < source->PageCount(); ++i) {
    DibImage page;
    EXPECT_EQ(source->LoadPage(i, page, nullptr), SourceError::kNone);
    pages.push_back(std::move(page));
  }
  return pages;
}

class StripTest : public test::JobTest {
 protected:
  StripTest() { settings.stripCut = 300; }
  // The strip's slices as a CBZ.
  void WriteSlices(const fs::path& path, const DibImage& strip) {
    std::vector<MadeEntry> entries;
    for (int top = 0, n = 1; top < strip.Height(); top += kSlice, ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "%03d.png", n);
      entries.push_back({name, PngOf(Rows(strip, top, std::min(kSlice, strip.Height() - top)))});
    }
    test::WriteArchive(path, MadeFormat::kZipStored, entries);
  }
  // Every page at most the limit, every cut in paper (never in a panel or
  // a balloon), and the pages stacked equal to the strip row for row.
  void ExpectCutInGutters(const std::vector<DibImage>& pages, const DibImage& strip,
                          const std::vector<Span>& art, std::vector<int>& cuts) {
    int top = 0;
    for (const DibImage& page : pages) {
      EXPECT_LE(page.Height(), settings.stripCut);
      ASSERT_LE(top + page.Height(), strip.Height());
      EXPECT_EQ(page.PackedDib(), Rows(strip, top, page.Height()).PackedDib()) << "at row " << top;
      top += page.Height();
      if (top == strip.Height()) break;
      cuts.push_back(top);
      EXPECT_TRUE(PaperRow(top - 1, art) && PaperRow(top, art)) << "cut at row " << top;
    }
    EXPECT_EQ(top, strip.Height());
  }

  const std::vector<Span> layout{std::begin(kPanels), std::end(kPanels)};
  // The lowest gutter cut within 300 rows of each page's top: the second
  // balloon pushes its cut below it, the third keeps it off its rows.
  const std::vector<int> expectedCuts{168, 468, 698, 858, 1158, 1428, 1618};
};

TEST_F(StripTest, ATallPageIsCutInItsGuttersAndNothingIsLost) {
  const DibImage strip = DrawStrip(kHeight, layout);
  test::WriteAll(dir / "src/ep1.png", PngOf(strip));
  test::WriteAll(dir / "src/short.png", PngOf(Rows(strip, 0, 300)));
  settings.reportFindings = true;
  Run();
  EXPECT_EQ(job.SuccessCount(), 2);
  std::vector<DibImage> pages;
  std::vector<std::string> names;
  for (size_t n = 1; fs::exists(dir / "tgt" / StripPageTargetPath("ep1.png", n)); ++n) {
    names.push_back(StripPageTargetPath("ep1.png", n).string());
    DibImage page;
    ASSERT_EQ(LoadImageFile(dir / "tgt" / names.back(), page, nullptr), 1);
    pages.push_back(std::move(page));
  }
  ASSERT_EQ(names.size(), expectedCuts.size() + 1);
  EXPECT_EQ(names.front(), "ep1_001.png");
  std::vector<int> cuts;
  ExpectCutInGutters(pages, strip, layout, cuts);
  EXPECT_EQ(cuts, expectedCuts);
  // A page within the limit keeps its name; the record lists each page's rows.
  EXPECT_TRUE(fs::exists(dir / "tgt/short.png"));
  const std::string record = test::ReadText(settings.recordPath);
  EXPECT_TRUE(RecordLineOf(record, "ep1_002.png").ends_with("\tcuts=168,468")) << record;
  EXPECT_EQ(record.find("穿过画面"), std::string::npos) << record;
}

TEST_F(StripTest, SlicesJoinedAreCutAsTheWholeStripInEveryKindOfBook) {
  const DibImage strip = DrawStrip(kHeight, layout);
  WriteSlices(dir / "src/ep1.cbz", strip);
  struct Kind {
    BookOutput books;
    const char* output;
  };
  const Kind kinds[] = {{BookOutput::kCbz, "ep1.cbz"},
                        {BookOutput::kFolder, "ep1"},
                        {BookOutput::kEpub, "ep1.epub"},
                        {BookOutput::kKepub, "ep1.kepub.epub"},
                        {BookOutput::kPdf, "ep1.pdf"}};
  settings.stripJoin = true;
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.output);
    settings.books = kind.books;
    settings.targetDir = dir / ("tgt-" + std::to_string(static_cast<int>(kind.books)));
    Run();
    ASSERT_EQ(job.SuccessCount(), 1) << test::ReadText(settings.recordPath);
    std::vector<int> cuts;
    ExpectCutInGutters(PagesOf(settings.targetDir / kind.output), strip, layout, cuts);
    EXPECT_EQ(cuts, expectedCuts);
  }
  // The pages are named after the book, in reading order.
  const std::vector<MadeEntry> cbz = test::ReadArchive(dir / "tgt-0/ep1.cbz");
  ASSERT_FALSE(cbz.empty());
  EXPECT_EQ(cbz.front().name, "ep1_001.png");
  EXPECT_EQ(cbz.back().name, "ep1_008.png");
}

TEST_F(StripTest, ManyJobsWriteTheBytesOfOne) {
  const DibImage strip = DrawStrip(kHeight, layout);
  WriteSlices(dir / "src/a.cbz", strip);
  test::WriteAll(dir / "src/b.png", PngOf(strip));
  test::WriteAll(dir / "src/c.png", PngOf(Rows(strip, 200, 1000)));
  settings.newExtension = ".jpg";
  settings.stripJoin = false;
  std::vector<std::vector<std::string>> listings;
  std::vector<std::vector<uint8_t>> bytes;
  for (bool join : {false, true}) {
    for (int jobs : {1, 4}) {
      settings.stripJoin = join;
      settings.jobs = jobs;
      settings.targetDir = dir / ("tgt" + std::to_string(jobs) + (join ? "j" : ""));
      Run();
      EXPECT_EQ(job.FailedCount(), 0);
      listings.push_back(test::Listing(settings.targetDir));
      std::vector<uint8_t> all;
      for (const std::string& name : listings.back()) {
        const std::vector<uint8_t> file = test::ReadAll(settings.targetDir / name);
        all.insert(all.end(), file.begin(), file.end());
      }
      bytes.push_back(std::move(all));
    }
  }
  EXPECT_EQ(listings[0], listings[1]);
  EXPECT_EQ(bytes[0], bytes[1]);
  EXPECT_EQ(listings[2], listings[3]);
  EXPECT_EQ(bytes[2], bytes[3]);
  ASSERT_GE(listings[0].size(), 10u);
  EXPECT_EQ(listings[0][0], "a.cbz");
  EXPECT_EQ(listings[0][8], "b_008.jpg");
  EXPECT_EQ(listings[0][9], "c_001.jpg");
}

TEST_F(StripTest, APanelTallerThanThePageIsCutAtItsQuietestRowAndSaysSo) {
  // One panel of 500 rows with a calm band at 240..243: no gutter in reach.
  std::vector<Span> tall{{10, 510}};
  DibImage strip = DrawStrip(900, {});
  for (int y = 10; y < 510; ++y) {
    for (int x = 6; x < kWidth - 6; ++x) {
      const bool calm = y >= 240 && y < 244 && x > 20;
      test::SetPixel(strip, x, y, calm ? test::Bgr{255, 255, 255} : test::Bgr{20, 40, 60});
    }
  }
  // The balloons of the long strip drawn over as paper.
  for (int y = 510; y < 900; ++y) {
    for (int x = 0; x < kWidth; ++x) test::SetPixel(strip, x, y, test::Bgr{255, 255, 255});
  }
  test::WriteAll(dir / "src/tall.png", PngOf(strip));
  settings.reportFindings = true;
  Run();
  ASSERT_EQ(job.SuccessCount(), 1);
  DibImage first;
  ASSERT_EQ(LoadImageFile(dir / "tgt/tall_001.png", first, nullptr), 1);
  EXPECT_EQ(first.Height(), 243);  // under the lowest of the calm pairs of rows
  const std::string record = test::ReadText(settings.recordPath);
  EXPECT_TRUE(RecordLineOf(record, "tall_001.png").ends_with("\tcuts=0,243\t在第243行穿过画面切开"))
      << record;
}

TEST(StripCutter, HoldsAWindowOfSlicesNeverTheWholeStrip) {
  // 300 slices of 128 rows, a gutter every 200 rows.
  StripCutter cutter({256, 0, 0, 100, 48});
  std::vector<StripPiece> pieces;
  int64_t most = 0;
  int64_t rows = 0;
  for (int n = 0; n < 300; ++n) {
    DibImage slice = test::MakeImage(64, 128, [n](int32_t, int32_t y) {
      const int row = n * 128 + y;
      return row % 200 < 10 ? test::Bgr{255, 255, 255} : test::Bgr{0, 0, 0};
    });
    ASSERT_TRUE(cutter.Add(std::move(slice), pieces));
    most = std::max(most, cutter.HeldRows());
  }
  ASSERT_TRUE(cutter.Finish(pieces));
  EXPECT_LE(most, StripRowsToCut(256) + 128);
  for (const StripPiece& piece : pieces) {
    EXPECT_LE(piece.image.Height(), 256);
    EXPECT_EQ(piece.top, rows);
    rows += piece.image.Height();
    EXPECT_FALSE(piece.artCut) << piece.top;
  }
  EXPECT_EQ(rows, 300 * 128);
  // A slice of another width ends the strip: what came before is a page.
  ASSERT_TRUE(cutter.Add(test::MakeFilled(64, 100, test::Bgr{9, 9, 9}), pieces));
  const size_t before = pieces.size();
  ASSERT_TRUE(cutter.Add(test::MakeFilled(32, 100, test::Bgr{9, 9, 9}), pieces));
  ASSERT_EQ(pieces.size(), before + 1);
  EXPECT_EQ(pieces.back().image.Width(), 64);
  EXPECT_EQ(pieces.back().top, 0);
}

TEST(StripCli, TheLimitIsAHeightOrTheDevicesScreen) {
  struct Case {
    std::vector<std::string> args;
    int stripCut;  // -1: refused
    bool join;
  };
  const Case cases[] = {
      {{"--strip-cut", "1280"}, 1280, false},
      {{"--strip-cut", "1280", "--strip-join"}, 1280, true},
      {{"--strip-cut", "screen", "--device", "kobo-clara-hd"}, 1448, false},
      {{"--device", "kobo-clara-hd", "--strip-cut", "screen"}, 1448, false},
      {{"--strip-cut", "screen"}, -1, false},
      {{"--strip-cut", "0"}, -1, false},
      {{"--strip-cut", "12cm"}, -1, false},
      {{"--strip-join"}, -1, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> args(c.args.begin(), c.args.end());
    args.insert(args.end(), {"src", "tgt"});
    SCOPED_TRACE(c.args.front());
    test::TempDir dir;
    CliOptions options;
    std::string error;
    const bool parsed = ParseCliOptions(args, options, error);
    options.settingsFile = dir / "x.ini";
    CParaBlock block;
    const bool applied = parsed && BuildParams(options, block, error);
    EXPECT_EQ(applied, c.stripCut >= 0) << error;
    if (c.stripCut < 0 || !applied) continue;
    EXPECT_EQ(options.settings.stripCut, c.stripCut);
    EXPECT_EQ(options.settings.stripJoin, c.join);
  }
}

}  // namespace
}  // namespace inkbrite
