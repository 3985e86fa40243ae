// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/inkbrite_app.h"

#include <QApplication>
#include <QSettings>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <system_error>

#include "browse/dialogs/about_dialog.h"
#include "browse/inkbrite_doc.h"
#include "browse/reading/dir_manager.h"
#include "browse/reading/reading_places.h"
#include "browse/services/language.h"
#include "browse/services/single_instance.h"
#include "browse/services/state_files.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/child_frame.h"
#include "browse/widgets/inkbrite_view.h"
#include "browse/widgets/main_frame.h"
#include "browse/widgets/para_bar.h"
#include "browse/widgets/shelf_view.h"
#include "core/resample.h"
#include "core/tone.h"
#include "platform/program_paths.h"
#include "sources/folder_books.h"
#include "sources/page_source.h"
#include "sources/shelf.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

CInkbriteApp* g_app = nullptr;

constexpr const char* kRecentGroup = "Recent File List";

// The same file on disk (links and relative paths included).
bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

// What a recent entry stands for when one entry is kept per folder or book:
// the book, or a loose page's folder.
fs::path RecentGroupOf(const fs::path& entry) {
  return IsBookFile(entry) ? entry : entry.parent_path();
}

}  // namespace

CInkbriteApp* TheApp() { return g_app; }

CInkbriteApp::CInkbriteApp() {
  g_app = this;
  m_saveTimer.setSingleShot(true);
  m_saveTimer.setInterval(1000);
  QObject::connect(&m_saveTimer, &QTimer::timeout, [this] { SaveRecentFiles(); });
}

CInkbriteApp::~CInkbriteApp() {
  ExitInstance();
  g_app = nullptr;
}

void CInkbriteApp::SetProgramNames() {
  QCoreApplication::setOrganizationName(QStringLiteral("Quillmark's Tools"));
  QCoreApplication::setApplicationName(QStringLiteral("Inkbrite"));
  // Before the settings are first read.
  MakeStateFileSafe(SettingsFilePath().toStdString());
}

bool CInkbriteApp::SetSingleInstance(bool on) {
  SetSingleInstanceChosen(on);
  if (!on) {
    m_instanceServer.reset();
    return true;
  }
  if (!m_instanceServer) {
    m_instanceServer =
        std::make_unique<CInstanceServer>([this](const std::vector<fs::path>& paths) {
          if (!m_mainFrame) return;
          // What the later start named opens here, and this viewer comes forward.
          if (m_mainFrame->isMinimized()) m_mainFrame->showNormal();
          m_mainFrame->raise();
          m_mainFrame->activateWindow();
          if (!paths.empty()) OpenDocumentFiles(paths);
        });
  }
  return m_instanceServer->Listen();
}

bool CInkbriteApp::IsSingleInstance() const {
  return m_instanceServer && m_instanceServer->IsListening();
}

void CInkbriteApp::InitInstance(bool show) {
  SetProgramNames();
  LoadRecentFiles();
  CDirManager::LoadOrder();
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  BuildToneTables();
  BuildKernelTables();

  QApplication::setWindowIcon(InkbriteIcon());
  // The interface's language, before any window or text is made.
  if (!m_language.Apply(StartupLanguage())) {
    std::fputs(
        "inkbrite: the English translation (translations/inkbrite_en.qm) was not found; "
        "the interface stays in Chinese\n",
        stderr);
  }
  m_mainFrame = std::make_unique<CMainFrame>(*this);
  if (SingleInstanceChosen()) SetSingleInstance(true);
  m_mainFrame->UpdateMenus();
  // No document at start-up, not even a file named on the command line.
  if (show) {
    m_mainFrame->showMaximized();
    m_mainFrame->repaint();
  }
}

bool CInkbriteApp::SetInterfaceLanguage(UiLanguage language) {
  if (language == CurrentUiLanguage()) return true;
  if (m_language.Apply(language)) return true;
  m_language.Apply(UiLanguage::kChinese);  // all of it in one language
  return false;
}

void CInkbriteApp::ExitInstance() {
  if (m_mainFrame) {
    for (CChildFrame* child : m_mainFrame->AllWindows()) child->CloseWindow();
    SaveRecentFiles();
    m_mainFrame.reset();
  }
  m_documents.clear();
}

