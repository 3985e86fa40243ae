// SPDX-License-Identifier: GPL-2.0-or-later
// CInkbriteView: the view of a document window. Shows one page at a time,
// enhanced, one screen pixel per page pixel, with black around it; turns
// pages through the document's directory list; moves over a large page by
// dragging, arrow keys, corner jumps and Space (single-key browsing); can
// fit each page to the window.
//
// Rendering: a page is enhanced on the user-interface thread when it is
// opened, with the view's working parameter set. Afterwards a background
// thread keeps the displayed page in step with that set: each parameter
// change wakes it (it also polls every 100 to 200 ms), and when the set
// changed it renders the unprocessed source page
// (fitted to the window when the window fits pages, as opening does) into an
// image of its own, swaps it in under a lock and posts the repaint.
// A page at least twice the size of the part of it in view (at 100 % or any
// zoom, not fitted) gets that part first: rendered alone (EnhancePart, the
// same bytes as the whole page there) and written over the page on screen,
// then the whole page replaces it; a further change meanwhile abandons the
// whole page for its own part. A change that needs the whole page (a
// resize, auto levels, a colour reduction, another crop, the automatic
// source steps) renders the whole page at once.
// It never waits for the user-interface thread, so stopping it cannot
// deadlock, and a paint never reads a page being written.
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
// Threads: everything but the preparation routine runs on the
// user-interface thread.
#pragma once

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPoint>
#include <QTimer>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "browse/inkbrite_doc.h"
#include "browse/reading/view_geometry.h"
#include "browse/reading/worker_thread.h"
#include "browse/widgets/wheel_paging.h"
#include "core/auto_steps.h"
#include "core/dib_image.h"
#include "core/enhance.h"
#include "core/page_histogram.h"
#include "core/para_block.h"

class QMimeData;

namespace inkbrite {

class CInkbriteDoc;

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

  // Runs one of the view's commands (page, corner, fit, single key); false
  // for a command the view does not handle.
  bool OnCommand(int id);
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
  // Background renderings begun, finished, and given up for lack of memory
  // since the view was made.
  int RenderStarts() const { return m_renderStarts.load(); }
  int RenderCount() const { return m_renderCount.load(); }
  int RenderFailures() const { return m_renderFailures.load(); }
  // Background renderings begun at once on a parameter change (the change
  // woke the thread) rather than at the end of a polling interval.
  int RendersOnWake() const { return m_rendersOnWake.load(); }
  // Parts in view shown ahead of their whole page.
  int PartPictures() const { return m_partPictures.load(); }
  // Spreads shown roughly fitted first (two large pages side by side), the
  // exact fitting following from the background thread.
  int RoughPictures() const { return m_roughPictures; }
  // A rendering is under way, or due for a page replaced by its fuller
  // decoding (OnFullPage).
  bool RenderPending() const {
    return m_rebase.load() || m_renderStarts.load() != m_renderEnds.load();
  }
  // Pages put on screen so far (each opening, fitting and rendering counts
  // one), and the number of the latest one painted: a change is on screen
  // once PaintedGeneration passes the DisplayGeneration taken before it.
  uint64_t DisplayGeneration() const;
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
  int SpreadPart() const { return m_part; }
  int SpreadParts() const { return m_parts.load(); }

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

 private slots:
  // Posted by the preparation thread when a rendering is in place, or when
  // one was given up for lack of memory.
  void OnPageRendered();
  void OnRenderFailed();

 private:
  // The worker whose stop request wakes the preparation routine.
  class Worker : public CWorkerThread {
   public:
    explicit Worker(CInkbriteView& view) : m_view(view) {}
    ~Worker() override { Stop(); }

   protected:
    void OnStopRequest() override;

   private:
    CInkbriteView& m_view;
  };

  // How one background rendering ended (kSuperseded: given up for a later
  // change).
  enum class Rendering { kDone, kStopped, kNoMemory, kSuperseded };

