// SPDX-License-Identifier: GPL-2.0-or-later
// The view's zoom and turn: how the page is laid out and painted, what is
// kept as pages turn, and that none of it reaches what Save writes.
#include <QTest>

#include "browse/reading/view_geometry.h"
#include "browse/widgets/histogram_dock.h"
#include "browse/widgets/para_bar.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::Settle;
using ui_test::WaitFor;
using ui_test::WritePage;

// Each turn maps the page's corners onto the corners of the turned size
// (top-left of the page goes to the top-right after one turn clockwise).
TEST(ViewGeometryTest, TurnsAndScalesMapThePageOntoItsShownSize) {
  const QSize page(30, 20);
  const QPointF topLeft(0.5, 0.5);  // the middle of the first pixel
  const struct {
    int turns;
    QSize shown;
    QPointF firstPixel;
  } cases[] = {{0, {60, 40}, {1, 1}},  {1, {40, 60}, {39, 1}},  {2, {60, 40}, {59, 39}},
               {3, {40, 60}, {1, 59}}, {-1, {40, 60}, {1, 59}}, {5, {40, 60}, {39, 1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.turns);
    EXPECT_EQ(ShownSize(page, c.turns, 2.0), c.shown);
    const QTransform t = PageToShown(page, c.turns, 2.0);
    EXPECT_EQ(t.mapRect(QRectF(QPointF(0, 0), QSizeF(page))), QRectF(QPointF(0, 0), c.shown));
    EXPECT_EQ(t.map(topLeft), c.firstPixel);
  }
  // Fitting enlarges as well as shrinks; the zoom steps stop at their ends.
  EXPECT_DOUBLE_EQ(ZoomScale({ZoomMode::kFitWidth}, {100, 400}, {300, 200}), 3.0);
  EXPECT_DOUBLE_EQ(ZoomScale({ZoomMode::kFitHeight}, {100, 400}, {300, 200}), 0.5);
  EXPECT_DOUBLE_EQ(ZoomScale({ZoomMode::kFitPage}, {100, 400}, {300, 200}), 0.5);
  EXPECT_DOUBLE_EQ(ZoomScale({ZoomMode::kFitPage}, {100, 40}, {300, 200}), 3.0);
  EXPECT_DOUBLE_EQ(ZoomScale({ZoomMode::kFitPage}, {}, {300, 200}), 1.0);
  EXPECT_DOUBLE_EQ(NextZoomStep(1.0, true), 1.25);
  EXPECT_DOUBLE_EQ(NextZoomStep(1.0, false), 0.75);
  EXPECT_DOUBLE_EQ(NextZoomStep(0.8, true), 1.0);
  EXPECT_DOUBLE_EQ(NextZoomStep(8.0, true), 8.0);
  EXPECT_DOUBLE_EQ(NextZoomStep(0.1, false), 0.1);
}

class ViewModesTest : public ui_test::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Frame()->resize(900, 700);
    Frame()->show();
    QApplication::setActiveWindow(Frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    // The view alone: the parameter bar goes, and the room it keeps.
    ASSERT_TRUE(ui_test::WaitFor([this] { return Frame()->ParaBar()->isVisible(); }));
    Frame()->Action(kCmdParaBar)->trigger();
  }
  CInkbriteView* Open(const fs::path& path) {
    if (!app->OpenDocumentFile(path)) return nullptr;
    CInkbriteView* view = Frame()->ActiveView();
    Settle(30);
    return view;
  }
  static QImage Grab(CInkbriteView* view) {
    view->viewport()->repaint();
    return view->viewport()->grab().toImage();
  }
  static QColor Colour(const test::Bgr& c) { return QColor(c.r, c.g, c.b); }
};

