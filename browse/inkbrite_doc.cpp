// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/inkbrite_doc.h"

#include <QApplication>
#include <QFileDialog>
#include <algorithm>

#include "browse/inkbrite_app.h"
#include "browse/inkbrite_view.h"
#include "browse/ui_services.h"
#include "core/enhance.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/reduce_save.h"

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

// The Save As dialog's filters, "label (pattern)", in the format table's
// order.
QStringList SaveAsFilters() {
  QStringList filters;
  for (const FileFilter& f : SaveFileFilters()) {
    const QString pattern =
        f.patterns == "*.*" ? QStringLiteral("*") : QString::fromStdString(f.patterns);
    filters << QString::fromUtf8(f.label.c_str()) + QStringLiteral(" (") + pattern +
                   QLatin1Char(')');
  }
  return filters;
}

}  // namespace

CInkbriteDoc::CInkbriteDoc(QWidget* messageParent) : m_messageParent(messageParent) {}

CInkbriteDoc::~CInkbriteDoc() = default;

void CInkbriteDoc::DeleteContents() {
  m_page.Clear();
  m_greySource = 0;
}

int CInkbriteDoc::OnOpenDocument(const fs::path& path) {
  int ok = 0;
  {
    WaitCursor wait;
    DeleteContents();
    try {
      ok = LoadImageFile(path, m_page, &m_greySource);
    } catch (const std::exception&) {
      ok = 0;
    }
    if (!ok) m_page.Clear();
  }
  if (!ok && m_showReadError) {
    ShowMessage(m_messageParent, QString::fromUtf8(kReadFailedMessage));
  } else {
    // The batch dialog starts in this page's folder.
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
  return ok;
}

int CInkbriteDoc::OnSaveDocument(const fs::path& path) {
  int ok = 1;
  {
    WaitCursor wait;
    if (m_savingView == nullptr) return 1;
    const int mode =
        ResolveKeepAsIs(m_savingView->WorkingSet().GetValue(kGreyScale), m_greySource != 0);
    const DibImage page = m_savingView->DisplayedPage();
    // A codec library's error is a failed save like any other: it must not
    // leave the command handler as an exception.
    try {
      if (!IsReducedMode(mode)) {
        ok = SaveImageFile(path, page, mode, m_savingView->WorkingSet().GetValue(kJpegQuality));
      } else {
        ColourReduction reduction{};
        if (!TakesReducedPages(path)) {
          ShowMessage(m_messageParent, QString::fromUtf8(kReducedSaveMessage));
          return 0;
        }
        DibImage copy = page;
        ok = ReductionForColourMode(mode, reduction) &&
                     ReduceColoursAndSave(copy, reduction.grey, reduction.bits, reduction.colours,
                                          path)
                 ? 1
                 : 0;
      }
    } catch (const std::exception&) {
      ok = 0;
    }
  }
  if (!ok) ShowMessage(m_messageParent, QString::fromUtf8(kSaveFailedMessage));
  return ok;
}

void CInkbriteDoc::OnFileSave() {
  if (m_path.empty()) return;
  if (HasWriter(m_path)) {
    OnSaveDocument(m_path);
    return;
  }
  if (ShowMessage(m_messageParent, QString::fromUtf8(kSaveAsJpegQuestion),
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
    fs::path jpeg = m_path;
    jpeg += PrimaryExtension(kFormatJpeg);  // a.gif becomes a.gif.jpg; the document keeps its path
    OnSaveDocument(jpeg);
  }
}

void CInkbriteDoc::OnFileSaveAs() {
  QFileDialog dialog(m_messageParent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setDefaultSuffix(QString::fromLatin1(PrimaryExtension(kFormatJpeg) + 1));
  dialog.setNameFilters(SaveAsFilters());
  dialog.selectFile(Qs(m_path.stem()));  // name without folder and last extension
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveAs(dialog.selectedFiles().front().toStdString());
}

int CInkbriteDoc::SaveAs(const fs::path& path) { return OnSaveDocument(path); }

void CInkbriteDoc::OnRefresh() {
  if (!m_path.empty()) m_dirList.SetCurrentFile(m_path);
  if (CInkbriteApp* app = TheApp()) app->OnDocumentPathChanged(this);
}

QString CInkbriteDoc::Title() const { return Qs(m_path.filename()); }

void CInkbriteDoc::AddView(CInkbriteView* view) { m_views.push_back(view); }

void CInkbriteDoc::RemoveView(CInkbriteView* view) {
  std::erase(m_views, view);
  if (m_savingView == view) m_savingView = nullptr;
}

}  // namespace inkbrite
