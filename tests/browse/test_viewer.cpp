// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer end to end on real files: paging, single-key browsing, fitting,
// background rendering, opening and saving through the application object.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStatusBar>

#include "core/enhance.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::Settle;
using ui_test::WaitFor;
using ui_test::WritePage;

class ViewerTest : public ui_test::AppTest {
 protected:
  std::string Shown() {
    CInkbriteDoc* doc = Frame()->ActiveDocument();
    return doc ? doc->PathName().filename().string() : std::string();
  }
  std::string Counter() { return Frame()->PageCounterText().toStdString(); }

  // A view of its own with a client area of exactly width x height.
  struct LoneView {
    explicit LoneView(int width, int height) : doc(nullptr), view(&doc) {
      view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      view.resize(width, height);
      view.show();
    }
    void Open(const fs::path& path) {
      doc.DirList().SetCurrentFile(path);
      ASSERT_EQ(doc.OnOpenDocument(path), 1);
      view.OnInitialUpdate();
    }
    CInkbriteDoc doc;
    CInkbriteView view;
  };
};

TEST_F(ViewerTest, PagesThroughTheFolderInEachOrderAndBeepsAtTheEnds) {
  WritePage(dir / "a.bmp", 30, 20);
  WritePage(dir / "B.bmp", 10, 10);
  WritePage(dir / "c.bmp", 20, 20);
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  EXPECT_EQ(Counter(), "1/3");
  // A page added to the folder appears at the next page command.
  WritePage(dir / "a2.bmp", 8, 8);
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Shown(), "a2.bmp");
  EXPECT_EQ(Counter(), "2/4");
  Frame()->Action(kCmdLastPage)->trigger();
  EXPECT_EQ(Shown(), "c.bmp");
  EXPECT_EQ(beeps, 0);
  Frame()->Action(kCmdNextPage)->trigger();  // past the end: the last page again
  EXPECT_EQ(Shown(), "c.bmp");
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(Counter(), "4/4");

  // By size, large to small: a (30x20), c, B, a2; the page shown stays.
  Frame()->ActiveDocument()->DirList().SetOrder(2, 1);
  Frame()->UpdatePageCounter();
  EXPECT_EQ(Counter(), "2/4");
  EXPECT_EQ(CDirManager::SortType(), 2);  // for the next list too
  Frame()->Action(kCmdFirstPage)->trigger();
  EXPECT_EQ(Shown(), "a.bmp");
  Frame()->Action(kCmdPreviousPage)->trigger();
  EXPECT_EQ(beeps, 2);
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Shown(), "B.bmp");
  EXPECT_TRUE(messages.empty());
}

// A two-page spread: left page dark blue, right page dark red, a white
// gutter at 90 to 110.
void WriteSpread(const fs::path& path) {
  const DibImage spread = test::MakeImage(400, 320, [](int32_t x, int32_t y) {
    if (x < 10 || x >= 390 || y < 10 || y >= 310 || (x >= 190 && x < 210)) {
      return test::Bgr{255, 255, 255};
    }
    return x < 200 ? test::Bgr{120, 20, 20} : test::Bgr{20, 20, 120};
  });
  ASSERT_EQ(SaveImageFile(path, spread, 0, 90), 1);
}