// The zoom commands lay the page out larger or smaller on screen and paint
// it so, the rendered page staying as it was; fitting fills the window in
// both directions.
TEST_F(ViewModesTest, ZoomCommandsChangeOnlyTheShownPage) {
  WritePage(dir / "page.bmp", 120, 80);
  CInkbriteView* view = Open(dir / "page.bmp");
  ASSERT_NE(view, nullptr);
  const DibImage rendered = view->DisplayedPage();
  const QSize client = view->viewport()->size();
  ASSERT_GT(client.width(), 240);
  ASSERT_GT(client.height(), 160);
  EXPECT_EQ(view->ShownPageSize(), QSize(120, 80));
  EXPECT_TRUE(Frame()->Action(kCmdActualSize)->isChecked());

  Frame()->Action(kCmdZoomIn)->trigger();
  EXPECT_DOUBLE_EQ(view->ViewScale(), 1.25);
  Frame()->Action(kCmdZoomIn)->trigger();
  Frame()->Action(kCmdZoomIn)->trigger();
  EXPECT_DOUBLE_EQ(view->ViewScale(), 2.0);
  EXPECT_EQ(view->ShownPageSize(), QSize(240, 160));
  EXPECT_FALSE(Frame()->Action(kCmdActualSize)->isChecked());
  // Each page pixel covers two by two screen pixels (the zoomed page
  // centred in the window).
  const QImage shot = Grab(view);
  const QPoint at = view->ShownPageRect().topLeft();
  for (const QPoint p : {QPoint(0, 0), QPoint(57, 33), QPoint(119, 79)}) {
    SCOPED_TRACE(p.x());
    const QColor want = Colour(test::PixelAt(rendered, p.x(), p.y()));
    EXPECT_EQ(shot.pixelColor(at + 2 * p), want);
    EXPECT_EQ(shot.pixelColor(at + 2 * p + QPoint(1, 1)), want);
  }
  EXPECT_EQ(shot.pixelColor(at + QPoint(241, 10)), QColor(Qt::black));
  EXPECT_TRUE(view->DisplayedPage().PackedDib() == rendered.PackedDib());

  // Fitted to the client area left beside the scroll bar the fitted page
  // needs.
  Frame()->Action(kCmdFitWidth)->trigger();
  Settle(20);
  EXPECT_TRUE(Frame()->Action(kCmdFitWidth)->isChecked());
  EXPECT_EQ(view->ShownPageSize().width(), view->viewport()->width());
  Frame()->Action(kCmdFitHeight)->trigger();
  Settle(20);
  EXPECT_EQ(view->ShownPageSize().height(), view->viewport()->height());
  EXPECT_GT(view->ShownPageSize().width(), view->viewport()->width());
  Frame()->Action(kCmdFitPage)->trigger();
  Settle(20);
  const QSize fitted = view->ShownPageSize();
  EXPECT_TRUE(fitted.width() == view->viewport()->width() ||
              fitted.height() == view->viewport()->height());
  EXPECT_LE(fitted.width(), view->viewport()->width());
  EXPECT_LE(fitted.height(), view->viewport()->height());
  EXPECT_GT(view->ViewScale(), 1.0);
  // Zooming out goes from the fitted scale to the next smaller step.
  const double fittedScale = view->ViewScale();
  Frame()->Action(kCmdZoomOut)->trigger();
  EXPECT_LT(view->ViewScale(), fittedScale);
  EXPECT_DOUBLE_EQ(view->ViewScale(), NextZoomStep(fittedScale, false));
  Frame()->Action(kCmdActualSize)->trigger();
  EXPECT_EQ(view->ShownPageSize(), QSize(120, 80));
  EXPECT_TRUE(view->DisplayedPage().PackedDib() == rendered.PackedDib());
}

