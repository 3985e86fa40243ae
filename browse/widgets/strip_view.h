// SPDX-License-Identifier: GPL-2.0-or-later
// CStripView: the continuous layout of a document window. The pages of the
// document's folder or book stand one under another in a column as wide as
// the window (or a share of it, 40 to 100 %, kept in the settings), with a
// gap under each (kept too; Ctrl and Shift with the wheel), and scroll as one: the wheel, the arrow
// keys (held: on and on), Page Up/Down and Space (a screen less a tenth), Home and End, the next
// and previous page (to a page's top), dragging.
//
// The geometry is a StripLayout (browse/reading/strip_layout.h): the
// sizes of the loose pages around the place are read from their headers
// when the list is laid out, the others estimated and read a few at a time
// when the events are done, the page under the middle line staying put on
// screen as each is corrected. Only the
// pages in view and about a screen either way are held: decoded by a
// CPagePrefetch of the view's own (fitted to the column on its thread),
// each then shown by a PageRenderer of its own with the window's
// parameters, which renders a change on its worker. A change goes to the
// pages in view first and to the others once those are rendered. Once the
// parameters rest (1.5 s after the last change), a page rendered with them
// keeps its picture alone, its decoded page let go; the next change decodes
// those pages again, nearest first, their pictures shown meanwhile. Pages
// leaving the held range are dropped with their renderers, so a strip of
// hundreds of slices holds a few screens of pages.
//
// The reader's place (the page under the middle line and how far down it)
// is kept per folder or book (reading_places.h) when the reader rests, and
// the document then opens that page, so the title, the counter, the
// thumbnails and Save follow it.
//
// Threads: user-interface thread (the prefetch and the renderers have
// their own).
#pragma once

#include <QAbstractScrollArea>
#include <QPainter>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "browse/reading/page_prefetch.h"
#include "browse/reading/page_renderer.h"
#include "browse/reading/strip_layout.h"
#include "browse/reading/tall_page.h"
#include "core/enhance.h"

namespace inkbrite {

class CInkbriteDoc;

enum class StripMove { kStart, kEnd, kScreenUp, kScreenDown, kNextPage, kPreviousPage };

class CStripView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit CStripView(CInkbriteDoc* doc, QWidget* parent = nullptr);
  ~CStripView() override;
  CStripView(const CStripView&) = delete;
  CStripView& operator=(const CStripView&) = delete;

  // Lays out the document's list afresh and shows `place`.
  void ShowList(StripPlace place);
  // The document opened a page itself (a thumbnail, the page list, another
  // book): its top comes into view, unless it is the page under the middle
  // line already; another folder or book is laid out afresh.
  void FollowDocument();
  // The parameters every page is drawn with.
  void SetParameters(const EnhanceSettings& params);
  // Hidden, its pages, threads and timers stopped, telling nothing more:
  // about to go.
  void Retire();
  // The view's page and scroll commands in the strip: its top and end
  // (Home, End, the first and last page), a screen less a tenth up or down
  // (Page Up, Page Down, Space), the next page's top, the top of the page
  // in view or, at it, of the one before.
  void Move(StripMove move);

  // The column's share of the window (40 to 100 %) and the gap under each
  // page in pixels (0 to 200), both kept in the settings.
  static int ColumnPercent();
  static int PageGap();
  static void SetColumnPercent(int percent);
  static void SetPageGap(int gap);
  // The settings changed: the column is laid out again at the same place.
  void Relayout();

  const StripLayout& Layout() const { return m_layout; }
  int64_t Scroll() const;
  void ScrollTo(int64_t scroll);
  StripPlace Place() const;
  // List positions (0-based) of the pages held, and of those with a picture.
  std::vector<int> HeldPages() const;
  bool HasPicture(int position) const;
  // Pictures put in place by the renderers of the pages in view since they
  // were made, and whether a rendering is due for any of them.
  uint64_t GenerationInView() const;
  bool RenderPendingInView() const;
  // Pixels of the pictures and the pages they are made from held now.
  int64_t HeldPixels() const;
  // Loose pages whose size is still estimated (their headers are read a
  // few at a time when the events are done).
  int SizesDue() const { return static_cast<int>(m_sizesDue.size()); }
  // Paints that showed a page in view not decoded yet (its numbered place).
  int BlankPaints() const { return m_blankPaints; }
  // The status line: "第 12/300 页 · 37%" (how far down the strip).
  QString PlaceText() const;
  // The page under the middle line's scale in the column, in percent (0
  // while its size is unknown).
  int ZoomPercent() const;

