// SPDX-License-Identifier: GPL-2.0-or-later
// CInkbriteView: the view of a document window. Shows one page at a time,
// enhanced, one screen pixel per page pixel, with black around it; turns
// pages through the document's directory list; moves over a large page by
// dragging, arrow keys, corner jumps and Space (single-key browsing); can
// fit each page to the window.
//
// Rendering is its PageRenderer's (browse/reading/page_renderer.h): the
// view hands it the document's page, the layout (fitted to the client area
// or not) and the working set's values at each change, tells it the part
// in view at each paint, and paints the picture it says is rendered.
//
// What the user asked that others follow is said as signals, which the
// main frame connects: pageTurned (the page counter, the strip),
// zoomChanged, pictureChanged (the findings pane, the histogram),
// noteShown (the status bar), commandsChanged (the menus' checks).
//
// Parameter sets: the working set is what the page is drawn with, and what
// Save writes with. Without per-window mode it follows the shared set; in
// per-window mode it is this window's own and stays with the window as its
// pages turn (the window set keeps the changes made in that mode, for when
// the mode is turned on again).
//
// A page that cannot be held in memory (opening, fitting, a background
// rendering) leaves the window blank or as it was, with kOutOfMemoryMessage;
// the viewer goes on.
//
// Parameter events (posted by the parameter bar): ParamChangeEvent (1035,
// slot and value) and ParamResetEvent (1036).
//
// Threads: user-interface thread only (the renderer has its own worker).
#pragma once

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPoint>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "browse/inkbrite_doc.h"
#include "browse/reading/page_renderer.h"
#include "browse/reading/view_geometry.h"
#include "browse/widgets/wheel_paging.h"
#include "core/dib_image.h"
#include "core/page_histogram.h"
#include "core/para_block.h"

class QMimeData;
class QPainter;

namespace inkbrite {

class CInkbriteDoc;
class CStripView;

// Shown when a page, or a copy of it that showing or saving needs, does not
// fit in memory.
inline const char* const kOutOfMemoryMessage =
    QT_TRANSLATE_NOOP("Messages", "内存不足，无法处理这一页。");

// Event 1035: set one slot of the working set (and of the window set in
// per-window mode).
class ParamChangeEvent : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 35);
  ParamChangeEvent(int slot, int value) : QEvent(kType), m_slot(slot), m_value(value) {}
  int Slot() const { return m_slot; }
  int Value() const { return m_value; }

 private:
  int m_slot;
  int m_value;
};

// Event 1036: working set := window set (per-window mode) or the shared set.
class ParamResetEvent : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 36);
  ParamResetEvent() : QEvent(kType) {}
};

