// SPDX-License-Identifier: GPL-2.0-or-later
// CMainFrame: the main window. A workspace of document windows (black
// behind them), the two menu sets (one while no document window is open, one
// while any is), the toolbar, and the status bar with its message pane, the
// pane for the window tabs, the page counter "%d/%d" and the key-lock panes.
//
// Commands come from menus, toolbar and keys as QActions keyed by command id;
// the main frame runs its own and hands page and view commands to the active
// view, document commands to the active document.
//
// Threads: user-interface thread only.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <filesystem>
#include <map>
#include <vector>

class QAction;
class QMenu;
class QToolBar;

namespace inkbrite {

class CChildFrame;
class CParaBar;
class CWindowTabBar;
class CInkbriteDoc;
class CInkbriteView;

// The open dialog's filters (label shown, patterns).
inline const char* const kOpenDialogTitle = "选择文件";

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  CMainFrame();
  ~CMainFrame() override;

  QMdiArea* Workspace() const { return m_mdi; }
  CChildFrame* ActiveChild() const;
  CInkbriteView* ActiveView() const;
  CInkbriteDoc* ActiveDocument() const;
  std::vector<CChildFrame*> Children() const;

  void AddChild(CChildFrame* child);
  void ActivateChild(CChildFrame* child);

  // Runs a command by id, as a menu item, a toolbar button or a key would.
  void OnCommand(int id);
  QAction* Action(int id) const;

  // The page counter pane: "%d/%d" of the active document's list, empty
  // with no window.
  void UpdatePageCounter();
  QString PageCounterText() const { return m_counter->text(); }

  // Rebuilds the recent-file items of the File menu.
  void UpdateRecentFileMenu();
  // Menus, checks and enabled states after windows came or went.
  void UpdateMenus();

  CParaBar* ParaBar() const { return m_paraBar; }
  CWindowTabBar* TabBar() const { return m_tabBar; }
  // A window's title changed, or the window goes: its tab follows.
  void OnChildTitleChanged(CChildFrame* child);
  void OnChildClosed(CChildFrame* child);
  bool IsFullScreen() const { return m_fullScreen; }

  // The open dialog's starting folder and preset name, as the rules give
  // them; the dialog itself is RunOpenDialog.
  void OpenDialogStart(QString& folder, QString& presetName) const;
  static QStringList OpenDialogFilters();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void RunOpenDialog();
  void OnSubWindowActivated(QMdiSubWindow* window);
  void TileWindows(bool sideBySide);
  void PlaceParaBar();
  void ToggleFullScreen();
  void UpdateChecks();

  QMdiArea* m_mdi;
  std::map<int, QAction*> m_actions;
  QMenu* m_fileMenu = nullptr;
  QMenu* m_viewMenu = nullptr;
  QMenu* m_pageMenu = nullptr;
  QMenu* m_windowMenu = nullptr;
  QMenu* m_helpMenu = nullptr;
  QToolBar* m_toolBar = nullptr;
  CWindowTabBar* m_tabBar = nullptr;
  QLabel* m_counter = nullptr;
  std::vector<QAction*> m_recentActions;
  CChildFrame* m_lastActive = nullptr;
  bool m_documentMenus = false;
  CParaBar* m_paraBar = nullptr;
  bool m_paraBarPlaced = false;
  // Full screen: the state to go back to.
  bool m_fullScreen = false;
  bool m_wasMaximised = false;
  bool m_statusBarWasVisible = true;
  bool m_childWasMaximised = false;
  QByteArray m_savedGeometry;
};

}  // namespace inkbrite