 signals:
  // The page under the middle line changed (the title and counter follow
  // once the reader rests), or the reader rests on a new place.
  void placeChanged();
  void rested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  // The wheel scrolls; with Ctrl it widens or narrows the column, with
  // Shift the gap (5 % or 4 pixels a notch).
  void wheelEvent(QWheelEvent* event) override;

 private:
  // A piece of a tall page (tall_page.h), drawn without its context rows.
  struct Piece {
    std::unique_ptr<PageRenderer> renderer;  // null for a piece that failed
    int32_t above = 0;
    int32_t rows = 0;
  };
  struct Held {
    std::unique_ptr<PageRenderer> renderer;  // null until the page is decoded
    bool failed = false;
    // The renderer let its source go at rest and a change needs it: the
    // page is decoded again (its picture shown meanwhile).
    bool sourceDue = false;
    // A tall page is held in pieces, those near the view, instead.
    std::unique_ptr<TallPageBands> bands;
    std::map<int, Piece> pieces;
  };
  // The list laid out with the sizes of the pages around position
  // `around` read; the other loose pages' sizes estimated until read.
  void BuildList(int around);
  // Reads up to `most` of the headers still due, nearest the place first:
  // true when a page's height changed.
  bool ReadSizes(int most);
  void ReadSizesWhenIdle();
  // The layout changed: the scroll range follows and `place` stays on
  // screen where it was.
  void KeepPlace(StripPlace place);
  int ColumnFor(int windowWidth) const;
  void UpdateScrollRange();
  // Drops the pages out of reach, asks the prefetch for the missing ones.
  void UpdateHeld();
  void WantMissing();
  // Takes the pages the prefetch has ready.
  void TakeDecoded();
  void ShowDecoded(int position, DecodedPage page);
  // A tall page whose file reads in bands is held in pieces (not yet found
  // not to stream).
  bool IsPieced(int position) const;
  // The pieces of the tall pages held that reach within a screen of the
  // view: asked for, those farther dropped; and those made taken.
  void UpdatePieces();
  void TakePieces();
  void ShowPiece(Held& held, int piece, std::unique_ptr<TallPiece> made);
  // The pieces of page `position` (pieced) in rows [from, to) of the strip.
  std::pair<int, int> PiecesIn(int position, const TallGeometry& geometry, int64_t from,
                               int64_t to) const;
  // Calls `each` with every renderer of page `position` that shows rows of
  // the view (a page's own, or its pieces in view).
  // (`piece`: a piece's, rendered with the pieces' parameters.)
  void ForRenderersInView(int position,
                          const std::function<void(PageRenderer&, bool piece)>& each) const;
  bool PaintPieces(QPainter& painter, int position, const Held& held, const QRect& client,
                   bool marks) const;
  void OnRendered();
  void PassParametersOn();
  // The parameters at rest: the pages rendered keep their pictures alone.
  void LetSourcesGo();
  void Rest();
  void KeyScrollTick();
  QRect PageRect(int position) const;
  // How far down the strip the view is, in percent.
  int Percent() const;

  CInkbriteDoc* m_doc;
  StripLayout m_layout;
  std::shared_ptr<PageSource> m_source;
  std::vector<size_t> m_indexes;               // source page of each list position
  std::vector<std::filesystem::path> m_files;  // a loose page's file (empty in a book)
  std::vector<int> m_sizesDue;  // loose pages whose header is still to read, the next last
  QTimer m_sizeTimer;
  std::map<int, Held> m_held;
  std::set<int> m_wholeTall;    // tall pages whose files do not read in bands
  std::vector<int> m_wanted;    // list positions to hold, nearest first
  std::vector<size_t> m_asked;  // the source pages the prefetch was asked for last
  EnhanceSettings m_params;
  EnhanceSettings m_pieceParams;  // m_params as the pieces of tall pages take them
  bool m_neighboursDue = false;   // a change still to pass to the pages out of view
  CPagePrefetch m_prefetch;
  int m_middle = -1;   // the page under the middle line when last told
  int m_percent = -1;  // and how far down the strip
  QTimer m_restTimer;
  QTimer m_paramsRestTimer;  // runs from each change of parameters until they rest
  QTimer m_keyScrollTimer;
  std::set<int> m_heldArrows;
  bool m_dragging = false;
  int m_dragY = 0;
  bool m_opening = false;  // the document opens the page under the middle line
  int m_blankPaints = 0;
  bool m_taking = false;  // TakeDecoded is under way
};

}  // namespace inkbrite
