// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/inkbrite_doc.h"

#include <QApplication>
#include <algorithm>
#include <new>
#include <string_view>

#include "browse/inkbrite_app.h"
#include "browse/inkbrite_view.h"
#include "browse/save_as_dialog.h"
#include "browse/ui_services.h"
#include "core/enhance.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "sources/book_source.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Shows the wait cursor for its lifetime.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

QString Qs(const fs::path& p) { return QString::fromStdString(p.string()); }

}  // namespace

CInkbriteDoc::CInkbriteDoc(QWidget* messageParent) : m_messageParent(messageParent) {}

CInkbriteDoc::~CInkbriteDoc() = default;

const DibImage& CInkbriteDoc::Page() const {
  static const DibImage kNoPage;
  return m_page ? *m_page : kNoPage;
}

void CInkbriteDoc::DeleteContents() {
  m_page.reset();
  m_greySource = 0;
}

void CInkbriteDoc::TakePage(DecodedPage page) {
  m_page = std::move(page.image);
  m_greySource = m_page ? page.grey : 0;
}

int CInkbriteDoc::OnOpenDocument(const fs::path& path) {
  if (IsBookFile(path)) return OpenBook(path);
  int ok = 0;
  {
    WaitCursor wait;
    DeleteContents();
    try {
      auto page = std::make_shared<DibImage>();
      ok = LoadImageFile(path, *page, &m_greySource);
      if (ok) m_page = std::move(page);
    } catch (const std::exception&) {
      ok = 0;
    }
  }
  m_entry.clear();
  return FinishOpening(ok != 0, UiText(kReadFailedMessage), path);
}

int CInkbriteDoc::OpenBook(const fs::path& path, std::string_view entry) {
  SourceError error = SourceError::kNone;
  std::shared_ptr<PageSource> book;
  {
    WaitCursor wait;
    book = OpenBookSource(path, error);
  }
  if (!book) {
    // Nothing of the document changes: the book is refused as a whole.
    const std::string_view text = SourceErrorText(error, BookKindOf(path) == kFormatPdfBook);
    m_lastError = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (m_showReadError) ShowMessage(m_messageParent, m_lastError);
    return 0;
  }
  m_prefetch.Clear();
  m_dirList.SetBook(std::move(book), entry);
  return OpenPage(m_dirList.PageAt(m_dirList.GetCurrentIndex()));
}

int CInkbriteDoc::OpenPage(const ListedPage& page) {
  if (page.empty()) return 0;
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  if (!page.InBook() && (!source || source->IsBook())) return OnOpenDocument(page.file);
  DecodedPage decoded;
  {
    WaitCursor wait;
    DeleteContents();
    decoded = m_prefetch.Take(source, page.index);
  }
  QString error = UiText(kReadFailedMessage);
  if (decoded.noMemory) error = UiText(kOutOfMemoryMessage);
  const bool ok = decoded.image != nullptr;
  TakePage(std::move(decoded));
  m_entry = page.entry;
  return FinishOpening(ok, error, page.file);
}

void CInkbriteDoc::PrefetchNext(int count) {
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  const int current = m_dirList.GetCurrentIndex();
  if (!source || current == 0) return;
  std::vector<size_t> pages;
  for (int i = 1; i <= count; ++i) {
    const ListedPage next = m_dirList.PageAt(current + i);
    if (!next.empty()) pages.push_back(next.index);
  }
  m_prefetch.Want(source, m_dirList.PageAt(current).index, std::move(pages));
}

int CInkbriteDoc::FinishOpening(bool ok, const QString& error, const fs::path& path) {
  m_lastError = ok ? QString() : error;
  if (!ok && m_showReadError) {
    ShowMessage(m_messageParent, error);
  } else {
    // The batch dialog starts in this page's folder (a book's folder).
    BatchFolders& folders = RememberedBatchFolders();
    folders.source = path.parent_path().empty() ? fs::path("/") : path.parent_path();
    if (folders.target.empty()) folders.target = folders.source;
  }
  // The path names the window and joins the recent files even when the file
  // could not be read.
  m_path = path;
  if (CInkbriteApp* app = TheApp()) {
    app->AddToRecentFileList(path);
    app->OnDocumentPathChanged(this);
  }
  for (CInkbriteView* view : m_views) {
    if (view->HasShownPage()) view->OnInitialUpdate();
  }
  PrefetchNext();
  return ok ? 1 : 0;
}

int CInkbriteDoc::OnSaveDocument(const fs::path& path) {
  if (m_savingView == nullptr) return 1;
  CParaBlock params;
  params.Assign(m_savingView->WorkingSet());
  SaveResult result = SaveResult::kFailed;
  {
    WaitCursor wait;
    result = WriteEnhancedPage(path, params, m_savingView->SpreadPart());
  }
  // The reason first, then the failure itself.
  switch (result) {
    case SaveResult::kSaved: return 1;
    case SaveResult::kReducedFormat:
      ShowMessage(m_messageParent, UiText(kReducedSaveMessage));
      return 0;
    case SaveResult::kUnsupportedExtension:
      ShowMessage(m_messageParent, QString::fromUtf8(kUnsupportedSaveExtensionMessage));
      break;
    case SaveResult::kNoMemory: ShowMessage(m_messageParent, UiText(kOutOfMemoryMessage)); break;
    case SaveResult::kFailed: break;
  }
  ShowMessage(m_messageParent, UiText(kSaveFailedMessage));
  return 0;
}