  int PrepareRoutine();
  Rendering RenderOnce(const EnhanceHooks& hooks);
  // The part of the page in view rendered with m_rendered and written over
  // the page on screen, after `room` is made of the whole page's size;
  // false when there is none to render that way, or no room.
  bool RenderPartInView(const EnhanceHooks& hooks, DibImage& room);
  // The working set differs from the one being rendered.
  bool WorkingSetMoved() const;
  // The base page: the source page after the automatic source steps of
  // `params` (page m_part of a split spread), or its copy fitted to the
  // window; false when a copy does not fit in memory. `rough`: a large
  // spread without source steps may be fitted by sampling (m_roughBase), to
  // be fitted exactly by the background thread.
  bool MakeBase(bool fit, const CParaBlock& params, bool rough = false);
  // A fresh copy of the base page enhanced with `params`; `findings` gets
  // what the automatic steps found.
  Rendering Prepare(DibImage& page, const CParaBlock& params, const EnhanceHooks& hooks,
                    PageFindings& findings) const;
  // Shows page `part` of the spread in place of the other (false: none).
  bool ShowSpreadPart(int part);
  void SetFindings(const PageFindings& findings);
  void StartWorker();
  // Wakes the background thread, so a change is rendered without waiting
  // for the end of its polling interval.
  void WakeWorker();
  void TakeParameters();
  bool ShowSource(bool fit);
  // The page on screen, and the unenhanced page it was rendered from (what
  // before/after and the split view show).
  void SetDisplayed(DibImage page, std::shared_ptr<const DibImage> original = nullptr);
  void ShowOutOfMemory();
  void UpdateScrollSizes();
  void TurnPage(int id);
  // At a book's end, on to the neighbouring book of its folder, with a
  // note in the status bar; false when the page turns within the book.
  bool TurnToNeighbourBook(CInkbriteDoc::Turn turn);
  void JumpToCorner(int id);
  void SingleKey();
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
  void ToggleAutoPlay();
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
  // The scale and shown size for a rendered page of `page` pixels.
  double ScaleFor(QSize page) const;
  QRect PageRectFor(QSize shown) const;
  // The divider's x in the client area, or -1 without a split view.
  int DividerX() const;

  CInkbriteDoc* m_doc;
  Worker m_worker{*this};
  // The wake event: auto-reset, signalled by the worker's stop request.
  std::mutex m_wakeMutex;
  std::condition_variable m_wakeSignal;
  bool m_wake = false;

  CParaBlock m_working;
  CParaBlock m_rendered;
  CParaBlock m_window;
  // The document's page, shared rather than copied; replaced only while the
  // worker is stopped. Null when no page is shown.
  std::shared_ptr<const DibImage> m_source;
  // What the page on screen is rendered from: the source page, or its copy
  // fitted to the window once (so a change never scales the full page
  // again), and whether it is fitted; likewise written only while the
  // worker is stopped.
  std::shared_ptr<const DibImage> m_base;
  bool m_fitted = false;
  QSize m_fitSize;  // the client size the base was fitted to
  // The source fitted to m_fitSize ahead, by the document's read-ahead
  // (null: none); likewise written only while the worker is stopped.
  std::shared_ptr<const DibImage> m_fittedAhead;
  // The base was sampled, not fitted exactly; written with m_base.
  bool m_roughBase = false;
  int m_roughPictures = 0;
  // What the automatic source steps found on the base, and the values of
  // their slots it was made with: a rendering whose values differ makes the
  // base again (on the preparation thread, which then owns it).
  PageFindings m_baseFindings;
  std::array<int, kParaSlotCount - kBaseSlotCount> m_baseAuto{};
  // The page of a split spread shown, changed only while the worker is
  // stopped, and the page OnInitialUpdate shows next (-1: the last).
  int m_part = 0;
  int m_nextPart = 0;
  std::atomic<int> m_parts{1};
  mutable std::mutex m_displayMutex;
  DibImage m_displayed;              // guarded by m_displayMutex
  PageFindings m_findings;           // likewise; described when asked, in the language of then
  uint64_t m_displayGeneration = 0;  // likewise
  // The displayed page's pixels in view at the last paint (with a margin
  // for the smoothing of a zoom); likewise.
  QRect m_partInView;
  uint64_t m_paintedGeneration = 0;
  std::atomic<int> m_renderStarts{0};
  std::atomic<int> m_renderCount{0};
  std::atomic<int> m_renderFailures{0};
  std::atomic<int> m_rendersOnWake{0};
  std::atomic<int> m_partPictures{0};
  std::atomic<int> m_renderEnds{0};  // renderings ended in any way
  // The source was replaced by the full page: the next rendering makes the
  // base again even when the parameters did not change. Set while the
  // worker is stopped, then the worker's.
  std::atomic<bool> m_rebase{false};
  bool m_showingMemoryMessage = false;

  bool m_initialised = false;
  bool m_fit = false;
  bool m_fitBusy = false;
  int m_cornerState = 0;
  bool m_hasFocus = false;

  ViewZoom m_zoom;
  std::filesystem::path m_zoomFor;             // the folder or book m_zoom was taken for
  std::shared_ptr<const DibImage> m_original;  // guarded by m_displayMutex
  PageHistogram m_histogram;                   // likewise
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
};

}  // namespace inkbrite
