// SPDX-License-Identifier: GPL-2.0-or-later
// The parameter bar's announcements, auto-play and full screen, through the
// application object on real files.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <map>
#include <utility>

#include "batch/named_settings.h"
#include "browse/dialogs/batch_dialog.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/setting_panel.h"
#include "platform/program_paths.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

using ui_test::WaitFor;

// Records the parameter events a view receives.
class EventLog : public QObject {
 public:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (event->type() == ParamChangeEvent::kType) {
      const auto* change = static_cast<ParamChangeEvent*>(event);
      changes[target].emplace_back(change->Slot(), change->Value());
    } else if (event->type() == ParamResetEvent::kType) {
      ++resets[target];
    }
    return false;
  }
  std::map<QObject*, std::vector<std::pair<int, int>>> changes;
  std::map<QObject*, int> resets;
};

class ParaBarTest : public ui_test::AppTest {
 protected:
  void SetUp() override {
    answer = QMessageBox::Ok;
    AppTest::SetUp();
    for (int i = 1; i <= 5; ++i) {
      ui_test::WritePage(dir / ("p" + std::to_string(i) + ".bmp"), 40 + i, 30);
    }
  }
  CParaBar* Bar() { return Frame()->ParaBar(); }
  QSlider* Slider() { return Bar()->Control<QSlider>(kParaSlider); }
  CInkbriteView* Open(const char* name) {
    EXPECT_NE(app->OpenDocumentFile(dir / name), nullptr);
    CInkbriteView* view = Frame()->ActiveView();
    view->installEventFilter(&log);
    return view;
  }

  EventLog log;
};

TEST_F(ParaBarTest, SliderAnnouncesEveryPositionToEveryView) {
  CInkbriteView* a = Open("p1.bmp");
  CInkbriteView* b = Open("p2.bmp");
  Bar()->SelectPage(kPageBrightness);
  for (int v = 101; v <= 104; ++v) Slider()->setValue(v);
  QApplication::processEvents();
  const std::vector<std::pair<int, int>> expected{{0, 101}, {0, 102}, {0, 103}, {0, 104}};
  EXPECT_EQ(log.changes[a], expected);
  EXPECT_EQ(log.changes[b], expected);
  EXPECT_EQ(AppParams().GetValue(kBrightness), 104);
  EXPECT_EQ(b->WorkingSet().GetValue(kBrightness), 104);
  EXPECT_TRUE(WaitFor([&] { return b->RenderCount() >= 1; }));  // the page follows

  // Highlight to contrast: slots 2 and 12 are stored, the range changes.
  Bar()->SelectPage(kPageHighlight);
  EXPECT_EQ(Slider()->minimum(), 100);
  Bar()->Control<QSpinBox>(kParaThreshold)->setValue(200);
  Bar()->SelectPage(kPageContrast);
  EXPECT_EQ(Slider()->minimum(), 0);
  EXPECT_EQ(AppParams().GetValue(kThreshold), 200);
  EXPECT_EQ(Slider()->value(), AppParams().GetValue(kContrast));
}

TEST_F(ParaBarTest, WindowOnlyModeReachesTheActiveViewButTheSharedSetTakesTheValue) {
  CInkbriteView* a = Open("p1.bmp");
  CInkbriteView* b = Open("p2.bmp");  // active
  Bar()->Control<QCheckBox>(kParaWindowOnly)->click();
  QApplication::processEvents();
  EXPECT_EQ(log.resets[a], 1);  // every view but the active one is told
  EXPECT_EQ(log.resets[b], 0);
  Bar()->SelectPage(kPageGamma);
  Slider()->setValue(150);
  QApplication::processEvents();
  EXPECT_TRUE(log.changes[a].empty());
  EXPECT_EQ(log.changes[b], (std::vector<std::pair<int, int>>{{3, 150}}));
  EXPECT_EQ(AppParams().GetValue(kGamma), 150);
  EXPECT_EQ(b->WindowSet().GetValue(kGamma), 150);
  EXPECT_EQ(a->WorkingSet().GetValue(kGamma), 100);
}