// Once a run: why the reading places are not in the library's database
// (kept in the places file instead), or what was done to open it.
void CInkbriteApp::TellReadingPlacesProblem() {
  if (m_placesProblemTold || !m_mainFrame) return;
  const std::string problem = ReadingPlacesProblem();
  if (problem.empty()) return;
  m_placesProblemTold = true;
  ShowMessage(m_mainFrame.get(), QString::fromStdString(problem));
}

CInkbriteDoc* CInkbriteApp::OpenDocumentFile(const fs::path& path, bool reportReadError,
                                             QString* error, CChildFrame* shelf) {
  if (path.empty() || !m_mainFrame) return nullptr;
  std::error_code ec;
  const fs::path full = fs::absolute(path, ec).lexically_normal();
  // An open file only activates its window.
  for (const auto& doc : m_documents) {
    if (!doc->Views().empty() && SameFile(doc->PathName(), full)) {
      for (CChildFrame* child : m_mainFrame->Children()) {
        if (child->View()->Document() == doc.get()) {
          m_mainFrame->ActivateChild(child);
          break;
        }
      }
      if (!doc->IsBook()) doc->DirList().SetCurrentFile(doc->PathName());
      m_mainFrame->UpdatePageCounter();
      return doc.get();
    }
  }
  auto doc = std::make_unique<CInkbriteDoc>(m_mainFrame.get());
  CInkbriteDoc* made = doc.get();
  // A book newly shown in the document takes the settings attached to it or
  // to its series (its page turns do not), and each page its own settings
  // ("只用于此页") over them.
  auto followed = std::make_shared<fs::path>();
  doc->SetHooks(
      {[this, made, followed](const fs::path& opened) {
         AddToRecentFileList(opened);
         TellReadingPlacesProblem();
         if (!made->IsBook() || !m_mainFrame || m_mainFrame->ParaBar() == nullptr) {
           return;
         }
         QString note;
         if (opened != *followed) {
           *followed = opened;
           note = m_mainFrame->ParaBar()->FollowBook(opened);
         }
         // A page with settings of its own ("只用于此页") takes them.
         const QString page = m_mainFrame->ParaBar()->FollowPage(opened, made->EntryName());
         if (!page.isEmpty()) note = note.isEmpty() ? page : note + "  " + page;
         if (!note.isEmpty()) m_mainFrame->ShowNote(note);
       },
       [this, made] { OnDocumentPathChanged(made); },
       [this](const QString& message) {
         if (m_mainFrame) {
           m_mainFrame->ShowNote(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' ')));
         }
       }});
  doc->SetShowReadError(reportReadError);
  if (!doc->OnOpenDocument(full)) {
    if (error) *error = doc->LastError();
    return nullptr;  // no window for an unreadable file or book
  }
  doc->SetShowReadError(true);  // the pages turned later report their own failures
  CInkbriteDoc* result = doc.get();
  m_documents.push_back(std::move(doc));
  auto* view = new CInkbriteView(result);
  if (shelf) {
    shelf->ShowBook(view);
    m_mainFrame->OnShelfBookShown(shelf);
  } else {
    m_mainFrame->AddChild(new CChildFrame(view));
  }
  view->OnInitialUpdate();
  if (!result->IsBook()) {
    result->DirList().SetCurrentFile(full);
    result->OnListed();
    result->PrefetchNext();
  }
  OnDocumentPathChanged(result);
  return result;
}

CInkbriteView* CInkbriteApp::NewWindow(CInkbriteView* view) {
  if (!view || !view->Document() || !m_mainFrame) return nullptr;
  CInkbriteDoc* doc = view->Document();
  auto* second = new CInkbriteView(doc);
  auto* child = new CChildFrame(second);
  m_mainFrame->AddChild(child);
  second->OnInitialUpdate();
  OnDocumentPathChanged(doc);
  return second;
}

void CInkbriteApp::CloseDocument(CInkbriteDoc* doc) {
  std::erase_if(m_documents, [doc](const auto& d) { return d.get() == doc; });
  if (m_mainFrame) m_mainFrame->UpdatePageCounter();
}

