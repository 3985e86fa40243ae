// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <array>
#include <span>

#include "browse/dialogs/about_dialog.h"
#include "browse/dialogs/auto_play_dialog.h"
#include "browse/dialogs/batch_dialog.h"
#include "browse/dialogs/image_file_dialog.h"
#include "browse/dialogs/order_dialog.h"
#include "browse/dialogs/shortcut_list.h"
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/services/commands.h"
#include "browse/services/key_locks.h"
#include "browse/services/language.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/histogram_dock.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/reader_full_screen.h"
#include "browse/widgets/thumbnail_strip.h"
#include "browse/widgets/toolbar_icons.h"
#include "browse/widgets/window_tab_bar.h"
#include "formats/format_table.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The toolbar's buttons in order; 0 is a separator.
constexpr int kToolBarButtons[] = {kCmdOpen,
                                   kCmdSaveAs,
                                   0,
                                   kCmdBatch,
                                   0,
                                   kCmdFirstPage,
                                   kCmdPreviousPage,
                                   kCmdNextPage,
                                   kCmdLastPage,
                                   0,
                                   kCmdFullScreen,
                                   kCmdFitWindow,
                                   kCmdAutoPlay,
                                   0,
                                   kCmdParaBar,
                                   kCmdAutoPlaySettings,
                                   kCmdDisplayOrder,
                                   0,
                                   kCmdAbout,
                                   kCmdHelp};

// Commands that need a document window.
constexpr int kDocumentCommands[] = {
    kCmdClose,        kCmdSave,           kCmdSaveAs,       kCmdFirstPage,    kCmdLastPage,
    kCmdPreviousPage, kCmdNextPage,       kCmdRefresh,      kCmdTopLeft,      kCmdBottomLeft,
    kCmdTopRight,     kCmdBottomRight,    kCmdSingleKey,    kCmdFitWindow,    kCmdNewWindow,
    kCmdCascade,      kCmdTileHorizontal, kCmdTileVertical, kCmdNextWindow,   kCmdCloseAll,
    kCmdAutoPlay,     kCmdSinglePage,     kCmdTwoPages,     kCmdCoverAlone,   kCmdRightToLeft,
    kCmdZoomIn,       kCmdZoomOut,        kCmdActualSize,   kCmdFitWidth,     kCmdFitHeight,
    kCmdFitPage,      kCmdTurnRight,      kCmdTurnLeft,     kCmdShowOriginal, kCmdSplitView,
    kCmdHistogram,    kCmdThumbnails,     kCmdContinuous};

// A pattern that matches an extension in any case ("*.jpg" -> "*.[jJ][pP][gG]"),
// as file names are matched on Windows.
QString AnyCase(const QString& pattern) {
  QString out;
  for (QChar c : pattern) {
    if (c.isLetter()) {
      out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      out += c;
    }
  }
  return out;
}

// The workspace, with room kept free at its bottom for the parameter bar.
class WorkspaceArea : public QMdiArea {
 public:
  using QMdiArea::QMdiArea;
  void SetBottomRoom(int height) {
    if (viewportMargins().bottom() != height) setViewportMargins(0, 0, 0, height);
  }
};

// Where the user left the parameter bar (its frame's top left, global).
const QString kParaBarPlaceKey = QStringLiteral("ParaBar/Position");
// What the window manager's frame adds to the bar's height, as last seen.
const QString kParaBarFrameKey = QStringLiteral("ParaBar/FrameExtra");
// A bar let go this close to the workspace's bottom goes back to its place.
constexpr int kParaBarSnap = 24;

// In a menu's list of commands: the place of its submenu.
constexpr int kSubmenu = -1;

// How long the frame keeps its size and place before the parameter bar is
// first shown over it (each move or resize of the frame meanwhile starts
// the wait again, and the bar is placed once more as long after it shows),
// and how often the key-lock panes are read. A longer wait kept the page
// area changing for a third of a second after the page was painted.
constexpr int kFrameSettleMs = 30;
constexpr int kLockPollMs = 250;

QString Filter(const char* label, const char* patterns) {
  QStringList list;
  for (const QString& p : QString::fromLatin1(patterns).split(QLatin1Char(';'))) {
    list << (p == QLatin1String("*.*") ? QStringLiteral("*") : AnyCase(p));
  }
  return QString::fromUtf8(label) + QStringLiteral(" (") + list.join(QLatin1Char(' ')) +
         QLatin1Char(')');
}

// A command's menu text, status bar prompt and tooltip.
void SetCommandTexts(QAction* action, int id) {
  action->setText(CommandMenuText(id));
  const QStringList prompt = CommandPrompt(id).split(QLatin1Char('\n'));
  action->setStatusTip(prompt.value(0));
  action->setToolTip(prompt.value(1, prompt.value(0)));
}

}  // namespace

CMainFrame::CMainFrame(CInkbriteApp& app)
    : m_app(app), m_mdi(new WorkspaceArea(this)), m_language(CurrentUiLanguage()) {
  SetFrameTitle(QStringLiteral("Inkbrite"));
  m_mdi->setBackground(Qt::black);
  {
    QPalette black = m_mdi->palette();  // the bar's room too
    black.setColor(QPalette::Window, Qt::black);
    m_mdi->setPalette(black);
    m_mdi->setAutoFillBackground(true);
  }
  m_paraBarDocked = !QSettings().contains(kParaBarPlaceKey);
  m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(m_mdi);
  setAcceptDrops(true);
  connect(m_mdi, &QMdiArea::subWindowActivated, this,
          [this](QMdiSubWindow* w) { OnSubWindowActivated(w); });
  CreateActions();
  CreateToolBar();
  CreateStatusBar();
  CreateParaBar();
  m_reader =
      new CReaderFullScreen(this, m_mdi, [this] { return std::vector<QWidget*>{m_paraBar}; });
  // The histogram beside the workspace, shown as it was left.
  m_histogramDock = new CHistogramDock(this);
  addDockWidget(Qt::RightDockWidgetArea, m_histogramDock);
  m_histogramDock->setVisible(QSettings().value(QStringLiteral("View/Histogram"), false).toBool());
  connect(m_histogramDock, &QDockWidget::visibilityChanged, this, [this](bool shown) {
    if (shown) UpdateHistogram();
    UpdateChecks();
  });
  m_paraBarTimer.setSingleShot(true);
  m_paraBarTimer.setInterval(kFrameSettleMs);
  connect(&m_paraBarTimer, &QTimer::timeout, this, [this] { ShowParaBarAtStart(); });
  m_lockTimer.setInterval(kLockPollMs);
  connect(&m_lockTimer, &QTimer::timeout, this, [this] { UpdateLockPanes(); });
  CreateLanguageMenu();
  CreateMenus();
  CreateThumbnailStrip();
  connect(m_windowMenu, &QMenu::aboutToShow, this, [this] { UpdateWindowList(); });
  UpdateMenus();
  UpdateParaBarRoom();  // the bar shows once the frame settles
}

void CMainFrame::CreateParaBar() {
  CParaBar::Views views;
  views.all = [this] {
    std::vector<QObject*> all;
    for (const auto& doc : m_app.Documents()) {
      for (CInkbriteView* view : doc->Views()) all.push_back(view);
    }
    return all;
  };
  views.active = [this]() -> QObject* { return ActiveView(); };
  views.note = [this](const QString& text) { ShowNote(text); };
  m_paraBar = new CParaBar(std::move(views), this);
  // However the bar is hidden (its command, Escape, its close button), the
  // menu item and the toolbar button follow.
  connect(m_paraBar, &CParaBar::VisibilityChanged, this, [this] {
    UpdateParaBarRoom();
    UpdateChecks();
  });
  connect(m_paraBar, &CParaBar::Resized, this, [this] { UpdateParaBarRoom(); });
  connect(m_paraBar, &CParaBar::MovedByUser, this,
          [this](QPoint topLeft) { OnParaBarMovedByUser(topLeft); });
}

