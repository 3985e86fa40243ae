// SPDX-License-Identifier: GPL-2.0-or-later
// The thumbnail strip, the wheel at a page's end, the shortcut list and the
// recent books, driven through the main window.
#include <QAction>
#include <QListWidget>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "browse/dialogs/shortcut_list.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/thumbnail_strip.h"
#include "browse/widgets/wheel_paging.h"
#include "platform/thumbnail_cache.h"
#include "tests/browse/browse_support.h"
#include "tests/sources/archive_maker.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using test::MadeEntry;
using test::MadeFormat;

class ThumbnailStripTest : public ui_test::AppTest {
 protected:
  CInkbriteDoc* Doc() { return Frame()->ActiveDocument(); }
  CThumbnailStrip* Strip() { return Frame()->ThumbnailStrip(); }
  std::string Title() { return Doc() ? Doc()->Title().toStdString() : std::string(); }
  void ShowFrame() {
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
  }
  // Clicks the thumbnail at `position` (1-based).
  void ClickThumbnail(int position) {
    QListWidget* list = Strip()->List();
    QListWidgetItem* item = list->item(position - 1);
    ASSERT_NE(item, nullptr);
    list->scrollToItem(item);
    const QRect cell = list->visualItemRect(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  }
};

TEST_F(ThumbnailStripTest, ShowsTheFoldersPagesInDisplayOrderAndClickingOpensOne) {
  for (const char* name : {"c.jpg", "a.jpg", "b.png", "d.jpg"}) {
    ui_test::WritePage(dir / name, 120, 160);
  }
  test::WriteText(dir / "e.jpg", "no picture in here");
  ShowFrame();
  ASSERT_NE(app->OpenDocumentFile(dir / "b.png"), nullptr);
  EXPECT_FALSE(Strip()->isVisible());  // off until the reader turns it on
  Frame()->Action(kCmdThumbnails)->trigger();
  EXPECT_TRUE(Frame()->Action(kCmdThumbnails)->isChecked());
  ASSERT_TRUE(Strip()->isVisible());
  ASSERT_EQ(Strip()->Count(), 5);
  EXPECT_EQ(Strip()->MarkedPosition(), 2);  // b.png, second by name
  ASSERT_TRUE(ui_test::WaitFor([this] { return Strip()->AllArrived(); }, 20000));
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(Strip()->StateAt(i), CThumbnailStrip::ItemState::kShown) << i;
  }
  // The broken page gets the crossed placeholder, not a message.
  EXPECT_EQ(Strip()->StateAt(5), CThumbnailStrip::ItemState::kBroken);
  // and a failure record, so that it is not read again at the next visit.
  EXPECT_TRUE(fs::exists(FailedThumbnailPath(FileUri(dir / "e.jpg"))));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Strip()->List()->item(0)->toolTip().toStdString(), "a.jpg");
  // The loose files' thumbnails are in the shared cache.
  EXPECT_TRUE(fs::exists(SharedThumbnailPath(FileUri(dir / "a.jpg"), ThumbnailSize::kNormal)));

  ClickThumbnail(4);
  EXPECT_EQ(Title(), "d.jpg");
  EXPECT_EQ(Frame()->focusWidget(), Frame()->ActiveView());  // the keys go to the page
  EXPECT_EQ(Frame()->PageCounterText().toStdString(), "4/5");
  EXPECT_EQ(Strip()->MarkedPosition(), 4);
  // Paging moves the mark.
  Frame()->Action(kCmdFirstPage)->trigger();
  EXPECT_EQ(Strip()->MarkedPosition(), 1);
  EXPECT_EQ(Strip()->List()->currentRow(), 0);
  // Both pages of a spread are marked.
  Frame()->Action(kCmdTwoPages)->trigger();
  EXPECT_EQ(Strip()->MarkedCount(), 2);
  EXPECT_TRUE(Strip()->List()->item(0)->isSelected());
  EXPECT_TRUE(Strip()->List()->item(1)->isSelected());
  Frame()->Action(kCmdSinglePage)->trigger();
  EXPECT_EQ(Strip()->MarkedCount(), 1);
  EXPECT_FALSE(Strip()->List()->item(1)->isSelected());

  // The display order changes, the strip follows: by name descending.
  Doc()->DirList().SetOrder(0, 1);
  Frame()->UpdatePageCounter();
  EXPECT_EQ(Strip()->List()->item(0)->toolTip().toStdString(), "e.jpg");
  EXPECT_EQ(Strip()->MarkedPosition(), 5);  // a.jpg, now last
  ASSERT_TRUE(ui_test::WaitFor([this] { return Strip()->AllArrived(); }, 20000));
  EXPECT_EQ(Strip()->StateAt(1), CThumbnailStrip::ItemState::kBroken);
  EXPECT_EQ(Strip()->StateAt(2), CThumbnailStrip::ItemState::kShown);

  // Kept for the next start; hidden with the last window, back with a new one.
  Frame()->Action(kCmdCloseAll)->trigger();
  EXPECT_FALSE(Strip()->isVisible());
  EXPECT_TRUE(ThumbnailStripWanted());
  ASSERT_NE(app->OpenDocumentFile(dir / "a.jpg"), nullptr);
  EXPECT_TRUE(Strip()->isVisible());
  Frame()->Action(kCmdThumbnails)->trigger();
  EXPECT_FALSE(Strip()->isVisible());
  EXPECT_FALSE(ThumbnailStripWanted());
}

