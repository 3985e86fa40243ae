// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/strip_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

#include "browse/inkbrite_doc.h"
#include "browse/reading/reading_places.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/dib_paint.h"
#include "formats/picture_size.h"

namespace inkbrite {

namespace {

const QString kColumnKey = QStringLiteral("View/StripColumnPercent");
const QString kGapKey = QStringLiteral("View/StripGap");
constexpr int kMaxGap = 200;
// Held beyond the pages in view: those reaching within a screen either
// way, within five screens of pixels together (so the page on either side
// is held even when it is twice as tall as the window).
constexpr int kHeldScreens = 1;
constexpr int kBudgetScreens = 5;
// A wheel notch is three steps; held arrows move 10 rows every 5 ms.
constexpr int kLineStep = 48;
constexpr int kKeyScrollStep = 10;
constexpr int kKeyScrollTickMs = 5;
// The reader rests this long after the last move before the place is kept.
constexpr int kRestMs = 400;
// The parameters rest this long after their last change before the pages
// rendered let their sources go (a slider dragged renders from them).
constexpr int kParamsRestMs = 1500;
// Pages are decoded ahead to at most this height in the column (the
// prefetch's box is as wide as the column and this tall).
constexpr int kFitBoxHeight = 65535;
// Loose pages' headers read when the list is laid out (those around the
// place), and then at each idle tick.
constexpr int kSizesAtOnce = 4;
constexpr int kSizesPerTick = 8;

// The steps that work on one page's shape and make no sense in a strip:
// the fixed crop, the margin crop and the spread split.
EnhanceSettings ForStrip(EnhanceSettings params) {
  for (int slot :
       {kCroppingLeft, kCroppingTop, kCroppingRight, kCroppingBottom, kAutoCrop, kSplitSpreads}) {
    params.Set(slot, 0);
  }
  return params;
}

// A piece of a tall page is enhanced as a part of the page: the steps that
// need the page as the file holds it (its JPEG blocks, its slant as a whole,
// the learned networks' page at its own size) are off, and auto levels
// measures rows from the whole page (TallPageBands::Sample).
EnhanceSettings ForPieces(EnhanceSettings params) {
  for (int slot : {kDeskew, kJpegCleanup, kLearned}) params.Set(slot, kParaDefaults[slot]);
  return params;
}

bool MeasuresWholePage(const EnhanceSettings& params) { return params[kAutoLevels] != 0; }

}  // namespace

CStripView::CStripView(CInkbriteDoc* doc, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(doc) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->setSingleStep(kLineStep);
  m_restTimer.setSingleShot(true);
  m_restTimer.setInterval(kRestMs);
  connect(&m_restTimer, &QTimer::timeout, this, [this] { Rest(); });
  m_paramsRestTimer.setSingleShot(true);
  m_paramsRestTimer.setInterval(kParamsRestMs);
  connect(&m_paramsRestTimer, &QTimer::timeout, this, [this] { LetSourcesGo(); });
  m_keyScrollTimer.setTimerType(Qt::PreciseTimer);
  m_keyScrollTimer.setInterval(kKeyScrollTickMs);
  connect(&m_keyScrollTimer, &QTimer::timeout, this, [this] { KeyScrollTick(); });
  m_sizeTimer.setInterval(0);  // whenever the events are done
  connect(&m_sizeTimer, &QTimer::timeout, this, [this] { ReadSizesWhenIdle(); });
  // A page decoded on the prefetch's thread: taken here.
  m_prefetch.SetReady([this] {
    QMetaObject::invokeMethod(
        this, [this] { TakeDecoded(); }, Qt::QueuedConnection);
  });
}

CStripView::~CStripView() {
  m_prefetch.Stop();
  m_held.clear();
}

void CStripView::Retire() {
  hide();
  blockSignals(true);
  m_restTimer.stop();
  m_paramsRestTimer.stop();
  m_keyScrollTimer.stop();
  m_sizeTimer.stop();
  m_prefetch.Stop();
  m_held.clear();
  m_wanted.clear();
  m_source.reset();
  m_doc = nullptr;
}

int CStripView::ColumnPercent() {
  return std::clamp(QSettings().value(kColumnKey, 100).toInt(), 40, 100);
}

int CStripView::PageGap() { return std::clamp(QSettings().value(kGapKey, 0).toInt(), 0, kMaxGap); }

void CStripView::SetColumnPercent(int percent) {
  QSettings().setValue(kColumnKey, std::clamp(percent, 40, 100));
}

void CStripView::SetPageGap(int gap) { QSettings().setValue(kGapKey, std::clamp(gap, 0, kMaxGap)); }

int CStripView::ColumnFor(int windowWidth) const {
  return StripColumnWidth(windowWidth, ColumnPercent());
}

// ---- the list ----

void CStripView::BuildList(int around) {
  m_prefetch.Clear();
  m_asked.clear();
  m_held.clear();
  m_wanted.clear();
  m_indexes.clear();
  m_files.clear();
  m_sizesDue.clear();
  m_wholeTall.clear();
  m_sizeTimer.stop();
  m_source = m_doc ? m_doc->DirList().Source() : nullptr;
  const int count = m_doc ? m_doc->DirList().GetCount() : 0;
  for (int position = 1; position <= count; ++position) {
    const ListedPage page = m_doc->DirList().PageAt(position);
    m_indexes.push_back(page.index);
    // A loose file's header gives its size; a book's page is measured as
    // it is decoded.
    m_files.push_back(page.InBook() ? std::filesystem::path() : page.file);
    if (!page.InBook()) m_sizesDue.push_back(position - 1);
  }
  // The headers read last the farthest from the place: the list is taken
  // from its end.
  const auto farther = [around](int a, int b) {
    return std::abs(a - around) > std::abs(b - around);
  };
  std::stable_sort(m_sizesDue.begin(), m_sizesDue.end(), farther);
  m_layout.SetPages(std::vector<StripPageSize>(static_cast<size_t>(count)));
  m_layout.SetColumn(ColumnFor(viewport()->width()), PageGap());
  m_prefetch.SetFitBox(m_layout.Column(), kFitBoxHeight);
  // The pages around the place now, the others a few at a time when idle.
  ReadSizes(kSizesAtOnce);
  if (!m_sizesDue.empty()) m_sizeTimer.start();
  UpdateScrollRange();
}

bool CStripView::ReadSizes(int most) {
  bool moved = false;
  for (int read = 0; read < most && !m_sizesDue.empty(); ++read) {
    const int position = m_sizesDue.back();
    m_sizesDue.pop_back();
    PictureSize size;
    if (m_layout.Known(position) || !ReadPictureFileSize(m_files[position], size)) continue;
    moved = m_layout.SetPageSize(position,
                                 {static_cast<int>(size.width), static_cast<int>(size.height)}) ||
            moved;
  }
  return moved;
}

void CStripView::ReadSizesWhenIdle() {
  // The sizes corrected around the place: the page under the middle line
  // stays where it is on screen.
  const StripPlace place = Place();
  if (ReadSizes(kSizesPerTick)) KeepPlace(place);
  if (m_sizesDue.empty()) m_sizeTimer.stop();
}

void CStripView::KeepPlace(StripPlace place) {
  UpdateScrollRange();
  ScrollTo(m_layout.ScrollFor(place, viewport()->height()));
  viewport()->update();
}

void CStripView::ShowList(StripPlace place) {
  BuildList(place.page);
  m_middle = -1;
  ScrollTo(m_layout.ScrollFor(place, viewport()->height()));
  UpdateHeld();
  viewport()->update();
}

void CStripView::FollowDocument() {
  if (!m_doc) return;
  const int current = m_doc->DirList().GetCurrentIndex() - 1;
  if (m_doc->DirList().Source() != m_source ||
      m_doc->DirList().GetCount() != static_cast<int>(m_indexes.size())) {
    ShowList({std::max(current, 0), 0.0});
    return;
  }
  if (m_opening || current < 0 || current == Place().page) return;
  ScrollTo(m_layout.ScrollToPage(current, viewport()->height()));
}

void CStripView::Relayout() {
  const StripPlace place = Place();
  m_layout.SetColumn(ColumnFor(viewport()->width()), PageGap());
  m_prefetch.SetFitBox(m_layout.Column(), kFitBoxHeight);
  UpdateScrollRange();
  ScrollTo(m_layout.ScrollFor(place, viewport()->height()));
  UpdateHeld();
  viewport()->update();
}

// ---- scrolling ----

void CStripView::UpdateScrollRange() {
  const int view = viewport()->height();
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(StripLayout::ScreenStep(view));
  bar->setRange(0, static_cast<int>(std::min<int64_t>(m_layout.MaxScroll(view), INT32_MAX)));
}

int64_t CStripView::Scroll() const { return verticalScrollBar()->value(); }

void CStripView::ScrollTo(int64_t scroll) {
  verticalScrollBar()->setValue(
      static_cast<int>(std::min<int64_t>(m_layout.Clamp(scroll, viewport()->height()), INT32_MAX)));
}

StripPlace CStripView::Place() const { return m_layout.PlaceAt(Scroll(), viewport()->height()); }

void CStripView::scrollContentsBy(int /*dx*/, int /*dy*/) {
  viewport()->update();
  UpdateHeld();
  // A new page under the middle line, or a new share of the strip (one tall
  // page read down): the status line follows.
  const int middle = Place().page;
  const int percent = Percent();
  if (middle != m_middle || percent != m_percent) {
    m_middle = middle;
    m_percent = percent;
    emit placeChanged();
  }
  m_restTimer.start();
}

void CStripView::Move(StripMove move) {
  const int view = viewport()->height();
  const int64_t scroll = Scroll();
  switch (move) {
    case StripMove::kStart: ScrollTo(0); return;
    case StripMove::kEnd: ScrollTo(m_layout.MaxScroll(view)); return;
    case StripMove::kScreenUp: ScrollTo(scroll - StripLayout::ScreenStep(view)); return;
    case StripMove::kScreenDown: ScrollTo(scroll + StripLayout::ScreenStep(view)); return;
    case StripMove::kNextPage: {
      const int middle = Place().page;
      if (middle + 1 < m_layout.Count()) ScrollTo(m_layout.ScrollToPage(middle + 1, view));
      return;
    }
    case StripMove::kPreviousPage: {
      // The top of the page in view, or of the one before when at its top.
      const int page = m_layout.PageAt(scroll);
      const bool atTop = page >= 0 && m_layout.Top(page) >= scroll;
      if (page >= 0) ScrollTo(m_layout.ScrollToPage(atTop ? page - 1 : page, view));
      return;
    }
  }
}

void CStripView::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Up || key == Qt::Key_Down) {
    m_heldArrows.insert(key);
    if (!m_keyScrollTimer.isActive()) {
      KeyScrollTick();  // the first step at once
      m_keyScrollTimer.start();
    }
    event->accept();
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void CStripView::keyReleaseEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && !event->isAutoRepeat()) {
    m_heldArrows.erase(event->key());
    if (m_heldArrows.empty()) m_keyScrollTimer.stop();
    event->accept();
    return;
  }
  QAbstractScrollArea::keyReleaseEvent(event);
}