void CMainFrame::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) Retranslate();
  QMainWindow::changeEvent(event);
}

void CMainFrame::Retranslate() {
  // Installing and removing translators sends several changes for one.
  if (m_language == CurrentUiLanguage()) return;
  m_language = CurrentUiLanguage();
  for (const auto& [id, action] : m_actions) SetCommandTexts(action, id);
  for (QAction* recent : m_recentActions) recent->setStatusTip(CommandPrompt(kCmdRecentFile));
  m_noRecentFiles->setText(CommandMenuText(kCmdRecentFile));
  for (const auto& [menu, title] : m_menuTitles) menu->setTitle(tr(title));
  m_followSystem->setText(tr("跟随系统"));
  m_toolBar->setWindowTitle(tr("工具栏"));
  SizeLockPanes();
  UpdateLockPanes();
  UpdateFindingsPane();  // the engine's words for what the steps found
  UpdateZoomPane();
  RebuildParaBar();
}

void CMainFrame::RebuildParaBar() {
  CParaBar* old = m_paraBar;
  const bool shown = old->isVisible();
  disconnect(old, nullptr, this, nullptr);
  CreateParaBar();
  m_paraBar->TakeStateFrom(*old);
  // Where the old one stood, its bottom edge and centre kept.
  const QSize before = old->size();
  const QSize after = m_paraBar->size();
  m_paraBar->PlaceAt(old->frameGeometry().topLeft() + QPoint((before.width() - after.width()) / 2,
                                                             before.height() - after.height()));
  old->hide();
  old->deleteLater();
  if (shown) {
    m_paraBar->show();
    m_paraBar->raise();
  }
  UpdateChecks();
}

bool CMainFrame::event(QEvent* event) {
  // The workspace appends " - [name]" to the frame's title while a document
  // window is maximised; the frame's title already names the page.
  if (event->type() == QEvent::WindowTitleChange && !m_fixingTitle && windowTitle() != m_title) {
    m_fixingTitle = true;
    setWindowTitle(m_title);
    m_fixingTitle = false;
  }
  return QMainWindow::event(event);
}

void CMainFrame::SetFrameTitle(const QString& title) {
  m_title = title;
  setWindowTitle(title);
}

void CMainFrame::UpdateFrameTitle() {
  CChildFrame* child = ActiveChild();
  SetFrameTitle(child ? child->TitleText() + QStringLiteral(" - Inkbrite")
                      : QStringLiteral("Inkbrite"));
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!m_paraBarPlaced) m_paraBarTimer.start();
  UpdateLockPanes();
  m_lockTimer.start();
}

void CMainFrame::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  m_lockTimer.stop();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (m_paraBarTimer.isActive()) m_paraBarTimer.start();  // not settled yet
  // At its own place the bar goes with the frame.
  if (m_paraBarPlaced && m_paraBarDocked && m_paraBar->isVisible()) PlaceParaBar();
}

void CMainFrame::ShowParaBarAtStart() {
  if (m_paraBarPlaced || !isVisible()) return;
  if (windowHandle() && !windowHandle()->isExposed()) {
    m_paraBarTimer.start();
    return;
  }
  m_paraBarPlaced = true;
  PlaceParaBar();
  m_paraBar->show();
  m_paraBar->raise();
  m_paraBarDue = false;
  // Its window frame is known once it is shown: the bottom edge goes on the
  // frame's again.
  QTimer::singleShot(kFrameSettleMs, this, [this] {
    if (m_paraBar->isVisible()) PlaceParaBar();
  });
}

void CMainFrame::ToggleParaBar() {
  m_paraBarTimer.stop();
  m_paraBarDue = false;
  if (m_paraBar->isVisible()) {
    m_paraBar->hide();
    UpdateChecks();
    return;
  }
  if (!m_paraBarPlaced) {
    m_paraBarPlaced = true;
    PlaceParaBar();
  }
  m_paraBar->show();
  m_paraBar->raise();
  m_paraBar->repaint();
  UpdateChecks();
}

void CMainFrame::PlaceParaBar() {
  const QRect frame = m_paraBar->frameGeometry();
  // Where the user left it, while that lies on a screen.
  if (!m_paraBarDocked) {
    const QPoint left = QSettings().value(kParaBarPlaceKey).toPoint();
    const QRect there(left, frame.size());
    const QScreen* screen = QGuiApplication::screenAt(there.center());
    if (screen && screen->availableGeometry().contains(there)) {
      m_paraBar->PlaceAt(left);
      UpdateParaBarRoom();
      return;
    }
    m_paraBarDocked = true;
  }
  // Its own place: bottom edge on the bottom of the workspace, centred
  // across it, over the room kept free for it.
  const QRect client = m_mdi->geometry();
  const QPoint topLeft(client.left() + (client.width() - frame.width()) / 2,
                       client.bottom() + 1 - frame.height());
  m_paraBar->PlaceAt(mapToGlobal(topLeft));
  UpdateParaBarRoom();
}

void CMainFrame::UpdateParaBarRoom() {
  // Over the reader's full screen the bar floats over the page. Before it
  // first shows, the height it will take: its own and, as last seen, its
  // window frame's.
  const bool shown = m_paraBar->isVisible();
  const bool room = m_paraBarDocked && (shown || m_paraBarDue) && !IsReaderFullScreen();
  int height = 0;
  if (shown) {
    height = m_paraBar->frameGeometry().height();
    const int extra = height - m_paraBar->height();
    if (m_paraBarPlaced && extra != QSettings().value(kParaBarFrameKey, -1).toInt()) {
      QSettings().setValue(kParaBarFrameKey, extra);
    }
  } else if (room) {
    const int guess = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    height = m_paraBar->sizeHint().height() + QSettings().value(kParaBarFrameKey, guess).toInt();
  }
  static_cast<WorkspaceArea*>(m_mdi)->SetBottomRoom(room ? height : 0);
}

void CMainFrame::OnParaBarMovedByUser(QPoint topLeft) {
  const QRect client(mapToGlobal(m_mdi->geometry().topLeft()), m_mdi->size());
  const QRect bar(topLeft, m_paraBar->frameGeometry().size());
  if (std::abs(bar.bottom() - client.bottom()) <= kParaBarSnap && bar.intersects(client)) {
    // Let go on the workspace's bottom: back to its own place.
    m_paraBarDocked = true;
    QSettings().remove(kParaBarPlaceKey);
    PlaceParaBar();
    return;
  }
  m_paraBarDocked = false;
  QSettings().setValue(kParaBarPlaceKey, topLeft);
  UpdateParaBarRoom();
}

void CMainFrame::UpdateLockPanes() {
  const std::optional<KeyLocks> locks = ReadKeyLocks();
  m_capsPane->setText(locks && locks->caps ? tr("大写") : QString());
  m_numPane->setText(locks && locks->num ? tr("数字") : QString());
}

