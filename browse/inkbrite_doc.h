// SPDX-License-Identifier: GPL-2.0-or-later
// CInkbriteDoc: one picture file on screen. Decodes the file into a page,
// owns the directory list of its folder, and writes the enhanced page on Save
// and Save As. Turning a page opens the next file in the same document. A
// document is never marked modified: closing never asks to save.
//
// Saving writes the page at its full size, enhanced with the parameters its
// active view draws it with, exactly as the batch job converts a file with
// those parameters (the copy fitted to the window is for the screen only).
// Save writes over the file the page was read from only after asking, unless
// the user has turned the question off.
//
// Threads: user-interface thread only.
#pragma once

#include <QString>
#include <filesystem>
#include <memory>
#include <vector>

#include "browse/dir_manager.h"
#include "core/dib_image.h"
#include "core/para_block.h"

class QWidget;

namespace inkbrite {

class CInkbriteView;

inline const char* const kSaveFailedMessage = "文件存盘失败。";
inline const char* const kSaveAsJpegQuestion = "图像文件只能保存为Jpeg格式，要继续吗？";
inline const char* const kReducedSaveMessage =
    "抱歉，减色后的图像只能保存为PNG、BMP或TIFF格式，请重新选择。";
// Asked before Save writes over the file the page was read from.
inline const char* const kOverwriteSourceQuestion =
    "保存会用处理后的图像替换原文件，原图将无法恢复。要继续吗？";

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
  // Writes the page, enhanced with the saving view's working set, to
  // `path`; 1 on success (and when no view is saving: nothing is written).
  // A failure shows its reason (the writers' extension message, the
  // colour-reduction message, lack of memory) and then "文件存盘失败。"
  // (the colour-reduction message alone).
  int OnSaveDocument(const std::filesystem::path& path);
  void DeleteContents();

  // Save (the overwrite question for the source file, the JPEG question for
  // formats the writers lack), Save As with a file dialog, and refresh of
  // the directory list.
  void OnFileSave();
  void OnFileSaveAs();
  // Save As without the dialog (the chosen path).
  int SaveAs(const std::filesystem::path& path);
  void OnRefresh();

  const std::filesystem::path& PathName() const { return m_path; }
  QString Title() const;
  // The decoded page; empty (or null) when the file could not be read.
  const DibImage& Page() const;
  std::shared_ptr<const DibImage> SharedPage() const { return m_page; }
  bool SourceIsGrey() const { return m_greySource != 0; }
  CDirManager& DirList() { return m_dirList; }
  void SetShowReadError(bool show) { m_showReadError = show; }
  bool ShowsReadErrors() const { return m_showReadError; }

  void AddView(CInkbriteView* view);
  void RemoveView(CInkbriteView* view);
  const std::vector<CInkbriteView*>& Views() const { return m_views; }
  void SetSavingView(CInkbriteView* view) { m_savingView = view; }
  CInkbriteView* SavingView() const { return m_savingView; }

 private:
  // How writing one page ended, for the messages.
  enum class SaveResult { kSaved, kFailed, kUnsupportedExtension, kReducedFormat, kNoMemory };
  // `part`: the page of a spread the automatic steps split that is written
  // (0 or 1, in reading order).
  SaveResult WriteEnhancedPage(const std::filesystem::path& path, const CParaBlock& params,
                               int part);
  bool ConfirmOverwritingSource();

  QWidget* m_messageParent;
  // Shared with the views that show it, which never change it.
  std::shared_ptr<const DibImage> m_page;
  CInkbriteView* m_savingView = nullptr;
  int m_greySource = 0;
  CDirManager m_dirList;
  bool m_showReadError = true;
  std::filesystem::path m_path;
  std::vector<CInkbriteView*> m_views;
};

}  // namespace inkbrite