TEST_F(ParaBarTest, RestoreAndRefreshAnnounceOnlyWhatChanged) {
  CInkbriteView* view = Open("p1.bmp");
  Bar()->OnRestore();  // at the defaults already
  QApplication::processEvents();
  EXPECT_TRUE(log.changes[view].empty());
  EXPECT_EQ(Bar()->CaptionText(), QStringLiteral("参数："));

  // As after the batch dialog: only the changed slots reach the views.
  Bar()->TakeSnapshot();
  AppParams().SetValue(kSharpen, 4);
  AppParams().SetValue(kJpegQuality, AppParams().GetValue(kJpegQuality));
  AppParams().SetName("漫画");
  Bar()->Refresh();
  QApplication::processEvents();
  EXPECT_EQ(log.changes[view], (std::vector<std::pair<int, int>>{{kSharpen, 4}}));
  EXPECT_EQ(Bar()->CaptionText(), QStringLiteral("参数：漫画"));

  log.changes.clear();
  Bar()->OnRestore();
  QApplication::processEvents();
  EXPECT_EQ(log.changes[view], (std::vector<std::pair<int, int>>{{kSharpen, 0}}));
}

TEST_F(ParaBarTest, AutomaticPageSwitchesStepsAndTheirSettings) {
  CInkbriteView* view = Open("p1.bmp");
  const int shortHeight = Bar()->height();
  Bar()->SelectPage(kPageAuto);
  EXPECT_GT(Bar()->height(), shortHeight + 60);  // four rows
  auto* crop = Bar()->Control<QCheckBox>(kParaAutoCrop);
  auto* border = Bar()->Control<QSpinBox>(kParaAutoCropBorder);
  auto* range = Bar()->Control<QDoubleSpinBox>(kParaDeskewRange);
  ASSERT_NE(crop, nullptr);
  ASSERT_NE(border, nullptr);
  ASSERT_NE(range, nullptr);
  EXPECT_FALSE(crop->isChecked());
  EXPECT_EQ(border->value(), 8);
  EXPECT_FALSE(border->isEnabled());  // its step is off
  EXPECT_EQ(border->maximum(), 200);

  crop->click();
  EXPECT_TRUE(border->isEnabled());
  border->setValue(20);
  Bar()->Control<QCheckBox>(kParaDeskew)->click();
  range->setValue(2.5);
  Bar()->Control<QSpinBox>(kParaFitWidth)->setValue(1072);
  QApplication::processEvents();
  EXPECT_EQ(log.changes[view], (std::vector<std::pair<int, int>>{{kAutoCrop, 1},
                                                                 {kAutoCropBorder, 20},
                                                                 {kDeskew, 1},
                                                                 {kDeskewRange, 25},
                                                                 {kFitWidth, 1072}}));
  EXPECT_EQ(view->WorkingSet().GetValue(kDeskewRange), 25);
  EXPECT_TRUE(WaitFor([&] { return view->RenderCount() >= 1; }));  // the page follows

  // Back on another page the bar is as short as before; "恢复" turns the
  // steps off again and the page shows them off.
  Bar()->SelectPage(kPageOther);
  EXPECT_EQ(Bar()->height(), shortHeight);
  Bar()->OnRestore();
  Bar()->SelectPage(kPageAuto);
  EXPECT_FALSE(crop->isChecked());
  EXPECT_EQ(border->value(), 8);
  EXPECT_EQ(range->value(), 5.0);
}

TEST_F(ParaBarTest, LoadingANamedSettingAnnouncesOnlyWhatItChanged) {
  CInkbriteView* view = Open("p1.bmp");
  CParaBlock soft;
  soft.Assign(AppParams());
  soft.SetValue(kGamma, 150);
  soft.SetValue(kSharpen, 2);
  ASSERT_TRUE(SaveNamedSetting(soft, "Soft", ProgramFilePath(".ini")));
  // Pick "Soft" in the settings manager once it is up.
  QTimer::singleShot(0, [] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QComboBox*>(QStringLiteral("name"))->setCurrentText(QStringLiteral("Soft"));
    dialog->findChild<QPushButton*>(QStringLiteral("ok"))->click();
  });
  Bar()->OnLoad();
  QApplication::processEvents();
  EXPECT_EQ(log.changes[view], (std::vector<std::pair<int, int>>{{kGamma, 150}, {kSharpen, 2}}));
  EXPECT_EQ(Bar()->CaptionText(), QStringLiteral("参数：Soft"));
}