void CStripView::KeyScrollTick() {
  const bool up = m_heldArrows.count(Qt::Key_Up) != 0;
  const bool down = m_heldArrows.count(Qt::Key_Down) != 0;
  if (up == down) return;
  const int64_t from = Scroll();
  ScrollTo(from + (up ? -kKeyScrollStep : kKeyScrollStep));
  if (Scroll() == from) m_keyScrollTimer.stop();
}

void CStripView::focusOutEvent(QFocusEvent* event) {
  m_heldArrows.clear();
  m_keyScrollTimer.stop();
  QAbstractScrollArea::focusOutEvent(event);
}

void CStripView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  m_dragging = true;
  m_dragY = static_cast<int>(event->position().y());
  viewport()->setCursor(Qt::ClosedHandCursor);
}

void CStripView::mouseMoveEvent(QMouseEvent* event) {
  if (!m_dragging) return QAbstractScrollArea::mouseMoveEvent(event);
  const int y = static_cast<int>(event->position().y());
  ScrollTo(Scroll() - (y - m_dragY));
  m_dragY = y;
}

void CStripView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
  m_dragging = false;
  viewport()->unsetCursor();
}

void CStripView::wheelEvent(QWheelEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  if (mods != Qt::ControlModifier && mods != Qt::ShiftModifier) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  const QPoint delta = event->angleDelta();
  const int notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120;
  if (notches != 0) {
    if (mods == Qt::ControlModifier) {
      SetColumnPercent(ColumnPercent() + 5 * notches);
    } else {
      SetPageGap(PageGap() + 4 * notches);
    }
    Relayout();
  }
  event->accept();
}

