// SPDX-License-Identifier: GPL-2.0-or-later
// CInkbriteDoc: one picture file on screen. Decodes the file into a page,
// owns the directory list of its folder, and writes the enhanced page of its
// active view on Save and Save As. Turning a page opens the next file in the
// same document. A document is never marked modified: closing never asks to
// save.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>
#include <filesystem>
#include <vector>

#include "browse/dir_manager.h"
#include "core/dib_image.h"

class QWidget;

namespace inkbrite {

class CInkbriteView;

inline const char* const kSaveFailedMessage = "文件存盘失败。";
inline const char* const kSaveAsJpegQuestion = "图像文件只能保存为Jpeg格式，要继续吗？";
inline const char* const kReducedSaveMessage =
    "抱歉，减色后的图像只能保存为PNG、BMP或TIFF格式，请重新选择。";

class CInkbriteDoc {
 public:
  explicit CInkbriteDoc(QWidget* messageParent);
  ~CInkbriteDoc();
  CInkbriteDoc(const CInkbriteDoc&) = delete;
  CInkbriteDoc& operator=(const CInkbriteDoc&) = delete;

  // Decodes `path` into this document: 1 on success, 0 when unreadable
  // (with "文件读取失败。" unless read errors are suppressed). The path
  // becomes the document's either way, and joins the recent-file list.
  int OnOpenDocument(const std::filesystem::path& path);
  // Writes the saving view's page to `path`; 1 on success.
  int OnSaveDocument(const std::filesystem::path& path);
  void DeleteContents();

  // Save (the JPEG question for formats the writers lack), Save As with a
  // file dialog, and refresh of the directory list.
  void OnFileSave();
  void OnFileSaveAs();
  // Save As without the dialog (the chosen path).
  int SaveAs(const std::filesystem::path& path);
  void OnRefresh();

  const std::filesystem::path& PathName() const { return m_path; }
  QString Title() const;
  const DibImage& Page() const { return m_page; }
  bool SourceIsGrey() const { return m_greySource != 0; }
  CDirManager& DirList() { return m_dirList; }
  void SetShowReadError(bool show) { m_showReadError = show; }

  void AddView(CInkbriteView* view);
  void RemoveView(CInkbriteView* view);
  const std::vector<CInkbriteView*>& Views() const { return m_views; }
  void SetSavingView(CInkbriteView* view) { m_savingView = view; }
  CInkbriteView* SavingView() const { return m_savingView; }

 private:
  QWidget* m_messageParent;
  DibImage m_page;
  CInkbriteView* m_savingView = nullptr;
  int m_greySource = 0;
  CDirManager m_dirList;
  bool m_showReadError = true;
  std::filesystem::path m_path;
  std::vector<CInkbriteView*> m_views;
};

}  // namespace inkbrite
