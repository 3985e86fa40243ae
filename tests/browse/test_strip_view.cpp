// SPDX-License-Identifier: GPL-2.0-or-later
// The continuous layout in a window: the pages painted at a scroll position
// are the right ones, a parameter change repaints every page in view, only
// the pages near the view are held however long the strip, and the place
// survives switching the layout off and on, closing and opening the book,
// and a tall folder read continuously by itself until the reader says not;
// a page far taller than wide is read and held in pieces near the view,
// each row at its place.
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <cstring>
#include <numeric>

#include "browse/reading/reading_places.h"
#include "browse/reading/tall_page.h"
#include "browse/widgets/strip_view.h"
#include "sources/page_source.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::Bgr;
using test::MadeEntry;
using test::MadeFormat;

// Page i's colour: every page another.
Bgr ColourOf(int page) {
  return {static_cast<uint8_t>(40 + page * 9), static_cast<uint8_t>(200 - page * 7), 90};
}

class StripViewTest : public ui_test::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Frame()->show();  // the windows at their size
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
  }
  CInkbriteView* View() { return Frame()->ActiveView(); }
  CStripView* Strip() { return View() ? View()->Strip() : nullptr; }
  int ViewHeight() { return Strip()->viewport()->height(); }
  // Pages p01 ... of `count` slices, each `width` x `height` in its colour.
  std::vector<fs::path> WriteSlices(int count, int width, int height, const char* ext = "bmp") {
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "p%02d.%s", i + 1, ext);
      files.push_back(dir / name);
      const Bgr colour = ColourOf(i);
      const DibImage page = test::MakeImage(width, height, [&](int, int) { return colour; });
      EXPECT_EQ(SaveImageFile(files.back(), page, 0, 90), 1);
    }
    return files;
  }
  // Every page in view has its picture, and none is being rendered.
  bool InViewShown() {
    const StripLayout& layout = Strip()->Layout();
    for (int page : layout.PagesInView(Strip()->Scroll(), ViewHeight())) {
      if (!Strip()->HasPicture(page)) return false;
    }
    return !Strip()->RenderPendingInView();
  }
  Bgr PaintedAt(int x, int y) {
    const QImage shot = Strip()->viewport()->grab().toImage();
    const QColor c = shot.pixelColor(x, y);
    return {static_cast<uint8_t>(c.blue()), static_cast<uint8_t>(c.green()),
            static_cast<uint8_t>(c.red())};
  }
};

TEST_F(StripViewTest, PaintsThePagesAtAScrollPositionAndRepaintsThemOnAChange) {
  const std::vector<fs::path> files = WriteSlices(12, 60, 90);
  ASSERT_NE(app->OpenDocumentFile(files[0]), nullptr);
  EXPECT_FALSE(View()->IsContinuous());  // upright pages: one at a time
  Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  EXPECT_TRUE(Frame()->Action(kCmdContinuous)->isChecked());
  EXPECT_FALSE(Frame()->Action(kCmdSinglePage)->isChecked());
  const StripLayout& layout = Strip()->Layout();
  ASSERT_EQ(layout.Count(), 12);
  EXPECT_EQ(layout.Column(), Strip()->viewport()->width());
  // Page 5's last 10 rows over page 6's first ones.
  Strip()->ScrollTo(layout.Top(5) + layout.PageHeight(5) - 10);
  ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
  const std::vector<int> inView = layout.PagesInView(Strip()->Scroll(), ViewHeight());
  ASSERT_GE(inView.size(), 2U);
  EXPECT_EQ(inView[0], 5);
  const int x = Strip()->viewport()->width() / 2;
  EXPECT_EQ(PaintedAt(x, 4), ColourOf(5));
  EXPECT_EQ(PaintedAt(x, 16), ColourOf(6));
  // Held: the pages in view and their neighbours, nothing far off.
  const std::vector<int> held = Strip()->HeldPages();
  EXPECT_EQ(std::count(held.begin(), held.end(), 0), 0);
  for (int page : inView) EXPECT_EQ(std::count(held.begin(), held.end(), page), 1) << page;

  // A brighter page from the bar: both pages in view are painted lighter.
  const uint64_t before = Strip()->GenerationInView();
  ParamChangeEvent change(kBrightness, 150);
  QApplication::sendEvent(View(), &change);
  ASSERT_TRUE(ui_test::WaitFor([&] { return Strip()->GenerationInView() > before + 1; }));
  ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
  for (const auto& [y, page] : {std::pair{4, 5}, std::pair{16, 6}}) {
    const Bgr was = ColourOf(page), now = PaintedAt(x, y);
    EXPECT_GT(now.b, was.b) << page;
    EXPECT_GT(now.g, was.g) << page;
    EXPECT_GT(now.r, was.r) << page;
  }
  EXPECT_TRUE(messages.empty());
}

