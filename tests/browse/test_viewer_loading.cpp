// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer answering at once: a parameter change wakes the background
// rendering, and a big page opens with a blank page of its shape (a big JPEG
// with a reduced picture) while the full page is decoded on a thread of its
// own, keys and Save working meanwhile: pages of every format, book pages and
// two pages side by side.
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

#include "browse/reading/early_page.h"
#include "browse/reading/facing_pages.h"
#include "browse/reading/page_loader.h"
#include "browse/reading/page_prefetch.h"
#include "core/enhance.h"
#include "formats/jpeg/jpeg_codec.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::Settle;
using ui_test::WaitFor;
using ui_test::WritePage;

// Holds every background load before it decodes until Release. The state is
// shared with the hook, which may still be returning on the loader thread.
class LoadGate {
 public:
  LoadGate() : m_state(std::make_shared<State>()) {
    CPageLoader::SetBeforeDecodeForTests([state = m_state] {
      std::unique_lock lock(state->mutex);
      ++state->held;
      state->changed.notify_all();
      state->changed.wait(lock, [&] { return state->open; });
    });
  }
  ~LoadGate() {
    Release();
    CPageLoader::SetBeforeDecodeForTests({});
  }
  LoadGate(const LoadGate&) = delete;
  LoadGate& operator=(const LoadGate&) = delete;
  // Waits until a load is held (the loader thread is inside it).
  bool WaitHeld() {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, std::chrono::seconds(30),
                                     [&] { return m_state->held > 0; });
  }
  void Release() {
    {
      std::lock_guard lock(m_state->mutex);
      m_state->open = true;
    }
    m_state->changed.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int held = 0;
    bool open = false;
  };
  std::shared_ptr<State> m_state;
};

// The longest time between two turns of the event loop from its making on.
class LoopGaps {
 public:
  LoopGaps() {
    m_clock.start();
    m_timer.setInterval(2);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
    m_timer.start();
  }
  qint64 Longest() {
    Tick();
    return m_longest;
  }

 private:
  void Tick() {
    const qint64 now = m_clock.elapsed();
    m_longest = std::max(m_longest, now - m_last);
    m_last = now;
  }
  QElapsedTimer m_clock;
  QTimer m_timer;
  qint64 m_last = 0;
  qint64 m_longest = 0;
};

class ViewerLoadTest : public ui_test::AppTest {
 protected:
  void TearDown() override {
    CInkbriteDoc::SetBackgroundLoadPixels(0);
    ui_test::AppTest::TearDown();
  }
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
  std::string Shown() {
    CInkbriteDoc* doc = Frame()->ActiveDocument();
    return doc ? doc->PathName().filename().string() : std::string();
  }
};

// Each change is rendered as soon as it arrives, not at the end of the
// thread's polling interval; still exactly one rendering per change.
TEST_F(ViewerLoadTest, ChangesWakeTheRenderingAtOnce) {
  WritePage(dir / "a.bmp", 600, 800);
  LoneView lone(400, 300);
  lone.Open(dir / "a.bmp");
  for (int i = 1; i <= 3; ++i) {
    QApplication::postEvent(&lone.view, new ParamChangeEvent(kBrightness, 100 + 10 * i));
    ASSERT_TRUE(WaitFor([&] { return lone.view.RenderCount() == i; }));
    EXPECT_EQ(lone.view.RendersOnWake(), i);
  }
  QApplication::postEvent(&lone.view, new ParamResetEvent());
  ASSERT_TRUE(WaitFor([&] { return lone.view.RenderCount() == 4; }));
  EXPECT_EQ(lone.view.RendersOnWake(), 4);
  Settle(300);
  EXPECT_EQ(lone.view.RenderStarts(), 4);
}

// The page a start names, decoded while the window is built, is shown as
// decoding it then shows it (grey flag and JPEG table with it), once; a
// file opened instead is its own page.
TEST_F(ViewerLoadTest, ThePageAStartNamesIsDecodedEarlyAsOnTheSpot) {
  WritePage(dir / "a.jpg", 300, 200, true);
  WritePage(dir / "b.jpg", 200, 300);
  EarlyPage::Start(dir / "a.jpg", CInkbriteDoc::BackgroundLoadPixels());
  LoneView other(400, 300);
  other.Open(dir / "b.jpg");
  EXPECT_EQ(other.doc.Page().Width(), 200);
  EarlyPage::Start(dir / "." / "a.jpg", CInkbriteDoc::BackgroundLoadPixels());
  LoneView early(400, 300);
  early.Open(dir / "a.jpg");
  EXPECT_FALSE(EarlyPage::Take(dir / "a.jpg").has_value());
  LoneView late(400, 300);
  late.Open(dir / "a.jpg");
  EXPECT_EQ(early.doc.Page().PackedDib(), late.doc.Page().PackedDib());
  EXPECT_TRUE(early.doc.SourceIsGrey());
  ASSERT_TRUE(early.doc.PageJpegTables().has_value());
  ASSERT_TRUE(late.doc.PageJpegTables().has_value());
  EXPECT_EQ(early.doc.PageJpegTables()->steps, late.doc.PageJpegTables()->steps);
}

