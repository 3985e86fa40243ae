// SPDX-License-Identifier: GPL-2.0-or-later
// CInkbriteDoc: one page on screen, from a picture file or from a book (an
// archive or a PDF file). Decodes the page, owns the page list of its folder
// or book, and writes the enhanced page on Save and Save As. Turning a page
// opens the next page in the same document. A document is never marked
// modified: closing never asks to save.
//
// A book is only ever read: Save of one of its pages asks for a file name
// as Save As does, and writes an ordinary picture file.
//
// Saving writes the page at its full size, enhanced with the parameters its
// active view draws it with, exactly as the batch job converts a file with
// those parameters (the copy fitted to the window is for the screen only).
// Save writes over the file the page was read from only after asking, unless
// the user has turned the question off.
//
// A big page (BackgroundLoadPixels() or more, of any format, a loose file or
// a book's page; in the two-page layout either page) opens at once as a
// blank page of its shape, read from the file's header; on a thread of its
// own (CPageLoader) the full page is decoded (with the page facing it, the
// two composed side by side) and replaces it, the window then fitting it.
// A JPEG page shown alone shows a picture decoded at a reduced scale first,
// large enough for the page fitted to the screen. Keys and menus are answered
// meanwhile. Turning the page abandons the load; Save waits for it, so what
// is written never depends on it.
//
// Threads: user-interface thread only (the loader decodes on its own).
#pragma once

#include <QSize>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "browse/reading/dir_manager.h"
#include "browse/reading/facing_pages.h"
#include "browse/reading/page_loader.h"
#include "browse/reading/page_prefetch.h"
#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "core/para_block.h"
#include "formats/picture_size.h"

class QWidget;

namespace inkbrite {

class CInkbriteView;

inline const char* const kSaveFailedMessage = QT_TRANSLATE_NOOP("Messages", "文件存盘失败。");
inline const char* const kSaveAsJpegQuestion =
    QT_TRANSLATE_NOOP("Messages", "图像文件只能保存为Jpeg格式，要继续吗？");
// Asked before Save writes over the file the page was read from.
inline const char* const kOverwriteSourceQuestion =
    QT_TRANSLATE_NOOP("Messages", "保存会用处理后的图像替换原文件，原图将无法恢复。要继续吗？");

class CInkbriteDoc {
 public:
  explicit CInkbriteDoc(QWidget* messageParent);
  ~CInkbriteDoc();
  CInkbriteDoc(const CInkbriteDoc&) = delete;
  CInkbriteDoc& operator=(const CInkbriteDoc&) = delete;

  // Decodes `path` into this document: 1 on success, 0 when unreadable
  // (with "文件读取失败。" unless read errors are suppressed). The path
  // becomes the document's either way, and joins the recent-file list.
  // A book opens at its first page in the display order.
  int OnOpenDocument(const std::filesystem::path& path);
  // Opens the book `path` at the page named `entry` (its first page when
  // `entry` names none): 1 on success; 0 with the reason shown (an
  // encrypted, damaged or empty book, ...) unless read errors are
  // suppressed, the document left as it was.
  int OpenBook(const std::filesystem::path& path, std::string_view entry = {});
  // Where a book opens without a page named: where the reader left it, at
  // its first page, or at its last page (in the two-page layout the last
  // spread).
  enum class BookStart { kLeft, kFirst, kLast };
  int OpenBookAt(const std::filesystem::path& path, BookStart start);
  // Opens a page of the list (the page commands): 1 on success, 0 when it
  // cannot be read, as OnOpenDocument. Pages decoded ahead are taken from
  // the prefetch.
  // In the two-page layout a page that is the second of its pair opens its
  // pair (the cursor moves to the pair's first page).
  int OpenPage(const ListedPage& page);
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

