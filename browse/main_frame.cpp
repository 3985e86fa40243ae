// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QResizeEvent>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>

#include "browse/about_dialog.h"
#include "browse/auto_play_dialog.h"
#include "browse/batch_dialog.h"
#include "browse/child_frame.h"
#include "browse/commands.h"
#include "browse/image_file_dialog.h"
#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/inkbrite_view.h"
#include "browse/order_dialog.h"
#include "browse/para_bar.h"
#include "browse/toolbar_icons.h"
#include "browse/ui_services.h"
#include "browse/window_tab_bar.h"
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

// Commands whose windows come with the parameter-editing work; their menu
// items are shown but disabled until then.
// Commands that need a document window.
constexpr int kDocumentCommands[] = {
    kCmdClose,        kCmdSave,           kCmdSaveAs,       kCmdFirstPage,  kCmdLastPage,
    kCmdPreviousPage, kCmdNextPage,       kCmdRefresh,      kCmdTopLeft,    kCmdBottomLeft,
    kCmdTopRight,     kCmdBottomRight,    kCmdSingleKey,    kCmdFitWindow,  kCmdNewWindow,
    kCmdCascade,      kCmdTileHorizontal, kCmdTileVertical, kCmdNextWindow, kCmdCloseAll,
    kCmdAutoPlay};

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

QString Filter(const char* label, const char* patterns) {
  QStringList list;
  for (const QString& p : QString::fromLatin1(patterns).split(QLatin1Char(';'))) {
    list << (p == QLatin1String("*.*") ? QStringLiteral("*") : AnyCase(p));
  }
  return QString::fromUtf8(label) + QStringLiteral(" (") + list.join(QLatin1Char(' ')) +
         QLatin1Char(')');
}

}  // namespace

CMainFrame::CMainFrame() : m_mdi(new QMdiArea(this)) {
  setWindowTitle(QStringLiteral("Inkbrite"));
  m_mdi->setBackground(Qt::black);
  m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(m_mdi);
  connect(m_mdi, &QMdiArea::subWindowActivated, this,
          [this](QMdiSubWindow* w) { OnSubWindowActivated(w); });
  CreateActions();
  CreateToolBar();
  CreateStatusBar();
  CParaBar::Views views;
  views.all = [] {
    std::vector<QObject*> all;
    if (TheApp()) {
      for (const auto& doc : TheApp()->Documents()) {
        for (CInkbriteView* view : doc->Views()) all.push_back(view);
      }
    }
    return all;
  };
  views.active = [this]() -> QObject* { return ActiveView(); };
  m_paraBar = new CParaBar(std::move(views), this);
  UpdateMenus();
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!m_paraBarPlaced) {
    m_paraBarPlaced = true;
    PlaceParaBar();
    m_paraBar->show();
    UpdateChecks();
  }
}

void CMainFrame::PlaceParaBar() {
  // Bottom edge on the bottom of the workspace, centred across it.
  const QRect client = m_mdi->geometry();
  const QSize bar = m_paraBar->frameGeometry().size();
  const QPoint topLeft(client.left() + (client.width() - bar.width()) / 2,
                       client.bottom() + 1 - bar.height());
  m_paraBar->move(mapToGlobal(topLeft));
}

void CMainFrame::UpdateChecks() {
  m_actions[kCmdParaBar]->setChecked(m_paraBar->isVisible());
  m_actions[kCmdFullScreen]->setChecked(m_fullScreen);
  CInkbriteView* view = ActiveView();
  m_actions[kCmdAutoPlay]->setChecked(view && view->IsAutoPlaying());
  m_actions[kCmdFitWindow]->setChecked(view && view->IsFitToWindow());
}

