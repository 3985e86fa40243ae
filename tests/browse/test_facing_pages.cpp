// SPDX-License-Identifier: GPL-2.0-or-later
// The two-page layout: the pairing rules (wide pages, cover alone, a list of
// one page, an odd count), two pages side by side in the viewer in both
// reading directions, the paging keys following the direction, and the
// layout and the page remembered per folder and book.
#include <QTest>

#include "browse/reading/facing_pages.h"
#include "browse/reading/reading_places.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;
using ui_test::WritePage;

constexpr PageShape U = PageShape::kUpright;
constexpr PageShape W = PageShape::kWide;
constexpr PageShape N = PageShape::kUnknown;

// The spreads as "1-2 3 4-5" (1-based list positions).
std::string Spreads(const std::vector<PageShape>& shapes, bool coverAlone) {
  std::string out;
  for (const Facing& f : PairPages(shapes, coverAlone)) {
    if (!out.empty()) out += ' ';
    out += std::to_string(f.first + 1);
    if (f.count == 2) out += '-' + std::to_string(f.last() + 1);
  }
  return out;
}

TEST(FacingPages, PairsUprightPagesAndLeavesWidePagesAlone) {
  EXPECT_EQ(Spreads({}, false), "");
  EXPECT_EQ(Spreads({U}, false), "1");  // one page
  EXPECT_EQ(Spreads({U}, true), "1");
  EXPECT_EQ(Spreads({U, U, U, U}, false), "1-2 3-4");
  EXPECT_EQ(Spreads({U, U, U, U, U}, false), "1-2 3-4 5");  // odd count: the last alone
  EXPECT_EQ(Spreads({U, U, U, U, U}, true), "1 2-3 4-5");   // the cover alone
  EXPECT_EQ(Spreads({U, U, U, U}, true), "1 2-3 4");
  // A wide page stands alone; the pages after it pair as they did.
  EXPECT_EQ(Spreads({U, U, W, U, U}, false), "1-2 3 4-5");
  EXPECT_EQ(Spreads({U, U, U, W, U, U}, true), "1 2-3 4 5-6");
  // Landing on the second place of a pair, a wide page leaves the page
  // before it alone and does not carry the pairing over.
  EXPECT_EQ(Spreads({U, W, U, U}, false), "1 2 3-4");
  EXPECT_EQ(Spreads({W, W, U}, true), "1 2 3");
  // Shapes not known yet count as upright.
  EXPECT_EQ(Spreads({N, N, N}, false), "1-2 3");
}

TEST(FacingPages, FindsTheSpreadOfAPageAndComposesBothDirections) {
  const std::vector<PageShape> shapes{U, U, W, U, U};
  EXPECT_EQ(FacingAt(shapes, false, 1), (Facing{0, 2}));
  EXPECT_EQ(FacingAt(shapes, false, 2), (Facing{2, 1}));
  EXPECT_EQ(FacingAt(shapes, false, 4), (Facing{3, 2}));
  EXPECT_EQ(FacingAt(shapes, false, 9), (Facing{9, 1}));

  EXPECT_EQ(ShapeOf(test::MakePattern(20, 10)), PageShape::kWide);
  EXPECT_EQ(ShapeOf(test::MakePattern(10, 10)), PageShape::kUpright);
  EXPECT_EQ(ShapeOf(DibImage()), PageShape::kUnknown);

  // Heights differ: each page centred on the taller one's height, white
  // around the shorter one.
  const DibImage a = test::MakeImage(4, 6, [](int, int) { return test::Bgr{0, 0, 200}; });
  const DibImage b = test::MakeImage(3, 2, [](int, int) { return test::Bgr{200, 0, 0}; });
  DibImage both;
  ASSERT_TRUE(ComposeFacing(a, b, false, both));
  EXPECT_EQ(both.Width(), 7);
  EXPECT_EQ(both.Height(), 6);
  EXPECT_EQ(test::PixelAt(both, 0, 0), (test::Bgr{0, 0, 200}));
  EXPECT_EQ(test::PixelAt(both, 4, 0), (test::Bgr{255, 255, 255}));
  EXPECT_EQ(test::PixelAt(both, 4, 2), (test::Bgr{200, 0, 0}));
  EXPECT_EQ(test::PixelAt(both, 6, 3), (test::Bgr{200, 0, 0}));
  EXPECT_EQ(test::PixelAt(both, 6, 4), (test::Bgr{255, 255, 255}));
  // Right to left: the first page on the right.
  ASSERT_TRUE(ComposeFacing(a, b, true, both));
  EXPECT_EQ(test::PixelAt(both, 0, 2), (test::Bgr{200, 0, 0}));
  EXPECT_EQ(test::PixelAt(both, 3, 0), (test::Bgr{0, 0, 200}));
  EXPECT_EQ(test::PixelAt(both, 6, 5), (test::Bgr{0, 0, 200}));
}