TEST_F(ThumbnailStripTest, ABooksPagesWithTheirOwnCacheAndClickingOpensTheEntry) {
  std::vector<MadeEntry> entries;
  for (int i = 1; i <= 3; ++i) {
    ui_test::WritePage(dir / "page.jpg", 40 + i, 60);
    entries.emplace_back("p" + std::to_string(i) + ".jpg", test::ReadAll(dir / "page.jpg"));
  }
  entries.emplace_back("p4.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
  fs::remove(dir / "page.jpg");
  test::WriteArchive(dir / "book.cbz", MadeFormat::kZipDeflated, entries);
  SetThumbnailStripWanted(true);
  ShowFrame();
  ASSERT_NE(app->OpenDocumentFile(dir / "book.cbz"), nullptr);
  ASSERT_TRUE(Strip()->isVisible());
  ASSERT_EQ(Strip()->Count(), 4);
  ASSERT_TRUE(ui_test::WaitFor([this] { return Strip()->AllArrived(); }, 20000));
  EXPECT_EQ(Strip()->StateAt(3), CThumbnailStrip::ItemState::kShown);
  EXPECT_EQ(Strip()->StateAt(4), CThumbnailStrip::ItemState::kBroken);
  EXPECT_EQ(test::Listing(CacheHome() / "inkbrite" / "thumbnails" / "normal").size(), 3u);

  ClickThumbnail(3);
  EXPECT_EQ(Title(), "book.cbz — p3.jpg (3/4)");
  EXPECT_EQ(Doc()->Page().Width(), 43);
  // The broken page opens as any unreadable page does: with its message.
  ClickThumbnail(4);
  EXPECT_EQ(messages.size(), 1u);
}

// A wheel notch (or part of one) over the view.
void Wheel(CInkbriteView* view, int delta) {
  const QPointF at(view->viewport()->width() / 2.0, view->viewport()->height() / 2.0);
  QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view->viewport(), &event);
}

TEST(WheelPager, TurnsOnlyAfterAWholeNotchAtAnEnd) {
  WheelPager wheel;
  using A = WheelPager::Action;
  EXPECT_EQ(wheel.OnWheel(-120, false, false), A::kScroll);
  EXPECT_EQ(wheel.OnWheel(-120, true, true), A::kNextPage);
  EXPECT_EQ(wheel.OnWheel(120, true, true), A::kPreviousPage);
  EXPECT_EQ(wheel.OnWheel(120, false, true), A::kScroll);  // up at the bottom scrolls
  // A touchpad's parts add up to a notch; a turn back starts again.
  EXPECT_EQ(wheel.OnWheel(-60, false, true), A::kWait);
  EXPECT_EQ(wheel.OnWheel(30, true, true), A::kWait);
  EXPECT_EQ(wheel.OnWheel(-60, false, true), A::kWait);
  EXPECT_EQ(wheel.OnWheel(-60, false, true), A::kNextPage);
  EXPECT_EQ(wheel.OnWheel(-60, false, true), A::kWait);
  wheel.Reset();
  EXPECT_EQ(wheel.OnWheel(-60, false, true), A::kWait);
}

