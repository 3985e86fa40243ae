// SPDX-License-Identifier: GPL-2.0-or-later
// CMainFrame: the main window. A workspace of document windows (black
// behind them), the two menu sets (one while no document window is open, one
// while any is), the toolbar, and the status bar with its message pane, the
// pane for the window tabs, the page counter "%d/%d" and the key-lock panes.
//
// Every command is one QAction (Action(id), the id naming its texts, icon
// and place in the menus and the toolbar) whose triggered signal is
// connected to its own slot: the frame's, or the active view's (page,
// corner, zoom, turn, before/after, auto-play), followed by the page
// counter and the checks. The view's own requests (pageTurnRequested,
// pageDoubleClicked ...) are connected in ConnectView.
//
// Threads: user-interface thread only.
#pragma once

#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <array>
#include <filesystem>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "browse/services/language.h"

class QAction;
class QMenu;
class QToolBar;

namespace inkbrite {

class CChildFrame;
class CInkbriteApp;
class CParaBar;
class CReaderFullScreen;
class CThumbnailStrip;
class CWindowTabBar;
class CInkbriteDoc;
class CInkbriteView;

// The open dialog's filters (label shown, patterns).
inline const char* const kOpenDialogTitle = QT_TRANSLATE_NOOP("Messages", "选择文件");

class CHistogramDock;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // `app`: the application the frame serves (its documents, recent files,
  // language and single-viewer choice); it outlives the frame.
  explicit CMainFrame(CInkbriteApp& app);
  ~CMainFrame() override;

  QMdiArea* Workspace() const { return m_mdi; }
  CChildFrame* ActiveChild() const;
  CInkbriteView* ActiveView() const;
  CInkbriteDoc* ActiveDocument() const;
  std::vector<CChildFrame*> Children() const;

  // Takes a document window into the workspace (and follows its signals).
  void AddChild(CChildFrame* child);
  // A shelf's window (no document while the shelf shows); a book opened in
  // it (its view now the window's), and closed again.
  void AddShelf(CChildFrame* child);
  void OnShelfBookShown(CChildFrame* child);
  // Every window, shelves showing no book among them.
  std::vector<CChildFrame*> AllWindows() const;
  void ActivateChild(CChildFrame* child);

  // The action of command `id` (menu item, toolbar button and keys; trigger()
  // runs the command), null for an id without one.
  QAction* Action(int id) const;

  // The page counter pane: "%d/%d" of the active document's list, empty
  // with no window.
  void UpdatePageCounter();
  // Shows what the automatic steps found on the active window's page.
  void UpdateFindingsPane();
  QString FindingsPaneText() const;
  // A passing note over the status bar's left pane (a few seconds), and the
  // note shown now (empty when none).
  void ShowNote(const QString& text);
  // The active window's zoom ("适合页面 42%"), in a pane of its own.
  void UpdateZoomPane();
  QString ZoomPaneText() const;
  QString NoteText() const;
  // The histogram dock (查看 > 直方图), following the active window's page.
  CHistogramDock* HistogramDock() const { return m_histogramDock; }
  void UpdateHistogram();
  QString PageCounterText() const { return m_counter->text(); }

  // The recent-file items of the File menus follow the application's list.
  void UpdateRecentFileMenu();
  QAction* RecentFileAction(int index) const { return m_recentActions.at(index); }
  // Menus, checks and enabled states after windows came or went: the
  // document menus while any document window is open, the short ones
  // otherwise. Both sets are built once.
  void UpdateMenus();
  // The menus of the menu bar as shown now.
  QList<QMenu*> MenuBarMenus() const;
  // The Help menu's language submenu ("中文", "English", follow the
  // system): a choice is kept in the settings for the next start and
  // applies at once to every window (Retranslate, on QEvent::LanguageChange).
  QMenu* LanguageMenu() const { return m_languageMenu; }
  // Lists the open windows at the end of the 窗口 menu, the active one
  // checked; choosing one activates it.
  void UpdateWindowList();
  QMenu* WindowMenu() const { return m_windowMenu; }