// A window that fits pages gets the next page fitted ahead with its
// decoding, and shows exactly what fitting it on the spot shows.
TEST_F(ViewerLoadTest, TheNextPageIsFittedAheadExactlyAsOnTheSpot) {
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) WritePage(dir / name, 1500, 2000);
  AppParams().SetValue(kSharpen, 4);
  LoneView lone(500, 400);
  lone.Open(dir / "1.jpg");
  lone.view.ToggleFitToWindow();
  lone.view.NextPage();  // the read-ahead now knows the box
  const std::shared_ptr<PageSource> source = lone.doc.DirList().Source();
  const size_t third = lone.doc.DirList().PageAt(3).index;
  ASSERT_TRUE(WaitFor([&] { return lone.doc.Prefetch().Holds(source, third); }, 30000));
  lone.view.NextPage();
  EXPECT_EQ(lone.doc.PathName().filename(), "3.jpg");
  ASSERT_NE(lone.doc.FittedAhead(500, 400), nullptr);
  DibImage expected;
  ASSERT_EQ(LoadImageFile(dir / "3.jpg", expected, nullptr), 1);
  ASSERT_TRUE(expected.ResizeTo(300, 400));
  EnhanceImage(AppParams(), expected, {}, true);
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(300, 400));
  EXPECT_TRUE(lone.view.DisplayedPage().PackedDib() == expected.PackedDib());
  // Another box: fitted on the spot.
  EXPECT_EQ(lone.doc.FittedAhead(400, 400), nullptr);
}

// A folder's page too big to keep ahead is measured by its header and
// never decoded ahead; a smaller page after it is, and the big one still
// opens (decoded when it is taken).
TEST_F(ViewerLoadTest, PagesTooBigToKeepAreNotDecodedAhead) {
  WritePage(dir / "1-big.jpg", 300, 200);
  WritePage(dir / "2-big.bmp", 300, 200);
  WritePage(dir / "3-small.jpg", 100, 100);
  const std::shared_ptr<PageSource> source = OpenFolderSource(dir.path());
  ASSERT_EQ(source->PageCount(), 3u);
  const size_t bigJpeg = source->FindPage("1-big.jpg");
  const size_t bigBmp = source->FindPage("2-big.bmp");
  const size_t small = source->FindPage("3-small.jpg");
  CPagePrefetch prefetch;
  prefetch.SetMaxPixels(200 * 100);
  prefetch.Want(source, bigJpeg, {bigJpeg, bigBmp, small});  // decoded in this order
  ASSERT_TRUE(WaitFor([&] { return prefetch.Holds(source, small); }));
  EXPECT_FALSE(prefetch.Holds(source, bigJpeg));
  EXPECT_FALSE(prefetch.Holds(source, bigBmp));
  EXPECT_EQ(prefetch.Decodes(), 1);  // the small page only
  const DecodedPage big = prefetch.Take(source, bigJpeg);
  ASSERT_NE(big.image, nullptr);
  EXPECT_EQ(big.image->Width(), 300);
  EXPECT_EQ(prefetch.Hits(), 0);
}

// Two large pages side by side are shown sampled at once and then fitted
// exactly from the background thread: the window ends with what fitting
// them shows, and a parameter change meanwhile is not lost.
TEST_F(ViewerLoadTest, ALargeSpreadFittedOnTheSpotEndsExactlyFitted) {
  WritePage(dir / "a.bmp", 1800, 2400);
  WritePage(dir / "b.bmp", 1800, 2400);
  AppParams().SetValue(kGamma, 120);
  LoneView lone(600, 400);
  lone.Open(dir / "a.bmp");
  lone.doc.SetTwoPages(true);
  ASSERT_EQ(lone.doc.Page().Width(), 3600);
  lone.view.ToggleFitToWindow();
  EXPECT_EQ(lone.view.RoughPictures(), 1);
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(600, 400));
  QApplication::postEvent(&lone.view, new ParamChangeEvent(kBrightness, 90));
  DibImage expected = lone.doc.Page();
  ASSERT_TRUE(expected.ResizeTo(600, 400));
  CParaBlock params;
  params.Assign(AppParams());
  params.SetValue(kBrightness, 90);
  EnhanceImage(params, expected, {}, true);
  EXPECT_TRUE(WaitFor([&] { return lone.view.DisplayedPage().PackedDib() == expected.PackedDib(); },
                      30000));
  EXPECT_EQ(lone.view.RoughPictures(), 1);
}