TEST_F(ViewerTest, PagesOfASplitSpreadShowOneAfterTheOtherWithWhatWasFound) {
  WritePage(dir / "a.bmp", 20, 30);
  WriteSpread(dir / "b.bmp");
  WritePage(dir / "c.bmp", 20, 30);
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  EXPECT_EQ(view->FindingsText(), "");  // every step off: nothing to say
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(view->DisplayedSize(), QSize(400, 320));  // off, the spread shows whole
  EXPECT_EQ(Frame()->FindingsPaneText(), "");

  AppParams().SetValue(kSplitSpreads, 1);
  Frame()->Action(kCmdFirstPage)->trigger();
  const auto page = [&] {
    return Shown() + " " + std::to_string(view->SpreadPart() + 1) + "/" +
           std::to_string(view->SpreadParts());
  };
  const std::vector<std::string> forward = {"b.bmp 1/2", "b.bmp 2/2", "c.bmp 1/1"};
  for (const std::string& expected : forward) {
    Frame()->Action(kCmdNextPage)->trigger();
    EXPECT_EQ(page(), expected);
  }
  for (const char* expected : {"b.bmp 2/2", "b.bmp 1/2", "a.bmp 1/1"}) {
    Frame()->Action(kCmdPreviousPage)->trigger();
    EXPECT_EQ(page(), expected);
  }
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(view->DisplayedSize(), QSize(200, 320));
  EXPECT_EQ(test::PixelAt(view->DisplayedPage(), 50, 60), (test::Bgr{120, 20, 20}));
  EXPECT_EQ(Frame()->FindingsPaneText(), QStringLiteral("分页 第200列 1/2"));
  Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(test::PixelAt(view->DisplayedPage(), 50, 60), (test::Bgr{20, 20, 120}));
  EXPECT_EQ(Frame()->FindingsPaneText(), QStringLiteral("分页 第200列 2/2"));
  // Save writes the page shown, as the batch job would write it.
  ASSERT_EQ(Frame()->ActiveDocument()->SaveAs(dir / "half.png"), 1);
  DibImage saved;
  ASSERT_EQ(LoadImageFile(dir / "half.png", saved, nullptr), 1);
  EXPECT_EQ(saved.Width(), 200);
  EXPECT_EQ(test::PixelAt(saved, 50, 60), (test::Bgr{20, 20, 120}));

  // Right to left, changed while the page shows: rendered again in the
  // background, the second page is now the left one.
  const int before = view->RenderCount();
  QApplication::postEvent(view, new ParamChangeEvent(kSplitRightToLeft, 1));
  ASSERT_TRUE(WaitFor([&] { return view->RenderCount() > before; }, 20000));
  EXPECT_EQ(test::PixelAt(view->DisplayedPage(), 50, 60), (test::Bgr{120, 20, 20}));
  EXPECT_TRUE(
      WaitFor([&] { return Frame()->FindingsPaneText() == QStringLiteral("分页 第200列 2/2"); }));
}

TEST_F(ViewerTest, SpaceVisitsTheCornersOfALargePageThenTurns) {
  WritePage(dir / "1.bmp", 2000, 3000);
  WritePage(dir / "2.bmp", 800, 3000);
  WritePage(dir / "3.bmp", 500, 400);
  LoneView lone(1000, 700);
  lone.Open(dir / "1.bmp");
  CInkbriteView& view = lone.view;
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
  std::vector<QPoint> visited;
  for (int i = 0; i < 3; ++i) {
    view.SingleKey();
    visited.push_back(view.ScrollPosition());
  }
  EXPECT_EQ(visited, (std::vector<QPoint>{{0, 2300}, {1000, 0}, {1000, 2300}}));
  view.SingleKey();
  EXPECT_EQ(lone.doc.PathName().filename(), "2.bmp");
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));

  // Taller only: bottom-left, then the next page; the corner jumps that
  // need a larger page do nothing on a small one.
  view.SingleKey();
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 2300));
  view.SingleKey();
  EXPECT_EQ(lone.doc.PathName().filename(), "3.bmp");
  view.ShowBottomRight();
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
  EXPECT_EQ(view.CornerState(), 0);
}