  // The picture file, or the book.
  const std::filesystem::path& PathName() const { return m_path; }
  bool IsBook() const { return m_dirList.IsBook(); }
  // The page's name in its book (empty for a picture file).
  const std::string& EntryName() const { return m_entry; }
  // The file name; in a book "book.cbz — 012.jpg (12/180)".
  QString Title() const;
  // Why the last open failed ("文件读取失败。", "加密的压缩包无法读取。", ...).
  const QString& LastError() const { return m_lastError; }
  // The pages after the one shown, decoded ahead.
  CPagePrefetch& Prefetch() { return m_prefetch; }
  // Asks the prefetch for the `count` pages after the current one in the
  // display order.
  void PrefetchNext(int count = 1);
  // While a big page is being decoded in the background: a reduced picture
  // of it stands for the page.
  // A page far taller than wide (reading/tall_page.h) that every window
  // shows in the continuous layout, which reads it in bands, keeps its
  // reduced picture and is decoded whole only when asked for (LoadFullPage,
  // FinishLoading): loading still.
  bool IsLoading() const { return m_loadTicket != 0 || m_fullLoadDeferred; }
  // While the reduced picture is being decoded (a blank page stands for it).
  bool IsLoadingReduced() const { return m_loadTicket != 0 && m_loadingReduced; }
  // While a stand-in (the blank page, then the reduced picture) is shown for
  // a big page being decoded: the size of the page it stands for (both
  // pages side by side in the two-page layout); empty otherwise.
  QSize FullPageSize() const { return IsLoading() ? m_loadShape : QSize(); }
  // Waits until the page being decoded in the background is in place.
  void FinishLoading();
  // A page kept reduced for the continuous layout is decoded whole now (in
  // the background): a window shows it alone.
  void LoadFullPage();
  // A window turned to the continuous layout: a tall page being decoded
  // whole behind its reduced picture is left reduced, when every window
  // shows the strip.
  void KeepTallPageReduced();
  // The smallest page, in pixels, that opens in the background (tests and
  // the benchmark change it; 0 restores the default).
  static void SetBackgroundLoadPixels(uint64_t pixels);
  static uint64_t BackgroundLoadPixels();
  // The picture shown: the decoded page, or in the two-page layout the page
  // and the page facing it side by side; empty (or null) when the file could
  // not be read.
  const DibImage& Page() const;
  std::shared_ptr<const DibImage> SharedPage() const { return m_shown ? m_shown : m_page; }
  // The page shown fitted into width x height, when it was fitted ahead
  // with its decoding; null otherwise.
  std::shared_ptr<const DibImage> FittedAhead(int32_t width, int32_t height) const;

  // Page commands: the list's moves, by spreads in the two-page layout (the
  // cursor stays on a spread's first page). `index` as CDirManager gives it;
  // in the two-page layout the last page of the spread reached going
  // forward.
  enum class Turn { kNext, kPrevious, kFirst, kLast };
  ListedPage TurnPage(Turn turn, int& index);
  // A book at its last page (or spread) for kNext, at its first for
  // kPrevious: the page commands go on to the neighbouring book of its
  // folder (sources/folder_books.h) instead of stopping there.
  bool AtBookEnd(Turn turn) const;
  // Opens the book after this one in its folder at its first page (kNext),
  // or the one before at its last page (kPrevious): true when one opened.
  // False, nothing changed, when there is none or it cannot be read (its
  // reason shown unless read errors are suppressed).
  bool OpenNeighbourBook(Turn turn);

  // The two-page layout (remembered per folder or book). Each change shows
  // the current page again.
  bool TwoPages() const { return m_twoPages; }
  bool CoverAlone() const { return m_coverAlone; }
  bool RightToLeft() const { return m_rightToLeft; }
  void SetTwoPages(bool on);
  void SetCoverAlone(bool on);
  void SetRightToLeft(bool on);
  // The list positions shown (0-based; one page outside the two-page layout).
  Facing Shown() const { return m_facing; }
  // Loads the layout remembered for the listed folder or book (a book's
  // ComicInfo.xml turns right to left on when nothing is remembered), and
  // shows the page again when it changes what is shown. The application
  // calls it once a loose file's folder is listed.
  void OnListed();
  bool SourceIsGrey() const { return m_greySource != 0; }
  // The page's own JPEG luminance table, read with it (a loose file's or a
  // book page's); none for another format or a page not yet read.
  const std::optional<JpegQuantisers>& PageJpegTables() const { return m_pageJpeg; }
  CDirManager& DirList() { return m_dirList; }
  void SetShowReadError(bool show) { m_showReadError = show; }
  bool ShowsReadErrors() const { return m_showReadError; }