bool CInkbriteApp::OpenNamedPath(const fs::path& path, QString& reason) {
  try {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) return OpenDocumentFile(path, false, &reason) != nullptr;
    // A folder opens at the page left there, else at its first page.
    const fs::path page = FolderStartPage(path);
    if (!page.empty() && OpenDocumentFile(page, false, &reason)) return true;
    // A folder of books or folders and no loose page: its shelf.
    if (page.empty()) {
      if (Shelf::List(path).size() > 0 && OpenShelf(path)) return true;
      reason = UiText(kEmptyFolderMessage);
    }
  } catch (const std::bad_alloc&) {
    reason = UiText(kOutOfMemoryMessage);
  } catch (const std::system_error&) {
    reason = UiText(kOutOfMemoryMessage);  // no thread to be had
  }
  return false;
}

CChildFrame* CInkbriteApp::OpenShelf(const fs::path& folder) {
  if (!m_mainFrame) return nullptr;
  std::error_code ec;
  const fs::path full = fs::absolute(folder, ec).lexically_normal();
  for (CChildFrame* window : m_mainFrame->AllWindows()) {
    if (window->Shelf() && window->Shelf()->Root() == full) {
      window->ReturnToShelf();
      m_mainFrame->Workspace()->setActiveSubWindow(window);
      return window;
    }
  }
  auto* shelf = new CShelfView(full);
  auto* window = new CChildFrame(shelf);
  QObject::connect(shelf, &CShelfView::bookChosen, window,
                   [this, window](const fs::path& path) { OpenFromShelf(window, path); });
  m_mainFrame->AddShelf(window);
  shelf->setFocus();
  AddToRecentFileList(full);
  return window;
}

bool CInkbriteApp::OpenFromShelf(CChildFrame* window, const fs::path& path) {
  if (!window || window->View()) return false;
  std::error_code ec;
  // A folder of pages opens at the page left there.
  const fs::path file = fs::is_directory(path, ec) ? FolderStartPage(path) : path;
  QString reason;
  if (!file.empty() && OpenDocumentFile(file, false, &reason, window)) return true;
  ShowMessage(m_mainFrame.get(), reason.isEmpty() ? UiText(kReadFailedMessage) : reason);
  return false;
}

namespace {

// A file's own reason in the message of its failure: a book's reason as it
// is, the reader's after "文件读取失败。" without its label; empty when the
// message says no more than that.
QString OwnReason(const QString& message) {
  const QString plain = UiText(kReadFailedMessage);
  if (!message.startsWith(plain)) return message;
  QString rest = message.mid(plain.size()).trimmed();
  const QString label = QCoreApplication::translate("CInkbriteDoc", "原因：%1").arg(QString());
  if (rest.startsWith(label)) rest.remove(0, label.size());
  return rest;
}

}  // namespace

void CInkbriteApp::OpenDocumentFiles(const std::vector<fs::path>& paths) {
  QStringList failed;
  QStringList reasons;
  size_t left = 0;
  for (const fs::path& path : paths) {
    if (m_mainFrame && m_mainFrame->Children().size() >= kMaxWindows) {
      ++left;
      continue;
    }
    QString reason;
    if (OpenNamedPath(path, reason)) continue;
    if (reason.isEmpty()) reason = UiText(kReadFailedMessage);
    // A book refused for a reason of its own, or a file its reader gave a
    // reason for, says why.
    const QString name = QString::fromStdString(path.filename().string());
    const QString own = OwnReason(reason);
    failed << (own.isEmpty()
                   ? name
                   : QCoreApplication::translate("CInkbriteApp", "%1：%2").arg(name, own));
    reasons << reason;
  }
  if (left > 0) {
    ShowMessage(m_mainFrame.get(),
                QCoreApplication::translate("CInkbriteApp",
                                            "最多同时打开 %1 个窗口：另有 %2 个文件没有打开。")
                    .arg(kMaxWindows)
                    .arg(left));
  }
  if (failed.isEmpty()) return;
  // One file: its reason; several: which ones failed, and why.
  QString text = paths.size() == 1 ? reasons.front() : UiText(kReadFailedMessage);
  if (paths.size() > 1) {
    // Several files chosen together: which ones failed, in one message.
    constexpr int kNamesShown = 20;
    text +=
        QStringLiteral("\n\n") + QStringList(failed.mid(0, kNamesShown)).join(QLatin1Char('\n'));
    if (failed.size() > kNamesShown) {
      text += QCoreApplication::translate("CInkbriteApp", "\n……（共%1个文件）").arg(failed.size());
    }
  }
  ShowMessage(m_mainFrame.get(), text);
}