void CMainFrame::UpdateChecks() {
  m_actions[kCmdParaBar]->setChecked(m_paraBar->isVisible());
  m_actions[kCmdAskBeforeOverwrite]->setChecked(AskBeforeOverwritingSource());
  m_actions[kCmdRecentPerFolder]->setChecked(RecentPerFolder());
  m_actions[kCmdDoubleClickFullScreen]->setChecked(DoubleClickFullScreen());
  m_actions[kCmdFullScreen]->setChecked(m_fullScreen);
  m_actions[kCmdReaderFullScreen]->setChecked(IsReaderFullScreen());
  m_actions[kCmdThumbnails]->setChecked(ThumbnailStripWanted());
  CInkbriteView* view = ActiveView();
  m_actions[kCmdAutoPlay]->setChecked(view && view->IsAutoPlaying());
  m_actions[kCmdFitWindow]->setChecked(view && view->IsFitToWindow());
  CInkbriteDoc* doc = ActiveDocument();
  m_actions[kCmdCentreSmallPages]->setChecked(CentreSmallPages());
  const ZoomMode zoom = view ? view->Zoom().mode : ZoomMode::kFactor;
  m_actions[kCmdActualSize]->setChecked(view && !view->IsFitToWindow() &&
                                        zoom == ZoomMode::kOneToOne);
  m_actions[kCmdFitWidth]->setChecked(zoom == ZoomMode::kFitWidth);
  m_actions[kCmdFitHeight]->setChecked(zoom == ZoomMode::kFitHeight);
  m_actions[kCmdFitPage]->setChecked(zoom == ZoomMode::kFitPage);
  m_actions[kCmdShowOriginal]->setChecked(view && view->ShowsOriginal());
  m_actions[kCmdSplitView]->setChecked(view && view->IsSplit());
  m_actions[kCmdHistogram]->setChecked(m_histogramDock && !m_histogramDock->isHidden());
  m_actions[kCmdClipWarnings]->setChecked(ShowClipping());
  m_actions[kCmdSingleInstance]->setChecked(m_app.IsSingleInstance());
  const bool continuous = view && view->IsContinuous();
  m_actions[kCmdSinglePage]->setChecked(doc && !doc->TwoPages() && !continuous);
  m_actions[kCmdTwoPages]->setChecked(doc && doc->TwoPages() && !continuous);
  m_actions[kCmdContinuous]->setChecked(continuous);
  m_actions[kCmdCoverAlone]->setChecked(doc && doc->CoverAlone());
  m_actions[kCmdRightToLeft]->setChecked(doc && doc->RightToLeft());
  // The keys follow the reading direction: right to left, "," (the key
  // marked "<") turns to the next page, on the left, and "." back.
  const bool rtl = doc && doc->RightToLeft();
  m_actions[kCmdNextPage]->setShortcuts(
      {QKeySequence(Qt::Key_Plus), QKeySequence(rtl ? Qt::Key_Comma : Qt::Key_Period),
       QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
  m_actions[kCmdPreviousPage]->setShortcuts(
      {QKeySequence(rtl ? Qt::Key_Period : Qt::Key_Comma), QKeySequence(Qt::Key_Minus)});
}

void CMainFrame::ToggleFullScreen() {
  setUpdatesEnabled(false);
  CChildFrame* child = ActiveChild();
  if (!m_fullScreen) {
    m_wasMaximised = isMaximized();
    m_savedGeometry = saveGeometry();
    m_statusBarWasVisible = statusBar()->isVisible();
    statusBar()->hide();
    // Menu bar, toolbar and parameter bar stay; the views' scroll bars go.
    showFullScreen();
    if (child) {
      m_childWasMaximised = child->isMaximized();
      child->showMaximized();
    }
    m_fullScreen = true;
    ShowViewScrollBars(false);
  } else {
    ShowViewScrollBars(true);
    if (m_statusBarWasVisible) statusBar()->show();
    showNormal();
    restoreGeometry(m_savedGeometry);
    if (m_wasMaximised) showMaximized();
    if (child) {
      if (m_childWasMaximised) {
        child->showMaximized();
      } else {
        child->showNormal();
      }
    }
    m_fullScreen = false;
  }
  setUpdatesEnabled(true);
  m_actions[kCmdStatusBar]->setChecked(statusBar()->isVisible());
  UpdateChecks();
}

bool CMainFrame::IsReaderFullScreen() const { return m_reader && m_reader->IsOn(); }

void CMainFrame::ToggleReaderFullScreen() {
  if (m_reader->IsOn()) {
    m_reader->Leave();
    if (!m_fullScreen) ShowViewScrollBars(true);
  } else {
    if (m_fullScreen) ToggleFullScreen();  // one full screen at a time
    ShowViewScrollBars(false);
    m_reader->Enter();
    if (CInkbriteView* view = ActiveView()) view->setFocus();
  }
  UpdateParaBarRoom();
  UpdateChecks();
}

void CMainFrame::ShowViewScrollBars(bool shown) {
  const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  for (CChildFrame* child : Children()) {
    child->View()->setHorizontalScrollBarPolicy(policy);
    child->View()->setVerticalScrollBarPolicy(policy);
  }
}

CMainFrame::~CMainFrame() = default;

// ---- actions, menus, toolbar, status bar ----

// Every command: its id, its slot (the frame's, or the active view's),
// whether it is checked, and its keys. Keys carry no keypad modifier:
// shortcuts are matched without it on X11, so the keypad's +, - and Enter
// are the same keys as the main ones.
struct CMainFrame::CommandRow {
  int id;
  void (CMainFrame::*frame)();
  void (CInkbriteView::*view)();
  bool checkable;
  std::array<QKeyCombination, 4> keys;  // Qt::Key_unknown: none
};

std::span<const CMainFrame::CommandRow> CMainFrame::CommandRows() {
  using F = CMainFrame;
  using V = CInkbriteView;
  constexpr auto kCtrl = Qt::CTRL;
  // clang-format off
  static const CommandRow kRows[] = {
      {kCmdOpen,                  &F::RunOpenDialog,               nullptr, false, {kCtrl | Qt::Key_O}},
      {kCmdClose,                 &F::CloseActiveWindow,           nullptr, false, {}},
      {kCmdSave,                  &F::SaveActivePage,              nullptr, false, {kCtrl | Qt::Key_S}},
      {kCmdSaveAs,                &F::SaveActivePageAs,            nullptr, false, {}},
      {kCmdAskBeforeOverwrite,    &F::ToggleAskBeforeOverwrite,    nullptr, true,  {}},
      {kCmdRecentPerFolder,       &F::ToggleRecentPerFolder,       nullptr, true,  {}},
      {kCmdDoubleClickFullScreen, &F::ToggleDoubleClickFullScreen, nullptr, true,  {}},
      {kCmdBatch,                 &F::RunBatchDialog,              nullptr, false, {}},
      {kCmdExit,                  &F::ExitProgram,                 nullptr, false, {}},
      {kCmdToolbar,               &F::ToggleToolBar,               nullptr, true,  {}},
      {kCmdStatusBar,             &F::ToggleStatusBar,             nullptr, true,  {}},
      {kCmdParaBar,               &F::ToggleParaBar,               nullptr, true,  {kCtrl | Qt::Key_A, kCtrl | Qt::Key_P}},
      {kCmdDisplayOrder,          &F::RunDisplayOrderDialog,       nullptr, false, {}},
      {kCmdFullScreen,            &F::OnFullScreenKey,             nullptr, true,  {kCtrl | Qt::Key_F, Qt::Key_Escape}},
      {kCmdReaderFullScreen,      &F::ToggleReaderFullScreen,      nullptr, true,  {Qt::Key_F11}},
      {kCmdFitWindow,             nullptr, &V::ToggleFitToWindow,           true,  {kCtrl | Qt::Key_Minus}},
      {kCmdAutoPlay,              nullptr, &V::ToggleAutoPlay,              true,  {kCtrl | Qt::Key_L}},
      {kCmdAutoPlaySettings,      &F::RunAutoPlaySettings,         nullptr, false, {}},
      {kCmdThumbnails,            &F::ToggleThumbnails,            nullptr, true,  {kCtrl | Qt::Key_T}},
      {kCmdShortcutList,          &F::ShowShortcutList,            nullptr, false, {Qt::Key_F1}},
      {kCmdCentreSmallPages,      &F::ToggleCentreSmallPages,      nullptr, true,  {}},
      {kCmdZoomIn,                nullptr, &V::ZoomIn,                      false, {kCtrl | Qt::Key_Up, kCtrl | Qt::Key_Equal}},
      {kCmdZoomOut,               nullptr, &V::ZoomOut,                     false, {kCtrl | Qt::Key_Down}},
      {kCmdActualSize,            nullptr, &V::ShowActualSize,              true,  {kCtrl | Qt::Key_0}},
      {kCmdFitWidth,              nullptr, &V::FitWidth,                    true,  {kCtrl | Qt::Key_7}},
      {kCmdFitHeight,             nullptr, &V::FitHeight,                   true,  {kCtrl | Qt::Key_8}},
      {kCmdFitPage,               nullptr, &V::FitPage,                     true,  {kCtrl | Qt::Key_9}},
      {kCmdTurnRight,             nullptr, &V::TurnRight,                   false, {kCtrl | Qt::Key_R}},
      {kCmdTurnLeft,              nullptr, &V::TurnLeft,                    false, {kCtrl | Qt::SHIFT | Qt::Key_R}},
      {kCmdShowOriginal,          nullptr, &V::ToggleShowOriginal,          true,  {kCtrl | Qt::Key_B}},
      {kCmdSplitView,             nullptr, &V::ToggleSplitView,             true,  {kCtrl | Qt::Key_D}},
      {kCmdHistogram,             &F::ToggleHistogram,             nullptr, true,  {kCtrl | Qt::Key_H}},
      {kCmdClipWarnings,          &F::ToggleClipWarnings,          nullptr, true,  {kCtrl | Qt::Key_J}},
      {kCmdSingleInstance,        &F::ToggleSingleInstance,        nullptr, true,  {}},
      {kCmdSinglePage,            &F::ShowSinglePage,              nullptr, true,  {kCtrl | Qt::Key_1}},
      {kCmdTwoPages,              &F::ShowTwoPages,                nullptr, true,  {kCtrl | Qt::Key_2}},
      {kCmdContinuous,            nullptr, &V::ToggleContinuous,            true,  {kCtrl | Qt::Key_5}},
      {kCmdCoverAlone,            &F::ToggleCoverAlone,            nullptr, true,  {kCtrl | Qt::Key_3}},
      {kCmdRightToLeft,           &F::ToggleRightToLeft,           nullptr, true,  {kCtrl | Qt::Key_4}},
      {kCmdFirstPage,             nullptr, &V::FirstPage,                   false, {kCtrl | Qt::Key_Home}},
      {kCmdLastPage,              nullptr, &V::LastPage,                    false, {kCtrl | Qt::Key_End}},
      // The characters + and . and Enter turn forward, , and - back
      // (UpdateChecks swaps , and . for right to left).
      {kCmdNextPage,              nullptr, &V::NextPage,                    false, {Qt::Key_Plus, Qt::Key_Period, Qt::Key_Return, Qt::Key_Enter}},
      {kCmdPreviousPage,          nullptr, &V::PreviousPage,                false, {Qt::Key_Comma, Qt::Key_Minus}},
      {kCmdRefresh,               &F::RefreshFolder,               nullptr, false, {Qt::Key_F5}},
      {kCmdTopLeft,               nullptr, &V::ShowTopLeft,                 false, {Qt::Key_Home}},
      {kCmdBottomLeft,            nullptr, &V::ShowBottomLeft,              false, {Qt::Key_End}},
      {kCmdTopRight,              nullptr, &V::ShowTopRight,                false, {Qt::Key_PageUp}},
      {kCmdBottomRight,           nullptr, &V::ShowBottomRight,             false, {Qt::Key_PageDown}},
      {kCmdSingleKey,             nullptr, &V::SingleKey,                   false, {Qt::Key_Space}},
      {kCmdNewWindow,             &F::OpenNewWindow,               nullptr, false, {}},
      {kCmdCascade,               &F::CascadeWindows,              nullptr, false, {}},
      {kCmdTileHorizontal,        &F::TileWindowsAbove,            nullptr, false, {}},
      {kCmdTileVertical,          &F::TileWindowsSideBySide,       nullptr, false, {}},
      {kCmdNextWindow,            &F::ActivateNextWindow,          nullptr, false, {Qt::Key_Tab}},
      {kCmdCloseAll,              &F::CloseAllWindows,             nullptr, false, {}},
      {kCmdHelp,                  &F::ShowHelpPage,                nullptr, false, {}},
      {kCmdAbout,                 &F::ShowAboutBox,                nullptr, false, {}},
  };
  // clang-format on
  return kRows;
}

void CMainFrame::CreateActions() {
  for (const CommandRow& row : CommandRows()) {
    auto* action = new QAction(this);
    SetCommandTexts(action, row.id);
    action->setIcon(CommandIcon(row.id));
    QList<QKeySequence> keys;
    for (const QKeyCombination key : row.keys) {
      if (key.key() != Qt::Key_unknown) keys << QKeySequence(key);
    }
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setCheckable(row.checkable);
    if (row.frame) {
      connect(action, &QAction::triggered, this, row.frame);
    } else {
      connect(action, &QAction::triggered, this, [this, slot = row.view] { RunViewCommand(slot); });
    }
    addAction(action);  // the keys work while the menu holding it is not shown
    m_actions[row.id] = action;
  }
  m_actions[kCmdToolbar]->setChecked(true);
  m_actions[kCmdStatusBar]->setChecked(true);
  CreateRecentFileActions();
}

// The recent files, and the disabled item standing for an empty list.
void CMainFrame::CreateRecentFileActions() {
  for (int i = 0; i < kRecentFileCount; ++i) {
    auto* action = new QAction(this);
    action->setVisible(false);
    action->setStatusTip(CommandPrompt(kCmdRecentFile));
    connect(action, &QAction::triggered, this, [this, i] { m_app.OpenRecentFile(i); });
    m_recentActions.push_back(action);
  }
  m_noRecentFiles = new QAction(CommandMenuText(kCmdRecentFile), this);
  m_noRecentFiles->setEnabled(false);
}

QAction* CMainFrame::Action(int id) const {
  const auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

QMenu* CMainFrame::CreateMenu(const char* title, std::initializer_list<int> ids, QMenu* submenu) {
  auto* menu = new QMenu(tr(title), this);
  m_menuTitles.emplace_back(menu, title);
  for (int id : ids) {
    if (id == 0) {
      menu->addSeparator();
    } else if (id == kSubmenu) {
      menu->addMenu(submenu);
    } else if (id == kCmdRecentFile) {
      menu->addAction(m_noRecentFiles);
      for (QAction* recent : m_recentActions) menu->addAction(recent);
    } else {
      menu->addAction(m_actions.at(id));
    }
  }
  return menu;
}

void CMainFrame::CreateMenus() {
  m_menuSets[0] = {
      CreateMenu(QT_TR_NOOP("文件(&F)"),
                 {kCmdOpen, 0, kCmdBatch, 0, kCmdRecentFile, kCmdRecentPerFolder, 0, kCmdExit}),
      CreateMenu(QT_TR_NOOP("查看(&V)"),
                 {kCmdToolbar, kCmdStatusBar, 0, kCmdParaBar, kCmdDisplayOrder, 0, kCmdFullScreen,
                  kCmdReaderFullScreen, kCmdDoubleClickFullScreen}),
      CreateMenu(QT_TR_NOOP("帮助(&H)"), {kCmdHelp, kCmdShortcutList, 0, kSubmenu, 0, kCmdAbout},
                 m_languageMenu)};

  QMenu* pages =
      CreateMenu(QT_TR_NOOP("页面浏览"),
                 {kCmdFirstPage, kCmdLastPage, kCmdPreviousPage, kCmdNextPage, kCmdRefresh, 0,
                  kCmdTopLeft, kCmdBottomLeft, kCmdTopRight, kCmdBottomRight, 0, kCmdSingleKey});
  m_menuSets[1] = {
      CreateMenu(QT_TR_NOOP("文件(&F)"),
                 {kCmdOpen, kCmdClose, kCmdSave, kCmdSaveAs, kCmdAskBeforeOverwrite, 0, kCmdBatch,
                  0, kCmdRecentFile, kCmdRecentPerFolder, 0, kCmdExit}),
      CreateMenu(QT_TR_NOOP("查看(&V)"),
                 {kCmdToolbar,
                  kCmdStatusBar,
                  0,
                  kCmdParaBar,
                  0,
                  kSubmenu,
                  kCmdDisplayOrder,
                  0,
                  kCmdFullScreen,
                  kCmdReaderFullScreen,
                  kCmdDoubleClickFullScreen,
                  kCmdFitWindow,
                  kCmdThumbnails,
                  kCmdCentreSmallPages,
                  0,
                  kCmdZoomIn,
                  kCmdZoomOut,
                  kCmdActualSize,
                  kCmdFitWidth,
                  kCmdFitHeight,
                  kCmdFitPage,
                  0,
                  kCmdTurnRight,
                  kCmdTurnLeft,
                  0,
                  kCmdShowOriginal,
                  kCmdSplitView,
                  kCmdHistogram,
                  kCmdClipWarnings,
                  0,
                  kCmdSinglePage,
                  kCmdTwoPages,
                  kCmdContinuous,
                  kCmdCoverAlone,
                  kCmdRightToLeft,
                  0,
                  kCmdAutoPlay,
                  kCmdAutoPlaySettings},
                 pages),
      m_windowMenu =
          CreateMenu(QT_TR_NOOP("窗口(&W)"),
                     {kCmdNewWindow, 0, kCmdCascade, kCmdTileHorizontal, kCmdTileVertical, 0,
                      kCmdNextWindow, 0, kCmdCloseAll, 0, kCmdSingleInstance}),
      CreateMenu(QT_TR_NOOP("帮助(&H)"), {kCmdHelp, kCmdShortcutList, 0, kSubmenu, 0, kCmdAbout},
                 m_languageMenu)};
}

void CMainFrame::CreateLanguageMenu() {
  // Each language under its own name; the stored choice is checked.
  m_languageMenu = new QMenu(tr("语言"), this);
  m_menuTitles.emplace_back(m_languageMenu, QT_TR_NOOP("语言"));
  m_languageMenu->setObjectName(QStringLiteral("languageMenu"));
  auto* group = new QActionGroup(m_languageMenu);
  const QString stored = StoredLanguageChoice();
  const std::pair<QString, QString> choices[] = {{QStringLiteral("zh"), QStringLiteral("中文")},
                                                 {QStringLiteral("en"), QStringLiteral("English")},
                                                 {QString(), tr("跟随系统")}};
  for (const auto& [code, text] : choices) {
    QAction* action = m_languageMenu->addAction(text);
    action->setCheckable(true);
    action->setChecked(code == stored);
    action->setData(code);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, code = code] { OnLanguageChosen(code); });
    m_followSystem = action;  // the last
  }
}

void CMainFrame::OnLanguageChosen(const QString& code) {
  if (code == StoredLanguageChoice()) return;
  StoreLanguageChoice(code);
  // At once, in every window: the chosen language, or the one the system
  // gives (INKBRITE_LANG, then the locale).
  const std::optional<UiLanguage> chosen = ParseLanguageCode(code);
  const UiLanguage language = chosen
                                  ? *chosen
                                  : ChooseLanguage(QString::fromLocal8Bit(qgetenv("INKBRITE_LANG")),
                                                   QString(), SystemLocaleName());
  if (!m_app.SetInterfaceLanguage(language)) {
    ShowMessage(this, tr("找不到英文翻译，界面仍为中文。"), QMessageBox::Ok);
  }
}

void CMainFrame::UpdateWindowList() {
  if (!m_windowMenu) return;
  for (QAction* action : m_windowListActions) delete action;
  m_windowListActions.clear();
  const std::vector<CChildFrame*> children = Children();
  if (children.empty()) return;
  m_windowListActions.push_back(m_windowMenu->addSeparator());
  CChildFrame* active = ActiveChild();
  for (size_t i = 0; i < children.size(); ++i) {
    CChildFrame* child = children[i];
    QAction* action =
        m_windowMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(child->TitleText()));
    action->setCheckable(true);
    action->setChecked(child == active);
    action->setStatusTip(CommandPrompt(kCmdWindowList));
    connect(action, &QAction::triggered, this, [this, child] {
      // The window may have closed since the menu was made.
      const std::vector<CChildFrame*> now = Children();
      if (std::find(now.begin(), now.end(), child) != now.end()) ActivateChild(child);
    });
    m_windowListActions.push_back(action);
  }
}