void CStripView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (m_layout.Column() != ColumnFor(viewport()->width())) {
    Relayout();
    return;
  }
  const StripPlace place = Place();
  UpdateScrollRange();
  ScrollTo(m_layout.ScrollFor(place, viewport()->height()));
  UpdateHeld();
}

// ---- the pages held ----

void CStripView::UpdateHeld() {
  if (!m_source || m_layout.Count() == 0) return;
  const int view = viewport()->height();
  m_wanted = m_layout.PagesToHold(Scroll(), view, kHeldScreens,
                                  int64_t{kBudgetScreens} * m_layout.Column() * std::max(view, 1));
  // A tall page within a screen of the view is held (in pieces), whatever
  // its size.
  for (int position : m_layout.PagesInView(std::max<int64_t>(Scroll() - view, 0), 3 * view)) {
    if (IsPieced(position) &&
        std::find(m_wanted.begin(), m_wanted.end(), position) == m_wanted.end()) {
      m_wanted.push_back(position);
    }
  }
  const std::set<int> wanted(m_wanted.begin(), m_wanted.end());
  std::erase_if(m_held, [&](const auto& held) { return !wanted.count(held.first); });
  UpdatePieces();
  WantMissing();
  TakeDecoded();
}

bool CStripView::IsPieced(int position) const {
  const StripPageSize size = m_layout.Size(position);
  return size.Known() && IsTallPage(size.width, size.height) && !m_wholeTall.count(position);
}