// Keys typed into the bar stay there: Enter in a field or a list, Tab
// between fields, Home and End on the slider, Escape closing a list's
// pop-up do nothing to the viewer. Ctrl keys still reach it.
TEST_F(ParaBarTest, KeysTypedIntoTheBarStayThere) {
  Open("p1.bmp");
  Open("p2.bmp");  // two windows, which Tab would switch
  Frame()->show();
  ASSERT_TRUE(WaitFor([&] { return Bar()->isVisible(); }));
  QApplication::setActiveWindow(Bar());
  ASSERT_TRUE(QTest::qWaitForWindowActive(Bar()));
  CChildFrame* active = Frame()->ActiveChild();
  const auto untouched = [&] {
    return Frame()->ActiveChild() == active &&
           active->View()->Document()->PathName().filename() == "p2.bmp" &&
           !Frame()->IsFullScreen() && Bar()->isVisible();
  };

  Bar()->SelectPage(kPageCrop);
  auto* top = Bar()->Control<QSpinBox>(kParaCropTop);
  top->setFocus();
  top->selectAll();
  QTest::keyClicks(top, "12");
  QTest::keyClick(top, Qt::Key_Return);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(AppParams().GetValue(kCroppingTop), 12);
  QTest::keyClick(top, Qt::Key_Tab);
  EXPECT_TRUE(untouched());
  EXPECT_TRUE(Bar()->Control<QSpinBox>(kParaCropBottom)->hasFocus());

  Bar()->SelectPage(kPageBrightness);
  Slider()->setFocus();
  QTest::keyClick(Slider(), Qt::Key_End);
  EXPECT_EQ(Slider()->value(), 200);
  QTest::keyClick(Slider(), Qt::Key_Home);
  EXPECT_EQ(Slider()->value(), 0);
  QTest::keyClick(Slider(), Qt::Key_Space);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(AppParams().GetValue(kBrightness), 0);

  Bar()->SelectPage(kPageOther);
  auto* colour = Bar()->Control<QComboBox>(kParaColour);
  colour->setFocus();
  QTest::keyClick(colour, Qt::Key_Return);
  EXPECT_TRUE(untouched());
  colour->showPopup();
  ASSERT_TRUE(WaitFor([&] { return colour->view()->isVisible(); }));
  QTest::keyClick(colour->view(), Qt::Key_Escape);
  EXPECT_TRUE(WaitFor([&] { return !colour->view()->isVisible(); }));
  EXPECT_TRUE(untouched());

  QTest::keyClick(colour, Qt::Key_P, Qt::ControlModifier);  // the bar's own command
  EXPECT_FALSE(Bar()->isVisible());
}

// The value beside the slider takes typing and the arrow keys, clamped to
// the slider's range and announced as a drag is; it shows the position.
TEST_F(ParaBarTest, TheValueFieldTakesTypedValuesAndArrowKeys) {
  CInkbriteView* view = Open("p1.bmp");
  Frame()->show();
  ASSERT_TRUE(WaitFor([&] { return Bar()->isVisible(); }));
  QApplication::setActiveWindow(Bar());
  ASSERT_TRUE(QTest::qWaitForWindowActive(Bar()));
  Bar()->SelectPage(kPageBrightness);
  auto* value = Bar()->Control<QLineEdit>(kParaValue);
  const struct {
    const char* typed;
    int key;
    int expected;
  } kCases[] = {{"60", Qt::Key_Return, 60},   {"", Qt::Key_Up, 61},  {"", Qt::Key_Down, 60},
                {"999", Qt::Key_Return, 200}, {"", Qt::Key_Up, 200}, {"-5", Qt::Key_Return, 0},
                {"", Qt::Key_PageUp, 5}};
  for (const auto& c : kCases) {
    value->setFocus();
    if (*c.typed != 0) {
      value->selectAll();
      QTest::keyClicks(value, c.typed);
    }
    QTest::keyClick(value, static_cast<Qt::Key>(c.key));
    EXPECT_EQ(Slider()->value(), c.expected) << c.typed << " " << c.key;
    EXPECT_EQ(value->text().toStdString(), std::to_string(c.expected));
    EXPECT_EQ(AppParams().GetValue(kBrightness), c.expected);
  }
  QApplication::processEvents();
  EXPECT_EQ(log.changes[view].back(), std::make_pair(0, 5));
  // The quality page's own range.
  Bar()->SelectPage(kPageJpegQuality);
  value->setFocus();
  value->selectAll();
  QTest::keyClicks(value, "150");
  QTest::keyClick(value, Qt::Key_Return);
  EXPECT_EQ(AppParams().GetValue(kJpegQuality), 100);
}