void CMainFrame::ShowMenuSet(bool documentMenus) {
  const int set = documentMenus ? 1 : 0;
  if (set == m_shownMenuSet) return;
  m_shownMenuSet = set;
  QMenuBar* bar = menuBar();
  // The menus stay the frame's; only their places on the bar change.
  for (QAction* action : bar->actions()) bar->removeAction(action);
  for (QMenu* menu : m_menuSets[static_cast<size_t>(set)]) bar->addMenu(menu);
}

QList<QMenu*> CMainFrame::MenuBarMenus() const {
  QList<QMenu*> menus;
  for (QAction* action : menuBar()->actions()) {
    if (action->menu()) menus << action->menu();
  }
  return menus;
}

void CMainFrame::CreateToolBar() {
  m_toolBar = addToolBar(tr("工具栏"));
  m_toolBar->setObjectName(QStringLiteral("toolbar128"));
  m_toolBar->setIconSize(QSize(16, 16));
  m_toolBar->setMovable(true);
  for (int id : kToolBarButtons) {
    if (id == 0) {
      m_toolBar->addSeparator();
    } else {
      m_toolBar->addAction(m_actions.at(id));
    }
  }
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  // Left: what the automatic steps found on the active page (a menu's
  // prompt covers it while shown).
  m_findings = new QLabel(bar);
  m_findings->setObjectName(QStringLiteral("findingsPane"));
  connect(&m_learnedSpin, &QTimer::timeout, this, [this] {
    ++m_learnedTurn;
    UpdateFindingsPane();
  });
  bar->addWidget(m_findings, 1);
  // The window tabs, one per document window; picking one activates it.
  m_tabBar = new CWindowTabBar(0x400C, bar);
  m_tabBar->setObjectName(QStringLiteral("ctl101"));
  bar->addPermanentWidget(m_tabBar);
  connect(m_tabBar, &CWindowTabBar::SelectionChanged, this, [this](int index) {
    auto* owner = static_cast<CChildFrame*>(m_tabBar->TabOwner(index));
    for (CChildFrame* child : AllWindows()) {
      if (child == owner) ActivateChild(child);
    }
  });
  m_zoomPane = new QLabel(bar);
  m_zoomPane->setObjectName(QStringLiteral("zoomPane"));
  m_zoomPane->setAlignment(Qt::AlignCenter);
  bar->addPermanentWidget(m_zoomPane);
  m_counter = new QLabel(bar);
  m_counter->setObjectName(QStringLiteral("pageCounter"));
  m_counter->setAlignment(Qt::AlignCenter);
  m_counter->setMinimumWidth(
      m_counter->fontMetrics().horizontalAdvance(QStringLiteral("1024/1024")) + 8);
  bar->addPermanentWidget(m_counter);
  for (QLabel** pane : {&m_capsPane, &m_numPane}) {
    *pane = new QLabel(bar);
    (*pane)->setAlignment(Qt::AlignCenter);
    bar->addPermanentWidget(*pane);
  }
  SizeLockPanes();
  m_capsPane->setObjectName(QStringLiteral("capsLockPane"));
  m_numPane->setObjectName(QStringLiteral("numLockPane"));
  m_counter->clear();
}