// The keys reach the zoom; the zoom stays as pages turn; Ctrl+- (fitting
// by rendering a reduced page) and a zoom end one another.
TEST_F(ViewModesTest, ZoomsBesideOneToOneCentreThePageAndTheStatusBarShowsTheZoom) {
  WritePage(dir / "small.bmp", 200, 100);
  CInkbriteView* view = Open(dir / "small.bmp");
  ASSERT_NE(view, nullptr);
  const struct {
    int command;
    bool centreSmallPages;
    bool centred;
    const char* pane;  // the zoom pane's text up to the percentage
  } cases[] = {
      {kCmdActualSize, false, false, "实际大小 "}, {kCmdFitWindow, false, false, "缩小到窗口 "},
      {kCmdFitWindow, false, false, "实际大小 "},  {kCmdFitPage, false, true, "适合页面 "},
      {kCmdFitWidth, false, true, "适合宽度 "},    {kCmdFitHeight, false, true, "适合高度 "},
      {kCmdZoomOut, false, true, "缩放 "},         {kCmdActualSize, true, true, "实际大小 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pane);
    SetCentreSmallPages(c.centreSmallPages);
    Frame()->Action(c.command)->trigger();
    Settle(20);
    const QRect page = view->ShownPageRect();
    const QRect client = view->viewport()->rect();
    if (c.centred) {
      EXPECT_LE(std::abs(page.center().x() - client.center().x()), 1) << page.x();
      EXPECT_LE(std::abs(page.center().y() - client.center().y()), 1) << page.y();
    } else {
      EXPECT_EQ(page.topLeft(), QPoint(0, 0));
    }
    const QString percent = QString::number(std::lround(view->ShownPageSize().width() / 2.0));
    EXPECT_EQ(Frame()->ZoomPaneText().toStdString(),
              std::string(c.pane) + percent.toStdString() + "%");
  }
}

TEST_F(ViewModesTest, TheZoomIsRememberedPerFolderAndBookAndTheLastChoiceStartsNewOnes) {
  for (const char* folder : {"a", "b", "c"}) {
    fs::create_directories(dir / folder);
    WritePage(dir / folder / "p.bmp", 300, 200);
  }
  const auto reopen = [&](const char* folder) {
    Frame()->Action(kCmdCloseAll)->trigger();
    return Open(dir / folder / "p.bmp");
  };
  CInkbriteView* view = reopen("a");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kOneToOne);  // nothing chosen yet
  Frame()->Action(kCmdFitPage)->trigger();
  view = reopen("b");  // new: the last choice
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kFitPage);
  Frame()->Action(kCmdZoomIn)->trigger();
  Frame()->Action(kCmdZoomIn)->trigger();
  const double factor = view->Zoom().factor;
  view = reopen("a");
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kFitPage);
  view = reopen("b");
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kFactor);
  EXPECT_DOUBLE_EQ(view->Zoom().factor, factor);
  Frame()->Action(kCmdFitWindow)->trigger();
  view = reopen("c");
  EXPECT_TRUE(view->IsFitToWindow());
  view = reopen("a");
  EXPECT_FALSE(view->IsFitToWindow());
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kFitPage);
  EXPECT_EQ(Frame()->ZoomPaneText().left(5).toStdString(), "适合页面 ");
}