// Every setting of the table that a page or the job reads has a control over
// its range in the parameter bar and in the batch dialog, the pages of the
// original layout with their own controls and every later group on a page
// made from its rows (one per group, named after it, in both).
TEST_F(ParaBarTest, EverySettingHasAControlOverItsRangeInTheBarAndTheBatchDialog) {
  const auto range = [](const QWidget* w) -> std::pair<int, int> {
    if (const auto* slider = qobject_cast<const QSlider*>(w))
      return {slider->minimum(), slider->maximum()};
    if (const auto* spin = qobject_cast<const QSpinBox*>(w))
      return {spin->minimum(), spin->maximum()};
    if (const auto* tenths = qobject_cast<const QDoubleSpinBox*>(w)) {
      return {static_cast<int>(std::lround(tenths->minimum() * 10)),
              static_cast<int>(std::lround(tenths->maximum() * 10))};
    }
    if (qobject_cast<const QCheckBox*>(w)) return {0, 1};
    return {-1, -1};
  };
  const std::vector<SettingGroup> groups = PanelGroups();
  ASSERT_FALSE(groups.empty());
  CBatchDlg dialog;
  auto* tabs = Bar()->Control<QTabBar>(kParaTabs);
  auto* dialogPages = dialog.findChild<QTabWidget*>(BatchControlName(kBatchIdPanels));
  ASSERT_NE(dialogPages, nullptr);
  ASSERT_EQ(Bar()->PageCount(), kPageAuto + static_cast<int>(groups.size()));
  ASSERT_EQ(tabs->count(), Bar()->PageCount());
  ASSERT_EQ(dialogPages->count(), static_cast<int>(groups.size()));
  for (size_t i = 0; i < groups.size(); ++i) {
    EXPECT_EQ(tabs->tabText(kPageAuto + static_cast<int>(i)), GroupTitle(groups[i]));
    EXPECT_EQ(dialogPages->tabText(static_cast<int>(i)), GroupTitle(groups[i]));
  }
  // The original layout's controls: the bar's, the dialog's.
  const std::map<int, std::pair<int, int>> original = {
      {kBrightness, {kParaSlider, kBatchIdBrightness}},
      {kContrast, {kParaSlider, kBatchIdContrast}},
      {kHighlight, {kParaSlider, kBatchIdHighlight}},
      {kGamma, {kParaSlider, kBatchIdGamma}},
      {kResize, {kParaSlider, kBatchIdResize}},
      {kJpegQuality, {kParaSlider, kBatchIdQuality}},
      {kThreshold, {kParaThreshold, kBatchIdThreshold}},
      {kCroppingTop, {kParaCropTop, kBatchIdCropTop}},
      {kCroppingBottom, {kParaCropBottom, kBatchIdCropBottom}},
      {kCroppingLeft, {kParaCropLeft, kBatchIdCropLeft}},
      {kCroppingRight, {kParaCropRight, kBatchIdCropRight}}};
  int checked = 0;
  for (const ParaSlotRow& row : kParaSlots) {
    SCOPED_TRACE(row.slot);
    const QWidget* inBar = nullptr;
    const QWidget* inDialog = nullptr;
    if (std::find(groups.begin(), groups.end(), row.group) != groups.end()) {
      inBar = Bar()->Control<QWidget>(SettingControlId(row.slot));
      inDialog = dialog.findChild<QWidget*>(BatchControlName(BatchSettingId(row.slot)));
    } else if (const auto it = original.find(row.slot); it != original.end()) {
      if (it->second.first == kParaSlider) Bar()->SelectPage(row.slot);
      inBar = Bar()->Control<QWidget>(it->second.first);
      inDialog = dialog.findChild<QWidget*>(BatchControlName(it->second.second));
    } else {
      continue;  // the lists, the curve, and what is for no page
    }
    ASSERT_NE(inBar, nullptr);
    ASSERT_NE(inDialog, nullptr);
    EXPECT_EQ(range(inBar), std::make_pair(row.min, row.max));
    EXPECT_EQ(range(inDialog), std::make_pair(row.min, row.max));
    ++checked;
  }
  const auto fromTable = std::count_if(std::begin(kParaSlots), std::end(kParaSlots), [&](auto& r) {
    return std::find(groups.begin(), groups.end(), r.group) != groups.end();
  });
  EXPECT_GE(fromTable, 15 + 4);  // the automatic and the restoration steps' at least
  EXPECT_EQ(checked, static_cast<int>(original.size() + fromTable));
}