void CMainFrame::ShowNote(const QString& text) { statusBar()->showMessage(text, 6000); }

QString CMainFrame::NoteText() const { return statusBar()->currentMessage(); }

void CMainFrame::UpdateZoomPane() {
  if (!m_zoomPane) return;
  const CInkbriteView* view = ActiveView();
  m_zoomPane->setText(view ? view->ZoomText() : QString());
}

QString CMainFrame::ZoomPaneText() const { return m_zoomPane ? m_zoomPane->text() : QString(); }

// The lock panes keep the width of their texts while empty.
void CMainFrame::SizeLockPanes() {
  for (QLabel* pane : {m_capsPane, m_numPane}) {
    const QFontMetrics metrics = pane->fontMetrics();
    pane->setMinimumWidth(
        std::max(metrics.horizontalAdvance(tr("大写")), metrics.horizontalAdvance(tr("数字"))) + 8);
  }
}

// ---- windows ----

std::vector<CChildFrame*> CMainFrame::Children() const {
  std::vector<CChildFrame*> children;
  for (QMdiSubWindow* w : m_mdi->subWindowList(QMdiArea::CreationOrder)) {
    auto* child = qobject_cast<CChildFrame*>(w);
    if (child && child->View()) children.push_back(child);
  }
  return children;
}