TEST_F(ThumbnailStripTest, TheWheelTurnsThePageOnceItIsScrolledToItsEnd) {
  for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) ui_test::WritePage(dir / name, 300, 3000);
  ShowFrame();
  ASSERT_NE(app->OpenDocumentFile(dir / "2.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  // Pages this tall read as one strip by themselves; this is the wheel of
  // the page shown alone.
  ASSERT_TRUE(view->IsContinuous());
  Frame()->Action(kCmdSinglePage)->trigger();
  ASSERT_FALSE(view->IsContinuous());
  ASSERT_EQ(Title(), "2.bmp");
  if (view->IsFitToWindow())
    Frame()->Action(kCmdFitWindow)->trigger();  // a page taller than the window
  QScrollBar* bar = view->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  // Up at the top: the previous page, shown at its bottom.
  Wheel(view, 120);
  EXPECT_EQ(Title(), "1.bmp");
  EXPECT_EQ(bar->value(), bar->maximum());
  // Down from the bottom: the next page, at its top.
  Wheel(view, -120);
  EXPECT_EQ(Title(), "2.bmp");
  EXPECT_EQ(bar->value(), 0);
  // Down the page: it scrolls and stays; the turn that reaches the end too.
  int turns = 0;
  while (bar->value() < bar->maximum() && turns++ < 500) {
    Wheel(view, -120);
    ASSERT_EQ(Title(), "2.bmp");
  }
  EXPECT_EQ(bar->value(), bar->maximum());
  Wheel(view, -120);
  EXPECT_EQ(Title(), "3.bmp");
  EXPECT_EQ(Frame()->PageCounterText().toStdString(), "3/3");
  // With a modifier the wheel is the scroll area's own.
  QWheelEvent ctrl(QPointF(5, 5), view->viewport()->mapToGlobal(QPointF(5, 5)), QPoint(),
                   QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view->viewport(), &ctrl);
  EXPECT_EQ(Title(), "3.bmp");
}

// The view only asks for another page by the mouse; the frame has it
// turned as the page keys turn it, counter and all.
TEST_F(ThumbnailStripTest, TheMouseAsksForAnotherPageAndTheFrameTurnsIt) {
  for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) ui_test::WritePage(dir / name, 30, 30);
  ShowFrame();
  ASSERT_NE(app->OpenDocumentFile(dir / "2.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  std::vector<CInkbriteDoc::Turn> asked;
  QObject::connect(view, &CInkbriteView::pageTurnRequested, view,
                   [&asked](CInkbriteDoc::Turn turn) { asked.push_back(turn); });
  // The right button while the left is held: the previous page, once the
  // press is over.
  const QPointF at(10, 10);
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at.toPoint());
  QMouseEvent right(QEvent::MouseButtonPress, at, view->viewport()->mapToGlobal(at),
                    Qt::RightButton, Qt::LeftButton | Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &right);
  EXPECT_EQ(Title(), "2.bmp");
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at.toPoint());
  ASSERT_TRUE(ui_test::WaitFor([this] { return Title() == "1.bmp"; }));
  EXPECT_EQ(Frame()->PageCounterText().toStdString(), "1/3");
  // A page that fits the window: one notch down is at its end.
  Wheel(view, -120);
  EXPECT_EQ(Title(), "2.bmp");
  EXPECT_EQ(Frame()->PageCounterText().toStdString(), "2/3");
  EXPECT_EQ(asked, (std::vector{CInkbriteDoc::Turn::kPrevious, CInkbriteDoc::Turn::kNext}));
}