// A page that makes the bar taller keeps it on the screen's free area: it
// grows upwards from where its bottom edge was.
TEST_F(ParaBarTest, ATallerPageKeepsTheBarOnTheScreen) {
  Frame()->show();
  ASSERT_TRUE(WaitFor([&] { return Bar()->isVisible(); }));
  const QRect room = Bar()->screen()->availableGeometry();
  Bar()->SelectPage(kPageBrightness);
  Bar()->move(room.left() + 10, room.bottom() - Bar()->frameGeometry().height() - 2);
  ASSERT_TRUE(WaitFor([&] { return room.contains(Bar()->frameGeometry()); }));
  const int bottom = Bar()->frameGeometry().bottom();
  for (int page : {kPageAuto, kPageOther, kPageAuto}) {
    Bar()->SelectPage(page);
    EXPECT_TRUE(WaitFor([&] { return room.contains(Bar()->frameGeometry()); }))
        << page << " " << Bar()->frameGeometry().bottom() << " " << room.bottom();
    EXPECT_EQ(Bar()->frameGeometry().bottom(), bottom);
  }
}

TEST_F(ParaBarTest, AutoPlayStopsAtTheLastFileWithTheMenuUnchecked) {
  AppParams().SetValue(kAutoPlaySeconds, 1);
  CInkbriteView* view = Open("p3.bmp");
  QAction* item = Frame()->Action(kCmdAutoPlay);
  Frame()->Action(kCmdAutoPlay)->trigger();
  EXPECT_TRUE(view->IsAutoPlaying());
  EXPECT_TRUE(item->isChecked());
  ASSERT_TRUE(WaitFor([&] { return !view->IsAutoPlaying(); }, 6000));
  EXPECT_EQ(view->Document()->PathName().filename(), "p5.bmp");
  EXPECT_FALSE(item->isChecked());
  EXPECT_EQ(beeps, 0);  // stopped on reaching the last file, not by running past it
}

TEST_F(ParaBarTest, FullScreenGivesBackTheWindowState) {
  Frame()->show();
  Frame()->showMaximized();
  ASSERT_TRUE(WaitFor([&] { return Frame()->isMaximized(); }));
  Frame()->statusBar()->hide();
  Frame()->Action(kCmdFullScreen)->trigger();
  EXPECT_TRUE(Frame()->IsFullScreen());
  EXPECT_TRUE(Frame()->isFullScreen());
  EXPECT_TRUE(Frame()->Action(kCmdFullScreen)->isChecked());
  Frame()->Action(kCmdFullScreen)->trigger();
  EXPECT_TRUE(WaitFor([&] { return Frame()->isMaximized(); }));
  EXPECT_FALSE(Frame()->statusBar()->isVisible());  // hidden before: stays hidden

  Frame()->statusBar()->show();
  Frame()->showNormal();
  Frame()->setGeometry(50, 60, 700, 500);
  QApplication::processEvents();
  const QRect normal = Frame()->geometry();
  Frame()->Action(kCmdFullScreen)->trigger();
  EXPECT_FALSE(Frame()->statusBar()->isVisible());
  Frame()->Action(kCmdFullScreen)->trigger();
  QApplication::processEvents();
  EXPECT_FALSE(Frame()->isMaximized() || Frame()->isFullScreen());
  EXPECT_EQ(Frame()->geometry(), normal);
  EXPECT_TRUE(Frame()->statusBar()->isVisible());
}

}  // namespace
}  // namespace inkbrite