class TwoPageViewerTest : public ui_test::AppTest {
 protected:
  CInkbriteDoc* Doc() { return Frame()->ActiveDocument(); }
  int Width() { return Doc() && Doc()->SharedPage() ? Doc()->Page().Width() : -1; }
  std::string Counter() { return Frame()->PageCounterText().toStdString(); }
  std::string Title() { return Doc() ? Doc()->Title().toStdString() : std::string(); }
  void ShowActive() {
    Frame()->show();
    QApplication::setActiveWindow(Frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
  }
  // Pages 1..n of `widths` (16 pixels tall; wider than 16 is a wide page).
  void WriteFolder(const std::vector<int>& widths) {
    for (size_t i = 0; i < widths.size(); ++i) {
      WritePage(dir / ("p" + std::to_string(i + 1) + ".bmp"), widths[i], 16);
    }
  }
};

TEST_F(TwoPageViewerTest, PagesThroughAFolderBySpreadsWithWidePagesAlone) {
  // p3 is a double page.
  WriteFolder({10, 11, 40, 13, 14});
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  EXPECT_EQ(Width(), 10);
  Frame()->Action(kCmdTwoPages)->trigger();
  EXPECT_TRUE(Doc()->TwoPages());
  EXPECT_TRUE(Frame()->Action(kCmdTwoPages)->isChecked());
  EXPECT_FALSE(Frame()->Action(kCmdSinglePage)->isChecked());
  EXPECT_EQ(Width(), 21);
  EXPECT_EQ(Counter(), "1-2/5");
  EXPECT_EQ(Title(), "p1.bmp, p2.bmp");
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Width(), 40);  // the double page alone
  EXPECT_EQ(Counter(), "3/5");
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Width(), 27);
  EXPECT_EQ(Counter(), "4-5/5");
  EXPECT_EQ(beeps, 0);
  Frame()->Action(kCmdNextPage)->trigger();  // past the end
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(Counter(), "4-5/5");
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(Counter(), "3/5");
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(Counter(), "1-2/5");
  Frame()->Action(kCmdLastPage)->trigger();
  EXPECT_EQ(Counter(), "4-5/5");

  // The cover alone: 1, 2-3 would take the double page, so 2 stands alone.
  Frame()->Action(kCmdCoverAlone)->trigger();
  Frame()->Action(kCmdFirstPage)->trigger();
  EXPECT_EQ(Counter(), "1/5");
  EXPECT_EQ(Width(), 10);
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Counter(), "2/5");
  EXPECT_EQ(Width(), 11);

  // Save writes the page under the cursor, never the two side by side.
  Frame()->Action(kCmdCoverAlone)->trigger();
  Frame()->Action(kCmdFirstPage)->trigger();
  ASSERT_EQ(Width(), 21);
  ASSERT_EQ(Doc()->SaveAs(dir / "saved.bmp"), 1);
  DibImage saved;
  int grey = 0;
  ASSERT_EQ(LoadImageFile(dir / "saved.bmp", saved, &grey), 1);
  EXPECT_EQ(saved.Width(), 10);

  Frame()->Action(kCmdSinglePage)->trigger();
  EXPECT_EQ(Width(), 10);
  EXPECT_EQ(Counter().substr(0, 2), "1/");
  EXPECT_TRUE(messages.empty());
}

TEST_F(TwoPageViewerTest, TheSecondPageOfAPairShowsThePairInEveryFitModeAndFromThumbnails) {
  WriteFolder({10, 11, 12, 13, 14, 15});
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  for (const int fit :
       {0, int{kCmdFitWindow}, int{kCmdFitPage}, int{kCmdFitWidth}, int{kCmdFitHeight}}) {
    SCOPED_TRACE(fit);
    if (fit != 0) Frame()->Action(fit)->trigger();
    Frame()->OpenListedPage(4);
    ASSERT_EQ(Counter(), "4/6");
    // Switched on at page 4: pages 3 and 4 together at once, then 5-6.
    Frame()->Action(kCmdTwoPages)->trigger();
    EXPECT_EQ(Counter(), "3-4/6");
    EXPECT_EQ(Title(), "p3.bmp, p4.bmp");
    EXPECT_EQ(Width(), 25);
    Frame()->Action(kCmdNextPage)->trigger();
    EXPECT_EQ(Counter(), "5-6/6");
    // A thumbnail of a pair's second page shows the pair.
    Frame()->OpenListedPage(2);
    EXPECT_EQ(Counter(), "1-2/6");
    EXPECT_EQ(Width(), 21);
    Frame()->Action(kCmdSinglePage)->trigger();
    if (fit == kCmdFitWindow) Frame()->Action(kCmdFitWindow)->trigger();
  }
  // A place left on a pair's second page reopens at the pair.
  Frame()->Action(kCmdTwoPages)->trigger();
  Frame()->Action(kCmdCloseAll)->trigger();
  ASSERT_NE(app->OpenDocumentFile(dir / "p4.bmp"), nullptr);
  EXPECT_EQ(Counter(), "3-4/6");
  EXPECT_TRUE(messages.empty());
}