class CInkbriteView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit CInkbriteView(CInkbriteDoc* doc, QWidget* parent = nullptr);
  ~CInkbriteView() override;

  CInkbriteDoc* Document() const { return m_doc; }

  // What dragging the page out of the window carries: the URL of the page's
  // file. None (null) for a page inside a book, which has no file of its own,
  // or with no page.
  QMimeData* PageDragData() const;

  // Shows the document's page: fresh copy, fit, enhance, scroll to (0, 0),
  // start the background thread.
  void OnInitialUpdate();
  bool HasShownPage() const { return m_initialised; }
  // The document's page was replaced by the same page decoded further (a
  // big page loading in the background: the blank page by the reduced
  // picture, that by the full page): the background thread renders it with
  // the working set while the earlier one stays on screen.
  void OnFullPage();

  // The continuous layout (browse/widgets/strip_view.h) over the view, at
  // the page shown; turned off, the page under its middle line is shown.
  // The reader's choice is kept per folder or book; one never chosen is
  // read continuously when it looks like a strip (LooksLikeStrip).
  void SetContinuous(bool on);
  bool IsContinuous() const { return m_strip != nullptr; }
  // The document listed the folder of its page: the layout remembered for
  // it, or chosen by its pages.
  void OnListed();
  CStripView* Strip() const { return m_strip; }
  bool IsFitToWindow() const { return m_fit; }
  // Auto-play: pages turn by themselves every AutoPlaySeconds of the shared
  // set, stopping at the last file of the folder.
  bool IsAutoPlaying() const { return m_autoPlay.isActive() || m_autoPlayPaused; }

  // Activation by the frame: the document saves this view's page; in
  // per-window mode the shared set takes this window's working set.
  void OnActivateView(bool active);

  // The view's zoom and turn, display only (Save writes the page as
  // rendered, whatever the view shows). The zoom stays as pages turn; the
  // turn is kept for each page while the window is open. Choosing a zoom
  // ends fitting by Ctrl+-, which in turn sets the zoom back to one screen
  // pixel per page pixel.
  //
  // The zoom (fitting included) is remembered per folder or book
  // (reading_places.h), and the last one chosen is where a folder or book
  // seen for the first time starts. A zoom beside one to one and 自动缩小到
  // 窗口大小 centres the page in the window; one to one and that fitting keep
  // it at the top left unless small pages are centred.
  const ViewZoom& Zoom() const { return m_zoom; }
  // The zoom for the status bar: "适合页面 42%" (screen pixels per pixel of
  // the page as read); empty with no page.
  QString ZoomText() const;
  double ViewScale() const;
  int QuarterTurns() const;
  // The page as laid out on screen (turned and zoomed).
  QSize ShownPageSize() const;

  // Before and after: the original page (before the enhancement, at the
  // size of the enhanced one) in place of the enhanced one, while B is held
  // or while chosen; or both side by side, the original left of a divider
  // the mouse moves (its place a share of the page's width, 0 to 1).
  bool ShowsOriginal() const { return m_showOriginal || m_holdOriginal; }
  bool IsSplit() const { return m_split; }
  double SplitAt() const { return m_splitAt; }
  // The histogram of the page on screen (counted as each rendering is put
  // in place, on the thread that rendered it).
  PageHistogram Histogram() const;
  // The shown page's rectangle in the client area.
  QRect ShownPageRect() const;

  // The scroll position (the shown page's pixel at the client's top-left
  // corner).
  QPoint ScrollPosition() const;
  void ScrollTo(QPoint position);

  // A copy of the page as painted (enhanced, and fitted when the view fits
  // pages to the window).
  DibImage DisplayedPage() const;
  QSize DisplayedSize() const;
  int CornerState() const { return m_cornerState; }
  // The renderer's counts (page_renderer.h) since the view was made.
  const PageRenderer& Renderer() const { return m_renderer; }
  int RenderStarts() const { return m_renderer.RenderStarts(); }
  int RenderCount() const { return m_renderer.RenderCount(); }
  int RenderFailures() const { return m_renderer.RenderFailures(); }
  int RendersOnWake() const { return m_renderer.RendersOnWake(); }
  int PartPictures() const { return m_renderer.PartPictures(); }
  int RoughPictures() const { return m_renderer.RoughPictures(); }
  bool RenderPending() const { return m_renderer.RenderPending(); }
  // Pages put on screen so far (each opening, fitting and rendering counts
  // one), and the number of the latest one painted: a change is on screen
  // once PaintedGeneration passes the DisplayGeneration taken before it.
  uint64_t DisplayGeneration() const { return m_renderer.Generation(); }
  uint64_t PaintedGeneration() const { return m_paintedGeneration; }

  const CParaBlock& WorkingSet() const { return m_working; }
  const CParaBlock& WindowSet() const { return m_window; }

  // The automatic steps: what they found on the page shown (a line for the
  // status bar, empty when every step is off), and which page of a split
  // spread is shown (0 or 1, in reading order) of how many the source gave.
  // The pages of a spread show one after the other: the next-page command,
  // single-key browsing and auto-play go to the second before the next file,
  // the previous-page command back to the first, and paging back into a
  // spread starts at its second page.
  std::string FindingsText() const;
  // The page shown waits for its learned step (made apart; it fills in).
  bool LearnedWaiting() const { return m_renderer.LearnedWaiting(); }
  int SpreadPart() const { return m_renderer.Part(); }
  int SpreadParts() const { return m_renderer.Parts(); }

 public slots:
  // The view's commands, one slot each (the main frame's actions call them
  // on the active view).
  // The page commands: within a split spread first, at a book's end on to
  // the neighbouring book; then pageTurned. In the continuous layout the
  // page commands, the corners and single-key browsing scroll the strip
  // (CStripView::Move).
  void TurnPage(CInkbriteDoc::Turn turn);
  void NextPage() { TurnPage(CInkbriteDoc::Turn::kNext); }
  void PreviousPage() { TurnPage(CInkbriteDoc::Turn::kPrevious); }
  void FirstPage() { TurnPage(CInkbriteDoc::Turn::kFirst); }
  void LastPage() { TurnPage(CInkbriteDoc::Turn::kLast); }
  // The corners of the page shown (the top left always; the others while
  // the page is larger than the window).
  void ShowTopLeft() { JumpToCorner(Corner::kTopLeft); }
  void ShowBottomLeft() { JumpToCorner(Corner::kBottomLeft); }
  void ShowTopRight() { JumpToCorner(Corner::kTopRight); }
  void ShowBottomRight() { JumpToCorner(Corner::kBottomRight); }
  // Single-key browsing: the page's corners in turn, then the next page.
  void SingleKey();
  // 自动缩小到窗口大小: fits the page to the window, or shows it unfitted.
  void ToggleFitToWindow();
  void ZoomIn();
  void ZoomOut();
  void ShowActualSize() { SetZoom({ZoomMode::kOneToOne}); }
  void FitWidth() { SetZoom({ZoomMode::kFitWidth}); }
  void FitHeight() { SetZoom({ZoomMode::kFitHeight}); }
  void FitPage() { SetZoom({ZoomMode::kFitPage}); }
  void TurnRight() { Turn(1); }
  void TurnLeft() { Turn(-1); }
  void ToggleShowOriginal();
  void ToggleSplitView();
  void ToggleAutoPlay();
  // 连续滚动: the continuous layout on or off (SetContinuous).
  void ToggleContinuous();

 signals:
  // The page shown changed by a command of the view (a page command,
  // single-key browsing, auto-play).
  void pageTurned();
  // The user asked for another page by the mouse (the wheel at the page's
  // end; the right button while the left is held): whoever owns the
  // reading turns it (the main frame, through TurnPage). The wheel's turn
  // back is answered at once: the page it brings is then shown at its
  // bottom.
  void pageTurnRequested(CInkbriteDoc::Turn turn);
  // The zoom, or the page's size on screen, changed.
  void zoomChanged();
  // A new picture is on screen (its findings and histogram with it).
  void pictureChanged();
  // A line for the status bar ("下一本书：...").
  void noteShown(const QString& text);
  // A command's state changed by itself (auto-play stopped at the end).
  void commandsChanged();
  // A double-click on the page (the next page, or the reader's full screen).
  void pageDoubleClicked();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  // Scrolls, and at the page's end turns the page (browse/widgets/wheel_paging.h).
  void wheelEvent(QWheelEvent* event) override;

 private:
  void OnPageRendered();
  // Shows the continuous layout at `page` (-1: the page shown) and
  // `within` it; takes it away, the page under its middle line then shown
  // alone when `showMiddle`; and the layout chosen for a folder or book
  // seen for the first time (true when it showed the strip).
  void ShowStrip(int page, double within);
  void DropStrip(bool showMiddle);
  bool ChooseLayout();
  // The working set's values as the renderer takes them (the resampling
  // filter the application-wide one).
  EnhanceSettings Snapshot() const;
  // The renderer shows the document's page laid out for `fit`; `part`:
  // the page of a split spread (-1: the last).
  bool ShowSource(bool fit, int part);
  // The document's page alone, when it is due (opened under the strip and
  // not rendered yet), at the top.
  void ShowPageAlone();
  // A loose page opened before its folder is listed, the folder kept in
  // the continuous layout: the strip follows once the list is there.
  bool StripExpected() const;
  // Shows page `part` of the spread in place of the other (false: none).
  bool ShowSpreadPart(int part);
  void TakeParameters();
  // The working set to the strip while it shows, else to the renderer.
  void PassParameters();
  void ShowOutOfMemory();
  void UpdateScrollSizes();
  void TurnPageWithin(CInkbriteDoc::Turn turn);
  // Paints the renderer's picture (under its lock); `partInView` gets the
  // picture's pixels in view.
  void Paint(QPainter& painter, const DibImage& shown, const DibImage* original, QSize source,
             QRect& partInView);
  // At a book's end, on to the neighbouring book of its folder, with a
  // note in the status bar; false when the page turns within the book.
  bool TurnToNeighbourBook(CInkbriteDoc::Turn turn);
  enum class Corner { kTopLeft, kBottomLeft, kTopRight, kBottomRight };
  void JumpToCorner(Corner corner);
  void ArmCornerState();
  void Fit(bool fit);
  bool ScrollStep(int dx, int dy);
  WheelPager m_wheel;
  void KeyScrollTick();
  void StopKeyScroll();
  void UpdateCursor(QPoint point);
  // Starts dragging the page's file out of the window when a left drag has
  // gone far enough: at once when the whole page is in view (nothing to
  // pan), with Ctrl held otherwise. True when a drag ran.
  bool DragPageOut(QMouseEvent* event);
  void AutoPlayTick();
  bool PageFitsClient() const;
  void SetZoom(ViewZoom zoom);
  // The folder or book the zoom is remembered for.
  std::filesystem::path ZoomPlace() const;
  void RememberZoom();
  // The zoom of a folder or book not shown before in this window.
  void TakeRememberedZoom();
  void NoteZoom();
  bool CentresPage() const;
  void Turn(int quarterTurns);
  // The key of the page shown, for the turns kept per page.
  std::string PageKey() const;
  // The size a picture of `picture` pixels is laid out at: the full page's
  // for a stand-in of a page being decoded, else its own.
  QSize LaidOutSize(QSize picture) const;
  QSize LaidOutSize(QSize picture, QSize made) const;
  // The scale and shown size for a rendered page of `page` pixels.
  double ScaleFor(QSize page) const;
  QRect PageRectFor(QSize shown) const;
  // The divider's x in the client area, or -1 without a split view.
  int DividerX() const;

  CInkbriteDoc* m_doc;
  PageRenderer m_renderer;
  CParaBlock m_working;
  CParaBlock m_window;
  // The page of a spread OnInitialUpdate shows next (-1: the last).
  int m_nextPart = 0;
  // The document's page is still to be rendered alone (it opened under the
  // strip), as page `m_singlePart` of a spread.
  bool m_singleDue = false;
  int m_singlePart = 0;
  bool m_showingMemoryMessage = false;

  bool m_initialised = false;
  bool m_fit = false;
  bool m_fitBusy = false;
  int m_cornerState = 0;
  bool m_hasFocus = false;

  ViewZoom m_zoom;
  std::filesystem::path m_zoomFor;  // the folder or book m_zoom was taken for
  bool m_showOriginal = false;
  bool m_holdOriginal = false;
  bool m_split = false;
  double m_splitAt = 0.5;
  bool m_movingDivider = false;
  std::map<std::string, int> m_turns;  // quarter turns by PageKey

  // Dragging.
  bool m_dragging = false;
  QPoint m_dragAnchor;
  QPoint m_pressPoint;  // where the left button went down

  // Auto-play: the timer, its interval, and whether a page change stopped it
  // to start it again once the new page is shown.
  QTimer m_autoPlay;
  int m_autoPlayInterval = 1000;
  bool m_autoPlayPaused = false;

  // Arrow-key scrolling: 10 pixels a 5 ms tick while keys are held.
  QTimer m_keyScrollTimer;
  std::set<int> m_heldArrows;
  uint64_t m_paintedGeneration = 0;

  // The continuous layout while it is shown, and the folder or book its
  // choice was read for.
  CStripView* m_strip = nullptr;
  std::filesystem::path m_layoutFor;
};

}  // namespace inkbrite