// Once the parameters rest, a page rendered with them holds its picture
// alone; the next change decodes the pages again, those in view and those
// held beyond it, and paints them as a fresh rendering would.
TEST_F(StripViewTest, PagesAtRestHoldTheirPicturesAloneAndAChangeDecodesThemAgain) {
  const std::vector<fs::path> files = WriteSlices(16, 60, 20, "png");
  ASSERT_NE(app->OpenDocumentFile(files[0]), nullptr);
  Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  const StripLayout& layout = Strip()->Layout();
  Strip()->ScrollTo(layout.Top(4));
  ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
  const int x = Strip()->viewport()->width() / 2;
  // (Slices narrower than the column are held at their size.)
  const auto pictures = [&] {
    const std::vector<int> held = Strip()->HeldPages();
    return 60 * 20 * std::count_if(held.begin(), held.end(), [&](int page) {
             return Strip()->HasPicture(page);
           });
  };
  for (const int brightness : {150, 70}) {
    ParamChangeEvent change(kBrightness, brightness);
    QApplication::sendEvent(View(), &change);
    ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
    // The pages held keep the pages they were made from until the
    // parameters rest.
    ASSERT_TRUE(ui_test::WaitFor([&] { return Strip()->HeldPixels() == pictures(); }))
        << brightness;
    EnhanceSettings params;
    params.Set(kBrightness, brightness);
    for (const int page : {4, 5}) {
      DibImage expected = test::MakeFilled(4, 4, ColourOf(page));
      ASSERT_EQ(EnhanceImage(params, expected), 0);
      const int y = static_cast<int>(layout.Top(page) - Strip()->Scroll()) + 2;
      EXPECT_EQ(PaintedAt(x, y), test::PixelAt(expected, 0, 0)) << brightness << " " << page;
    }
  }
  // A page held beyond the view took the change too.
  const std::vector<int> held = Strip()->HeldPages();
  const int below = *std::max_element(held.begin(), held.end());
  ASSERT_GT(below, layout.PageAt(Strip()->Scroll() + ViewHeight() - 1));
  Strip()->ScrollTo(layout.Top(below));
  ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
  EnhanceSettings params;
  params.Set(kBrightness, 70);
  DibImage expected = test::MakeFilled(4, 4, ColourOf(below));
  ASSERT_EQ(EnhanceImage(params, expected), 0);
  EXPECT_EQ(PaintedAt(x, static_cast<int>(layout.Top(below) - Strip()->Scroll()) + 2),
            test::PixelAt(expected, 0, 0));
  EXPECT_TRUE(messages.empty());
}

TEST_F(StripViewTest, HoldsOnlyThePagesNearTheViewThroughALongStrip) {
  // Short slices, so that many stand in and near the view.
  const std::vector<fs::path> files = WriteSlices(40, 700, 140, "jpg");
  ASSERT_NE(app->OpenDocumentFile(files[0]), nullptr);
  Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  const StripLayout& layout = Strip()->Layout();
  const int64_t screen = int64_t{layout.Column()} * ViewHeight();
  int64_t most = 0;
  int steps = 0;
  while (Strip()->Scroll() < layout.MaxScroll(ViewHeight())) {
    Frame()->Action(kCmdSingleKey)->trigger();  // a screen on
    ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); })) << Strip()->Scroll();
    most = std::max(most, Strip()->HeldPixels());
    ++steps;
  }
  EXPECT_GT(steps, 10);
  EXPECT_EQ(layout.PageAt(Strip()->Scroll() + ViewHeight() - 1), 39);
  // Each held page is its picture and the page it is made from: the pages
  // in view (at most a screen and two pages) and five screens more, twice.
  const int64_t page = int64_t{layout.Column()} * layout.PageHeight(0);
  EXPECT_LE(most, 2 * (6 * screen + 2 * page));
  // In view, a screen and two part pages; a screen either way beyond.
  const int perScreen = ViewHeight() / layout.PageHeight(0) + 1;
  EXPECT_LE(static_cast<int>(Strip()->HeldPages().size()), 3 * perScreen + 2);
  EXPECT_GT(static_cast<int>(Strip()->HeldPages().size()), perScreen);
  Frame()->Action(kCmdTopLeft)->trigger();
  EXPECT_EQ(Strip()->Scroll(), 0);
  // The next page: the top of the one after the page under the middle line.
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Strip()->Scroll(), layout.Top(layout.PageAt(ViewHeight() / 2) + 1));
}