TEST_F(ViewModesTest, ZoomKeysAndFittingByCtrlMinusExcludeEachOther) {
  WritePage(dir / "a.bmp", 2000, 1500);
  WritePage(dir / "b.bmp", 100, 60);
  CInkbriteView* view = Open(dir / "a.bmp");
  ASSERT_NE(view, nullptr);
  QTest::keyClick(view, Qt::Key_9, Qt::ControlModifier);
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kFitPage);
  EXPECT_LT(view->ViewScale(), 0.5);
  Frame()->Action(kCmdNextPage)->trigger();
  ASSERT_TRUE(WaitFor([&] { return view->DisplayedSize() == QSize(100, 60); }));
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kFitPage);
  EXPECT_GT(view->ViewScale(), 1.0);
  Frame()->Action(kCmdPreviousPage)->trigger();
  ASSERT_TRUE(WaitFor([&] { return view->DisplayedSize() == QSize(2000, 1500); }));

  QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_TRUE(view->IsFitToWindow());
  EXPECT_EQ(view->Zoom().mode, ZoomMode::kOneToOne);
  EXPECT_LT(view->DisplayedSize().width(), 2000);  // rendered reduced
  QTest::keyClick(view, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_FALSE(view->IsFitToWindow());
  EXPECT_FALSE(Frame()->Action(kCmdFitWindow)->isChecked());
  EXPECT_EQ(view->DisplayedSize(), QSize(2000, 1500));
  EXPECT_DOUBLE_EQ(view->ViewScale(), 1.25);
  QTest::keyClick(view, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(view->ShownPageSize(), QSize(2000, 1500));
}

// A turn shows the page turned, is kept for that page while the window is
// open (another page comes unturned), and four turns make none.
TEST_F(ViewModesTest, TurnsAreShownAndKeptPerPage) {
  WritePage(dir / "a.bmp", 120, 80);
  WritePage(dir / "b.bmp", 90, 50);
  CInkbriteView* view = Open(dir / "a.bmp");
  ASSERT_NE(view, nullptr);
  const DibImage rendered = view->DisplayedPage();
  QTest::keyClick(view, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(view->QuarterTurns(), 1);
  EXPECT_EQ(view->ShownPageSize(), QSize(80, 120));
  // Turned clockwise: the page's top-left pixel is at the top right, its
  // bottom-left at the top left.
  const QImage shot = Grab(view);
  EXPECT_EQ(shot.pixelColor(79, 0), Colour(test::PixelAt(rendered, 0, 0)));
  EXPECT_EQ(shot.pixelColor(0, 0), Colour(test::PixelAt(rendered, 0, 79)));
  EXPECT_EQ(shot.pixelColor(0, 119), Colour(test::PixelAt(rendered, 119, 79)));
  EXPECT_EQ(shot.pixelColor(81, 10), QColor(Qt::black));

  Frame()->Action(kCmdNextPage)->trigger();
  ASSERT_TRUE(WaitFor([&] { return view->DisplayedSize() == QSize(90, 50); }));
  EXPECT_EQ(view->QuarterTurns(), 0);
  EXPECT_EQ(view->ShownPageSize(), QSize(90, 50));
  QTest::keyClick(view, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(view->QuarterTurns(), 3);
  Frame()->Action(kCmdPreviousPage)->trigger();
  ASSERT_TRUE(WaitFor([&] { return view->DisplayedSize() == QSize(120, 80); }));
  EXPECT_EQ(view->QuarterTurns(), 1);
  for (int i = 0; i < 3; ++i) Frame()->Action(kCmdTurnRight)->trigger();
  EXPECT_EQ(view->QuarterTurns(), 0);
  EXPECT_EQ(view->ShownPageSize(), QSize(120, 80));
}

// Save writes the page as rendered with the parameters, whatever the zoom
// and turn of the view.
TEST_F(ViewModesTest, ZoomAndTurnNeverReachWhatSaveWrites) {
  WritePage(dir / "page.bmp", 150, 100);
  CInkbriteView* view = Open(dir / "page.bmp");
  ASSERT_NE(view, nullptr);
  CInkbriteDoc* doc = Frame()->ActiveDocument();
  ASSERT_EQ(doc->SaveAs(dir / "plain.bmp"), 1);
  Frame()->Action(kCmdZoomIn)->trigger();
  Frame()->Action(kCmdTurnRight)->trigger();
  ASSERT_EQ(doc->SaveAs(dir / "zoomed.bmp"), 1);
  Frame()->Action(kCmdFitPage)->trigger();
  Frame()->Action(kCmdTurnRight)->trigger();
  ASSERT_EQ(doc->SaveAs(dir / "fitted.bmp"), 1);
  const std::vector<uint8_t> plain = test::ReadAll(dir / "plain.bmp");
  EXPECT_EQ(test::ReadAll(dir / "zoomed.bmp"), plain);
  EXPECT_EQ(test::ReadAll(dir / "fitted.bmp"), plain);
  DibImage saved;
  int grey = 0;
  ASSERT_EQ(LoadImageFile(dir / "fitted.bmp", saved, &grey), 1);
  EXPECT_EQ(saved.Width(), 150);
  EXPECT_EQ(saved.Height(), 100);
}

// Before and after: B held or Ctrl+B shows the page before the enhancement
// (stretched over the enhanced page when the parameters scale it); the split
// view shows the original left of a divider the mouse moves.
TEST_F(ViewModesTest, BeforeAndAfterShowTheOriginalInThePagesPlace) {
  WritePage(dir / "page.bmp", 120, 80);
  DibImage original;
  int grey = 0;
  ASSERT_EQ(LoadImageFile(dir / "page.bmp", original, &grey), 1);
  AppParams().SetValue(kBrightness, 140);
  AppParams().SetValue(kResize, 200);
  CInkbriteView* view = Open(dir / "page.bmp");
  ASSERT_NE(view, nullptr);
  const DibImage enhanced = view->DisplayedPage();
  ASSERT_EQ(enhanced.Width(), 240);
  const QPoint at(30, 20);  // a page pixel of the original
  const QColor before = Colour(test::PixelAt(original, at.x(), at.y()));
  const QColor after = Colour(test::PixelAt(enhanced, 2 * at.x(), 2 * at.y()));
  ASSERT_NE(before, after);
  const auto shownAt = [&](int x, int y) { return Grab(view).pixelColor(x, y); };
  EXPECT_EQ(shownAt(2 * at.x(), 2 * at.y()), after);

  QTest::keyPress(view, Qt::Key_B);
  EXPECT_TRUE(view->ShowsOriginal());
  EXPECT_EQ(shownAt(2 * at.x(), 2 * at.y()), before);
  EXPECT_EQ(shownAt(2 * at.x() + 1, 2 * at.y() + 1), before);
  QTest::keyRelease(view, Qt::Key_B);
  EXPECT_FALSE(view->ShowsOriginal());
  EXPECT_EQ(shownAt(2 * at.x(), 2 * at.y()), after);

  QTest::keyClick(view, Qt::Key_B, Qt::ControlModifier);
  EXPECT_TRUE(Frame()->Action(kCmdShowOriginal)->isChecked());
  EXPECT_EQ(shownAt(2 * at.x(), 2 * at.y()), before);
  Frame()->Action(kCmdShowOriginal)->trigger();
  EXPECT_EQ(shownAt(2 * at.x(), 2 * at.y()), after);

  // Split at the middle: x 60 (of 240) is left of the divider, x 180 right.
  QTest::keyClick(view, Qt::Key_D, Qt::ControlModifier);
  ASSERT_TRUE(view->IsSplit());
  EXPECT_EQ(shownAt(60, 40), Colour(test::PixelAt(original, 30, 20)));
  EXPECT_EQ(shownAt(180, 40), Colour(test::PixelAt(enhanced, 180, 40)));
  EXPECT_NE(Colour(test::PixelAt(original, 90, 20)), Colour(test::PixelAt(enhanced, 180, 40)));
  // The divider dragged to a quarter of the page: x 100 is now right of it.
  const QRect page = view->ShownPageRect();
  const int divider = page.left() + page.width() / 2;
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(divider + 2, 100));
  QTest::mouseMove(view->viewport(), QPoint(page.left() + page.width() / 4, 100));
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {},
                      QPoint(page.left() + page.width() / 4, 100));
  EXPECT_NEAR(view->SplitAt(), 0.25, 0.01);
  EXPECT_EQ(shownAt(100, 40), Colour(test::PixelAt(enhanced, 100, 40)));
  EXPECT_EQ(shownAt(40, 40), Colour(test::PixelAt(original, 20, 20)));
  EXPECT_EQ(view->ScrollPosition(), QPoint(0, 0));  // the page itself did not move
  AppParams().ResetDefaults();
}

// A page whose left half is black and right half white, `width` x 40.
void WriteHalves(const fs::path& path, int width) {
  const DibImage page = test::MakeImage(width, 40, [width](int32_t x, int32_t) {
    return x < width / 2 ? test::Bgr{0, 0, 0} : test::Bgr{255, 255, 255};
  });
  ASSERT_EQ(SaveImageFile(path, page, 0, 90), 1);
}

// The histogram dock (Ctrl+H, remembered) shows the page on screen, as
// rendered: it follows a parameter change, a page turn and the closing of
// the last window.
TEST_F(ViewModesTest, TheHistogramFollowsThePageOnScreen) {
  WriteHalves(dir / "a.bmp", 100);
  WritePage(dir / "b.bmp", 64, 48);
  CHistogramDock* dock = Frame()->HistogramDock();
  ASSERT_NE(dock, nullptr);
  EXPECT_TRUE(dock->isHidden());
  CInkbriteView* view = Open(dir / "a.bmp");
  ASSERT_NE(view, nullptr);
  QTest::keyClick(view, Qt::Key_H, Qt::ControlModifier);
  EXPECT_FALSE(dock->isHidden());
  EXPECT_TRUE(Frame()->Action(kCmdHistogram)->isChecked());
  EXPECT_TRUE(QSettings().value(QStringLiteral("View/Histogram")).toBool());
  EXPECT_EQ(dock->Histogram().pixels, 4000u);
  EXPECT_EQ(dock->ClippingText(), QStringLiteral("黑色溢出 50.00%　白色溢出 50.00%"));

  // Darker: the white half leaves white, the black half stays.
  const uint64_t shown = view->DisplayGeneration();
  AppParams().SetValue(kBrightness, 50);
  QApplication::postEvent(view, new ParamChangeEvent(kBrightness, 50));
  ASSERT_TRUE(WaitFor([&] { return view->PaintedGeneration() > shown; }));
  ASSERT_TRUE(WaitFor([&] { return dock->Histogram().white == 0; }));
  EXPECT_EQ(dock->Histogram().black, 2000u);
  EXPECT_EQ(dock->Histogram().grey, ComputeHistogram(view->DisplayedPage()).grey);

  Frame()->Action(kCmdNextPage)->trigger();
  ASSERT_TRUE(WaitFor([&] { return dock->Histogram().pixels == 64u * 48u; }));
  EXPECT_FALSE(dock->Histogram().isGrey);
  Frame()->Action(kCmdCloseAll)->trigger();
  EXPECT_TRUE(dock->Histogram().Empty());
  EXPECT_EQ(dock->ClippingText(), QStringLiteral("没有页面"));
  // The command needs a window; with one, it hides the dock again.
  EXPECT_FALSE(Frame()->Action(kCmdHistogram)->isEnabled());
  ASSERT_NE(Open(dir / "b.bmp"), nullptr);
  Frame()->Action(kCmdHistogram)->trigger();
  EXPECT_TRUE(dock->isHidden());
  EXPECT_FALSE(QSettings().value(QStringLiteral("View/Histogram")).toBool());
  AppParams().ResetDefaults();
}

// Clipping warnings stripe the pure black pixels blue and the pure white
// ones red, every other stripe four pixels wide, and leave the rest.
TEST_F(ViewModesTest, ClippingWarningsStripeClippedPixels) {
  WriteHalves(dir / "a.bmp", 100);
  CInkbriteView* view = Open(dir / "a.bmp");
  ASSERT_NE(view, nullptr);
  QImage shot = Grab(view);
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(Qt::black));
  EXPECT_EQ(shot.pixelColor(60, 0), QColor(Qt::white));
  QTest::keyClick(view, Qt::Key_J, Qt::ControlModifier);
  EXPECT_TRUE(ShowClipping());
  EXPECT_TRUE(Frame()->Action(kCmdClipWarnings)->isChecked());
  shot = Grab(view);
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(0, 80, 255));  // stripe
  EXPECT_EQ(shot.pixelColor(4, 0), QColor(Qt::black));   // between stripes
  EXPECT_EQ(shot.pixelColor(64, 0), QColor(255, 0, 0));  // stripe
  EXPECT_EQ(shot.pixelColor(60, 0), QColor(Qt::white));  // between
  EXPECT_EQ(shot.pixelColor(8, 2), QColor(0, 80, 255));  // diagonal
  // Marks are painted, never rendered.
  EXPECT_EQ(ComputeHistogram(view->DisplayedPage()).black, 2000u);
  Frame()->Action(kCmdClipWarnings)->trigger();
  EXPECT_EQ(Grab(view).pixelColor(0, 0), QColor(Qt::black));
}

}  // namespace
}  // namespace inkbrite