CChildFrame* CMainFrame::ActiveChild() const {
  auto* child = qobject_cast<CChildFrame*>(m_mdi->activeSubWindow());
  return child && child->View() ? child : nullptr;
}

CInkbriteView* CMainFrame::ActiveView() const {
  CChildFrame* child = ActiveChild();
  return child ? child->View() : nullptr;
}

CInkbriteDoc* CMainFrame::ActiveDocument() const {
  CInkbriteView* view = ActiveView();
  return view ? view->Document() : nullptr;
}

void CMainFrame::ConnectChild(CChildFrame* child) {
  connect(child, &CChildFrame::titleChanged, this, [this, child] { OnChildTitleChanged(child); });
  connect(child, &CChildFrame::bookClosing, this, [this, child] { OnChildBookClosed(child); });
  connect(child, &CChildFrame::closing, this, [this, child] { OnChildClosed(child); });
  connect(child, &CChildFrame::documentUnused, this,
          [this](CInkbriteDoc* doc) { m_app.CloseDocument(doc); });
  connect(child, &CChildFrame::contentChanged, this, &CMainFrame::UpdateMenus);
}

void CMainFrame::AddChild(CChildFrame* child) {
  CChildFrame* active = ActiveChild();
  const bool maximised = active == nullptr || active->isMaximized();
  ConnectChild(child);
  m_mdi->addSubWindow(child);
  m_reader->Adopt(child);
  ConnectView(child->View());
  if (m_fullScreen || IsReaderFullScreen()) {
    child->View()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    child->View()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  if (m_tabBar->FindTab(child) < 0) {
    m_tabBar->InsertTab(m_tabBar->GetTabCount(), child->TitleText(), child);
  }
  if (maximised) {
    child->showMaximized();
  } else {
    child->show();
  }
  ActivateChild(child);
  UpdateMenus();
}

void CMainFrame::AddShelf(CChildFrame* child) {
  CChildFrame* active = ActiveChild();
  const bool maximised = active == nullptr || active->isMaximized();
  ConnectChild(child);
  m_mdi->addSubWindow(child);
  m_reader->Adopt(child);
  if (m_tabBar->FindTab(child) < 0) {
    m_tabBar->InsertTab(m_tabBar->GetTabCount(), child->TitleText(), child);
  }
  if (maximised) {
    child->showMaximized();
  } else {
    child->show();
  }
  m_mdi->setActiveSubWindow(child);
  m_tabBar->SelectTab(m_tabBar->FindTab(child));
  UpdateMenus();
}

void CMainFrame::OnShelfBookShown(CChildFrame* child) {
  ConnectView(child->View());
  if (m_fullScreen || IsReaderFullScreen()) {
    child->View()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    child->View()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  ActivateChild(child);
  UpdateMenus();
}

void CMainFrame::OnChildBookClosed(CChildFrame* child) {
  if (m_lastActive == child) m_lastActive = nullptr;
}

std::vector<CChildFrame*> CMainFrame::AllWindows() const {
  std::vector<CChildFrame*> windows;
  for (QMdiSubWindow* w : m_mdi->subWindowList(QMdiArea::CreationOrder)) {
    if (auto* child = qobject_cast<CChildFrame*>(w)) windows.push_back(child);
  }
  return windows;
}

void CMainFrame::ConnectView(CInkbriteView* view) {
  // What the view says the user asked, followed here while it is active.
  const auto whileActive = [this, view](void (CMainFrame::*follow)()) {
    return [this, view, follow] {
      if (ActiveView() == view) (this->*follow)();
    };
  };
  connect(view, &CInkbriteView::pageTurned, this, whileActive(&CMainFrame::FollowPageTurn));
  connect(view, &CInkbriteView::zoomChanged, this, whileActive(&CMainFrame::UpdateZoomPane));
  connect(view, &CInkbriteView::pictureChanged, this, whileActive(&CMainFrame::UpdateFindingsPane));
  connect(view, &CInkbriteView::commandsChanged, this, &CMainFrame::UpdateMenus);
  connect(view, &CInkbriteView::noteShown, this, &CMainFrame::ShowNote);
  // A double-click turns to the next page, or (when chosen) goes into the
  // reader's full screen and out.
  connect(
      view, &CInkbriteView::pageDoubleClicked, view,
      [this, view] {
        if (DoubleClickFullScreen()) {
          ToggleReaderFullScreen();
        } else {
          view->NextPage();
        }
      },
      Qt::QueuedConnection);
  // The wheel and the mouse ask for another page: turned as the page keys
  // turn it (the counter follows through pageTurned).
  connect(view, &CInkbriteView::pageTurnRequested, view, &CInkbriteView::TurnPage);
}

void CMainFrame::FollowPageTurn() {
  UpdatePageCounter();
  UpdateChecks();
}

void CMainFrame::ActivateChild(CChildFrame* child) {
  m_mdi->setActiveSubWindow(child);
  OnSubWindowActivated(child);
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow* window) {
  auto* child = qobject_cast<CChildFrame*>(window);
  if (child && !child->View()) child = nullptr;
  if (child == m_lastActive) {
    UpdatePageCounter();
    return;
  }
  const auto children = Children();
  if (m_lastActive && std::find(children.begin(), children.end(), m_lastActive) != children.end()) {
    m_lastActive->View()->OnActivateView(false);
  }
  m_lastActive = child;
  if (child) m_tabBar->SelectTab(m_tabBar->FindTab(child));
  if (child) {
    child->View()->OnActivateView(true);
    // In per-window mode the bar shows the values of the window activated.
    if (PerWindowMode()) m_paraBar->ShowPage();
    child->View()->setFocus();
  }
  UpdateFrameTitle();
  UpdatePageCounter();
  UpdateChecks();
}

void CMainFrame::OnChildTitleChanged(CChildFrame* child) {
  const int tab = m_tabBar->FindTab(child);
  if (tab >= 0) m_tabBar->SetTabText(tab, child->TitleText());
  if (CChildFrame* active = ActiveChild()) m_tabBar->SelectTab(m_tabBar->FindTab(active));
  UpdatePageCounter();
}

void CMainFrame::OnChildClosed(CChildFrame* child) {
  const int tab = m_tabBar->FindTab(child);
  if (tab >= 0) m_tabBar->DeleteTab(tab);
  if (m_lastActive == child) m_lastActive = nullptr;
  if (m_tabBar->GetTabCount() == 0) m_counter->clear();
}

void CMainFrame::UpdateFindingsPane() {
  CChildFrame* child = ActiveChild();
  const CInkbriteView* view = child ? child->View() : nullptr;
  QString text = view ? QString::fromStdString(view->FindingsText()) : QString();
  if (view != nullptr && view->LearnedWaiting()) {
    // A spinner while the learned step's page is made; it fills in.
    static const QChar kTurns[] = {QChar(0x25D0), QChar(0x25D3), QChar(0x25D1), QChar(0x25D2)};
    text = QString(kTurns[m_learnedTurn % 4]) + QLatin1Char(' ') + tr("智能放大中…") +
           (text.isEmpty() ? QString() : QStringLiteral("  ") + text);
    if (!m_learnedSpin.isActive()) m_learnedSpin.start(150);
  } else {
    m_learnedSpin.stop();
  }
  m_findings->setText(text);
  UpdateHistogram();
}

void CMainFrame::UpdateHistogram() {
  if (!m_histogramDock || m_histogramDock->isHidden()) return;
  CChildFrame* child = ActiveChild();
  const CInkbriteView* view = child ? child->View() : nullptr;
  m_histogramDock->SetHistogram(view ? view->Histogram() : PageHistogram());
}

QString CMainFrame::FindingsPaneText() const { return m_findings->text(); }

void CMainFrame::UpdatePageCounter() {
  UpdateFindingsPane();
  UpdateZoomPane();
  CInkbriteDoc* doc = ActiveDocument();
  if (m_thumbnails) m_thumbnails->ShowDocument(doc);
  if (!doc) {
    m_counter->clear();
    return;
  }
  // Two pages shown: "12-13/180".
  const Facing shown = doc->Shown();
  const int current = doc->DirList().GetCurrentIndex();
  const QString position = shown.count == 2 && current > 0
                               ? QStringLiteral("%1-%2").arg(current).arg(current + 1)
                               : QString::number(current);
  m_counter->setText(QStringLiteral("%1/%2").arg(position).arg(doc->DirList().GetCount()));
  UpdateFrameTitle();
}

void CMainFrame::UpdateRecentFileMenu() {
  const QStringList& files = m_app.RecentFiles();
  for (int i = 0; i < static_cast<int>(m_recentActions.size()); ++i) {
    QAction* action = m_recentActions[static_cast<size_t>(i)];
    action->setVisible(i < files.size());
    action->setText(i < files.size() ? QStringLiteral("&%1 %2").arg(i + 1).arg(files[i])
                                     : QString());
  }
  m_noRecentFiles->setVisible(files.isEmpty());
}

void CMainFrame::UpdateMenus() {
  const bool hasDocument = !Children().empty();
  for (int id : kDocumentCommands) m_actions[id]->setEnabled(hasDocument);
  if (!hasDocument) m_lastActive = nullptr;
  ShowMenuSet(hasDocument);
  if (m_thumbnails && !IsReaderFullScreen()) {
    m_thumbnails->setVisible(hasDocument && ThumbnailStripWanted());
  }
  UpdateRecentFileMenu();
  UpdateFrameTitle();
  UpdatePageCounter();
  UpdateChecks();
}

void CMainFrame::TileWindows(bool sideBySide) {
  const auto children = Children();
  if (children.empty()) return;
  const QRect area = m_mdi->viewport()->rect();
  const int n = static_cast<int>(children.size());
  for (int i = 0; i < n; ++i) {
    children[i]->showNormal();
    if (sideBySide) {
      const int x0 = area.width() * i / n, x1 = area.width() * (i + 1) / n;
      children[i]->setGeometry(x0, 0, x1 - x0, area.height());
    } else {
      const int y0 = area.height() * i / n, y1 = area.height() * (i + 1) / n;
      children[i]->setGeometry(0, y0, area.width(), y1 - y0);
    }
  }
}

// ---- commands ----

void CMainFrame::RunViewCommand(void (CInkbriteView::*command)()) {
  CInkbriteView* view = ActiveView();
  if (!view) return;
  (view->*command)();
  UpdatePageCounter();
  UpdateChecks();
}

void CMainFrame::ExitProgram() { close(); }

void CMainFrame::CloseActiveWindow() {
  if (CChildFrame* child = ActiveChild()) child->close();
}

void CMainFrame::SaveActivePage() {
  if (CInkbriteDoc* doc = ActiveDocument()) doc->OnFileSave();
  UpdateChecks();  // the question may have been turned off
}

void CMainFrame::SaveActivePageAs() {
  if (CInkbriteDoc* doc = ActiveDocument()) doc->OnFileSaveAs();
}

void CMainFrame::ToggleChoice(bool (*get)(), void (*set)(bool on), bool repaint) {
  set(!get());
  if (repaint) {
    for (CChildFrame* child : Children()) child->View()->viewport()->update();
  }
  UpdateChecks();
}

void CMainFrame::ToggleRecentPerFolder() { ToggleChoice(RecentPerFolder, SetRecentPerFolder); }

void CMainFrame::ToggleDoubleClickFullScreen() {
  ToggleChoice(DoubleClickFullScreen, SetDoubleClickFullScreen);
}

void CMainFrame::ToggleAskBeforeOverwrite() {
  ToggleChoice(AskBeforeOverwritingSource, SetAskBeforeOverwritingSource);
}

void CMainFrame::RefreshFolder() {
  if (CInkbriteDoc* doc = ActiveDocument()) doc->OnRefresh();
}

void CMainFrame::ToggleHistogram() {
  const bool show = m_histogramDock->isHidden();
  m_histogramDock->setVisible(show);
  QSettings().setValue(QStringLiteral("View/Histogram"), show);
  if (show) UpdateHistogram();
  UpdateChecks();
}

void CMainFrame::ToggleSingleInstance() {
  if (!m_app.SetSingleInstance(!m_app.IsSingleInstance())) {
    ShowMessage(this, tr("无法建立本机连接，只运行一个 Inkbrite 的设置没有生效。"),
                QMessageBox::Ok);
  }
  UpdateChecks();
}

void CMainFrame::ToggleClipWarnings() { ToggleChoice(ShowClipping, SetShowClipping, true); }

void CMainFrame::ToggleCentreSmallPages() {
  ToggleChoice(CentreSmallPages, SetCentreSmallPages, true);
}

void CMainFrame::ChangeLayout(void (*change)(CInkbriteDoc& doc)) {
  if (CInkbriteDoc* doc = ActiveDocument()) change(*doc);
  UpdatePageCounter();
  UpdateChecks();
}

void CMainFrame::ShowSinglePage() {
  if (CInkbriteView* view = ActiveView()) view->SetContinuous(false);
  ChangeLayout([](CInkbriteDoc& doc) { doc.SetTwoPages(false); });
}

void CMainFrame::ShowTwoPages() {
  if (CInkbriteView* view = ActiveView()) view->SetContinuous(false);
  ChangeLayout([](CInkbriteDoc& doc) { doc.SetTwoPages(true); });
}

void CMainFrame::ToggleCoverAlone() {
  ChangeLayout([](CInkbriteDoc& doc) { doc.SetCoverAlone(!doc.CoverAlone()); });
}

void CMainFrame::ToggleRightToLeft() {
  ChangeLayout([](CInkbriteDoc& doc) { doc.SetRightToLeft(!doc.RightToLeft()); });
}

void CMainFrame::CloseAllWindows() {
  for (CChildFrame* child : AllWindows()) child->CloseWindow();
}

void CMainFrame::OpenNewWindow() {
  CInkbriteView* view = ActiveView();
  if (view) m_app.NewWindow(view);
}

void CMainFrame::ActivateNextWindow() { m_mdi->activateNextSubWindow(); }

void CMainFrame::CascadeWindows() { m_mdi->cascadeSubWindows(); }

void CMainFrame::TileWindowsAbove() { TileWindows(false); }

void CMainFrame::TileWindowsSideBySide() { TileWindows(true); }

void CMainFrame::ToggleToolBar() {
  m_toolBar->setVisible(!m_toolBar->isVisible());
  m_actions[kCmdToolbar]->setChecked(m_toolBar->isVisible());
}

void CMainFrame::ToggleStatusBar() {
  statusBar()->setVisible(!statusBar()->isVisible());
  m_actions[kCmdStatusBar]->setChecked(statusBar()->isVisible());
}

void CMainFrame::OnFullScreenKey() {
  // Esc leaves the reader's full screen too.
  if (IsReaderFullScreen()) {
    ToggleReaderFullScreen();
  } else {
    ToggleFullScreen();
  }
}

void CMainFrame::ToggleThumbnails() { ShowThumbnailStrip(!ThumbnailStripWanted()); }

void CMainFrame::ShowAboutBox() {
  CAboutDialog dialog(this);
  dialog.exec();
}

void CMainFrame::ShowHelpPage() { ShowHelp(this); }

void CMainFrame::RunAutoPlaySettings() {
  CAutoPlayDialog dialog(this);
  dialog.exec();
}

void CMainFrame::RunDisplayOrderDialog() {
  std::vector<CDirManager*> lists;
  for (const auto& d : m_app.Documents()) lists.push_back(&d->DirList());
  ApplyDisplayOrder(this, lists);
  UpdatePageCounter();
}

void CMainFrame::RunBatchDialog() {
  // "恢复" and the curve editor go through the bar, so the bar and the
  // views follow at once; whatever else the dialog changed reaches them
  // when it closes.
  m_paraBar->TakeSnapshot();
  CBatchDlg dialog(this);
  dialog.SetRestoreHandler([this] { m_paraBar->OnRestore(); });
  dialog.SetAnnouncer([this](int slot, int value) {
    m_paraBar->Announce(slot, value);
    m_paraBar->ShowPage();
  });
  dialog.exec();
  m_paraBar->Refresh();
}

// ---- the thumbnail strip and the shortcut list ----

void CMainFrame::CreateThumbnailStrip() {
  m_thumbnails = new CThumbnailStrip(this);
  addDockWidget(Qt::LeftDockWidgetArea, m_thumbnails);
  m_thumbnails->hide();
  connect(m_thumbnails, &CThumbnailStrip::PageChosen, this,
          [this](int position) { OpenListedPage(position); });
  // Closed by its own button: the choice follows.
  connect(m_thumbnails, &CThumbnailStrip::Closed, this, [this] {
    SetThumbnailStripWanted(false);
    UpdateChecks();
  });
}

void CMainFrame::ShowThumbnailStrip(bool shown) {
  SetThumbnailStripWanted(shown);
  m_thumbnails->setVisible(shown && !Children().empty());
  UpdatePageCounter();
  UpdateChecks();
}

void CMainFrame::OpenListedPage(int position) {
  CInkbriteDoc* doc = ActiveDocument();
  if (!doc) return;
  const ListedPage page = doc->DirList().MoveTo(position);
  if (!page.empty()) doc->OpenPage(page);
  UpdatePageCounter();
  UpdateChecks();
  // The keys go to the page again (arrows scroll it, Space reads on).
  if (CInkbriteView* view = ActiveView()) view->setFocus();
}

void CMainFrame::ShowShortcutList() {
  std::vector<QAction*> actions;
  for (const auto& [id, action] : m_actions) actions.push_back(action);
  CShortcutListDialog dialog(actions, this);
  dialog.exec();
}

// ---- the open dialog ----

QStringList CMainFrame::OpenDialogFilters() {
  QStringList filters;
  for (const FileFilter& f : OpenFileFilters()) {
    filters << Filter(f.label.c_str(), f.patterns.c_str());
  }
  return filters;
}

void CMainFrame::OpenDialogStart(QString& folder, QString& presetName) const {
  presetName.clear();
  if (CInkbriteDoc* doc = ActiveDocument()) {
    folder = QString::fromStdString(doc->PathName().parent_path().string());
    presetName = QString::fromStdString(doc->PathName().filename().string());
    return;
  }
  const fs::path remembered = RememberedBatchFolders().source;
  if (!remembered.empty()) {
    folder = QString::fromStdString(remembered.string());
  } else if (m_app.RecentFiles().isEmpty() && !CInkbriteApp::SampleFolder().empty()) {
    // The very first run starts among the sample pages shipped with the
    // program, so there is something to open.
    folder = QString::fromStdString(CInkbriteApp::SampleFolder().string());
  } else {
    folder = QStringLiteral("/");
  }
}

void CMainFrame::RunOpenDialog() {
  QString folder, preset;
  OpenDialogStart(folder, preset);
  CImageFileMultSel dialog(this, UiText(kOpenDialogTitle), folder, OpenDialogFilters(), preset);
  if (dialog.exec() != QDialog::Accepted) return;
  m_app.OpenDocumentFiles(dialog.SelectedPaths());
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (m_paraBarTimer.isActive()) m_paraBarTimer.start();  // not settled yet
  if (m_paraBarPlaced && m_paraBarDocked && m_paraBar->isVisible()) PlaceParaBar();
  // The window tabs take three fifths of the status bar.
  m_tabBar->setFixedWidth(event->size().width() * 3 / 5);
}

namespace {

// The local files of a drag; empty when it carries none.
std::vector<fs::path> DroppedPaths(const QMimeData* data) {
  std::vector<fs::path> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.emplace_back(url.toLocalFile().toStdString());
  }
  return paths;
}

}  // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (qobject_cast<CInkbriteView*>(event->source()) != nullptr) return;
  if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
  if (qobject_cast<CInkbriteView*>(event->source()) != nullptr) return;
  if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  // A page dragged out of one of our own windows and let go over it again
  // opens nothing.
  if (qobject_cast<CInkbriteView*>(event->source()) != nullptr) return;
  const std::vector<fs::path> paths = DroppedPaths(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  // Opened after the drop returns, so the source of the drag is not kept
  // waiting by a message box.
  QMetaObject::invokeMethod(
      this, [this, paths] { m_app.OpenDocumentFiles(paths); }, Qt::QueuedConnection);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  for (CChildFrame* child : AllWindows()) child->CloseWindow();
  QMainWindow::closeEvent(event);
}

}  // namespace inkbrite