std::pair<int, int> CStripView::PiecesIn(int position, const TallGeometry& geometry, int64_t from,
                                         int64_t to) const {
  const int64_t top = m_layout.Top(position);
  if (to <= top || from >= top + m_layout.PageHeight(position)) return {0, -1};
  return {geometry.PieceAt(std::max<int64_t>(from - top, 0)), geometry.PieceAt(to - 1 - top)};
}

void CStripView::UpdatePieces() {
  const int view = viewport()->height();
  const int64_t from = Scroll() - view, to = Scroll() + 2 * int64_t{view};
  for (int position : m_wanted) {
    if (!IsPieced(position)) continue;
    Held& held = m_held[position];
    if (held.bands && held.bands->Geometry().column != m_layout.Column()) {
      held.pieces.clear();
      held.bands.reset();
    }
    if (!held.bands) {
      const StripPageSize size = m_layout.Size(position);
      held.bands = std::make_unique<TallPageBands>(
          m_source, m_indexes[position],
          TallGeometry::For(size.width, size.height, m_layout.Column()));
      held.bands->SetReady([this] {
        QMetaObject::invokeMethod(
            this, [this] { TakePieces(); }, Qt::QueuedConnection);
      });
      if (MeasuresWholePage(m_params)) held.bands->WantSample();
    }
    const std::pair<int, int> near = PiecesIn(position, held.bands->Geometry(), from, to);
    const int first = near.first, last = near.second;
    std::erase_if(held.pieces,
                  [&](const auto& piece) { return piece.first < first || piece.first > last; });
    std::vector<int> missing;
    for (int piece = first; piece <= last; ++piece) {
      if (!held.pieces.count(piece)) missing.push_back(piece);
    }
    held.bands->Want(std::move(missing));
  }
}