// Space goes on past a page that cannot be read, without a message or a
// beep, as auto-play does.
TEST_F(ViewerTest, SpaceGoesOnPastAnUnreadablePage) {
  WritePage(dir / "a.bmp", 30, 20);
  test::WriteAll(dir / "b.jpg", {0xFF, 0xD8, 0xFF});
  WritePage(dir / "c.bmp", 30, 20);
  LoneView lone(400, 300);
  lone.Open(dir / "a.bmp");
  lone.view.SingleKey();
  EXPECT_EQ(lone.doc.PathName().filename(), "b.jpg");
  EXPECT_TRUE(lone.view.DisplayedSize().isEmpty());
  lone.view.SingleKey();
  EXPECT_EQ(lone.doc.PathName().filename(), "c.bmp");
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(30, 20));
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ViewerTest, ArrowKeysAndDraggingScrollThePage) {
  WritePage(dir / "big.bmp", 2000, 3000);
  LoneView lone(1000, 700);
  lone.Open(dir / "big.bmp");
  CInkbriteView& view = lone.view;
  QApplication::setActiveWindow(&view);
  view.setFocus();
  ASSERT_TRUE(WaitFor([&] { return view.hasFocus(); }));
  QWidget* port = view.viewport();
  auto drag = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, port->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(port, &event);
  };
  drag(QEvent::MouseButtonPress, {500, 500}, Qt::LeftButton);
  EXPECT_EQ(port->cursor().shape(), Qt::ClosedHandCursor);
  drag(QEvent::MouseMove, {400, 300}, Qt::LeftButton);
  drag(QEvent::MouseButtonRelease, {400, 300}, Qt::NoButton);
  EXPECT_EQ(view.ScrollPosition(), QPoint(100, 200));  // the page follows the mouse
  EXPECT_EQ(port->cursor().shape(), Qt::OpenHandCursor);

  // Right and Down held together: diagonal steps of 10 pixels.
  view.ScrollTo({0, 0});
  auto keys = [&](QEvent::Type type) {
    for (int key : {Qt::Key_Right, Qt::Key_Down}) {
      QKeyEvent event(type, key, Qt::NoModifier);
      QApplication::sendEvent(&view, &event);
    }
  };
  keys(QEvent::KeyPress);
  ASSERT_TRUE(WaitFor([&] { return view.ScrollPosition().x() >= 200; }));
  keys(QEvent::KeyRelease);
  const QPoint stopped = view.ScrollPosition();
  EXPECT_EQ(stopped.x() % 10, 0);
  EXPECT_LE(std::abs(stopped.x() - stopped.y()), 10);
  Settle(50);
  EXPECT_EQ(view.ScrollPosition(), stopped);  // released: no more steps
}

TEST_F(ViewerTest, FitToWindowShrinksButNeverEnlarges) {
  WritePage(dir / "tall.bmp", 1500, 3000);
  WritePage(dir / "small.bmp", 400, 300);
  LoneView lone(1000, 700);
  lone.Open(dir / "tall.bmp");
  lone.view.ToggleFitToWindow();
  EXPECT_TRUE(lone.view.IsFitToWindow());
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(350, 700));
  lone.view.resize(1000, 350);  // resizing fits again
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(175, 350));
  // A parameter change renders the page fitted again, as opening does.
  QApplication::postEvent(&lone.view, new ParamChangeEvent(kContrast, 140));
  ASSERT_TRUE(WaitFor([&] { return lone.view.RenderCount() == 1; }));
  DibImage expected = lone.doc.Page();
  ASSERT_TRUE(expected.ResizeTo(175, 350));
  CParaBlock params;
  params.SetValue(kContrast, 140);
  EnhanceImage(params, expected, {}, true);
  EXPECT_TRUE(lone.view.DisplayedPage().PackedDib() == expected.PackedDib());
  lone.Open(dir / "small.bmp");
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(400, 300));
  lone.view.ToggleFitToWindow();
  lone.Open(dir / "tall.bmp");
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(1500, 3000));
}

// A parameter change renders the page once; a change arriving during a
// rendering causes exactly one more; the page shown is the enhanced one.
TEST_F(ViewerTest, ParameterChangesRenderInTheBackground) {
  WritePage(dir / "big.bmp", 2000, 2600);
  LoneView lone(800, 600);
  lone.Open(dir / "big.bmp");
  CInkbriteView& view = lone.view;
  Settle(450);
  EXPECT_EQ(view.RenderStarts(), 0);  // nothing changed yet

  // A change while a rendering is under way: rendered after it, or (once
  // the part in view is shown) by it, which goes on with the later set.
  QApplication::postEvent(&view, new ParamChangeEvent(kSharpen, 9));
  ASSERT_TRUE(WaitFor([&] { return view.RenderStarts() == 1; }));
  QApplication::postEvent(&view, new ParamChangeEvent(kBrightness, 130));
  DibImage expected = lone.doc.Page();
  CParaBlock params;
  params.SetValue(kSharpen, 9);
  params.SetValue(kBrightness, 130);
  EnhanceImage(params, expected);
  EXPECT_TRUE(WaitFor(
      [&] {
        return !view.RenderPending() && view.DisplayedPage().PackedDib() == expected.PackedDib();
      },
      60000));
  Settle(500);
  const int renderings = view.RenderStarts();
  EXPECT_LE(renderings, 2);
  EXPECT_EQ(view.RenderCount(), renderings);

  // Equal values cause no rendering.
  QApplication::postEvent(&view, new ParamChangeEvent(kBrightness, 130));
  Settle(450);
  EXPECT_EQ(view.RenderStarts(), renderings);
}