TEST_F(StripViewTest, KeepsThePlaceAcrossSwitchesAndReopeningTheBook) {
  std::vector<MadeEntry> entries;
  for (int i = 0; i < 10; ++i) {
    const Bgr colour = ColourOf(i);
    const DibImage page = test::MakeImage(50, 80, [&](int, int) { return colour; });
    ASSERT_EQ(SaveImageFile(dir / "page.bmp", page, 0, 90), 1);
    entries.emplace_back(std::to_string(i + 10) + ".bmp", test::ReadAll(dir / "page.bmp"));
  }
  test::WriteArchive(dir / "strip.cbz", MadeFormat::kZipStored, entries);
  ASSERT_NE(app->OpenDocumentFile(dir / "strip.cbz"), nullptr);
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  EXPECT_EQ(Strip()->Place().page, 1);  // at the page shown
  // A quarter down the eighth page; once the reader rests the document
  // shows it (title, counter).
  Strip()->ScrollTo(Strip()->Layout().ScrollFor({7, 0.25}, ViewHeight()));
  ASSERT_TRUE(ui_test::WaitFor([&] { return Frame()->ActiveDocument()->EntryName() == "17.bmp"; }));
  EXPECT_EQ(Frame()->PageCounterText().toStdString(), "8/10");
  Frame()->Action(kCmdSinglePage)->trigger();  // off: the eighth page alone
  EXPECT_FALSE(View()->IsContinuous());
  EXPECT_EQ(Frame()->ActiveDocument()->EntryName(), "17.bmp");
  Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  EXPECT_EQ(Strip()->Place().page, 7);
  Strip()->ScrollTo(Strip()->Layout().ScrollFor({7, 0.25}, ViewHeight()));
  ASSERT_TRUE(ui_test::WaitFor(
      [&] { return std::abs(LoadReadingPlace(dir / "strip.cbz").stripWithin - 0.25) < 0.01; }));
  Frame()->Action(kCmdCloseAll)->trigger();

  // Opened again: continuous, at the same share of the same page.
  ASSERT_NE(app->OpenDocumentFile(dir / "strip.cbz"), nullptr);
  ASSERT_NE(Strip(), nullptr);
  EXPECT_EQ(Strip()->Place().page, 7);
  EXPECT_NEAR(Strip()->Place().within, 0.25, 0.01);
  EXPECT_TRUE(messages.empty());
}

TEST_F(StripViewTest, ReopensAtItsPlaceWhileTheEstimatedSizesAreCorrected) {
  // Slices of three heights, so a size taken from a neighbour is wrong for
  // two pages in three.
  std::vector<fs::path> files;
  std::vector<int> heights;
  for (int i = 0; i < 24; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%02d.bmp", i + 1);
    files.push_back(dir / name);
    heights.push_back(90 + (i % 3) * 40);
    const Bgr colour = ColourOf(i);
    const DibImage page = test::MakeImage(60, heights.back(), [&](int, int) { return colour; });
    ASSERT_EQ(SaveImageFile(files.back(), page, 0, 90), 1);
  }
  struct Case {
    int page;
    double within;
  };
  for (const Case& kept : {Case{12, 0.3}, Case{1, 0.5}, Case{21, 0.6}, Case{7, 0.95}}) {
    SCOPED_TRACE(kept.page);
    ReadingPlace place;
    place.page = files[kept.page].filename().string();
    place.continuous = 1;
    place.stripWithin = kept.within;
    SaveStripPlace(files[0].parent_path(), place);
    ASSERT_NE(app->OpenDocumentFile(files[kept.page]), nullptr);
    ASSERT_NE(Strip(), nullptr);
    // Laid out before most headers are read, at the place kept, the page
    // alone not rendered under the strip.
    EXPECT_GT(Strip()->SizesDue(), 12);
    EXPECT_TRUE(View()->DisplayedSize().isEmpty());
    EXPECT_EQ(Strip()->Place().page, kept.page);
    EXPECT_NEAR(Strip()->Place().within, kept.within, 0.01);
    ASSERT_TRUE(ui_test::WaitFor([&] { return Strip()->SizesDue() == 0 && InViewShown(); }));
    // Every size now right, the place where it was.
    const StripLayout& layout = Strip()->Layout();
    int64_t top = 0;
    for (int i = 0; i < kept.page; ++i) {
      top += (int64_t{heights[i]} * layout.Column() * 2 + 60) / 120 + layout.Gap();
    }
    EXPECT_EQ(layout.Top(kept.page), top);
    EXPECT_EQ(Strip()->Place().page, kept.page);
    EXPECT_NEAR(Strip()->Place().within, kept.within, 0.01);
    EXPECT_EQ(PaintedAt(Strip()->viewport()->width() / 2, ViewHeight() / 2), ColourOf(kept.page));
    Frame()->Action(kCmdCloseAll)->trigger();
  }
  // The layout switched off: the page under the middle line shown alone.
  ASSERT_NE(app->OpenDocumentFile(files[7]), nullptr);
  ASSERT_NE(Strip(), nullptr);
  Frame()->Action(kCmdSinglePage)->trigger();
  EXPECT_EQ(Strip(), nullptr);
  EXPECT_EQ(View()->DisplayedSize().height(), heights[7]);
  EXPECT_TRUE(messages.empty());
}