void CStripView::TakePieces() {
  bool whole = false;
  for (auto& [position, held] : m_held) {
    if (!held.bands) continue;
    if (held.bands->Unstreamable()) {
      // Decoded whole by the prefetch instead.
      m_wholeTall.insert(position);
      whole = true;
      continue;
    }
    // Rows of the whole page, once read, for every piece's auto levels.
    if (std::shared_ptr<const DibImage> sample = held.bands->Sample()) {
      for (auto& [piece, shown] : held.pieces) {
        if (shown.renderer) shown.renderer->SetLevelsFrom(sample);
      }
    }
    for (int piece = 0; piece < held.bands->Geometry().Pieces(); ++piece) {
      if (std::unique_ptr<TallPiece> made = held.bands->Take(piece)) {
        ShowPiece(held, piece, std::move(made));
        viewport()->update(PageRect(position));
      }
    }
  }
  if (whole) {
    std::erase_if(m_held, [&](const auto& held) { return m_wholeTall.count(held.first) != 0; });
    UpdateHeld();
  }
}

void CStripView::ShowPiece(Held& held, int piece, std::unique_ptr<TallPiece> made) {
  Piece& shown = held.pieces[piece];
  shown.above = made->above;
  shown.rows = made->rows;
  if (made->failed) return;
  shown.renderer = std::make_unique<PageRenderer>();
  connect(shown.renderer.get(), &PageRenderer::rendered, this, [this] { OnRendered(); });
  EnhanceSettings plain;
  plain.filter = m_params.filter;
  auto image = std::make_shared<const DibImage>(std::move(made->image));
  if (!shown.renderer->ShowPage(std::move(image), {}, plain)) {
    shown.renderer.reset();
  } else {
    shown.renderer->SetLevelsFrom(held.bands->Sample());
    shown.renderer->SetParameters(m_pieceParams);
  }
}

void CStripView::ForRenderersInView(
    int position, const std::function<void(PageRenderer&, bool piece)>& each) const {
  auto it = m_held.find(position);
  if (it == m_held.end()) return;
  const Held& held = it->second;
  if (held.renderer) each(*held.renderer, false);
  if (!held.bands) return;
  const auto [first, last] =
      PiecesIn(position, held.bands->Geometry(), Scroll(), Scroll() + viewport()->height());
  for (const auto& [piece, shown] : held.pieces) {
    if (piece >= first && piece <= last && shown.renderer) each(*shown.renderer, true);
  }
}

void CStripView::WantMissing() {
  // The prefetch decodes what it is asked for until it is asked otherwise:
  // a page taken from it is asked no more.
  std::vector<size_t> missing;
  for (int position : m_wanted) {
    auto held = m_held.find(position);
    if (held == m_held.end() || held->second.sourceDue) missing.push_back(m_indexes[position]);
  }
  if (missing == m_asked) return;  // a book would read ahead again
  m_asked = missing;
  const size_t from = m_indexes[std::clamp(Place().page, 0, m_layout.Count() - 1)];
  m_prefetch.Want(m_source, from, std::move(missing));
}

void CStripView::TakeDecoded() {
  // A page taken may move the strip (its size learned), which asks for
  // other pages: those are taken by the loop that runs already.
  if (m_taking) return;
  m_taking = true;
  for (bool took = true; took;) {
    took = false;
    for (int position : std::vector<int>(m_wanted)) {
      auto held = m_held.find(position);
      if ((held != m_held.end() && !held->second.sourceDue) ||
          !m_prefetch.Tried(m_source, m_indexes[position])) {
        continue;
      }
      ShowDecoded(position, m_prefetch.Take(m_source, m_indexes[position]));
      took = true;
      break;  // the pages wanted may have changed
    }
    if (took) WantMissing();
  }
  m_taking = false;
}