// A big JPEG shows a page of its shape at once, the reduced picture and then
// the full page replacing it; the window ends with exactly what opening the
// full page shows (fitted, then enhanced), the reduced picture leaving no
// trace.
TEST_F(ViewerLoadTest, ABigPageShowsAReducedPictureFirstThenTheFullPage) {
  WritePage(dir / "big.jpg", 2400, 3200);
  DibImage full;
  ASSERT_EQ(LoadImageFile(dir / "big.jpg", full, nullptr), 1);
  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  AppParams().SetValue(kContrast, 130);
  AppParams().SetValue(kSharpen, 3);
  LoadGate gate;
  LoneView lone(600, 400);
  lone.view.ToggleFitToWindow();
  lone.Open(dir / "big.jpg");
  ASSERT_TRUE(gate.WaitHeld());
  EXPECT_TRUE(lone.doc.IsLoading());
  // At 1/4 of the size, still at least the page fitted.
  EXPECT_LT(lone.doc.Page().Width(), 2400);
  EXPECT_GE(lone.view.DisplayedSize().height(), 300);
  EXPECT_LE(lone.view.DisplayedSize().height(), 400);
  DibImage expected = full;
  ASSERT_TRUE(expected.ResizeTo(300, 400));
  EnhanceImage(AppParams(), expected, {}, true);
  gate.Release();
  ASSERT_TRUE(WaitFor([&] { return !lone.doc.IsLoading(); }, 30000));
  EXPECT_TRUE(lone.doc.Page().PackedDib() == full.PackedDib());
  EXPECT_TRUE(WaitFor([&] { return lone.view.DisplayedPage().PackedDib() == expected.PackedDib(); },
                      30000));
  EXPECT_EQ(lone.view.DisplayedSize(), QSize(300, 400));

  // At 100 %: the full page at its size.
  lone.view.ToggleFitToWindow();
  DibImage whole = full;
  EnhanceImage(AppParams(), whole);
  EXPECT_TRUE(lone.view.DisplayedPage().PackedDib() == whole.PackedDib());
}

// A big page at 100 %, small pages centred: the stand-in (the blank page,
// then the reduced picture) is laid out at the full page's size and place,
// so nothing moves when the full page replaces it.
TEST_F(ViewerLoadTest, TheReducedPictureIsLaidOutAsTheFullPage) {
  WritePage(dir / "big.jpg", 2400, 3200);
  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  SetCentreSmallPages(true);
  LoadGate gate;
  LoneView lone(600, 400);
  lone.Open(dir / "big.jpg");
  ASSERT_TRUE(gate.WaitHeld());
  ASSERT_LT(lone.view.DisplayedSize().width(), 2400);  // a stand-in on screen
  EXPECT_EQ(lone.view.ShownPageRect(), QRect(0, 0, 2400, 3200));
  EXPECT_DOUBLE_EQ(lone.view.ViewScale(), 1.0);
  lone.view.ScrollTo({100, 700});
  EXPECT_EQ(lone.view.ScrollPosition(), QPoint(100, 700));
  gate.Release();
  ASSERT_TRUE(WaitFor(
      [&] {
        return !lone.doc.IsLoading() && !lone.view.RenderPending() &&
               lone.view.DisplayedSize() == QSize(2400, 3200);
      },
      30000));
  EXPECT_EQ(lone.view.ScrollPosition(), QPoint(100, 700));
  EXPECT_EQ(lone.view.ShownPageRect(), QRect(-100, -700, 2400, 3200));
}