TEST_F(ThumbnailStripTest, TheShortcutListNamesEveryKeyOfTheWindow) {
  ui_test::WritePage(dir / "a.bmp", 20, 20);
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  // Every action of the frame with a key is a row, with all of its keys.
  std::vector<QAction*> keyed;
  for (QAction* action : Frame()->actions()) {
    if (!action->shortcuts().isEmpty()) keyed.push_back(action);
  }
  ASSERT_GT(keyed.size(), 20u);
  const std::vector<ShortcutRow> rows = ShortcutRows(keyed);
  ASSERT_EQ(rows.size(), keyed.size());
  auto find = [&rows](const QString& command) -> const ShortcutRow* {
    for (const ShortcutRow& row : rows) {
      if (row.command == command) return &row;
    }
    return nullptr;
  };
  const ShortcutRow* open = find(QStringLiteral("打开..."));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->keys, QKeySequence(Qt::CTRL | Qt::Key_O).toString(QKeySequence::NativeText));
  const ShortcutRow* next = find(QStringLiteral("下一页"));
  ASSERT_NE(next, nullptr);
  EXPECT_TRUE(next->keys.contains(QStringLiteral("+")));
  EXPECT_TRUE(next->keys.contains(QStringLiteral(".")));
  // Right to left swaps the page keys; the list says so at once.
  Frame()->Action(kCmdRightToLeft)->trigger();
  const ShortcutRow* swapped = find(QStringLiteral("下一页"));
  ASSERT_NE(swapped, nullptr);
  EXPECT_FALSE(ShortcutRows({Frame()->Action(kCmdNextPage)})[0].keys.contains(QStringLiteral(".")));
  EXPECT_TRUE(ShortcutRows({Frame()->Action(kCmdNextPage)})[0].keys.contains(QStringLiteral(",")));
  ASSERT_NE(find(QStringLiteral("缩略图")), nullptr);

  // F1 opens the list with a row per keyed action.
  int shownRows = -1;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CShortcutListDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    shownRows = dialog->Table()->rowCount();
    dialog->reject();
  });
  Frame()->Action(kCmdShortcutList)->trigger();
  EXPECT_EQ(shownRows, static_cast<int>(keyed.size()));
  EXPECT_EQ(Frame()->Action(kCmdShortcutList)->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(ThumbnailStripTest, RecentFilesListBooksAndPagesAndABookReopensWhereItWasLeft) {
  ui_test::WritePage(dir / "loose.bmp", 20, 20);
  std::vector<MadeEntry> entries;
  for (int i = 1; i <= 3; ++i) {
    ui_test::WritePage(dir / "page.bmp", 10 + i, 10);
    entries.emplace_back(std::to_string(i) + ".bmp", test::ReadAll(dir / "page.bmp"));
  }
  test::WriteArchive(dir / "story.cbz", MadeFormat::kZipStored, entries);
  ASSERT_NE(app->OpenDocumentFile(dir / "loose.bmp"), nullptr);
  ASSERT_NE(app->OpenDocumentFile(dir / "story.cbz"), nullptr);
  Frame()->Action(kCmdNextPage)->trigger();
  Frame()->Action(kCmdCloseAll)->trigger();
  EXPECT_EQ(app->RecentFiles(),
            (QStringList{QString::fromStdString((dir / "story.cbz").string()),
                         QString::fromStdString((dir / "loose.bmp").string())}));
  EXPECT_TRUE(Frame()->RecentFileAction(0)->isVisible());
  EXPECT_TRUE(Frame()->RecentFileAction(0)->text().endsWith(QStringLiteral("story.cbz")));
  EXPECT_TRUE(Frame()->RecentFileAction(1)->text().endsWith(QStringLiteral("loose.bmp")));
  Frame()->RecentFileAction(0)->trigger();
  EXPECT_EQ(Title(), "story.cbz — 2.bmp (2/3)");
}

}  // namespace
}  // namespace inkbrite