fs::path CInkbriteApp::FolderStartPage(const fs::path& folder) {
  std::error_code ec;
  const fs::path full = fs::absolute(folder, ec).lexically_normal();
  CDirManager list;
  list.BuildList(full);
  const std::string left = LoadReadingPlace(list.Directory()).page;
  for (int i = 1; !left.empty() && i <= list.GetCount(); ++i) {
    const ListedPage page = list.PageAt(i);
    if (page.file.filename() == left) return page.file;
  }
  return list.PageAt(1).file;
}

std::vector<fs::path> PathsFromArguments(const QStringList& arguments) {
  std::vector<fs::path> paths;
  bool options = true;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (options && argument == QStringLiteral("--")) {
      options = false;  // everything after "--" names a file
      continue;
    }
    if (options && argument.startsWith(QLatin1Char('-'))) continue;
    // A file manager may hand over file URLs.
    const QString local =
        argument.startsWith(QStringLiteral("file:")) ? QUrl(argument).toLocalFile() : argument;
    if (!local.isEmpty()) paths.emplace_back(local.toStdString());
  }
  return paths;
}

void CInkbriteApp::OpenRecentFile(int index) {
  if (index < 0 || index >= m_recentFiles.size()) return;
  const fs::path path = m_recentFiles[index].toStdString();
  if (!OpenDocumentFile(path)) RemoveFromRecentFileList(path);
}

void CInkbriteApp::AddToRecentFileList(const fs::path& path) {
  const QString entry = QString::fromStdString(path.string());
  QStringList files = m_recentFiles;
  files.removeAll(entry);
  if (RecentPerFolder()) {
    // The entry of the same folder (a loose page) or book gives way.
    const fs::path group = RecentGroupOf(path);
    files.removeIf([&](const QString& file) { return RecentGroupOf(file.toStdString()) == group; });
  }
  files.prepend(entry);
  while (files.size() > kRecentFileCount) files.removeLast();
  SetRecentFiles(std::move(files));
}

void CInkbriteApp::RemoveFromRecentFileList(const fs::path& path) {
  QStringList files = m_recentFiles;
  files.removeAll(QString::fromStdString(path.string()));
  SetRecentFiles(std::move(files));
}

void CInkbriteApp::SetRecentFiles(QStringList files) {
  if (files == m_recentFiles) return;
  m_recentFiles = std::move(files);
  if (m_mainFrame) m_mainFrame->UpdateRecentFileMenu();
  m_saveTimer.start();
}

void CInkbriteApp::OnDocumentPathChanged(CInkbriteDoc* doc) {
  if (!m_mainFrame) return;
  for (CChildFrame* child : m_mainFrame->Children()) {
    if (child->View()->Document() == doc) child->OnUpdateFrameTitle();
  }
  m_mainFrame->UpdatePageCounter();
}

void CInkbriteApp::LoadRecentFiles() {
  QSettings settings;
  settings.beginGroup(QString::fromUtf8(kRecentGroup));
  m_recentFiles.clear();
  for (int i = 1; i <= kRecentFileCount; ++i) {
    const QString file = settings.value(QStringLiteral("File%1").arg(i)).toString();
    if (!file.isEmpty()) m_recentFiles << file;
  }
  m_storedRecentFiles = m_recentFiles;
}

void CInkbriteApp::SaveRecentFiles() {
  m_saveTimer.stop();
  if (m_recentFiles == m_storedRecentFiles) return;
  m_storedRecentFiles = m_recentFiles;
  QSettings settings;
  settings.beginGroup(QString::fromUtf8(kRecentGroup));
  for (int i = 1; i <= kRecentFileCount; ++i) {
    const QString key = QStringLiteral("File%1").arg(i);
    if (i <= m_recentFiles.size()) {
      settings.setValue(key, m_recentFiles[i - 1]);
    } else {
      settings.remove(key);
    }
  }
}

fs::path CInkbriteApp::SampleFolder() {
  std::error_code ec;
  const fs::path samples = ShippedFilePath("samples");
  return fs::is_directory(samples, ec) ? samples : fs::path();
}

}  // namespace inkbrite