// Save while the full page is still being decoded writes the same bytes as
// Save of the page opened whole.
TEST_F(ViewerLoadTest, SavingWhileAPageLoadsWritesTheFullPage) {
  WritePage(dir / "big.jpg", 2400, 3200);
  AppParams().SetValue(kBrightness, 120);
  AppParams().SetValue(kBlur, 1);
  LoneView whole(600, 400);
  whole.Open(dir / "big.jpg");
  ASSERT_FALSE(whole.doc.IsLoading());
  whole.doc.SetSavingView(&whole.view);
  ASSERT_EQ(whole.doc.SaveAs(dir / "whole.jpg"), 1);

  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  LoneView loading(600, 400);
  loading.Open(dir / "big.jpg");
  // The loaded page is taken on this thread: loading until events run.
  ASSERT_TRUE(loading.doc.IsLoading());
  loading.doc.SetSavingView(&loading.view);
  ASSERT_EQ(loading.doc.SaveAs(dir / "loading.jpg"), 1);
  EXPECT_FALSE(loading.doc.IsLoading());
  EXPECT_EQ(ui_test::ReadText(dir / "loading.jpg"), ui_test::ReadText(dir / "whole.jpg"));
  EXPECT_TRUE(messages.empty());
}

// The window answers keys while an 8000 x 12000 page is being decoded: the
// next-page key turns the page, and the abandoned page never comes back.
TEST_F(ViewerLoadTest, KeysAreAnsweredWhileABigPageLoads) {
  {
    DibImage big = test::MakeImage(8000, 12000, [](int32_t x, int32_t y) {
      return test::Bgr{static_cast<uint8_t>(x / 40), static_cast<uint8_t>(y / 50), 128};
    });
    ASSERT_EQ(SaveImageFile(dir / "a-big.jpg", big, 0, 80), 1);
  }
  WritePage(dir / "b-small.jpg", 300, 400);
  LoadGate gate;
  Frame()->show();
  QApplication::setActiveWindow(Frame());
  ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
  ASSERT_NE(app->OpenDocumentFile(dir / "a-big.jpg"), nullptr);
  CInkbriteDoc* doc = Frame()->ActiveDocument();
  ASSERT_TRUE(gate.WaitHeld());
  ASSERT_TRUE(doc->IsLoading());
  EXPECT_EQ(doc->Page().Width(), 1000);  // decoded at 1/8 for the screen
  CInkbriteView* view = Frame()->ActiveView();
  QTest::keyClick(view, Qt::Key_Period);  // the next page
  EXPECT_EQ(Shown(), "b-small.jpg");
  EXPECT_FALSE(doc->IsLoading());
  gate.Release();
  Settle(300);
  EXPECT_EQ(Shown(), "b-small.jpg");
  EXPECT_EQ(doc->Page().Width(), 300);
  EXPECT_TRUE(messages.empty());
}

// A big PNG page, loose and in a book, opens at the default size limit with
// a blank page of its shape, and the event loop goes on turning while it is
// decoded: its longest pause stays far under the time the decoding is held
// back (a window waiting for the decoding would pause that long); it ends
// with exactly the page the reader gives.
TEST_F(ViewerLoadTest, BigPngPagesLooseAndInABookLoadWhileTheLoopTurns) {
  WritePage(dir / "big.png", 4000, 6000);
  test::WriteArchive(dir / "book.cbz", test::MadeFormat::kZipStored,
                     {{"1.png", test::ReadAll(dir / "big.png")}});
  DibImage direct;
  ASSERT_EQ(LoadImageFile(dir / "big.png", direct, nullptr), 1);
  int32_t fitWidth = 0, fitHeight = 0;
  direct.FitSize(600, 400, fitWidth, fitHeight);
  const QSize fitted(fitWidth, fitHeight);
  constexpr int kHeldMs = 2000;
  for (const bool book : {false, true}) {
    SCOPED_TRACE(book ? "book" : "loose");
    LoneView lone(600, 400);
    lone.view.ToggleFitToWindow();
    std::optional<LoopGaps> gaps;
    {
      LoadGate gate;
      if (book) {
        ASSERT_EQ(lone.doc.OpenBook(dir / "book.cbz"), 1);
        lone.view.OnInitialUpdate();
      } else {
        lone.Open(dir / "big.png");
      }
      // The decoding is under way on the loader thread, held there.
      ASSERT_TRUE(gate.WaitHeld());
      gaps.emplace();
      ASSERT_TRUE(lone.doc.IsLoading());
      // Two to three, at a reduced size.
      EXPECT_LT(lone.doc.Page().Width(), 4000);
      EXPECT_NEAR(lone.doc.Page().Width() * 3, lone.doc.Page().Height() * 2, 3);
      Settle(kHeldMs);
    }
    ASSERT_TRUE(WaitFor([&] { return !lone.doc.IsLoading(); }, 60000));
    EXPECT_TRUE(WaitFor([&] { return lone.view.DisplayedSize() == fitted; }, 30000));
    EXPECT_LT(gaps->Longest(), kHeldMs / 2);
    EXPECT_TRUE(lone.doc.Page().PackedDib() == direct.PackedDib());
  }
  EXPECT_TRUE(messages.empty());
}