  // The Caps Lock and Num Lock panes: "大写" and "数字" while the lock is
  // on, empty while it is off or where the platform cannot tell.
  QString CapsLockPaneText() const { return m_capsPane->text(); }
  QString NumLockPaneText() const { return m_numPane->text(); }

  CParaBar* ParaBar() const { return m_paraBar; }
  // The thumbnail strip of the active window's pages (shown under 查看,
  // the choice kept in the settings).
  CThumbnailStrip* ThumbnailStrip() const { return m_thumbnails; }
  // Opens the page at `position` (1-based in the display order) of the
  // active window's list, as a click on its thumbnail does.
  void OpenListedPage(int position);
  CWindowTabBar* TabBar() const { return m_tabBar; }
  bool IsFullScreen() const { return m_fullScreen; }
  // The bar stands at its own place over room kept free for it.
  bool IsParaBarDocked() const { return m_paraBarDocked; }
  // The reader's full screen (F11): only the page on black.
  bool IsReaderFullScreen() const;
  const CReaderFullScreen* ReaderFullScreen() const { return m_reader; }

  // The open dialog's starting folder and preset name, as the rules give
  // them; the dialog itself is RunOpenDialog.
  void OpenDialogStart(QString& folder, QString& presetName) const;
  static QStringList OpenDialogFilters();

 protected:
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Files, folders and books dropped on the window open as the command
  // line's do.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private slots:
  // The commands, one slot each, in the order of the menus.
  void RunOpenDialog();
  void CloseActiveWindow();
  void SaveActivePage();
  void SaveActivePageAs();
  void ToggleAskBeforeOverwrite();
  void RunBatchDialog();
  void ToggleRecentPerFolder();
  void ExitProgram();
  void ToggleToolBar();
  void ToggleStatusBar();
  void ToggleParaBar();
  void RefreshFolder();
  void RunDisplayOrderDialog();
  // Ctrl+F and Esc: the full screen, or out of the reader's.
  void OnFullScreenKey();
  void ToggleReaderFullScreen();
  void ToggleDoubleClickFullScreen();
  void ToggleThumbnails();
  void ToggleCentreSmallPages();
  void ToggleHistogram();
  void ToggleClipWarnings();
  void ShowSinglePage();
  void ShowTwoPages();
  void ToggleCoverAlone();
  void ToggleRightToLeft();
  void RunAutoPlaySettings();
  void OpenNewWindow();
  void CascadeWindows();
  void TileWindowsAbove();
  void TileWindowsSideBySide();
  void ActivateNextWindow();
  void CloseAllWindows();
  void ToggleSingleInstance();
  void ShowHelpPage();
  void ShowShortcutList();
  void ShowAboutBox();