TEST_F(StripViewTest, ATallFolderReadsContinuouslyUntilTheReaderSaysNot) {
  const std::vector<fs::path> files = WriteSlices(4, 40, 120);  // 3 times as tall as wide
  ASSERT_NE(app->OpenDocumentFile(files[0]), nullptr);
  ASSERT_NE(Strip(), nullptr);
  Frame()->Action(kCmdContinuous)->trigger();
  EXPECT_EQ(Strip(), nullptr);
  EXPECT_EQ(LoadReadingPlace(Frame()->ActiveDocument()->DirList().Directory()).continuous, 0);
  Frame()->Action(kCmdCloseAll)->trigger();
  ASSERT_NE(app->OpenDocumentFile(files[0]), nullptr);
  EXPECT_EQ(Strip(), nullptr);
}

// A tall page's rows: bands of 37 rows, each of its own colour.
Bgr TallColour(int row) {
  const int band = row / 37;
  return {static_cast<uint8_t>(band * 53 % 256), static_cast<uint8_t>(255 - band * 29 % 256),
          static_cast<uint8_t>(band % 2 ? 220 : 30)};
}

TEST_F(StripViewTest, ATallPageReadInPiecesShowsEveryRowAtItsPlace) {
  struct Case {
    int width, height, column;
  };
  for (const Case c : {Case{120, 5000, 317}, Case{900, 7000, 400}, Case{300, 4800, 300}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in " << c.column);
    const fs::path file = dir / "tall.jpg";
    ASSERT_EQ(
        SaveImageFile(file,
                      test::MakeImage(c.width, c.height, [](int, int y) { return TallColour(y); }),
                      0, 95),
        1);
    std::shared_ptr<PageSource> source = OpenFolderSource(dir.path());
    ASSERT_EQ(source->PageCount(), 1U);
    TallPageBands bands(source, 0, TallGeometry::For(c.width, c.height, c.column));
    const TallGeometry& g = bands.Geometry();
    ASSERT_GE(g.Pieces(), 3);
    EXPECT_NEAR(double(g.FittedHeight()), double(c.height) * c.column / c.width, 1.0);
    std::vector<int> all(static_cast<size_t>(g.Pieces()));
    std::iota(all.begin(), all.end(), 0);
    bands.Want(all);
    std::vector<std::unique_ptr<TallPiece>> pieces(all.size());
    ASSERT_TRUE(ui_test::WaitFor([&] {
      for (int k : all) {
        if (!pieces[k]) pieces[k] = bands.Take(k);
      }
      return std::all_of(pieces.begin(), pieces.end(), [](const auto& p) { return p != nullptr; });
    }));
    EXPECT_EQ(bands.Opens(), 1);  // read top to bottom once
    // Every row of every piece shows the page's row at its place (within a
    // row of the page), across the pieces' seams; the context rows too.
    const double scale = double(c.column) / c.width;
    for (int k = 0; k < g.Pieces(); ++k) {
      const TallPiece& piece = *pieces[k];
      ASSERT_FALSE(piece.failed);
      ASSERT_EQ(piece.rows, g.Rows(k));
      ASSERT_EQ(piece.above, k == 0 ? 0 : kPieceContext);
      ASSERT_EQ(piece.image.Height(),
                piece.above + piece.rows + (k + 1 < g.Pieces() ? kPieceContext : 0));
      ASSERT_EQ(piece.image.Width(), g.column);
      for (int32_t y = 0; y < piece.image.Height(); ++y) {
        const double row = (g.Top(k) - piece.above + y + 0.5) / scale;
        if (std::fmod(row, 37) < 2.5 || std::fmod(row, 37) > 34.5 || row > c.height - 3) continue;
        const Bgr want = TallColour(static_cast<int>(row));
        const uint8_t* got = piece.image.Row(y) + size_t(g.column / 2) * 3;
        ASSERT_NEAR(got[0], want.b, 8) << "piece " << k << " row " << y;
        ASSERT_NEAR(got[1], want.g, 8) << "piece " << k << " row " << y;
        ASSERT_NEAR(got[2], want.r, 8) << "piece " << k << " row " << y;
      }
    }
    // Rows spread down the whole page, read once the pieces are; a piece
    // asked for after them is read from the top again.
    bands.WantSample();
    ASSERT_TRUE(ui_test::WaitFor([&] { return bands.Sample() != nullptr; }));
    const DibImage& sample = *bands.Sample();
    ASSERT_EQ(sample.Height(), kSampleRows);
    for (int32_t k = 0; k < sample.Height(); ++k) {
      const int row = (2 * k + 1) * c.height / (2 * kSampleRows);
      if (row % 37 < 2 || row % 37 > 34) continue;
      EXPECT_NEAR(sample.Row(k)[c.width / 2 * 3 + 1], TallColour(row).g, 8) << k;
    }
    bands.Want({1});
    std::unique_ptr<TallPiece> again;
    ASSERT_TRUE(ui_test::WaitFor([&] {
      if (!again) again = bands.Take(1);
      return again != nullptr;
    }));
    const DibImage& before = pieces[1]->image;
    ASSERT_EQ(again->image.Height(), before.Height());
    for (int32_t y = 0; y < before.Height(); ++y) {
      ASSERT_EQ(std::memcmp(again->image.Row(y), before.Row(y), size_t(g.column) * 3), 0) << y;
    }
  }
  // A file that does not read in bands is said to be so (and is decoded
  // whole by the view).
  fs::remove(dir / "tall.jpg");
  ASSERT_EQ(
      SaveImageFile(dir / "tall.png",
                    test::MakeImage(100, 4500, [](int, int y) { return TallColour(y); }), 0, 90),
      1);
  TallPageBands png(OpenFolderSource(dir.path()), 0, TallGeometry::For(100, 4500, 200));
  png.Want({0});
  EXPECT_TRUE(ui_test::WaitFor([&] { return png.Unstreamable(); }));
}

TEST_F(StripViewTest, ATallPageIsShownAndHeldInPiecesNearTheView) {
  // Bands of colour 600 rows tall down a page 50 times as tall as wide.
  const fs::path file = dir / "chapter.jpg";
  const auto bandColour = [](int band) { return ColourOf(band % 12); };
  ASSERT_EQ(SaveImageFile(
                file, test::MakeImage(200, 10000, [&](int, int y) { return bandColour(y / 600); }),
                0, 95),
            1);
  // Loaded in the background behind a reduced picture, as a big page is.
  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  ASSERT_NE(app->OpenDocumentFile(file), nullptr);
  if (Strip() == nullptr) Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  const StripLayout& layout = Strip()->Layout();
  const int column = layout.Column();
  const double scale = double(column) / 200;
  ASSERT_EQ(layout.PageHeight(0), static_cast<int>(std::lround(10000 * scale)));
  const int64_t screen = int64_t{column} * ViewHeight();
  for (const double at : {0.5, 0.93, 0.2}) {
    Strip()->ScrollTo(static_cast<int64_t>(at * layout.PageHeight(0)));
    // The status line follows how far down the one page the view is (read
    // at once: the note fades after a few seconds).
    EXPECT_EQ(Frame()->NoteText(), Strip()->PlaceText()) << at;
    ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); })) << at;
    // The middle of each band painted in its colour (within the JPEG's
    // error), wherever a piece begins.
    for (int y = 8; y < ViewHeight(); y += 97) {
      const double row = (Strip()->Scroll() + y) / scale;
      if (std::fmod(row, 600) < 20 || std::fmod(row, 600) > 580) continue;
      const Bgr want = bandColour(static_cast<int>(row) / 600), got = PaintedAt(column / 2, y);
      EXPECT_NEAR(got.b, want.b, 6) << at << " " << y;
      EXPECT_NEAR(got.g, want.g, 6) << at << " " << y;
      EXPECT_NEAR(got.r, want.r, 6) << at << " " << y;
    }
    // Pieces within a screen of the view, each with its picture: a few
    // screens, never the page (some 50 screens fitted).
    EXPECT_LE(Strip()->HeldPixels(), 10 * screen) << at;
  }
  // Once the reader rests the zoom pane says the layout and the page's scale.
  const auto zoom = [&] {
    return QStringLiteral("连续滚动 %1%").arg(std::lround(layout.Column() * 100.0 / 200));
  };
  EXPECT_TRUE(ui_test::WaitFor([&] { return Frame()->ZoomPaneText() == zoom(); }))
      << Frame()->ZoomPaneText().toStdString();
  const uint64_t before = Strip()->GenerationInView();
  const Bgr was = PaintedAt(column / 2, ViewHeight() / 2);
  ParamChangeEvent change(kBrightness, 150);
  QApplication::sendEvent(View(), &change);
  ASSERT_TRUE(ui_test::WaitFor([&] { return Strip()->GenerationInView() > before; }));
  ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
  const Bgr now = PaintedAt(column / 2, ViewHeight() / 2);
  EXPECT_GT(int{now.g} + now.b + now.r, int{was.g} + was.b + was.r);
  // Nor is the page whole in the document (its reduced picture stands for
  // it) until it is shown alone.
  CInkbriteDoc* doc = Frame()->ActiveDocument();
  QTest::qWait(300);
  EXPECT_TRUE(doc->IsLoading());
  EXPECT_LT(doc->Page().Height(), 10000);
  Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_EQ(Strip(), nullptr);
  ASSERT_TRUE(ui_test::WaitFor([&] { return !doc->IsLoading(); }));
  EXPECT_EQ(doc->Page().Height(), 10000);
  CInkbriteDoc::SetBackgroundLoadPixels(0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(StripViewTest, ATallPageInPiecesIsEnhancedAsOnePage) {
  // A column of grey 100 down the page's left; beside it pale paper with a
  // band of light ink at the right in the top half, white paper with dark
  // ink in the bottom half. Auto levels measured on each piece would map
  // the grey and the inks as each half alone says.
  const fs::path file = dir / "chapter.jpg";
  const auto colour = [](int x, int y) -> Bgr {
    const bool top = y < 3000;
    const uint8_t v = x < 40 ? 100 : x >= 180 ? (top ? 90 : 30) : (top ? 180 : 240);
    return {v, v, v};
  };
  ASSERT_EQ(SaveImageFile(file, test::MakeImage(200, 6000, colour), 0, 95), 1);
  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  ASSERT_NE(app->OpenDocumentFile(file), nullptr);
  if (Strip() == nullptr) Frame()->Action(kCmdContinuous)->trigger();
  ASSERT_NE(Strip(), nullptr);
  ParamChangeEvent levels(kAutoLevels, 1);
  QApplication::sendEvent(View(), &levels);
  ASSERT_TRUE(ui_test::WaitFor([&] { return InViewShown(); }));
  const int column = Strip()->Layout().Column(), middle = ViewHeight() / 2;
  const int64_t boundary = std::lround(3000.0 * column / 200);
  const auto paintedAround = [&](int64_t row, int dy, int x) {
    Strip()->ScrollTo(row - middle);
    EXPECT_TRUE(ui_test::WaitFor([&] { return InViewShown(); })) << row;
    return PaintedAt(x, middle + dy);
  };
  const int grey = column * 20 / 200, ink = column * 190 / 200;
  const Bgr greyTop = paintedAround(boundary / 2, 0, grey);
  const Bgr inkTop = PaintedAt(ink, middle);
  const Bgr greyBottom = paintedAround(boundary * 3 / 2, 0, grey);
  const Bgr inkBottom = PaintedAt(ink, middle);
  // One mapping for the whole page, and one that moved the grey.
  EXPECT_NEAR(greyTop.g, greyBottom.g, 4);
  EXPECT_GT(std::abs(int{greyTop.g} - 100), 10);
  EXPECT_GT(std::abs(int{inkTop.g} - inkBottom.g), 30);
  // So too the pieces where the halves meet.
  for (const int dy : {-12, 12}) {
    const Bgr got = paintedAround(boundary, dy, ink), want = dy < 0 ? inkTop : inkBottom;
    EXPECT_NEAR(got.g, want.g, 4) << dy;
  }
  CInkbriteDoc::SetBackgroundLoadPixels(0);
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace inkbrite