void CStripView::ShowDecoded(int position, DecodedPage page) {
  // A page decoded again for a change: its renderer renders it, the picture
  // shown meanwhile (one that fails keeps the picture it has).
  if (auto again = m_held.find(position); again != m_held.end() && again->second.sourceDue) {
    again->second.sourceDue = false;
    if (page.image && again->second.renderer) {
      again->second.renderer->ReplaceSource(page.fitted ? page.fitted : std::move(page.image));
    }
    return;
  }
  if (page.image) {
    // Its size, now known, may move the pages after it: the place stays.
    const StripPlace place = Place();
    if (m_layout.SetPageSize(position, {page.image->Width(), page.image->Height()})) {
      KeepPlace(place);
    }
    // No longer wanted once the strip moved.
    if (std::find(m_wanted.begin(), m_wanted.end(), position) == m_wanted.end()) return;
    // A tall page (a book's, whose size only its decoding told) is held in
    // pieces from now on.
    if (IsPieced(position)) {
      UpdateHeld();
      return;
    }
  }
  Held& held = m_held[position];
  if (!page.image) {
    held.failed = true;
    viewport()->update(PageRect(position));
    return;
  }
  std::shared_ptr<const DibImage> shown = page.fitted ? page.fitted : page.image;
  page = DecodedPage{};  // the full page goes once fitted
  held.renderer = std::make_unique<PageRenderer>();
  PageRenderer* renderer = held.renderer.get();
  connect(renderer, &PageRenderer::rendered, this, [this] { OnRendered(); });
  // A page out of view while the parameters rest is rendered in its own
  // pixels by the renderer's worker (its picture alone held from then on);
  // else it is shown unenhanced at once, then rendered with the parameters
  // on the worker, so a page coming into reach costs this thread a copy.
  if (!m_paramsRestTimer.isActive() && shown.use_count() == 1 &&
      !PageRect(position).intersects(viewport()->rect()) &&
      renderer->RenderInPlace(std::const_pointer_cast<DibImage>(shown), m_params)) {
    return;
  }
  EnhanceSettings plain;
  plain.filter = m_params.filter;
  if (!renderer->ShowPage(std::move(shown), {}, plain)) {
    held.renderer.reset();
    held.failed = true;
  } else {
    renderer->SetParameters(m_params);
  }
  viewport()->update(PageRect(position));
}

void CStripView::SetParameters(const EnhanceSettings& params) {
  const EnhanceSettings before = m_params;
  m_params = ForStrip(params);
  m_pieceParams = ForPieces(m_params);
  // A change to the pages held (the same parameters again change nothing):
  // those that let their sources go are decoded again, nearest first, and
  // the others keep theirs until the parameters rest.
  if (!m_held.empty() && (m_params.values != before.values || m_params.filter != before.filter)) {
    m_paramsRestTimer.start();
    bool due = false;
    for (auto& [position, held] : m_held) {
      if (held.renderer && !held.renderer->Source()) held.sourceDue = due = true;
    }
    if (due) WantMissing();
  }
  // The pages in view first; the others once those are rendered.
  const std::vector<int> inView = m_layout.PagesInView(Scroll(), viewport()->height());
  for (int position : inView) {
    ForRenderersInView(position, [&](PageRenderer& renderer, bool piece) {
      renderer.SetParameters(piece ? m_pieceParams : m_params);
    });
  }
  // Auto levels turned on: the tall pages' rows read for it.
  if (MeasuresWholePage(m_params)) {
    for (auto& [position, held] : m_held) {
      if (held.bands) held.bands->WantSample();
    }
  }
  m_neighboursDue = true;
  PassParametersOn();
}

void CStripView::PassParametersOn() {
  if (!m_neighboursDue || RenderPendingInView()) return;
  m_neighboursDue = false;
  for (auto& [position, held] : m_held) {
    if (held.renderer) held.renderer->SetParameters(m_params);
    for (auto& [piece, shown] : held.pieces) {
      if (shown.renderer) shown.renderer->SetParameters(m_pieceParams);
    }
  }
}

