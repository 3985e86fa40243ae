// SPDX-License-Identifier: GPL-2.0-or-later
// CInkbriteApp: start-up, the open documents and the recent-file list.
//
// Start-up, in order: settings under "Quillmark's Tools"/"Inkbrite" with 4
// recent files, the display order, the random seed, the tone and kernel
// tables, the interface language (browse/services/language.h), the main window
// (maximised). No document is opened at start-up, not even one named on the
// command line.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <vector>

#include "browse/services/language.h"

namespace inkbrite {

class CChildFrame;
class CInkbriteDoc;
class CInkbriteView;
class CMainFrame;
class CInstanceServer;

inline constexpr int kRecentFileCount = 4;

class CInkbriteApp {
 public:
  CInkbriteApp();
  ~CInkbriteApp();
  CInkbriteApp(const CInkbriteApp&) = delete;
  CInkbriteApp& operator=(const CInkbriteApp&) = delete;

  // The organisation and program names the settings are kept under; set by
  // InitInstance, and before it by a start-up that reads a setting first.
  static void SetProgramNames();
  // Start-up. `show` false keeps the main window hidden (tests).
  void InitInstance(bool show = true);
  // One viewer at a time (single_instance.h): listens for the paths a
  // viewer started later hands over, or stops; the choice is kept. False
  // when the socket cannot be had.
  bool SetSingleInstance(bool on);
  bool IsSingleInstance() const;
  // Sets the interface language (and the engine's) while the viewer runs:
  // every window follows at once (QEvent::LanguageChange). False when the
  // English translation is missing (the interface stays Chinese).
  bool SetInterfaceLanguage(UiLanguage language);
  // Writes the settings; closes every window.
  void ExitInstance();

  // Opens `path` (a picture file or a book) in a new window, or activates
  // the window already showing it; in both cases a folder's list is
  // rebuilt. Null when the file cannot be read (no window is left;
  // "文件读取失败。", or a book's reason, unless `reportReadError` is false;
  // the text goes to `error` when given).
  // With `shelf` (a shelf's window) the window is that one, over its shelf.
  CInkbriteDoc* OpenDocumentFile(const std::filesystem::path& path, bool reportReadError = true,
                                 QString* error = nullptr, CChildFrame* shelf = nullptr);
  // Shows the shelf of `folder` (browse/widgets/shelf_view.h) in a window
  // of its own, or activates the window already showing it.
  CChildFrame* OpenShelf(const std::filesystem::path& folder);
  // Opens the book or folder of pages `path` chosen on the shelf of
  // `window`, at the page left there, in that window; false (the shelf
  // stays, the reason said) when it cannot be read.
  bool OpenFromShelf(CChildFrame* window, const std::filesystem::path& path);
  // The page a folder opens at: the page the reader left there when it is
  // still there, else its first page in the display order; empty when the
  // folder holds no page.
  static std::filesystem::path FolderStartPage(const std::filesystem::path& folder);
  // Opens each file, book or folder (at FolderStartPage; a folder of books
  // or folders and no loose page as a shelf) in its own window, in order; those that cannot be read
  // are named together in one message afterwards. The command line and drops come here too. At most
  // kMaxWindows windows are open at once: what is named beyond them is not opened, and one message
  // says how many were left (the pages of an open window's folder stay a page turn away).
  void OpenDocumentFiles(const std::vector<std::filesystem::path>& paths);
  static constexpr size_t kMaxWindows = 16;
  // Opens entry `index` of the recent-file list; an entry that no longer
  // opens leaves the list.
  void OpenRecentFile(int index);
  // A second window on the document of `view`.
  CInkbriteView* NewWindow(CInkbriteView* view);

  CMainFrame* MainFrame() const { return m_mainFrame.get(); }
  const std::vector<std::unique_ptr<CInkbriteDoc>>& Documents() const { return m_documents; }
  // Called by a frame when its last view goes: the document is deleted.
  void CloseDocument(CInkbriteDoc* doc);

  // The recent-file list, most recent first (at most 4 entries). It is read
  // at start-up, and written (only when it changed) a second after a change
  // and at exit, so a viewer that is killed loses at most the last second.
  const QStringList& RecentFiles() const { return m_recentFiles; }
  void AddToRecentFileList(const std::filesystem::path& path);
  void RemoveFromRecentFileList(const std::filesystem::path& path);
  // Called by a document whose path changed (a page turn).
  void OnDocumentPathChanged(CInkbriteDoc* doc);

  // The folder of the sample pages shipped with the program (empty when
  // there is none).
  static std::filesystem::path SampleFolder();

 private:
  // Opens one path named (a file, book or folder); false with the reason.
  bool OpenNamedPath(const std::filesystem::path& path, QString& reason);
  void LoadRecentFiles();
  void SaveRecentFiles();
  void SetRecentFiles(QStringList files);
  void TellReadingPlacesProblem();

  std::unique_ptr<CMainFrame> m_mainFrame;
  QTimer m_saveTimer;  // writes the recent-file list soon after it changes
  std::unique_ptr<CInstanceServer> m_instanceServer;
  std::vector<std::unique_ptr<CInkbriteDoc>> m_documents;
  QStringList m_recentFiles;
  QStringList m_storedRecentFiles;  // as the settings file holds them
  CInterfaceLanguage m_language;    // the translators of the chosen language
  bool m_placesProblemTold = false;
};

// The one application object (null before it is made and after it goes).
CInkbriteApp* TheApp();

// The files, books and folders named on a command line (`arguments` as
// QApplication leaves them, the program first): options (starting with "-")
// are skipped up to a "--"; file URLs become paths.
std::vector<std::filesystem::path> PathsFromArguments(const QStringList& arguments);

}  // namespace inkbrite
