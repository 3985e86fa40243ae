// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: its menus and recent files, its title, the status bar's
// lock panes, the keys, opening several files and recent entries, full
// screen, and where and when the parameter bar appears.
#include <QDockWidget>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include "browse/dialogs/image_file_dialog.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/histogram_dock.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/reader_full_screen.h"
#include "browse/widgets/thumbnail_strip.h"
#include "browse/widgets/window_tab_bar.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::Settle;
using ui_test::WaitFor;
using ui_test::WritePage;

class MainFrameTest : public ui_test::AppTest {
 protected:
  void SetUp() override {
    answer = QMessageBox::Ok;
    AppTest::SetUp();
  }
  std::string Shown() {
    CInkbriteDoc* doc = Frame()->ActiveDocument();
    return doc ? doc->PathName().filename().string() : std::string();
  }
  QStringList MenuTitles() {
    QStringList titles;
    for (QMenu* menu : Frame()->MenuBarMenus()) titles << menu->title();
    return titles;
  }
  // The visible items of a menu as text, "-" for a separator.
  static QStringList Items(QMenu* menu) {
    QStringList items;
    for (QAction* action : menu->actions()) {
      if (action->isVisible())
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return items;
  }
  // Shows the frame and makes it the active window, so that keys reach its
  // shortcuts.
  void ShowActive() {
    Frame()->show();
    QApplication::setActiveWindow(Frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
  }
};

// Page turns change the recent files, but the menus are built once and only
// their recent items follow; the settings file is written at exit, when the
// list changed.
TEST_F(MainFrameTest, PageTurnsUpdateTheRecentItemsInPlaceAndWriteNothing) {
  EXPECT_EQ(MenuTitles(), (QStringList{"文件(&F)", "查看(&V)", "帮助(&H)"}));
  EXPECT_EQ(Items(Frame()->MenuBarMenus()[0]),
            (QStringList{"打开(&O)...\tCtrl+O", "-", "批量转换(&A)", "-", "最近文件",
                         "每个文件夹或书一项", "-", "退出(&X)"}));
  for (int i = 1; i <= 9; ++i) WritePage(dir / ("p" + std::to_string(i) + ".bmp"), 20, 10);
  ASSERT_NE(app->OpenDocumentFile(dir / "p1.bmp"), nullptr);
  EXPECT_EQ(MenuTitles(), (QStringList{"文件(&F)", "查看(&V)", "窗口(&W)", "帮助(&H)"}));

  const QString settingsFile = QSettings().fileName();
  fs::remove(settingsFile.toStdString());
  const auto menus = Frame()->findChildren<QMenu*>().size();
  const auto actions = Frame()->findChildren<QAction*>().size();
  for (int i = 0; i < 8; ++i) Frame()->Action(kCmdNextPage)->trigger();
  EXPECT_EQ(Shown(), "p9.bmp");
  EXPECT_EQ(Frame()->findChildren<QMenu*>().size(), menus);
  EXPECT_EQ(Frame()->findChildren<QAction*>().size(), actions);
  EXPECT_FALSE(fs::exists(settingsFile.toStdString()));

  // The File menu lists the four most recent pages, newest first.
  QStringList recent;
  for (const QString& item : Items(Frame()->MenuBarMenus()[0])) {
    if (item.startsWith(QLatin1Char('&'))) recent << item;
  }
  const auto entry = [&](int n, const char* name) {
    return QStringLiteral("&%1 %2").arg(n).arg(QString::fromStdString((dir / name).string()));
  };
  EXPECT_EQ(recent, (QStringList{entry(1, "p9.bmp"), entry(2, "p8.bmp"), entry(3, "p7.bmp"),
                                 entry(4, "p6.bmp")}));

  app->ExitInstance();
  EXPECT_EQ(QSettings().value(QStringLiteral("Recent File List/File1")).toString().toStdString(),
            (dir / "p9.bmp").string());
}

// A recent file that cannot be opened any more leaves the list; the others
// keep their order.
TEST_F(MainFrameTest, ARecentFileThatNoLongerOpensLeavesTheList) {
  WritePage(dir / "a.bmp", 20, 10);
  WritePage(dir / "b.bmp", 20, 10);
  WritePage(dir / "c.bmp", 20, 10);
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) app->OpenDocumentFile(dir / name);
  Frame()->Action(kCmdCloseAll)->trigger();
  Settle(20);
  fs::remove(dir / "b.bmp");
  ASSERT_EQ(app->RecentFiles().size(), 3);
  Frame()->RecentFileAction(1)->trigger();  // b.bmp
  EXPECT_EQ(messages,
            std::vector<std::string>{std::string(kReadFailedMessage) +
                                     "\n原因：系统错误：No such file or directory (errno 2)"});
  EXPECT_EQ(app->RecentFiles(), (QStringList{QString::fromStdString((dir / "c.bmp").string()),
                                             QString::fromStdString((dir / "a.bmp").string())}));
  EXPECT_FALSE(Frame()->RecentFileAction(2)->isVisible());
  EXPECT_TRUE(Frame()->Children().empty());

  Frame()->RecentFileAction(1)->trigger();  // a.bmp opens and goes to the top
  EXPECT_EQ(Shown(), "a.bmp");
  EXPECT_EQ(app->RecentFiles().front().toStdString(), (dir / "a.bmp").string());
}

// Files chosen together in the open dialog: the readable ones open, the
// others are named in one message.
TEST_F(MainFrameTest, UnreadableFilesChosenTogetherGiveOneMessage) {
  WritePage(dir / "good.bmp", 20, 10);
  for (const char* name : {"bad1.jpg", "bad2.jpg", "bad3.jpg"}) {
    test::WriteAll(dir / name, {0xFF, 0xD8, 0xFF});
  }
  QTimer::singleShot(0, [this] {
    auto* dialog = qobject_cast<CImageFileMultSel*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(dir.path().string()));
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
        ->setText(QStringLiteral("\"bad1.jpg\" \"good.bmp\" \"bad2.jpg\" \"bad3.jpg\""));
    static_cast<QDialog*>(dialog)->accept();
  });
  Frame()->Action(kCmdOpen)->trigger();
  EXPECT_EQ(messages, std::vector<std::string>{"文件读取失败。\n\nbad1.jpg：文件已损坏或不完整\n"
                                               "bad2.jpg：文件已损坏或不完整\n"
                                               "bad3.jpg：文件已损坏或不完整"});
  EXPECT_EQ(Frame()->Children().size(), 1u);
  EXPECT_EQ(Shown(), "good.bmp");
}