  // What the document tells its owner (the application): a path opened
  // (it joins the recent files, even when unreadable), the path or the
  // page shown changed (the windows' titles and the counter follow), and a
  // page could not be read (its message, the reason included). Unset:
  // nobody is told.
  struct Hooks {
    std::function<void(const std::filesystem::path&)> opened;
    std::function<void()> pathChanged;
    std::function<void(const QString&)> readFailed;
  };
  void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }

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
  // The book opened, its prefetch cleared; null with the reason shown
  // (unless read errors are suppressed) and the document as it was.
  std::shared_ptr<PageSource> OpenBookOrSay(const std::filesystem::path& path);
  // The steps after a page was read (or was not): messages, the batch
  // dialog's folders, the path, the recent files, the views.
  int FinishOpening(bool ok, const QString& error, const std::filesystem::path& path);
  void TakePage(DecodedPage page);
  // Loads the layout for the listed folder or book when it is not loaded.
  void LoadLayout();
  void StoreLayout();
  // Stores the page under the cursor as the place in its folder or book.
  void RememberPlace();
  // The shapes of the listed pages in display order (unknown until decoded).
  std::vector<PageShape> ListedShapes() const;
  void NoteShape(size_t sourceIndex, const DibImage* page);
  void NoteShape(size_t sourceIndex, PageShape shape);
  // Shows the page facing the cursor page beside it, when the layout has one.
  void ComposeSpread();
  int ShowCurrentAgain();
  // The page to open for `page` under the cursor: in the two-page layout
  // the first page of its pair (the cursor moved there).
  ListedPage SpreadStart(const ListedPage& page);
  // The spread shown around the cursor in the two-page layout.
  Facing ShownSpread(const std::vector<PageShape>& shapes) const;
  // What a background load decodes and how the pages are shown meanwhile.
  struct LoadPlan {
    PictureSize size;          // the page's, 0 x 0 when its header does not tell
    bool reducedJpeg = false;  // a JPEG page alone: a reduced picture first
    // A book page's bytes (read for its header) and name; null for a file.
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    std::string name;
    // The two-page layout: the page facing it, decoded with it.
    bool withPartner = false;
    size_t partnerIndex = 0;
    std::string partnerName;
    PictureSize partnerSize;
    Facing facing;  // the list positions shown
  };
  // Whether the page (`source`'s page `index`, or the file when no source
  // is given) is to open in the background, and how.
  bool PlanBackgroundLoad(const std::filesystem::path& file,
                          const std::shared_ptr<PageSource>& source, size_t index, LoadPlan& plan);
  // Shows a blank page of a big page's shape at once and starts decoding it
  // (from `source` when given, else the file); false when the page is not
  // one to open so (nothing then changed).
  bool OpenInBackground(const std::filesystem::path& file, std::shared_ptr<PageSource> source,
                        size_t index);
  void OnPageLoaded();
  void ApplyLoaded(LoadedPage loaded);
  void ShowLoadedSpread(const LoadedPage& loaded);
  void NotifyFullPage();
  // The full page's decoding (with the facing page), after the reduced
  // picture if any; pages already decoded are passed in.
  // The page loading is tall and every window shows it in the strip.
  bool TallPageInStrips() const;
  void StartFullLoad(DecodedPage here, DecodedPage partner);

  QWidget* m_messageParent;
  Hooks m_hooks;
  // Shared with the views that show it, which never change it.
  std::shared_ptr<const DibImage> m_page;
  CInkbriteView* m_savingView = nullptr;
  int m_greySource = 0;
  std::optional<JpegQuantisers> m_pageJpeg;  // the page's own JPEG table
  CDirManager m_dirList;
  CPagePrefetch m_prefetch;
  bool m_showReadError = true;
  std::filesystem::path m_path;
  std::string m_entry;
  QString m_lastError;
  // The two pages side by side (null: the page alone is shown).
  std::shared_ptr<const DibImage> m_shown;
  Facing m_facing;
  std::string m_partnerName;  // the facing page's name; empty when alone
  bool m_twoPages = false;
  bool m_coverAlone = false;
  bool m_rightToLeft = false;
  std::filesystem::path m_layoutFor;  // the folder or book the layout is loaded for
  // Page shapes by source page index, learned as pages are decoded.
  std::shared_ptr<PageSource> m_shapesSource;
  std::vector<PageShape> m_shapes;
  std::vector<CInkbriteView*> m_views;
  // The page fitted ahead (DecodedPage::fitted) and its box.
  std::shared_ptr<const DibImage> m_fittedAhead;
  int32_t m_fittedBoxWidth = 0;
  int32_t m_fittedBoxHeight = 0;
  // The background load: the timer its completion starts (on this thread),
  // the loader (after it, so that it is stopped first) and the ticket of the
  // load under way (0: none).
  std::unique_ptr<QTimer> m_loadTimer = std::make_unique<QTimer>();
  CPageLoader m_loader;
  uint64_t m_loadTicket = 0;
  // What the load under way decodes: the reduced picture (a blank page of
  // its size stands for it meanwhile), then the full page.
  bool m_loadingReduced = false;
  bool m_fullLoadDeferred = false;
  std::filesystem::path m_loadFile;
  std::shared_ptr<PageSource> m_loadSource;
  size_t m_loadIndex = 0;
  LoadPlan m_loadPlan;
  QSize m_loadShape;  // the full page's size while it loads
};

}  // namespace inkbrite