 private:
  // The command table (main_frame.cpp) and the actions made from it.
  struct CommandRow;
  static std::span<const CommandRow> CommandRows();
  void CreateActions();
  void CreateRecentFileActions();
  void CreateMenus();
  void CreateLanguageMenu();
  void OnLanguageChosen(const QString& code);
  // `title`: the source text (tr() gives the shown one, also after a change
  // of language).
  QMenu* CreateMenu(const char* title, std::initializer_list<int> ids, QMenu* submenu = nullptr);
  // The texts of every part in the interface language of now; the parameter
  // bar is made anew (its layout follows its texts).
  void Retranslate();
  void CreateParaBar();
  void RebuildParaBar();
  void SizeLockPanes();
  void ShowMenuSet(bool documentMenus);
  void CreateToolBar();
  void CreateStatusBar();
  // A view command on the active view, then the counter and the checks.
  void RunViewCommand(void (CInkbriteView::*command)());
  // A change of the active document's layout, then the counter and checks.
  void ChangeLayout(void (*change)(CInkbriteDoc& doc));
  // A program-wide choice turned over, the views repainted when it shows
  // in them, then the checks.
  void ToggleChoice(bool (*get)(), void (*set)(bool on), bool repaint = false);
  void OnSubWindowActivated(QMdiSubWindow* window);
  void TileWindows(bool sideBySide);
  void SetFrameTitle(const QString& title);
  void UpdateFrameTitle();
  void PlaceParaBar();
  // The room kept free for the bar at the workspace's bottom while it stands
  // at its own place there (the page and the window tabs then lie outside
  // it); none while it stands where the user put it, or is hidden.
  void UpdateParaBarRoom();
  void OnParaBarMovedByUser(QPoint topLeft);
  void ShowParaBarAtStart();
  void ToggleFullScreen();
  void CreateThumbnailStrip();
  void ShowThumbnailStrip(bool shown);
  void ShowViewScrollBars(bool shown);
  void UpdateChecks();
  // A window's signals: its title and its going (its tab follows), its
  // book over a shelf going, its document left without a view.
  void ConnectChild(CChildFrame* child);
  void OnChildTitleChanged(CChildFrame* child);
  void OnChildBookClosed(CChildFrame* child);
  void OnChildClosed(CChildFrame* child);
  // The view's signals to the panes, the counter and the menus.
  void ConnectView(CInkbriteView* view);
  void FollowPageTurn();
  void UpdateLockPanes();

  CInkbriteApp& m_app;
  QMdiArea* m_mdi;
  std::map<int, QAction*> m_actions;
  // The menus while no document window is open [0] and while any is [1].
  std::array<std::vector<QMenu*>, 2> m_menuSets;
  std::vector<std::pair<QMenu*, const char*>> m_menuTitles;  // each menu's source title
  UiLanguage m_language;                                     // the language of the texts shown
  int m_shownMenuSet = -1;
  QToolBar* m_toolBar = nullptr;
  CWindowTabBar* m_tabBar = nullptr;
  QLabel* m_counter = nullptr;
  QLabel* m_findings = nullptr;  // what the automatic steps found
  QTimer m_learnedSpin;          // turns the pane's wheel while a learned step runs
  int m_learnedTurn = 0;
  CHistogramDock* m_histogramDock = nullptr;
  QLabel* m_zoomPane = nullptr;
  QLabel* m_capsPane = nullptr;
  QLabel* m_numPane = nullptr;
  QTimer m_lockTimer;
  std::vector<QAction*> m_recentActions;
  QAction* m_noRecentFiles = nullptr;
  QMenu* m_languageMenu = nullptr;
  QAction* m_followSystem = nullptr;  // its third item
  // The 窗口 menu and its items naming the open windows (made when it opens).
  QMenu* m_windowMenu = nullptr;
  std::vector<QAction*> m_windowListActions;
  CChildFrame* m_lastActive = nullptr;
  // The title the frame shows; the workspace may not add to it.
  QString m_title;
  bool m_fixingTitle = false;
  CParaBar* m_paraBar = nullptr;
  CThumbnailStrip* m_thumbnails = nullptr;
  // The bar is first shown once the frame has been shown and has kept its
  // size and place for a moment (a window manager maximises it only after
  // it appears).
  QTimer m_paraBarTimer;
  bool m_paraBarPlaced = false;
  // The bar is to be shown once the frame settles: its room is kept already,
  // so that a page opened meanwhile is laid out once, not again under it.
  bool m_paraBarDue = true;
  // At its own place on the workspace's bottom (else where the user left
  // it, kept in the settings).
  bool m_paraBarDocked = true;
  // Full screen: the state to go back to.
  bool m_fullScreen = false;
  bool m_wasMaximised = false;
  bool m_statusBarWasVisible = true;
  bool m_childWasMaximised = false;
  QByteArray m_savedGeometry;
  CReaderFullScreen* m_reader = nullptr;
};

}  // namespace inkbrite