TEST_F(ViewerTest, TurningThePageDuringARenderingShowsTheNewPageProcessed) {
  WritePage(dir / "a.bmp", 2000, 2600);
  WritePage(dir / "b.bmp", 300, 200);
  LoneView lone(800, 600);
  lone.Open(dir / "a.bmp");
  AppParams().SetValue(kGamma, 150);
  QApplication::postEvent(&lone.view, new ParamChangeEvent(kSharpen, 9));
  ASSERT_TRUE(WaitFor([&] { return lone.view.RenderStarts() == 1; }));
  lone.view.NextPage();  // stops the rendering first
  EXPECT_EQ(lone.doc.PathName().filename(), "b.bmp");
  ASSERT_TRUE(WaitFor([&] { return !lone.view.RenderPending() && !lone.doc.IsLoading(); }));
  Settle(300);
  DibImage expected = lone.doc.Page();
  EnhanceImage(AppParams(), expected);
  EXPECT_TRUE(lone.view.DisplayedPage().PackedDib() == expected.PackedDib());
}

// Run under ThreadSanitizer by `make tsan`: parameters change, pages turn
// and the page is fitted and unfitted while the background thread renders.
TEST_F(ViewerTest, ParametersMoveWhilePagesTurn) {
  for (int i = 0; i < 4; ++i) WritePage(dir / ("p" + std::to_string(i) + ".bmp"), 700, 900);
  LoneView lone(500, 400);
  lone.Open(dir / "p0.bmp");
  CInkbriteView& view = lone.view;
  for (int i = 0; i < 60; ++i) {
    QApplication::postEvent(&view, new ParamChangeEvent(kBrightness, 80 + i));
    if (i % 3 == 0) QApplication::postEvent(&view, new ParamChangeEvent(kSharpen, i % 10));
    Settle(i % 4 == 0 ? 30 : 5);
    if (i % 7 == 0) view.TurnPage(i % 14 ? CInkbriteDoc::Turn::kNext : CInkbriteDoc::Turn::kFirst);
    if (i % 11 == 0) view.ToggleFitToWindow();
    (void)view.DisplayedPage();
  }
  // The last change is rendered from the unprocessed page.
  // (Waited for until nothing is loading or rendering: a rendering that
  // ends first may be one of an earlier change.)
  const int rendered = view.RenderCount();
  QApplication::postEvent(&view, new ParamChangeEvent(kContrast, 150));
  ASSERT_TRUE(WaitFor([&] {
    return view.RenderCount() > rendered && !view.RenderPending() && !lone.doc.IsLoading();
  }));
  Settle(300);
  DibImage expected = lone.doc.Page();
  CParaBlock params;
  params.Assign(view.WorkingSet());
  EnhanceImage(params, expected);
  EXPECT_TRUE(view.DisplayedPage().PackedDib() == expected.PackedDib());
}