// A big JPEG page of a book shows a reduced picture first too, decoded from
// the bytes read for its header, and ends with exactly the page itself.
TEST_F(ViewerLoadTest, ABigJpegBookPageShowsAReducedPictureFirst) {
  WritePage(dir / "big.jpg", 2400, 3200);
  test::WriteArchive(dir / "book.cbz", test::MadeFormat::kZipDeflated,
                     {{"1.jpg", test::ReadAll(dir / "big.jpg")}});
  DibImage full;
  ASSERT_EQ(LoadImageFile(dir / "big.jpg", full, nullptr), 1);
  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  LoneView lone(600, 400);
  lone.view.ToggleFitToWindow();
  bool sawReduced = false;
  {
    LoadGate gate;
    ASSERT_EQ(lone.doc.OpenBook(dir / "book.cbz"), 1);
    lone.view.OnInitialUpdate();
    ASSERT_TRUE(gate.WaitHeld());
    EXPECT_TRUE(lone.doc.IsLoadingReduced());
    EXPECT_LT(lone.doc.Page().Width(), 2400);
  }
  ASSERT_TRUE(WaitFor(
      [&] {
        sawReduced = sawReduced || (lone.doc.IsLoading() && !lone.doc.IsLoadingReduced() &&
                                    lone.doc.Page().Width() < 2400);
        return !lone.doc.IsLoading();
      },
      30000));
  EXPECT_TRUE(sawReduced);
  EXPECT_TRUE(lone.doc.Page().PackedDib() == full.PackedDib());
  EXPECT_TRUE(messages.empty());
}

// In the two-page layout a big facing page is decoded with the page in the
// background: both names and the spread's shape at once, keys answered,
// then exactly the two pages side by side.
TEST_F(ViewerLoadTest, TwoPagesWithABigFacingPageLoadInTheBackground) {
  WritePage(dir / "a.png", 600, 900);
  WritePage(dir / "b.tif", 2000, 3000);
  DibImage a, b, both;
  ASSERT_EQ(LoadImageFile(dir / "a.png", a, nullptr), 1);
  ASSERT_EQ(LoadImageFile(dir / "b.tif", b, nullptr), 1);
  ASSERT_TRUE(ComposeFacing(a, b, true, both));
  CInkbriteDoc::SetBackgroundLoadPixels(1 << 20);
  LoneView lone(600, 400);
  lone.Open(dir / "a.png");
  ASSERT_FALSE(lone.doc.IsLoading());  // the page alone is small
  {
    LoadGate gate;
    lone.doc.SetRightToLeft(true);
    // The facing page not decoded ahead: its header tells it is big.
    lone.doc.Prefetch().Clear();
    lone.doc.SetTwoPages(true);
    ASSERT_TRUE(gate.WaitHeld());
    ASSERT_TRUE(lone.doc.IsLoading());
    EXPECT_EQ(lone.doc.Shown().count, 2);
    EXPECT_EQ(lone.doc.Title().toStdString(), "a.png, b.tif");
    // The two pages side by side, 2600 x 3000 at a reduced size.
    EXPECT_NEAR(static_cast<double>(lone.doc.Page().Width()) / lone.doc.Page().Height(),
                2600.0 / 3000.0, 0.01);
    // The next key has nowhere to go: it beeps, the load goes on.
    lone.view.NextPage();
    EXPECT_TRUE(lone.doc.IsLoading());
  }
  ASSERT_TRUE(WaitFor([&] { return !lone.doc.IsLoading(); }, 60000));
  EXPECT_TRUE(lone.doc.Page().PackedDib() == both.PackedDib());
  EXPECT_EQ(lone.doc.Title().toStdString(), "a.png, b.tif");
  EXPECT_TRUE(messages.empty());
}