void CStripView::OnRendered() {
  viewport()->update();
  PassParametersOn();
  if (!m_paramsRestTimer.isActive()) LetSourcesGo();
}

void CStripView::LetSourcesGo() {
  for (auto& [position, held] : m_held) {
    if (held.renderer && !held.sourceDue) held.renderer->LetSourceGo();
  }
}

std::vector<int> CStripView::HeldPages() const {
  std::vector<int> pages;
  for (const auto& [position, held] : m_held) pages.push_back(position);
  return pages;
}

bool CStripView::HasPicture(int position) const {
  auto it = m_held.find(position);
  if (it == m_held.end()) return false;
  const Held& held = it->second;
  if (!held.bands) return held.renderer && !held.renderer->PictureSize().isEmpty();
  // A tall page: every piece in view shown.
  const auto [first, last] =
      PiecesIn(position, held.bands->Geometry(), Scroll(), Scroll() + viewport()->height());
  for (int piece = first; piece <= last; ++piece) {
    auto shown = held.pieces.find(piece);
    if (shown == held.pieces.end()) return false;
  }
  return true;
}

uint64_t CStripView::GenerationInView() const {
  uint64_t sum = 0;
  for (int position : m_layout.PagesInView(Scroll(), viewport()->height())) {
    ForRenderersInView(position,
                       [&](PageRenderer& renderer, bool) { sum += renderer.Generation(); });
  }
  return sum;
}

bool CStripView::RenderPendingInView() const {
  bool pending = false;
  for (int position : m_layout.PagesInView(Scroll(), viewport()->height())) {
    auto held = m_held.find(position);
    pending = pending || (held != m_held.end() && held->second.sourceDue);
    ForRenderersInView(position, [&](PageRenderer& renderer, bool) {
      pending = pending || renderer.RenderPending();
    });
  }
  return pending;
}

int64_t CStripView::HeldPixels() const {
  int64_t pixels = 0;
  const auto add = [&](const PageRenderer& renderer) {
    const QSize picture = renderer.PictureSize();
    const std::shared_ptr<const DibImage>& source = renderer.Source();
    // (A picture the parameters left as it was is the page itself.)
    if (!renderer.PictureIsBase()) pixels += int64_t{picture.width()} * picture.height();
    if (source) pixels += int64_t{source->Width()} * source->Height();
  };
  for (const auto& [position, held] : m_held) {
    if (held.renderer) add(*held.renderer);
    for (const auto& [piece, shown] : held.pieces) {
      if (shown.renderer) add(*shown.renderer);
    }
  }
  return pixels;
}

// ---- the place ----

int CStripView::Percent() const {
  const int64_t range = m_layout.MaxScroll(viewport()->height());
  return range > 0 ? static_cast<int>(Scroll() * 100 / range) : 100;
}

QString CStripView::PlaceText() const {
  if (m_layout.Count() == 0) return {};
  return tr("第 %1/%2 页 · %3%").arg(Place().page + 1).arg(m_layout.Count()).arg(Percent());
}

int CStripView::ZoomPercent() const {
  if (m_layout.Count() == 0) return 0;
  const StripPageSize size = m_layout.Size(std::clamp(Place().page, 0, m_layout.Count() - 1));
  return size.Known() ? static_cast<int>(std::lround(m_layout.Column() * 100.0 / size.width)) : 0;
}

void CStripView::Rest() {
  if (!m_doc || m_layout.Count() == 0) return;
  const StripPlace place = Place();
  // The document opens the page under the middle line: the title, the
  // counter, the thumbnails and Save follow it.
  if (m_doc->DirList().GetCurrentIndex() != place.page + 1) {
    m_opening = true;
    const ListedPage page = m_doc->DirList().MoveTo(place.page + 1);
    if (!page.empty()) m_doc->OpenPage(page);
    m_opening = false;
  }
  const ListedPage here = m_doc->DirList().PageAt(place.page + 1);
  ReadingPlace kept;
  kept.page = here.InBook() ? here.entry : here.file.filename().string();
  kept.continuous = 1;
  kept.stripWithin = place.within;
  SaveStripPlace(m_doc->DirList().Directory(), kept);
  emit rested();
}