TEST_F(ViewerTest, OpeningActivatesOpenFilesAndRefusesUnreadableOnes) {
  WritePage(dir / "a.bmp", 20, 10);
  WritePage(dir / "b.bmp", 20, 10);
  test::WriteAll(dir / "bad.jpg", {0xFF, 0xD8, 0xFF});
  EXPECT_EQ(app->OpenDocumentFile(dir / "bad.jpg"), nullptr);
  EXPECT_EQ(messages, std::vector<std::string>{"文件读取失败。\n原因：文件已损坏或不完整"});
  // The status bar says it too, on one line.
  EXPECT_EQ(Frame()->statusBar()->currentMessage().toStdString(),
            "文件读取失败。 原因：文件已损坏或不完整");
  EXPECT_TRUE(Frame()->Children().empty());

  CInkbriteDoc* a = app->OpenDocumentFile(dir / "a.bmp");
  ASSERT_NE(app->OpenDocumentFile(dir / "b.bmp"), nullptr);
  EXPECT_EQ(app->OpenDocumentFile(dir / "a.bmp"), a);  // activated, not reopened
  EXPECT_EQ(Frame()->Children().size(), 2u);
  EXPECT_EQ(Frame()->ActiveDocument(), a);
  EXPECT_EQ(app->RecentFiles().front().toStdString(), (dir / "b.bmp").string());
  EXPECT_EQ(app->RecentFiles().size(), 3);  // the unreadable file too

  Frame()->Action(kCmdCloseAll)->trigger();
  Settle(50);
  EXPECT_TRUE(Frame()->Children().empty());
  EXPECT_EQ(Counter(), "");
  EXPECT_TRUE(app->Documents().empty());

  // The display order and the recent files survive a restart.
  app.reset();
  CDirManager::SaveOrder(0, 0);
  QSettings().setValue(QStringLiteral("ShowOrder/SortType"), 2);
  QSettings().setValue(QStringLiteral("ShowOrder/SortDir"), 1);
  app = std::make_unique<CInkbriteApp>();
  app->InitInstance(false);
  EXPECT_EQ(CDirManager::SortType(), 2);
  EXPECT_EQ(CDirManager::SortDir(), 1);
  EXPECT_EQ(app->RecentFiles().size(), 3);
}

TEST_F(ViewerTest, SavingAGifPageAsksAndWritesAJpegBesideIt) {
  INKBRITE_NEED_CORPUS();
  fs::copy_file(test::CorpusDir() / "gif/giflib/treescap.gif", dir / "anim.gif");

  // A GIF page is saved as name.gif.jpg after the question; the window
  // keeps its path.
  CInkbriteDoc* gif = app->OpenDocumentFile(dir / "anim.gif");
  ASSERT_NE(gif, nullptr);
  Frame()->Action(kCmdSave)->trigger();
  EXPECT_EQ(messages, std::vector<std::string>{"图像文件只能保存为Jpeg格式，要继续吗？"});
  EXPECT_TRUE(fs::exists(dir / "anim.gif.jpg"));
  EXPECT_EQ(gif->PathName().filename(), "anim.gif");
}

TEST_F(ViewerTest, SavingFollowsTheFormatAndTheColourMode) {
  WritePage(dir / "colour.bmp", 40, 30);
  WritePage(dir / "grey.png", 40, 30, true);

  // Keep as is: a grey source is written grey, a colour one in colour.
  AppParams().SetValue(kGreyScale, 2);
  for (const char* name : {"grey.png", "colour.bmp"}) {
    CInkbriteDoc* doc = app->OpenDocumentFile(dir / name);
    ASSERT_NE(doc, nullptr);
    const fs::path out = dir / (std::string("saved-") + name + ".png");
    EXPECT_EQ(doc->SaveAs(out), 1);
    DibImage saved;
    int grey = -1;
    ASSERT_EQ(LoadImageFile(out, saved, &grey), 1);
    EXPECT_EQ(grey, std::string(name) == "grey.png" ? 1 : 0) << name;
  }

  // A reduced colour mode refuses JPEG and writes nothing.
  messages.clear();
  AppParams().SetValue(kGreyScale, 4);
  CInkbriteDoc* doc = app->OpenDocumentFile(dir / "colour.bmp");
  QApplication::postEvent(Frame()->ActiveView(), new ParamResetEvent);
  Settle(10);
  EXPECT_EQ(doc->SaveAs(dir / "reduced.jpg"), 0);
  EXPECT_EQ(messages,
            std::vector<std::string>{
                "抱歉，减色后的图像只能保存为BMP、PNG、TIFF、WebP或JPEG XL格式，请重新选择。"});
  EXPECT_FALSE(fs::exists(dir / "reduced.jpg"));
}

}  // namespace
}  // namespace inkbrite