void CMainFrame::ToggleFullScreen() {
  setUpdatesEnabled(false);
  CChildFrame* child = ActiveChild();
  if (!m_fullScreen) {
    m_wasMaximised = isMaximized();
    m_savedGeometry = saveGeometry();
    m_statusBarWasVisible = statusBar()->isVisible();
    statusBar()->hide();
    // Menu bar, toolbar and parameter bar stay.
    showFullScreen();
    if (child) {
      m_childWasMaximised = child->isMaximized();
      child->showMaximized();
    }
    m_fullScreen = true;
  } else {
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

CMainFrame::~CMainFrame() = default;

// ---- actions, menus, toolbar, status bar ----

void CMainFrame::CreateActions() {
  auto make = [this](int id, std::initializer_list<QKeySequence> keys = {}) {
    auto* action = new QAction(CommandMenuText(id), this);
    const QStringList prompt = CommandPrompt(id).split(QLatin1Char('\n'));
    action->setStatusTip(prompt.value(0));
    action->setToolTip(prompt.value(1, prompt.value(0)));
    action->setIcon(CommandIcon(id));
    action->setShortcuts(QList<QKeySequence>(keys));
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    addAction(action);  // the keys work while the menu holding it is not shown
    m_actions[id] = action;
    return action;
  };
  const Qt::KeyboardModifier keypad = Qt::KeypadModifier;
  make(kCmdOpen, {QKeySequence(Qt::CTRL | Qt::Key_O)});
  make(kCmdClose);
  make(kCmdSave, {QKeySequence(Qt::CTRL | Qt::Key_S)});
  make(kCmdSaveAs);
  make(kCmdBatch);
  make(kCmdExit);
  make(kCmdToolbar)->setCheckable(true);
  make(kCmdStatusBar)->setCheckable(true);
  make(kCmdParaBar, {QKeySequence(Qt::CTRL | Qt::Key_A), QKeySequence(Qt::CTRL | Qt::Key_P)})
      ->setCheckable(true);
  make(kCmdDisplayOrder);
  make(kCmdFullScreen, {QKeySequence(Qt::CTRL | Qt::Key_F), QKeySequence(Qt::Key_Escape)})
      ->setCheckable(true);
  make(kCmdFitWindow, {QKeySequence(Qt::ControlModifier | keypad | Qt::Key_Minus)})
      ->setCheckable(true);
  make(kCmdAutoPlay, {QKeySequence(Qt::CTRL | Qt::Key_L)})->setCheckable(true);
  make(kCmdAutoPlaySettings);
  make(kCmdFirstPage, {QKeySequence(Qt::CTRL | Qt::Key_Home)});
  make(kCmdLastPage, {QKeySequence(Qt::CTRL | Qt::Key_End)});
  // The characters + and . and Enter turn forward, , and - back (from the
  // main keys and the keypad alike).
  make(kCmdNextPage, {QKeySequence(Qt::Key_Plus), QKeySequence(keypad | Qt::Key_Plus),
                      QKeySequence(Qt::Key_Period), QKeySequence(Qt::Key_Return),
                      QKeySequence(keypad | Qt::Key_Enter)});
  make(kCmdPreviousPage, {QKeySequence(Qt::Key_Comma), QKeySequence(Qt::Key_Minus),
                          QKeySequence(keypad | Qt::Key_Minus)});
  make(kCmdRefresh, {QKeySequence(Qt::Key_F5)});
  make(kCmdTopLeft, {QKeySequence(Qt::Key_Home)});
  make(kCmdBottomLeft, {QKeySequence(Qt::Key_End)});
  make(kCmdTopRight, {QKeySequence(Qt::Key_PageUp)});
  make(kCmdBottomRight, {QKeySequence(Qt::Key_PageDown)});
  make(kCmdSingleKey, {QKeySequence(Qt::Key_Space)});
  make(kCmdNewWindow);
  make(kCmdCascade);
  make(kCmdTileHorizontal);
  make(kCmdTileVertical);
  make(kCmdNextWindow, {QKeySequence(Qt::Key_Tab)});
  make(kCmdCloseAll);
  make(kCmdHelp);
  make(kCmdAbout);
  m_actions[kCmdToolbar]->setChecked(true);
  m_actions[kCmdStatusBar]->setChecked(true);

  for (int i = 0; i < kRecentFileCount; ++i) {
    auto* action = new QAction(this);
    connect(action, &QAction::triggered, this, [this, i] {
      if (TheApp() && i < TheApp()->RecentFiles().size()) {
        TheApp()->OpenDocumentFile(TheApp()->RecentFiles()[i].toStdString());
      }
    });
    m_recentActions.push_back(action);
  }
}

QAction* CMainFrame::Action(int id) const {
  const auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateMenus() {
  QMenuBar* bar = menuBar();
  bar->clear();
  auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
    for (int id : ids) {
      if (id == 0) {
        menu->addSeparator();
      } else if (id == kCmdRecentFile) {
        if (TheApp() && !TheApp()->RecentFiles().isEmpty()) {
          for (int i = 0; i < TheApp()->RecentFiles().size(); ++i)
            menu->addAction(m_recentActions[i]);
        } else {
          QAction* none = menu->addAction(CommandMenuText(kCmdRecentFile));
          none->setEnabled(false);
        }
      } else {
        menu->addAction(m_actions.at(id));
      }
    }
  };
  const bool doc = m_documentMenus;
  m_fileMenu = bar->addMenu(QStringLiteral("文件(&F)"));
  if (doc) {
    add(m_fileMenu,
        {kCmdOpen, kCmdClose, kCmdSave, kCmdSaveAs, 0, kCmdBatch, 0, kCmdRecentFile, 0, kCmdExit});
  } else {
    add(m_fileMenu, {kCmdOpen, 0, kCmdBatch, 0, kCmdRecentFile, 0, kCmdExit});
  }
  m_viewMenu = bar->addMenu(QStringLiteral("查看(&V)"));
  if (doc) {
    add(m_viewMenu, {kCmdToolbar, kCmdStatusBar, 0, kCmdParaBar, 0});
    m_pageMenu = m_viewMenu->addMenu(QStringLiteral("页面浏览"));
    add(m_pageMenu, {kCmdFirstPage, kCmdLastPage, kCmdPreviousPage, kCmdNextPage, kCmdRefresh, 0,
                     kCmdTopLeft, kCmdBottomLeft, kCmdTopRight, kCmdBottomRight, 0, kCmdSingleKey});
    add(m_viewMenu, {kCmdDisplayOrder, 0, kCmdFullScreen, kCmdFitWindow, 0, kCmdAutoPlay,
                     kCmdAutoPlaySettings});
    m_windowMenu = bar->addMenu(QStringLiteral("窗口(&W)"));
    add(m_windowMenu, {kCmdNewWindow, 0, kCmdCascade, kCmdTileHorizontal, kCmdTileVertical, 0,
                       kCmdNextWindow, 0, kCmdCloseAll});
  } else {
    add(m_viewMenu,
        {kCmdToolbar, kCmdStatusBar, 0, kCmdParaBar, kCmdDisplayOrder, 0, kCmdFullScreen});
    m_pageMenu = nullptr;
    m_windowMenu = nullptr;
  }
  m_helpMenu = bar->addMenu(QStringLiteral("帮助(&H)"));
  add(m_helpMenu, {kCmdHelp, kCmdAbout});
}

void CMainFrame::CreateToolBar() {
  m_toolBar = addToolBar(QStringLiteral("工具栏"));
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
  // The window tabs, one per document window; picking one activates it.
  m_tabBar = new CWindowTabBar(0x400C, bar);
  m_tabBar->setObjectName(QStringLiteral("ctl101"));
  bar->addPermanentWidget(m_tabBar);
  connect(m_tabBar, &CWindowTabBar::SelectionChanged, this, [this](int index) {
    auto* owner = static_cast<CChildFrame*>(m_tabBar->TabOwner(index));
    for (CChildFrame* child : Children()) {
      if (child == owner) ActivateChild(child);
    }
  });
  m_counter = new QLabel(bar);
  m_counter->setObjectName(QStringLiteral("pageCounter"));
  m_counter->setAlignment(Qt::AlignCenter);
  m_counter->setMinimumWidth(
      m_counter->fontMetrics().horizontalAdvance(QStringLiteral("1024/1024")) + 8);
  bar->addPermanentWidget(m_counter);
  for (const char* text : {"大写", "数字"}) {
    auto* label = new QLabel(QString::fromUtf8(text), bar);
    label->setAlignment(Qt::AlignCenter);
    bar->addPermanentWidget(label);
  }
  m_counter->clear();
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

void CMainFrame::AddChild(CChildFrame* child) {
  CChildFrame* active = ActiveChild();
  const bool maximised = active == nullptr || active->isMaximized();
  m_mdi->addSubWindow(child);
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
    setWindowTitle(child->TitleText() + QStringLiteral(" - Inkbrite"));
  } else {
    setWindowTitle(QStringLiteral("Inkbrite"));
  }
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

void CMainFrame::UpdatePageCounter() {
  CInkbriteDoc* doc = ActiveDocument();
  if (!doc) {
    m_counter->clear();
    return;
  }
  m_counter->setText(
      QStringLiteral("%1/%2").arg(doc->DirList().GetCurrentIndex()).arg(doc->DirList().GetCount()));
  if (CChildFrame* child = ActiveChild()) {
    setWindowTitle(child->TitleText() + QStringLiteral(" - Inkbrite"));
  }
}

void CMainFrame::UpdateRecentFileMenu() {
  if (!TheApp()) return;
  const QStringList& files = TheApp()->RecentFiles();
  for (int i = 0; i < static_cast<int>(m_recentActions.size()); ++i) {
    if (i < files.size()) {
      m_recentActions[i]->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
    }
  }
  CreateMenus();
}

void CMainFrame::UpdateMenus() {
  const bool hasDocument = !Children().empty();
  m_documentMenus = hasDocument;
  for (int id : kDocumentCommands) m_actions[id]->setEnabled(hasDocument);
  if (!hasDocument) {
    m_lastActive = nullptr;
    setWindowTitle(QStringLiteral("Inkbrite"));
  }
  UpdateRecentFileMenu();
  if (!TheApp()) CreateMenus();
  UpdatePageCounter();
  if (m_paraBar) UpdateChecks();
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

void CMainFrame::OnCommand(int id) {
  CInkbriteView* view = ActiveView();
  CInkbriteDoc* doc = ActiveDocument();
  switch (id) {
    case kCmdOpen: RunOpenDialog(); return;
    case kCmdExit: close(); return;
    case kCmdSave:
      if (doc) doc->OnFileSave();
      return;
    case kCmdSaveAs:
      if (doc) doc->OnFileSaveAs();
      return;
    case kCmdRefresh:
      if (doc) doc->OnRefresh();
      return;
    case kCmdClose:
      if (CChildFrame* child = ActiveChild()) child->close();
      return;
    case kCmdCloseAll:
      for (CChildFrame* child : Children()) child->close();
      return;
    case kCmdNextWindow: m_mdi->activateNextSubWindow(); return;
    case kCmdCascade: m_mdi->cascadeSubWindows(); return;
    case kCmdTileHorizontal: TileWindows(false); return;
    case kCmdTileVertical: TileWindows(true); return;
    case kCmdNewWindow:
      if (view && TheApp()) TheApp()->NewWindow(view);
      return;
    case kCmdToolbar:
      m_toolBar->setVisible(!m_toolBar->isVisible());
      m_actions[kCmdToolbar]->setChecked(m_toolBar->isVisible());
      return;
    case kCmdStatusBar:
      statusBar()->setVisible(!statusBar()->isVisible());
      m_actions[kCmdStatusBar]->setChecked(statusBar()->isVisible());
      return;
    case kCmdParaBar:
      if (m_paraBar->isVisible()) {
        m_paraBar->hide();
      } else {
        m_paraBar->show();
        m_paraBar->repaint();
      }
      UpdateChecks();
      return;
    case kCmdFullScreen: ToggleFullScreen(); return;
    case kCmdBatch: {
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
      return;
    }
    case kCmdAbout: {
      CAboutDialog dialog(this);
      dialog.exec();
      return;
    }
    case kCmdHelp: ShowHelp(this); return;
    case kCmdAutoPlaySettings: {
      CAutoPlayDialog dialog(this);
      dialog.exec();
      return;
    }
    case kCmdDisplayOrder: {
      std::vector<CDirManager*> lists;
      if (TheApp()) {
        for (const auto& d : TheApp()->Documents()) lists.push_back(&d->DirList());
      }
      ApplyDisplayOrder(this, lists);
      UpdatePageCounter();
      return;
    }
    default: break;
  }
  if (view && view->OnCommand(id)) {
    UpdatePageCounter();
    UpdateChecks();
  }
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
  } else if (TheApp() && TheApp()->RecentFiles().isEmpty() &&
             !CInkbriteApp::SampleFolder().empty()) {
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
  CImageFileMultSel dialog(this, QString::fromUtf8(kOpenDialogTitle), folder, OpenDialogFilters(),
                           preset);
  if (dialog.exec() != QDialog::Accepted) return;
  for (const fs::path& file : dialog.SelectedPaths()) {
    if (TheApp()) TheApp()->OpenDocumentFile(file);
  }
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The window tabs take three fifths of the status bar.
  m_tabBar->setFixedWidth(event->size().width() * 3 / 5);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  for (CChildFrame* child : Children()) child->close();
  QMainWindow::closeEvent(event);
}

}  // namespace inkbrite