// The frame names the page once, also while its window is maximised.
TEST_F(MainFrameTest, TitleNamesThePageOnce) {
  WritePage(dir / "a.bmp", 20, 10);
  WritePage(dir / "b.bmp", 20, 10);
  Frame()->show();
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "Inkbrite");
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  ASSERT_TRUE(Frame()->ActiveChild()->isMaximized());
  Settle(20);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "a.bmp - Inkbrite");
  Frame()->Action(kCmdNextPage)->trigger();
  Settle(20);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "b.bmp - Inkbrite");
  Frame()->ActiveChild()->showNormal();
  Frame()->ActiveChild()->showMaximized();
  Settle(20);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "b.bmp - Inkbrite");
  Frame()->Action(kCmdCloseAll)->trigger();
  Settle(20);
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "Inkbrite");
}

// Where the platform cannot tell the lock state (as here, offscreen), the
// lock panes stay empty rather than claiming the locks are on.
TEST_F(MainFrameTest, LockPanesClaimNothingTheyCannotRead) {
  Frame()->show();
  Settle(300);
  EXPECT_EQ(Frame()->CapsLockPaneText().toStdString(), "");
  EXPECT_EQ(Frame()->NumLockPaneText().toStdString(), "");
}

// Ctrl with the minus key (main or keypad; the menu shows "Ctrl+-") fits
// the page. Keys are matched without the keypad modifier on X11, so no
// shortcut may carry it.
TEST_F(MainFrameTest, CtrlMinusFitsThePage) {
  WritePage(dir / "big.bmp", 3000, 4000);
  ShowActive();
  ASSERT_NE(app->OpenDocumentFile(dir / "big.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_TRUE(view->IsFitToWindow());
  EXPECT_TRUE(Frame()->Action(kCmdFitWindow)->isChecked());
  QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_FALSE(view->IsFitToWindow());
  EXPECT_EQ(Shown(), "big.bmp");  // not taken for the previous page
  for (QAction* action : Frame()->actions()) {
    for (const QKeySequence& keys : action->shortcuts()) {
      EXPECT_FALSE(keys[0].keyboardModifiers() & Qt::KeypadModifier)
          << keys.toString().toStdString();
    }
  }
}

// Full screen puts the view's scroll bars out of sight; leaving it brings
// them back.
TEST_F(MainFrameTest, FullScreenHidesTheScrollBars) {
  WritePage(dir / "big.bmp", 3000, 4000);
  Frame()->show();
  ASSERT_NE(app->OpenDocumentFile(dir / "big.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  Settle(20);
  ASSERT_TRUE(view->verticalScrollBar()->isVisible());
  Frame()->Action(kCmdFullScreen)->trigger();
  Settle(20);
  EXPECT_FALSE(view->verticalScrollBar()->isVisible());
  EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
  Frame()->Action(kCmdFullScreen)->trigger();
  Settle(20);
  EXPECT_TRUE(view->verticalScrollBar()->isVisible());
  EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
}

// The reader's full screen (F11, a double-click on the page) shows only the
// page: every bar and dock goes, the window loses its frame, the pointer
// goes after a still moment and comes back when moved; the parameter bar
// can be called up over it. Esc or F11 gives everything back as it was.
TEST_F(MainFrameTest, ReadersFullScreenShowsOnlyThePage) {
  WritePage(dir / "a.bmp", 3000, 4000);
  WritePage(dir / "b.bmp", 30, 40);
  ShowActive();
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  Frame()->Action(kCmdThumbnails)->trigger();
  if (!Frame()->ParaBar()->isVisible()) Frame()->Action(kCmdParaBar)->trigger();
  CInkbriteView* view = Frame()->ActiveView();
  CChildFrame* child = Frame()->ActiveChild();
  Settle(20);
  const std::vector<QWidget*> bars = {Frame()->menuBar(), Frame()->statusBar(),
                                      static_cast<QWidget*>(Frame()->findChild<QToolBar*>()),
                                      Frame()->ThumbnailStrip(), Frame()->ParaBar()};
  for (QWidget* bar : bars) ASSERT_TRUE(bar->isVisible()) << bar->metaObject()->className();
  ASSERT_FALSE(Frame()->HistogramDock()->isVisible());
  const auto expectReading = [&](bool on) {
    EXPECT_EQ(Frame()->IsReaderFullScreen(), on);
    EXPECT_EQ(Frame()->isFullScreen(), on);
    EXPECT_EQ(Frame()->Action(kCmdReaderFullScreen)->isChecked(), on);
    for (QWidget* bar : bars) EXPECT_EQ(bar->isVisible(), !on) << bar->metaObject()->className();
    EXPECT_FALSE(Frame()->HistogramDock()->isVisible());  // hidden before, hidden after
    EXPECT_EQ(child->windowFlags().testFlag(Qt::FramelessWindowHint), on);
    EXPECT_EQ(view->verticalScrollBar()->isVisible(), !on);
  };

  QTest::keyClick(view, Qt::Key_F11);
  Settle(20);
  expectReading(true);
  EXPECT_TRUE(child->isMaximized());
  // The pointer goes when still and comes back when moved.
  const CReaderFullScreen* reader = Frame()->ReaderFullScreen();
  ASSERT_TRUE(
      WaitFor([&] { return reader->PointerHidden(); }, 3 * CReaderFullScreen::kPointerIdleMs));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BlankCursor);
  QTest::mouseMove(view->viewport(), QPoint(40, 50));
  QTest::mouseMove(view->viewport(), QPoint(60, 70));
  EXPECT_FALSE(reader->PointerHidden());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  Frame()->Action(kCmdParaBar)->trigger();
  EXPECT_TRUE(Frame()->ParaBar()->isVisible());
  Frame()->Action(kCmdParaBar)->trigger();

  QTest::keyClick(view, Qt::Key_Escape);
  Settle(20);
  expectReading(false);
  EXPECT_FALSE(Frame()->IsFullScreen());  // the other full screen stays off

  // By default a double-click turns to the next page; the choice makes it
  // go into the reader's full screen and out instead.
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
  ASSERT_TRUE(WaitFor([&] { return Shown() == "b.bmp"; }));
  EXPECT_FALSE(Frame()->IsReaderFullScreen());
  Frame()->Action(kCmdPreviousPage)->trigger();
  ASSERT_TRUE(WaitFor([&] { return Shown() == "a.bmp"; }));
  Frame()->Action(kCmdDoubleClickFullScreen)->trigger();
  EXPECT_TRUE(Frame()->Action(kCmdDoubleClickFullScreen)->isChecked());
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
  ASSERT_TRUE(WaitFor([&] { return Frame()->IsReaderFullScreen(); }));
  Settle(20);
  expectReading(true);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
  ASSERT_TRUE(WaitFor([&] { return !Frame()->IsReaderFullScreen(); }));
  Settle(20);
  expectReading(false);
  EXPECT_EQ(Shown(), "a.bmp");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  Frame()->Action(kCmdDoubleClickFullScreen)->trigger();
  EXPECT_FALSE(Frame()->Action(kCmdDoubleClickFullScreen)->isChecked());
}

// A window manager gives the frame its final size only after it is shown:
// the bar waits for it, then sits centred on the workspace's bottom edge.
// Its menu item and button say whether it is shown, however it was hidden.
TEST_F(MainFrameTest, ParameterBarAppearsOnTheFramesFinalBottomEdge) {
  CParaBar* bar = Frame()->ParaBar();
  QAction* item = Frame()->Action(kCmdParaBar);
  Frame()->setGeometry(100, 100, 640, 480);
  Frame()->show();
  Frame()->setGeometry(0, 0, 1000, 760);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(item->isChecked());
  ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
  EXPECT_TRUE(item->isChecked());
  Settle(300);
  const QWidget* workspace = Frame()->Workspace();
  const QRect client(workspace->mapToGlobal(QPoint(0, 0)), workspace->size());
  EXPECT_EQ(bar->frameGeometry().bottom(), client.bottom());
  EXPECT_NEAR(bar->frameGeometry().center().x(), client.center().x(), 1);

  QApplication::setActiveWindow(bar);
  ASSERT_TRUE(QTest::qWaitForWindowActive(bar));
  QTest::keyClick(bar, Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(item->isChecked());
  EXPECT_FALSE(Frame()->IsFullScreen());
  Frame()->Action(kCmdParaBar)->trigger();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_TRUE(item->isChecked());
  bar->close();  // its close button
  EXPECT_FALSE(item->isChecked());
}

// The bar's room is kept before the bar first shows, of the height its
// window frame had at the last start, so that a page opened at start is
// laid out once and not again under the bar.
TEST_F(MainFrameTest, TheBarsRoomIsKeptBeforeItFirstShows) {
  int before = 0, after = 0;
  for (int start = 0; start < 2; ++start) {
    app.reset();
    app = std::make_unique<CInkbriteApp>();
    app->InitInstance(false);
    Frame()->resize(1200, 900);
    Frame()->show();
    QApplication::processEvents();
    const QMdiArea* workspace = Frame()->Workspace();
    before = workspace->viewport()->height();
    ASSERT_TRUE(WaitFor([&] { return Frame()->ParaBar()->isVisible(); }));
    Settle(300);
    after = workspace->viewport()->height();
  }
  EXPECT_EQ(before, after);
  EXPECT_LT(after, Frame()->Workspace()->height() - Frame()->ParaBar()->height() / 2);
}

// At its own place the bar stands over room kept free for it: the page
// ends above it and the window tabs lie below it. Hidden, or moved by the
// user, it keeps no room; where the user left it is where it comes back at
// the next start, and let go on the workspace's bottom it is at its own
// place again.
TEST_F(MainFrameTest, ParameterBarCoversNeitherPageNorTabs) {
  WritePage(dir / "big.bmp", 3000, 4000);
  ShowActive();
  ASSERT_NE(app->OpenDocumentFile(dir / "big.bmp"), nullptr);
  CParaBar* bar = Frame()->ParaBar();
  ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
  Settle(300);
  CInkbriteView* view = Frame()->ActiveView();
  const auto pageBottom = [&] { return view->mapToGlobal(QPoint(0, view->height())).y(); };
  const auto tabsTop = [&] { return Frame()->TabBar()->mapToGlobal(QPoint(0, 0)).y(); };
  EXPECT_TRUE(Frame()->IsParaBarDocked());
  EXPECT_LE(pageBottom(), bar->frameGeometry().top());
  EXPECT_LT(bar->frameGeometry().bottom(), tabsTop());
  Frame()->Action(kCmdParaBar)->trigger();
  Settle(50);
  const int whole = pageBottom();
  EXPECT_GT(whole, bar->frameGeometry().top());
  Frame()->Action(kCmdParaBar)->trigger();
  Settle(50);
  EXPECT_LE(pageBottom(), bar->frameGeometry().top());

  bar->move(QPoint(40, 50));
  Settle(50);
  EXPECT_FALSE(Frame()->IsParaBarDocked());
  EXPECT_EQ(pageBottom(), whole);
  EXPECT_EQ(QSettings().value(QStringLiteral("ParaBar/Position")).toPoint(), QPoint(40, 50));

  app.reset();
  app = std::make_unique<CInkbriteApp>();
  app->InitInstance(false);
  Frame()->resize(1200, 900);
  Frame()->show();
  bar = Frame()->ParaBar();
  ASSERT_TRUE(WaitFor([&] { return bar->isVisible(); }));
  Settle(300);
  EXPECT_EQ(bar->frameGeometry().topLeft(), QPoint(40, 50));
  EXPECT_FALSE(Frame()->IsParaBarDocked());

  const QWidget* workspace = Frame()->Workspace();
  const int bottom = workspace->mapToGlobal(QPoint(0, workspace->height())).y();
  bar->move(QPoint(60, bottom - bar->frameGeometry().height() - 10));
  Settle(50);
  EXPECT_TRUE(Frame()->IsParaBarDocked());
  EXPECT_FALSE(QSettings().contains(QStringLiteral("ParaBar/Position")));
  EXPECT_EQ(bar->frameGeometry().bottom(), bottom - 1);
}

// The 窗口 menu names the open windows (numbered), the active one checked; choosing one
// activates it.
TEST_F(MainFrameTest, WindowMenuListsTheOpenWindows) {
  WritePage(dir / "a.bmp", 20, 10);
  WritePage(dir / "b.bmp", 20, 10);
  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  ASSERT_NE(app->OpenDocumentFile(dir / "b.bmp"), nullptr);
  QMenu* menu = Frame()->WindowMenu();
  ASSERT_NE(menu, nullptr);
  const auto listed = [menu] {
    std::vector<std::string> items;
    for (QAction* action : menu->actions()) {
      if (action->isCheckable() && action->text().startsWith(QLatin1Char('&'))) {
        items.push_back((action->isChecked() ? "* " : "") + action->text().toStdString());
      }
    }
    return items;
  };
  emit menu->aboutToShow();
  EXPECT_EQ(listed(), (std::vector<std::string>{"&1 a.bmp", "* &2 b.bmp"}));
  for (QAction* action : menu->actions()) {
    if (action->text() == QStringLiteral("&1 a.bmp")) action->trigger();
  }
  EXPECT_EQ(Shown(), "a.bmp");
  Frame()->Action(kCmdClose)->trigger();
  emit menu->aboutToShow();
  EXPECT_EQ(listed(), std::vector<std::string>{"* &1 b.bmp"});
}

// A small page sits top left on black, or, when chosen, centred on grey.
TEST_F(MainFrameTest, SmallPagesCanBeCentredOnGrey) {
  WritePage(dir / "small.bmp", 20, 10);
  ShowActive();
  ASSERT_NE(app->OpenDocumentFile(dir / "small.bmp"), nullptr);
  CInkbriteView* view = Frame()->ActiveView();
  ASSERT_TRUE(WaitFor([&] { return Frame()->ParaBar()->isVisible(); }));  // and its room
  Settle(300);
  const QImage before = view->viewport()->grab().toImage();
  const QSize client = view->viewport()->size();
  ASSERT_GT(client.width(), 100);
  ASSERT_GT(client.height(), 100);
  EXPECT_EQ(before.pixelColor(client.width() - 5, client.height() - 5), QColor(Qt::black));
  Frame()->Action(kCmdCentreSmallPages)->trigger();
  EXPECT_TRUE(Frame()->Action(kCmdCentreSmallPages)->isChecked());
  EXPECT_TRUE(QSettings().value(QStringLiteral("View/CentreSmallPages")).toBool());
  Settle(50);
  const QImage after = view->viewport()->grab().toImage();
  const QPoint margin((client.width() - 20) / 2, (client.height() - 10) / 2);
  EXPECT_EQ(after.pixelColor(2, 2), QColor(128, 128, 128));
  EXPECT_EQ(after.pixelColor(client.width() - 5, client.height() - 5), QColor(128, 128, 128));
  for (const QPoint p : {QPoint(0, 0), QPoint(19, 9), QPoint(7, 3)}) {
    EXPECT_EQ(after.pixelColor(margin + p), before.pixelColor(p)) << p.x() << "," << p.y();
  }
  Frame()->Action(kCmdCentreSmallPages)->trigger();
  EXPECT_FALSE(CentreSmallPages());
}

}  // namespace
}  // namespace inkbrite