// At 100 % on a page larger than the window, a change shows the part in
// view first, with the bytes the whole page gets there (the crop moves it
// across the page), the rest as it was; the whole page then replaces it.
TEST_F(ViewerLoadTest, APageLargerThanTheWindowShowsThePartInViewFirst) {
  WritePage(dir / "a.bmp", 1600, 2000);
  AppParams().SetValue(kSharpen, 4);
  AppParams().SetValue(kBlur, 1);
  AppParams().SetValue(kCroppingLeft, 10);
  AppParams().SetValue(kCroppingTop, 6);
  LoneView lone(300, 200);
  lone.Open(dir / "a.bmp");
  lone.view.ScrollTo({700, 900});
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&lone.view));
  lone.view.viewport()->repaint();  // the part in view is taken from the paint
  const DibImage before = lone.view.DisplayedPage();
  QApplication::postEvent(&lone.view, new ParamChangeEvent(kBrightness, 130));
  ASSERT_TRUE(WaitFor([&] { return lone.view.PartPictures() == 1; }));
  const DibImage first = lone.view.DisplayedPage();
  ASSERT_TRUE(WaitFor([&] { return lone.view.RenderCount() == 1; }));
  const DibImage whole = lone.view.DisplayedPage();
  DibImage expected;
  ASSERT_EQ(LoadImageFile(dir / "a.bmp", expected, nullptr), 1);
  EnhanceImage(lone.view.WorkingSet(), expected, {}, false);
  ASSERT_TRUE(whole.PackedDib() == expected.PackedDib());
  // The window's pixels (700, 900) to (999, 1099) were rendered first.
  ASSERT_EQ(first.Width(), whole.Width());
  for (int32_t y = 900; y < 1100; ++y) {
    ASSERT_EQ(0, std::memcmp(first.Row(y) + 700 * 3, whole.Row(y) + 700 * 3, 300 * 3)) << y;
  }
  // Elsewhere the page as it was, unless the whole page was there already.
  if (!(first.PackedDib() == whole.PackedDib())) {
    EXPECT_EQ(0, std::memcmp(first.Row(0), before.Row(0), static_cast<size_t>(before.Width()) * 3));
  }
}

// A change that needs the whole page renders it whole at once (a colour
// reduction's palette, a new crop), as does a window that fits pages; a
// part and its page end with the page of the last of quick changes.
TEST_F(ViewerLoadTest, WholePageChangesAndFittedWindowsRenderNoPart) {
  WritePage(dir / "a.bmp", 1600, 2000);
  LoneView lone(300, 200);
  lone.Open(dir / "a.bmp");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&lone.view));
  lone.view.viewport()->repaint();
  int renders = 0;
  for (const auto& [slot, value] :
       {std::pair{kCroppingRight, 30}, std::pair{kGreyScale, int{kGreys16}},
        std::pair{kGreyScale, int{kColours256}}}) {
    QApplication::postEvent(&lone.view, new ParamChangeEvent(slot, value));
    ASSERT_TRUE(WaitFor([&] { return lone.view.RenderCount() == renders + 1; }));
    ++renders;
    lone.view.viewport()->repaint();
  }
  EXPECT_EQ(lone.view.PartPictures(), 0);
  // Quick changes: the last one's whole page in the end.
  QApplication::postEvent(&lone.view, new ParamChangeEvent(kGreyScale, kKeepAsIs));
  for (int brightness : {105, 110, 115, 120}) {
    QApplication::postEvent(&lone.view, new ParamChangeEvent(kBrightness, brightness));
  }
  ASSERT_TRUE(WaitFor([&] { return lone.view.WorkingSet().GetValue(kBrightness) == 120; }));
  DibImage expected;
  ASSERT_EQ(LoadImageFile(dir / "a.bmp", expected, nullptr), 1);
  EnhanceImage(lone.view.WorkingSet(), expected, {}, false);
  // (A loaded machine may finish one of the earlier sets whole first.)
  EXPECT_TRUE(WaitFor(
      [&] {
        return !lone.view.RenderPending() && lone.view.RenderCount() > renders &&
               lone.view.DisplayedPage().PackedDib() == expected.PackedDib();
      },
      30000));
  EXPECT_GE(lone.view.PartPictures(), 1);
  // Fitted: the fitted page, small, is rendered whole.
  const int parts = lone.view.PartPictures();
  renders = lone.view.RenderCount();
  lone.view.ToggleFitToWindow();
  QApplication::postEvent(&lone.view, new ParamChangeEvent(kContrast, 130));
  ASSERT_TRUE(WaitFor([&] { return lone.view.RenderCount() == renders + 1; }));
  EXPECT_EQ(lone.view.PartPictures(), parts);
}

}  // namespace
}  // namespace inkbrite