// ---- painting ----

QRect CStripView::PageRect(int position) const {
  const int x = (viewport()->width() - m_layout.Column()) / 2;
  const int64_t top = m_layout.Top(position) - Scroll();
  return {x, static_cast<int>(std::clamp<int64_t>(top, -(1 << 30), 1 << 30)), m_layout.Column(),
          m_layout.PageHeight(position)};
}

void CStripView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(viewport());
  const QRect client = viewport()->rect();
  painter.fillRect(client, Qt::black);
  const bool marks = ShowClipping();
  bool blank = false;
  for (int position : m_layout.PagesInView(Scroll(), client.height())) {
    const QRect target = PageRect(position);
    const QRect visible = client.intersected(target);
    auto it = m_held.find(position);
    if (it != m_held.end() && it->second.bands) {
      blank = !PaintPieces(painter, position, it->second, client, marks) || blank;
      continue;
    }
    if (it == m_held.end() || !it->second.renderer ||
        it->second.renderer->PictureSize().isEmpty()) {
      // Not decoded or rendered yet (or unreadable): its place, numbered.
      painter.fillRect(visible, QColor(48, 48, 48));
      painter.setPen(it != m_held.end() && it->second.failed ? QColor(200, 80, 80)
                                                             : QColor(160, 160, 160));
      painter.drawText(visible, Qt::AlignCenter, QString::number(position + 1));
      blank = true;
      continue;
    }
    it->second.renderer->Read([&](const DibImage& shown, const DibImage*, QSize) {
      if (shown.IsEmpty()) return;
      const QTransform toScreen =
          QTransform::fromScale(static_cast<double>(target.width()) / shown.Width(),
                                static_cast<double>(target.height()) / shown.Height()) *
          QTransform::fromTranslate(target.left(), target.top());
      PaintDibTransformed(painter, shown, toScreen, visible, marks);
    });
  }
  m_blankPaints += blank ? 1 : 0;
}

bool CStripView::PaintPieces(QPainter& painter, int position, const Held& held, const QRect& client,
                             bool marks) const {
  const TallGeometry& geometry = held.bands->Geometry();
  const QRect target = PageRect(position);
  const auto [first, last] = PiecesIn(position, geometry, Scroll(), Scroll() + client.height());
  bool whole = true;
  for (int piece = first; piece <= last; ++piece) {
    const int64_t top = int64_t{target.top()} + geometry.Top(piece);
    const QRect rows(target.left(), static_cast<int>(std::clamp<int64_t>(top, -(1 << 30), 1 << 30)),
                     target.width(), geometry.Rows(piece));
    const QRect visible = client.intersected(rows).intersected(target);
    if (visible.isEmpty()) continue;
    auto shown = held.pieces.find(piece);
    if (shown == held.pieces.end() || !shown->second.renderer) {
      const bool failed = shown != held.pieces.end();
      painter.fillRect(visible, QColor(48, 48, 48));
      painter.setPen(failed ? QColor(200, 80, 80) : QColor(160, 160, 160));
      painter.drawText(visible, Qt::AlignCenter, QString::number(position + 1));
      whole = whole && failed;
      continue;
    }
    const int above = shown->second.above;
    shown->second.renderer->Read([&](const DibImage& picture, const DibImage*, QSize) {
      if (picture.IsEmpty()) return;
      const QTransform toScreen =
          QTransform::fromScale(static_cast<double>(target.width()) / picture.Width(), 1.0) *
          QTransform::fromTranslate(target.left(), rows.top() - above);
      PaintDibTransformed(painter, picture, toScreen, visible, marks);
    });
  }
  return whole;
}

}  // namespace inkbrite