CInkbriteDoc::SaveResult CInkbriteDoc::WriteEnhancedPage(const fs::path& path,
                                                         const CParaBlock& params, int part) {
  const int mode = params.GetValue(kGreyScale);
  // Refused before the page is enhanced for nothing.
  if (IsReducedMode(ResolveKeepAsIs(mode, m_greySource != 0)) && !TakesReducedPages(path)) {
    return SaveResult::kReducedFormat;
  }
  try {
    // The full page from the file, enhanced and written exactly as the
    // batch job does (batch mode: greying and colour reduction happen in the
    // writing).
    DibImage page = Page();
    // The automatic source steps first, as the batch job runs them; of a
    // split spread, the page the window shows.
    DibImage second;
    PageFindings findings[2];
    if (PrepareSourcePages(params, page, second, findings).pages == 2 && part == 1) {
      page = std::move(second);
    }
    EnhanceHooks batchMode;
    batchMode.status = [](std::string_view) {};
    EnhanceImage(params, page, batchMode);
    SaveError error = SaveError::kNone;
    if (SavePageInColourMode(path, page, mode, m_greySource != 0, params.GetValue(kJpegQuality),
                             &error)) {
      return SaveResult::kSaved;
    }
    switch (error) {
      case SaveError::kUnsupportedExtension: return SaveResult::kUnsupportedExtension;
      case SaveError::kNoReducedPages: return SaveResult::kReducedFormat;
      default: return SaveResult::kFailed;
    }
  } catch (const std::bad_alloc&) {
    return SaveResult::kNoMemory;
  } catch (const std::exception&) {
    // A codec library's error is a failed save like any other: it must not
    // leave the command handler as an exception.
    return SaveResult::kFailed;
  }
}

bool CInkbriteDoc::ConfirmOverwritingSource() {
  if (!AskBeforeOverwritingSource()) return true;
  const QMessageBox::StandardButton answer =
      ShowMessage(m_messageParent, UiText(kOverwriteSourceQuestion),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll);
  if (answer == QMessageBox::YesToAll) SetAskBeforeOverwritingSource(false);
  return answer == QMessageBox::Yes || answer == QMessageBox::YesToAll;
}

void CInkbriteDoc::OnFileSave() {
  if (m_path.empty()) return;
  // A book is never written: its page goes to a file of its own.
  if (IsBook()) {
    OnFileSaveAs();
    return;
  }
  if (HasWriter(m_path)) {
    // The file the page was read from is replaced only when the user agrees.
    if (ConfirmOverwritingSource()) OnSaveDocument(m_path);
    return;
  }
  if (ShowMessage(m_messageParent, UiText(kSaveAsJpegQuestion),
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
    fs::path jpeg = m_path;
    jpeg += PrimaryExtension(kFormatJpeg);  // a.gif becomes a.gif.jpg; the document keeps its path
    OnSaveDocument(jpeg);
  }
}

void CInkbriteDoc::OnFileSaveAs() {
  // The name without folder and last extension; the chosen type adds its own.
  // A book's page is offered under its own name, beside the book.
  const QString name = IsBook() ? Qs(fs::path(m_entry).stem()) : Qs(m_path.stem());
  CSaveAsDialog dialog(m_messageParent, CSaveAsDialog::Filters(), name);
  if (IsBook()) dialog.setDirectory(Qs(m_path.parent_path()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveAs(dialog.selectedFiles().front().toStdString());
}

int CInkbriteDoc::SaveAs(const fs::path& path) { return OnSaveDocument(path); }

void CInkbriteDoc::OnRefresh() {
  if (IsBook()) {
    // The book read again, the cursor on the page shown.
    SourceError error = SourceError::kNone;
    if (std::shared_ptr<PageSource> book = OpenBookSource(m_path, error)) {
      m_prefetch.Clear();
      m_dirList.SetBook(std::move(book), m_entry);
    }
  } else if (!m_path.empty()) {
    m_dirList.SetCurrentFile(m_path);
  }
  if (CInkbriteApp* app = TheApp()) app->OnDocumentPathChanged(this);
}

QString CInkbriteDoc::Title() const {
  if (!IsBook() || m_entry.empty()) return Qs(m_path.filename());
  // "book.cbz — 012.jpg (12/180)"
  return Qs(m_path.filename()) + QStringLiteral(" — ") + QString::fromStdString(m_entry) +
         QStringLiteral(" (%1/%2)").arg(m_dirList.GetCurrentIndex()).arg(m_dirList.GetCount());
}

void CInkbriteDoc::AddView(CInkbriteView* view) { m_views.push_back(view); }

void CInkbriteDoc::RemoveView(CInkbriteView* view) {
  std::erase(m_views, view);
  if (m_savingView == view) m_savingView = nullptr;
}

}  // namespace inkbrite