TEST_F(TwoPageViewerTest, RightToLeftLaysThePairOutAndTurnsTheKeysAround) {
  // Each page one colour: page 1 red, page 2 blue, page 3 green.
  const test::Bgr colours[] = {{0, 0, 200}, {200, 0, 0}, {0, 200, 0}};
  for (int i = 0; i < 3; ++i) {
    const test::Bgr c = colours[i];
    const DibImage page = test::MakeImage(10, 16, [c](int, int) { return c; });
    ASSERT_EQ(SaveImageFile(dir / ("p" + std::to_string(i + 1) + ".bmp"), page, 0, 90), 1);
  }
  ShowActive();
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  Frame()->Action(kCmdTwoPages)->trigger();
  EXPECT_EQ(test::PixelAt(Doc()->Page(), 0, 0), colours[0]);  // left to right
  Frame()->Action(kCmdRightToLeft)->trigger();
  EXPECT_TRUE(Frame()->Action(kCmdRightToLeft)->isChecked());
  ASSERT_EQ(Width(), 20);
  EXPECT_EQ(test::PixelAt(Doc()->Page(), 0, 0), colours[1]);   // page 2 on the left
  EXPECT_EQ(test::PixelAt(Doc()->Page(), 19, 0), colours[0]);  // page 1 on the right

  // "," (the key marked "<") goes on to the next page, which lies on the
  // left; "." comes back.
  CInkbriteView* view = Frame()->ActiveView();
  QTest::keyClick(view, Qt::Key_Comma);
  EXPECT_EQ(Counter(), "3/3");
  QTest::keyClick(view, Qt::Key_Period);
  EXPECT_EQ(Counter(), "1-2/3");
  // Left to right again: "." goes forward.
  Frame()->Action(kCmdRightToLeft)->trigger();
  QTest::keyClick(view, Qt::Key_Period);
  EXPECT_EQ(Counter(), "3/3");
  QTest::keyClick(view, Qt::Key_Comma);
  EXPECT_EQ(Counter(), "1-2/3");
}

TEST_F(TwoPageViewerTest, TheLayoutAndThePageAreRememberedPerFolderAndBook) {
  WriteFolder({10, 11, 12});
  const fs::path other = dir / "other";
  fs::create_directories(other);
  WritePage(other / "q1.bmp", 10, 16);
  WritePage(other / "q2.bmp", 10, 16);

  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  Frame()->Action(kCmdTwoPages)->trigger();
  Frame()->Action(kCmdCoverAlone)->trigger();
  // Another folder starts with one page at a time.
  ASSERT_NE(app->OpenDocumentFile(other / "q1.bmp"), nullptr);
  EXPECT_FALSE(Doc()->TwoPages());
  EXPECT_EQ(Width(), 10);
  Frame()->Action(kCmdCloseAll)->trigger();
  // The first folder again: its layout comes back.
  ASSERT_NE(app->OpenDocumentFile(dir / "p2.bmp"), nullptr);
  EXPECT_TRUE(Doc()->TwoPages());
  EXPECT_TRUE(Doc()->CoverAlone());
  EXPECT_EQ(Counter(), "2-3/3");
  EXPECT_EQ(Width(), 23);
  // Stored in the state folder.
  EXPECT_TRUE(LoadReadingPlace(dir.path()).twoPages);
  EXPECT_FALSE(LoadReadingPlace(other).layoutKnown);
  EXPECT_EQ(LoadReadingPlace(other).page, "q1.bmp");
  Frame()->Action(kCmdCloseAll)->trigger();

  // A book reopens where it was left; one saying it is manga reads right to
  // left until the reader says otherwise.
  std::vector<MadeEntry> entries;
  const std::string info = "<ComicInfo><Manga>YesAndRightToLeft</Manga></ComicInfo>";
  entries.emplace_back("ComicInfo.xml", std::vector<uint8_t>(info.begin(), info.end()));
  for (int i = 1; i <= 4; ++i) {
    WritePage(dir / "page.bmp", 10 + i, 16);
    entries.emplace_back(std::to_string(i) + ".bmp", test::ReadAll(dir / "page.bmp"));
  }
  test::WriteArchive(dir / "manga.cbz", MadeFormat::kZipStored, entries);
  ASSERT_NE(app->OpenDocumentFile(dir / "manga.cbz"), nullptr);
  EXPECT_TRUE(Doc()->RightToLeft());
  EXPECT_FALSE(Doc()->TwoPages());
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdRightToLeft)->trigger();
  Frame()->Action(kCmdCloseAll)->trigger();
  ASSERT_NE(app->OpenDocumentFile(dir / "manga.cbz"), nullptr);
  EXPECT_EQ(Title(), "manga.cbz — 3.bmp (3/4)");
  EXPECT_FALSE(Doc()->RightToLeft());
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace inkbrite
