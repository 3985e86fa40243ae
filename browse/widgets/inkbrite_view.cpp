// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/inkbrite_view.h"

#include <QApplication>
#include <QDrag>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "browse/inkbrite_app.h"
#include "browse/inkbrite_doc.h"
#include "browse/reading/reading_places.h"
#include "browse/services/commands.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/dib_paint.h"
#include "browse/widgets/main_frame.h"
#include "core/enhance.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

constexpr int kKeyScrollStep = 10;
constexpr int kKeyScrollTickMs = 5;
// How near the split view's divider (in screen pixels) the mouse takes it.
constexpr int kDividerGrip = 6;

// Corner-state bits of single-key browsing.
constexpr int kCornerTaller = 1;
constexpr int kCornerWider = 2;
constexpr int kCornerBoth = 4;

// Two pages side by side this large (in pixels) are first shown roughly
// sampled when fitted, the exact fitting following from the background
// thread: fitting two pages of 1700 x 2400 takes tens of milliseconds.
constexpr uint64_t kRoughFitPixels = uint64_t{6} << 20;

// The whole page after its part in view is rendered in bands of this many
// rows, so a further change waits at most one band's time for its own part.
constexpr int32_t kBandRows = 128;

// `page` sampled into width x height, the nearest pixel for each.
bool SampleInto(const DibImage& page, int32_t width, int32_t height, DibImage& out) {
  if (!out.Create(width, height, 24)) return false;
  std::vector<int32_t> columns(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x) {
    columns[static_cast<size_t>(x)] =
        3 * static_cast<int32_t>((int64_t{2} * x + 1) * page.Width() / (int64_t{2} * width));
  }
  for (int32_t y = 0; y < height; ++y) {
    const int32_t sy =
        static_cast<int32_t>((int64_t{2} * y + 1) * page.Height() / (int64_t{2} * height));
    const uint8_t* from = page.Row(sy);
    uint8_t* to = out.Row(y);
    for (int32_t x = 0; x < width; ++x, to += 3) {
      const uint8_t* pixel = from + columns[static_cast<size_t>(x)];
      to[0] = pixel[0];
      to[1] = pixel[1];
      to[2] = pixel[2];
    }
  }
  return true;
}

bool IsArrowKey(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

}  // namespace

void CInkbriteView::Worker::OnStopRequest() {
  {
    std::lock_guard lock(m_view.m_wakeMutex);
    m_view.m_wake = true;
  }
  m_view.m_wakeSignal.notify_one();
}

CInkbriteView::CInkbriteView(CInkbriteDoc* doc, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(doc) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  m_keyScrollTimer.setTimerType(Qt::PreciseTimer);
  m_keyScrollTimer.setInterval(kKeyScrollTickMs);
  connect(&m_keyScrollTimer, &QTimer::timeout, this, [this] { KeyScrollTick(); });
  connect(&m_autoPlay, &QTimer::timeout, this, [this] { AutoPlayTick(); });
  if (m_doc) m_doc->AddView(this);
}

CInkbriteView::~CInkbriteView() {
  m_autoPlay.stop();
  m_keyScrollTimer.stop();
  m_worker.Stop();
  if (m_doc) m_doc->RemoveView(this);
}

// ---- pages ----

void CInkbriteView::OnInitialUpdate() {
  m_worker.Stop();
  m_initialised = true;
  StopKeyScroll();
  // A running auto-play restarts its interval once the new page is shown.
  if (m_autoPlay.isActive()) {
    m_autoPlay.stop();
    m_autoPlayPaused = true;
  }

  TakeParameters();
  // A folder or book shown for the first time: its own zoom, or the last one chosen.
  TakeRememberedZoom();
  m_source = m_doc ? m_doc->SharedPage() : nullptr;
  // Which page of a spread: the one asked for (-1: the last), else the first.
  m_part = m_nextPart;
  m_nextPart = 0;
  ShowSource(m_fit);
  ScrollTo({0, 0});
  if (m_source) {
    ArmCornerState();
    StartWorker();
  } else {
    m_cornerState = 0;
  }
  // An unreadable page leaves the window blank for one interval; playing
  // goes on.
  if (m_autoPlayPaused) {
    m_autoPlayPaused = false;
    m_autoPlay.start(m_autoPlayInterval);
  }
}

void CInkbriteView::OnFullPage() {
  if (!m_initialised || !m_doc) return;
  m_worker.Stop();
  m_source = m_doc->SharedPage();
  if (!m_source) {
    OnInitialUpdate();
    return;
  }
  // The reduced picture stays on screen until the full page is rendered.
  m_fittedAhead.reset();
  m_rebase = true;
  StartWorker();
  WakeWorker();
}

void CInkbriteView::WakeWorker() {
  {
    std::lock_guard lock(m_wakeMutex);
    m_wake = true;
  }
  m_wakeSignal.notify_one();
}

void CInkbriteView::TakeParameters() {
  // Without per-window mode every window draws with the shared set. In
  // per-window mode the window keeps its own set from page to page (a new
  // window starts at the defaults).
  if (!PerWindowMode()) m_working.Assign(AppParams());
  // The background thread has nothing to do until the set changes.
  m_rendered.Assign(m_working);
}

bool CInkbriteView::ShowSource(bool fit) {
  m_rebase = false;
  m_base.reset();
  m_fitted = fit;
  m_fitSize = viewport()->size();
  m_fittedAhead = fit && m_doc && m_source == m_doc->SharedPage()
                      ? m_doc->FittedAhead(m_fitSize.width(), m_fitSize.height())
                      : nullptr;
  if (fit) {
    SetDisplayed(DibImage());
    UpdateScrollSizes();  // no scroll bars: the client area at full size
  }
  DibImage page;
  PageFindings findings;
  // Two pages side by side are composed afresh at each turn, never fitted
  // ahead: they may be shown sampled first.
  const bool spread = m_doc && m_doc->Shown().count == 2;
  const bool held = !m_source || (MakeBase(fit, m_working, spread) &&
                                  Prepare(page, m_working, {}, findings) == Rendering::kDone);
  if (held && m_roughBase) {
    // The exact fitting follows at once from the background thread.
    ++m_roughPictures;
    m_rebase = true;
    WakeWorker();
  }
  if (!held) {
    page.Clear();
    m_source.reset();
    m_base.reset();
  }
  m_part = std::max(0, m_baseFindings.part - 1);
  SetFindings(findings);
  SetDisplayed(std::move(page), held ? m_base : nullptr);
  UpdateScrollSizes();
  viewport()->update();
  if (!held) ShowOutOfMemory();
  return held;
}

bool CInkbriteView::MakeBase(bool fit, const CParaBlock& params, bool rough) {
  m_base.reset();
  m_roughBase = false;
  m_baseFindings = {};
  for (size_t i = 0; i < m_baseAuto.size(); ++i) {
    m_baseAuto[i] = params.GetValue(kBaseSlotCount + static_cast<int>(i));
  }
  // A copy that cannot be made is a page that cannot be held.
  try {
    std::shared_ptr<const DibImage> staged = m_source;
    if (ReadAutoSteps(params).AnySourceStep()) {
      auto page = std::make_shared<DibImage>(*m_source);
      DibImage second;
      PageFindings found[2];
      const int parts = PrepareSourcePages(params, *page, second, found).pages;
      m_parts = parts;
      const int shown = std::clamp(m_part < 0 ? parts - 1 : m_part, 0, parts - 1);
      if (shown == 1) *page = std::move(second);
      m_baseFindings = found[shown];
      staged = std::move(page);
    } else {
      m_parts = 1;  // every step off: the source itself, shared
    }
    m_base = staged;
    if (!fit) return true;
    // Fitted ahead from the same page by the same scaling.
    if (staged == m_source && m_fittedAhead) {
      m_base = m_fittedAhead;
      return true;
    }
    int32_t w = 0, h = 0;
    staged->FitSize(m_fitSize.width(), m_fitSize.height(), w, h);
    if (w <= 0 || h <= 0 || (w == staged->Width() && h == staged->Height())) return true;
    if (rough && staged == m_source &&
        uint64_t(staged->Width()) * uint64_t(staged->Height()) > kRoughFitPixels) {
      auto sampled = std::make_shared<DibImage>();
      if (!SampleInto(*staged, w, h, *sampled)) return false;
      m_base = std::move(sampled);
      m_roughBase = true;
      return true;
    }
    auto fitted = std::make_shared<DibImage>(*staged);
    if (!fitted->ResizeTo(w, h)) return false;
    m_base = std::move(fitted);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

CInkbriteView::Rendering CInkbriteView::Prepare(DibImage& page, const CParaBlock& params,
                                                const EnhanceHooks& hooks,
                                                PageFindings& findings) const {
  try {
    page = *m_base;
    findings = m_baseFindings;
    EnhanceHooks withFindings = hooks;
    withFindings.findings = &findings;
    // A fitted page is not scaled again by the parameters; a page that is
    // resamples with the application-wide filter.
    const EnhanceSettings settings(params, AppParams().GetValue(kResizeType));
    if (EnhanceImage(settings, page, withFindings, m_fitted) != 0) return Rendering::kStopped;
  } catch (const std::bad_alloc&) {
    return Rendering::kNoMemory;
  }
  return Rendering::kDone;
}

void CInkbriteView::ShowOutOfMemory() {
  // One message at a time: renderings that fail while it is open add none.
  // Like an unreadable page, none while pages turn by themselves.
  if (m_showingMemoryMessage || (m_doc && !m_doc->ShowsReadErrors())) return;
  m_showingMemoryMessage = true;
  ShowMessage(this, UiText(kOutOfMemoryMessage));
  m_showingMemoryMessage = false;
}

void CInkbriteView::ToggleAutoPlay() {
  if (IsAutoPlaying()) {
    m_autoPlay.stop();
    m_autoPlayPaused = false;
    return;
  }
  m_autoPlayInterval = AppParams().GetValue(kAutoPlaySeconds) * 1000;
  m_autoPlay.start(m_autoPlayInterval);
}

void CInkbriteView::AutoPlayTick() {
  if (!m_doc) return;
  if (ShowSpreadPart(m_part + 1)) return;
  int index = 0;
  CDirManager& list = m_doc->DirList();
  const ListedPage page = m_doc->TurnPage(CInkbriteDoc::Turn::kNext, index);
  if (!page.empty()) {
    // No message for a bad page while playing.
    m_doc->SetShowReadError(false);
    m_doc->OpenPage(page);
    m_doc->SetShowReadError(true);
  }
  if (index == list.GetCount()) {
    m_autoPlay.stop();
    m_autoPlayPaused = false;
    if (CInkbriteApp* app = TheApp(); app && app->MainFrame()) app->MainFrame()->UpdateMenus();
  }
}

void CInkbriteView::SetDisplayed(DibImage page, std::shared_ptr<const DibImage> original) {
  // Counted before the lock, so a paint never waits for it.
  PageHistogram histogram = ComputeHistogram(page);
  std::lock_guard lock(m_displayMutex);
  m_histogram = histogram;
  m_displayed = std::move(page);
  m_original = m_displayed.IsEmpty() ? nullptr : std::move(original);
  ++m_displayGeneration;
}

PageHistogram CInkbriteView::Histogram() const {
  std::lock_guard lock(m_displayMutex);
  return m_histogram;
}

uint64_t CInkbriteView::DisplayGeneration() const {
  std::lock_guard lock(m_displayMutex);
  return m_displayGeneration;
}

DibImage CInkbriteView::DisplayedPage() const {
  std::lock_guard lock(m_displayMutex);
  return m_displayed;
}

QSize CInkbriteView::DisplayedSize() const {
  std::lock_guard lock(m_displayMutex);
  return {m_displayed.Width(), m_displayed.Height()};
}

void CInkbriteView::StartWorker() {
  m_worker.SetRoutine([this] { return PrepareRoutine(); });
  // No thread to be had (the system's limit reached): the page is shown as
  // it is, unenhanced, with the reason.
  if (!m_worker.Start()) {
    ++m_renderFailures;
    QMetaObject::invokeMethod(this, "OnRenderFailed", Qt::QueuedConnection);
  }
}

int CInkbriteView::PrepareRoutine() {
  // A polling interval of 100 to 200 ms, fixed for the life of the thread.
  const int interval = 100 + static_cast<int>(int64_t{std::rand()} * 100 / RAND_MAX);
  EnhanceHooks hooks;
  hooks.abortCheck = [this] { return m_worker.IsStopRequested() ? 1 : 0; };
  // A rendering given up for a later change goes straight on with that
  // change, as the same rendering (still under way, counted once).
  bool superseded = false;
  while (!m_worker.IsStopRequested()) {
    bool woken = false;
    if (!superseded) {
      std::unique_lock lock(m_wakeMutex);
      woken = m_wakeSignal.wait_for(lock, std::chrono::milliseconds(interval),
                                    [this] { return m_wake; });
      m_wake = false;
    }
    if (m_worker.IsStopRequested()) break;
    // Nothing changed (a new full page is rendered all the same).
    if (m_rendered.Assign(m_working) && !m_rebase && !superseded) continue;
    if (!superseded) {
      ++m_renderStarts;
      if (woken) ++m_rendersOnWake;
    }
    // No room for a copy the rendering needs, wherever it is asked for:
    // this page fails with its message, and the thread goes on.
    Rendering result = Rendering::kNoMemory;
    try {
      result = RenderOnce(hooks);
    } catch (const std::bad_alloc&) {
      result = Rendering::kNoMemory;
    }
    superseded = result == Rendering::kSuperseded;
    if (superseded) continue;
    ++m_renderEnds;
    if (result == Rendering::kStopped) break;
    // The repaint or the message is posted, never waited for, so a Stop
    // from the user-interface thread cannot wait on this thread waiting on
    // it. (By name: the posted call then carries nothing made by this
    // thread.) A rendering that found no memory is not tried again until the
    // parameters change.
    if (result == Rendering::kNoMemory) {
      ++m_renderFailures;
      QMetaObject::invokeMethod(this, "OnRenderFailed", Qt::QueuedConnection);
    } else {
      ++m_renderCount;
      QMetaObject::invokeMethod(this, "OnPageRendered", Qt::QueuedConnection);
    }
  }
  if (superseded) ++m_renderEnds;  // stopped before it went on
  return 0;
}

CInkbriteView::Rendering CInkbriteView::RenderOnce(const EnhanceHooks& hooks) {
  // Rendered into an image of its own with the set just taken, fitted when
  // the window fits pages; the page on screen stays whole until the
  // finished one replaces it.
  // The automatic steps' slots changed: the base is made again from the
  // source (the user-interface thread leaves it alone while this runs).
  bool rebase = m_rebase.exchange(false);
  for (size_t i = 0; i < m_baseAuto.size() && !rebase; ++i) {
    rebase = m_rendered.GetValue(kBaseSlotCount + static_cast<int>(i)) != m_baseAuto[i];
  }
  if (rebase && !MakeBase(m_fitted, m_rendered)) return Rendering::kNoMemory;
  // The part in view first; then the whole page band by band, given up
  // when the set changes again, as the next change shows its own part first.
  DibImage page;
  PageFindings findings;
  Rendering result = Rendering::kNoMemory;
  if (!rebase && RenderPartInView(hooks, page)) {
    EnhanceHooks bandHooks;
    bandHooks.abortCheck = [this] {
      if (m_worker.IsStopRequested()) return 1;
      return WorkingSetMoved() ? 2 : 0;
    };
    if (EnhanceInBands(m_rendered, *m_base, false, page, bandHooks, kBandRows)) {
      findings = m_baseFindings;
      result = Rendering::kDone;
    } else if (m_worker.IsStopRequested()) {
      return Rendering::kStopped;
    } else if (WorkingSetMoved()) {
      return Rendering::kSuperseded;
    }
  }
  if (result != Rendering::kDone) {
    page.Clear();
    result = Prepare(page, m_rendered, hooks, findings);
  }
  if (result != Rendering::kDone) return result;
  if (m_worker.IsStopRequested()) return Rendering::kStopped;
  SetFindings(findings);
  SetDisplayed(std::move(page), m_base);
  return Rendering::kDone;
}

bool CInkbriteView::RenderPartInView(const EnhanceHooks& hooks, DibImage& room) {
  if (m_fitted || !m_base) return false;
  QRect inView;
  QSize shown;
  {
    std::lock_guard lock(m_displayMutex);
    inView = m_partInView;
    shown = QSize(m_displayed.Width(), m_displayed.Height());
  }
  // Only over the page on screen, of the size this rendering gives, and
  // only when the part is at most half of it.
  int32_t width = 0, height = 0;
  if (shown.isEmpty() || !EnhancedPartSize(m_rendered, *m_base, false, width, height) ||
      QSize(width, height) != shown) {
    return false;
  }
  inView &= QRect(QPoint(0, 0), shown);
  if (inView.isEmpty() ||
      int64_t{inView.width()} * inView.height() * 2 > int64_t{shown.width()} * shown.height()) {
    return false;
  }
  // Room for the whole page is asked for first (and held, untouched, while
  // the part is rendered): a page that cannot be held leaves the page on
  // screen as it was, its part in view too.
  const auto roomBytes =
      static_cast<size_t>(DibImage::RowBytesFor(width, 24)) * static_cast<size_t>(height);
  std::unique_ptr<uint8_t[]> held(new (std::nothrow) uint8_t[roomBytes]);
  if (!held) return false;
  const DibRect rect{inView.left(), inView.top(), inView.right() + 1, inView.bottom() + 1};
  DibImage part;
  if (!EnhancePart(m_rendered, *m_base, rect, false, part, hooks)) return false;
  held.reset();
  try {
    if (!room.Create(width, height, 24)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (m_worker.IsStopRequested()) return false;
  {
    // Only this thread replaces the page on screen while it runs.
    std::lock_guard lock(m_displayMutex);
    const auto bytes = static_cast<size_t>(part.Width()) * 3;
    for (int32_t y = 0; y < part.Height(); ++y) {
      std::memcpy(m_displayed.Row(rect.top + y) + static_cast<size_t>(rect.left) * 3, part.Row(y),
                  bytes);
    }
    ++m_displayGeneration;
  }
  ++m_partPictures;
  QMetaObject::invokeMethod(this, "OnPageRendered", Qt::QueuedConnection);
  return true;
}

bool CInkbriteView::WorkingSetMoved() const {
  for (int slot = 0; slot < kParaSlotCount; ++slot) {
    if (m_working.GetValue(slot) != m_rendered.GetValue(slot)) return true;
  }
  return false;
}

void CInkbriteView::OnPageRendered() {
  UpdateScrollSizes();
  viewport()->update();
  if (CInkbriteApp* app = TheApp(); app && app->MainFrame()) app->MainFrame()->UpdateFindingsPane();
}

void CInkbriteView::SetFindings(const PageFindings& findings) {
  std::lock_guard lock(m_displayMutex);
  m_findings = findings;
}

std::string CInkbriteView::FindingsText() const {
  std::lock_guard lock(m_displayMutex);
  return DescribeFindings(m_findings);
}

bool CInkbriteView::ShowSpreadPart(int part) {
  if (!m_source || part < 0 || part >= m_parts.load() || part == m_part) return false;
  m_nextPart = part;
  OnInitialUpdate();
  if (CInkbriteApp* app = TheApp(); app && app->MainFrame()) app->MainFrame()->UpdateFindingsPane();
  return true;
}

void CInkbriteView::OnRenderFailed() { ShowOutOfMemory(); }

void CInkbriteView::UpdateScrollSizes() {
  const QSize page = ShownPageSize();
  const QSize client = viewport()->size();
  // Page step a tenth of the page, line step a tenth of that.
  horizontalScrollBar()->setRange(0, std::max(0, page.width() - client.width()));
  verticalScrollBar()->setRange(0, std::max(0, page.height() - client.height()));
  horizontalScrollBar()->setPageStep(std::max(1, page.width() / 10));
  verticalScrollBar()->setPageStep(std::max(1, page.height() / 10));
  horizontalScrollBar()->setSingleStep(std::max(1, page.width() / 100));
  verticalScrollBar()->setSingleStep(std::max(1, page.height() / 100));
  NoteZoom();
}

QPoint CInkbriteView::ScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CInkbriteView::ScrollTo(QPoint position) {
  horizontalScrollBar()->setValue(position.x());
  verticalScrollBar()->setValue(position.y());
}

bool CInkbriteView::PageFitsClient() const {
  const QSize page = ShownPageSize();
  return page.width() <= viewport()->width() && page.height() <= viewport()->height();
}

std::string CInkbriteView::PageKey() const {
  if (!m_doc) return {};
  return m_doc->PathName().string() + '\n' + m_doc->EntryName() + '\n' + std::to_string(m_part);
}

int CInkbriteView::QuarterTurns() const {
  const auto it = m_turns.find(PageKey());
  return it == m_turns.end() ? 0 : it->second;
}

double CInkbriteView::ScaleFor(QSize page) const {
  const QSize turned = TurnedSize(page, QuarterTurns());
  if (m_zoom.mode == ZoomMode::kOneToOne || m_zoom.mode == ZoomMode::kFactor) {
    return ZoomScale(m_zoom, turned, viewport()->size());
  }
  // Fitted against the whole area less a scroll bar the fitted page itself
  // needs, never against the viewport of the moment: a scroll bar that comes
  // and goes must not change the scale that made it come.
  QSize area = contentsRect().size();
  const double scale = ZoomScale(m_zoom, turned, area);
  const bool barsShown = verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
  if (barsShown && m_zoom.mode == ZoomMode::kFitWidth && turned.height() * scale > area.height()) {
    area.rwidth() -= verticalScrollBar()->sizeHint().width();
  }
  if (barsShown && m_zoom.mode == ZoomMode::kFitHeight && turned.width() * scale > area.width()) {
    area.rheight() -= horizontalScrollBar()->sizeHint().height();
  }
  return ZoomScale(m_zoom, turned, area);
}

double CInkbriteView::ViewScale() const { return ScaleFor(DisplayedSize()); }

QSize CInkbriteView::ShownPageSize() const {
  const QSize page = DisplayedSize();
  return ShownSize(page, QuarterTurns(), ScaleFor(page));
}

void CInkbriteView::SetZoom(ViewZoom zoom) {
  // Fitting by Ctrl+- renders a reduced page; a zoom shows the full one.
  if (m_fit) {
    Fit(false);
    m_fit = false;
  }
  // The point at the middle of the window stays there.
  const QSize before = ShownPageSize();
  const QPoint middle = ScrollPosition() + viewport()->rect().center();
  m_zoom = zoom;
  UpdateScrollSizes();
  const QSize after = ShownPageSize();
  if (!before.isEmpty()) {
    const double rx = static_cast<double>(after.width()) / before.width();
    const double ry = static_cast<double>(after.height()) / before.height();
    ScrollTo(QPoint(static_cast<int>(middle.x() * rx), static_cast<int>(middle.y() * ry)) -
             viewport()->rect().center());
  }
  viewport()->update();
  RememberZoom();
}

namespace {

// The zooms as stored (places and settings): ZoomMode's values, and the
// fitting of 自动缩小到窗口大小.
constexpr int kStoredShrink = 5;
constexpr const char* kZoomKey = "View/Zoom";
constexpr const char* kZoomFactorKey = "View/ZoomFactor";

}  // namespace

fs::path CInkbriteView::ZoomPlace() const {
  if (!m_doc || m_doc->PathName().empty()) return {};
  return m_doc->IsBook() ? m_doc->PathName() : m_doc->PathName().parent_path();
}

void CInkbriteView::RememberZoom() {
  ReadingPlace place;
  place.zoom = m_fit ? kStoredShrink : static_cast<int>(m_zoom.mode);
  place.zoomFactor = m_zoom.factor;
  m_zoomFor = ZoomPlace();
  SaveReadingZoom(m_zoomFor, place);
  // The last choice is where new folders and books start.
  QSettings settings;
  settings.setValue(QLatin1String(kZoomKey), place.zoom);
  settings.setValue(QLatin1String(kZoomFactorKey), place.zoomFactor);
  NoteZoom();
}

void CInkbriteView::TakeRememberedZoom() {
  const fs::path place = ZoomPlace();
  if (place.empty() || place == m_zoomFor) return;
  m_zoomFor = place;
  const ReadingPlace stored = LoadReadingPlace(place);
  int zoom = stored.zoom;
  double factor = stored.zoomFactor;
  if (zoom < 0) {
    const QSettings settings;
    zoom = settings.value(QLatin1String(kZoomKey), -1).toInt();
    factor = settings.value(QLatin1String(kZoomFactorKey), 1.0).toDouble();
  }
  if (zoom < 0 || zoom > kStoredShrink) return;  // never chosen: as the window shows pages now
  m_fit = zoom == kStoredShrink;
  m_zoom = m_fit ? ViewZoom() : ViewZoom{static_cast<ZoomMode>(zoom), std::clamp(factor, 0.1, 8.0)};
}

QString CInkbriteView::ZoomText() const {
  const QSize shown = ShownPageSize();
  if (shown.isEmpty() || !m_source || m_source->IsEmpty()) return {};
  // Screen pixels per pixel of the page as read.
  const QSize turned = TurnedSize(QSize(m_source->Width(), m_source->Height()), QuarterTurns());
  const double scale =
      m_fit ? static_cast<double>(shown.width()) / std::max(1, turned.width()) : ViewScale();
  const int percent = static_cast<int>(std::lround(scale * 100));
  if (m_fit) return tr("缩小到窗口 %1%").arg(percent);
  switch (m_zoom.mode) {
    case ZoomMode::kOneToOne: return tr("实际大小 %1%").arg(percent);
    case ZoomMode::kFactor: return tr("缩放 %1%").arg(percent);
    case ZoomMode::kFitWidth: return tr("适合宽度 %1%").arg(percent);
    case ZoomMode::kFitHeight: return tr("适合高度 %1%").arg(percent);
    case ZoomMode::kFitPage: return tr("适合页面 %1%").arg(percent);
  }
  return {};
}

void CInkbriteView::NoteZoom() {
  if (CInkbriteApp* app = TheApp(); app && app->MainFrame()) app->MainFrame()->UpdateZoomPane();
}

void CInkbriteView::Turn(int quarterTurns) {
  const std::string key = PageKey();
  const int turns = (((m_turns[key] + quarterTurns) % 4) + 4) % 4;
  if (turns == 0) {
    m_turns.erase(key);
  } else {
    m_turns[key] = turns;
  }
  UpdateScrollSizes();
  ScrollTo({0, 0});
  viewport()->update();
}

// ---- painting ----

bool CInkbriteView::CentresPage() const {
  return CentreSmallPages() || (!m_fit && m_zoom.mode != ZoomMode::kOneToOne);
}

QRect CInkbriteView::PageRectFor(QSize shown) const {
  // Top left; centred (a page smaller than the window in either direction)
  // when the user chose so, and in the zooms beside one to one.
  const QRect client = viewport()->rect();
  const QPoint margin = CentresPage() ? QPoint(std::max(0, (client.width() - shown.width()) / 2),
                                               std::max(0, (client.height() - shown.height()) / 2))
                                      : QPoint();
  return {margin - ScrollPosition(), shown};
}

QRect CInkbriteView::ShownPageRect() const { return PageRectFor(ShownPageSize()); }

int CInkbriteView::DividerX() const {
  if (!m_split) return -1;
  const QRect page = ShownPageRect();
  return page.left() + static_cast<int>(std::lround(m_splitAt * page.width()));
}

void CInkbriteView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(viewport());
  const QRect client = viewport()->rect();
  std::lock_guard lock(m_displayMutex);
  m_paintedGeneration = m_displayGeneration;
  const QSize rendered(m_displayed.Width(), m_displayed.Height());
  const int turns = QuarterTurns();
  const double scale = ScaleFor(rendered);
  const QRect page = PageRectFor(ShownSize(rendered, turns, scale));
  // Black around the page, or a neutral grey around a centred one.
  const QRegion outside = QRegion(client).subtracted(page);
  const QColor around = CentreSmallPages() ? QColor(128, 128, 128) : QColor(Qt::black);
  for (const QRect& r : outside) painter.fillRect(r, around);
  if (m_displayed.IsEmpty()) return;
  const QTransform toScreen =
      PageToShown(rendered, turns, scale) * QTransform::fromTranslate(page.left(), page.top());
  const QRect visible = client.intersected(page);
  // What a change renders first (a pixel more around it for the smoothing).
  bool invertible = false;
  const QTransform toPage = toScreen.inverted(&invertible);
  m_partInView = invertible && !visible.isEmpty()
                     ? toPage.mapRect(QRectF(visible)).toAlignedRect().adjusted(-2, -2, 2, 2)
                     : QRect();
  const DibImage* original = m_original.get();
  const bool marks = ShowClipping();
  if (!original || original->IsEmpty() || (!m_split && !ShowsOriginal())) {
    PaintDibTransformed(painter, m_displayed, toScreen, visible, marks);
    return;
  }
  // The original stretched over the enhanced page's place (the enhancement
  // may have scaled it).
  const QTransform originalToScreen =
      QTransform::fromScale(static_cast<double>(rendered.width()) / original->Width(),
                            static_cast<double>(rendered.height()) / original->Height()) *
      toScreen;
  if (!m_split) {
    PaintDibTransformed(painter, *original, originalToScreen, visible);
    return;
  }
  const int divider = page.left() + static_cast<int>(std::lround(m_splitAt * page.width()));
  const QRect left = visible.intersected(
      QRect(QPoint(page.left(), page.top()), QPoint(divider - 1, page.bottom())));
  const QRect right = visible.intersected(QRect(QPoint(divider, page.top()), page.bottomRight()));
  PaintDibTransformed(painter, *original, originalToScreen, left);
  PaintDibTransformed(painter, m_displayed, toScreen, right, marks);
  // The divider, and what each side shows at its top.
  painter.fillRect(QRect(divider - 1, visible.top(), 3, visible.height()), QColor(255, 255, 255));
  painter.fillRect(QRect(divider, visible.top(), 1, visible.height()), QColor(0, 0, 0));
  const QFontMetrics metrics = painter.fontMetrics();
  const auto label = [&](const QString& text, bool onLeft) {
    const int width = metrics.horizontalAdvance(text) + 12;
    const QRect box(onLeft ? divider - 6 - width : divider + 6, visible.top() + 6, width,
                    metrics.height() + 6);
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
  };
  label(tr("原图"), true);
  label(tr("处理后"), false);
}

void CInkbriteView::scrollContentsBy(int /*dx*/, int /*dy*/) { viewport()->update(); }

void CInkbriteView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollSizes();
  if (m_fit && m_initialised && viewport()->width() > 0 && viewport()->height() > 0) Fit(true);
}

// ---- commands ----

bool CInkbriteView::OnCommand(int id) {
  switch (id) {
    case kCmdNextPage:
    case kCmdPreviousPage:
    case kCmdFirstPage:
    case kCmdLastPage: TurnPage(id); return true;
    case kCmdTopLeft:
    case kCmdBottomLeft:
    case kCmdTopRight:
    case kCmdBottomRight: JumpToCorner(id); return true;
    case kCmdSingleKey: SingleKey(); return true;
    case kCmdFitWindow:
      Fit(!m_fit);
      m_fit = !m_fit;
      if (m_fit) m_zoom = ViewZoom();
      UpdateScrollSizes();
      RememberZoom();
      return true;
    case kCmdZoomIn:
    case kCmdZoomOut:
      SetZoom({ZoomMode::kFactor, NextZoomStep(ViewScale(), id == kCmdZoomIn)});
      return true;
    case kCmdActualSize: SetZoom({ZoomMode::kOneToOne}); return true;
    case kCmdFitWidth: SetZoom({ZoomMode::kFitWidth}); return true;
    case kCmdFitHeight: SetZoom({ZoomMode::kFitHeight}); return true;
    case kCmdFitPage: SetZoom({ZoomMode::kFitPage}); return true;
    case kCmdTurnRight: Turn(1); return true;
    case kCmdTurnLeft: Turn(-1); return true;
    case kCmdShowOriginal:
      m_showOriginal = !m_showOriginal;
      viewport()->update();
      return true;
    case kCmdSplitView:
      m_split = !m_split;
      viewport()->update();
      return true;
    case kCmdAutoPlay: ToggleAutoPlay(); return true;
    default: return false;
  }
}

void CInkbriteView::TurnPage(int id) {
  if (!m_doc) return;
  // Within a split spread first.
  if (id == kCmdNextPage && ShowSpreadPart(m_part + 1)) return;
  if (id == kCmdPreviousPage && ShowSpreadPart(m_part - 1)) return;
  if (id == kCmdPreviousPage || id == kCmdLastPage) m_nextPart = -1;  // the spread's last page
  int index = 0;
  using Turn = CInkbriteDoc::Turn;
  const Turn turn = id == kCmdNextPage       ? Turn::kNext
                    : id == kCmdPreviousPage ? Turn::kPrevious
                    : id == kCmdFirstPage    ? Turn::kFirst
                                             : Turn::kLast;
  if (!TurnToNeighbourBook(turn)) {
    const ListedPage page = m_doc->TurnPage(turn, index);
    if (!page.empty()) m_doc->OpenPage(page);
  }
  m_nextPart = 0;
}

bool CInkbriteView::TurnToNeighbourBook(CInkbriteDoc::Turn turn) {
  if (!m_doc->AtBookEnd(turn) || !m_doc->OpenNeighbourBook(turn)) return false;
  const QString name = QString::fromStdString(m_doc->PathName().filename().string());
  if (CInkbriteApp* app = TheApp(); app && app->MainFrame()) {
    app->MainFrame()->ShowNote(turn == CInkbriteDoc::Turn::kNext ? tr("下一本书：%1").arg(name)
                                                                 : tr("上一本书：%1").arg(name));
  }
  return true;
}

void CInkbriteView::JumpToCorner(int id) {
  const QSize page = ShownPageSize();
  const int cw = viewport()->width(), ch = viewport()->height();
  if (id == kCmdTopLeft) {
    ScrollTo({0, 0});
    return;
  }
  if (!(cw < page.width() || ch < page.height())) return;
  const int right = std::max(0, page.width() - cw), bottom = std::max(0, page.height() - ch);
  if (id == kCmdBottomLeft) ScrollTo({0, bottom});
  if (id == kCmdTopRight) ScrollTo({right, 0});
  if (id == kCmdBottomRight) ScrollTo({right, bottom});
}

void CInkbriteView::ArmCornerState() {
  const QSize page = ShownPageSize();
  m_cornerState = 0;
  if (viewport()->height() < page.height()) m_cornerState |= kCornerTaller;
  if (viewport()->width() < page.width()) m_cornerState |= kCornerWider;
  if (m_cornerState == (kCornerTaller | kCornerWider)) m_cornerState = 7;
}

void CInkbriteView::SingleKey() {
  const QSize page = ShownPageSize();
  // A window left blank by a page that could not be read goes on to the
  // next page, as auto-play does.
  if (page.isEmpty() && !m_doc) {
    Beep();
    return;
  }
  if (m_cornerState != 0) {
    const int cw = viewport()->width(), ch = viewport()->height();
    const int right = std::max(0, page.width() - cw), bottom = std::max(0, page.height() - ch);
    if (m_cornerState & kCornerTaller) {
      m_cornerState &= ~kCornerTaller;
      ScrollTo({0, bottom});
    } else if (m_cornerState & kCornerWider) {
      m_cornerState &= ~kCornerWider;
      ScrollTo({right, 0});
    } else if (m_cornerState & kCornerBoth) {
      m_cornerState &= ~kCornerBoth;
      ScrollTo({right, bottom});
    }
    return;
  }
  if (!m_doc) return;
  if (ShowSpreadPart(m_part + 1)) {
    ArmCornerState();
    return;
  }
  if (TurnToNeighbourBook(CInkbriteDoc::Turn::kNext)) {
    ArmCornerState();
    return;
  }
  int index = 0;
  const ListedPage next = m_doc->TurnPage(CInkbriteDoc::Turn::kNext, index);
  if (next.empty()) return;
  // A page that cannot be read shows no message while browsing with one key.
  m_doc->SetShowReadError(false);
  m_doc->OpenPage(next);
  m_doc->SetShowReadError(true);
  ArmCornerState();
}

void CInkbriteView::Fit(bool fit) {
  if (m_fitBusy || !m_doc) return;
  m_fitBusy = true;
  // The page is rebuilt here from the document's; the background thread
  // must not render it at the same time, so it is stopped and started again
  // as a page change does.
  m_worker.Stop();
  m_source = m_doc->SharedPage();
  ShowSource(fit);
  ScrollTo({0, 0});
  if (m_source) StartWorker();
  m_fitBusy = false;
}

void CInkbriteView::OnActivateView(bool active) {
  if (!m_doc) return;
  if (active) {
    m_doc->SetSavingView(this);
    if (PerWindowMode()) AppParams().Assign(m_working);
  } else if (m_doc->SavingView() == this) {
    m_doc->SetSavingView(nullptr);
  }
}

// ---- parameter events ----

bool CInkbriteView::event(QEvent* event) {
  if (event->type() == ParamChangeEvent::kType) {
    const auto* change = static_cast<ParamChangeEvent*>(event);
    if (PerWindowMode()) m_window.SetValue(change->Slot(), change->Value());
    m_working.SetValue(change->Slot(), change->Value());
    WakeWorker();
    return true;
  }
  if (event->type() == ParamResetEvent::kType) {
    m_working.Assign(PerWindowMode() ? m_window : AppParams());
    WakeWorker();
    return true;
  }
  return QAbstractScrollArea::event(event);
}

// ---- scrolling by keys and mouse ----

bool CInkbriteView::ScrollStep(int dx, int dy) {
  if (dx == 0 && dy == 0) return false;
  const QPoint from = ScrollPosition();
  const QSize page = ShownPageSize();
  const int cw = viewport()->width(), ch = viewport()->height();
  int x = std::max(0, from.x() + dx);
  if (x + cw > page.width()) x = page.width() - cw;
  int y = std::max(0, from.y() + dy);
  if (y + ch > page.height()) y = page.height() - ch;
  ScrollTo({x, y});  // the scroll bars limit a negative target to 0
  return ScrollPosition() != from;
}

void CInkbriteView::keyPressEvent(QKeyEvent* event) {
  // B held: the original page for as long as it is down.
  if (event->key() == Qt::Key_B && event->modifiers() == Qt::NoModifier) {
    if (!event->isAutoRepeat() && !m_holdOriginal) {
      m_holdOriginal = true;
      viewport()->update();
    }
    event->accept();
    return;
  }
  if (IsArrowKey(event->key())) {
    m_heldArrows.insert(event->key());
    if (!m_keyScrollTimer.isActive()) {
      KeyScrollTick();  // the first step at once
      if (!m_heldArrows.empty()) m_keyScrollTimer.start();
    }
    event->accept();
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void CInkbriteView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_B && !event->isAutoRepeat()) {
    m_holdOriginal = false;
    viewport()->update();
    event->accept();
    return;
  }
  if (IsArrowKey(event->key()) && !event->isAutoRepeat()) {
    m_heldArrows.erase(event->key());
    if (m_heldArrows.empty()) StopKeyScroll();
    event->accept();
    return;
  }
  QAbstractScrollArea::keyReleaseEvent(event);
}

void CInkbriteView::KeyScrollTick() {
  if (!m_hasFocus && !hasFocus()) {
    StopKeyScroll();
    return;
  }
  const bool left = m_heldArrows.count(Qt::Key_Left), right = m_heldArrows.count(Qt::Key_Right);
  const bool up = m_heldArrows.count(Qt::Key_Up), down = m_heldArrows.count(Qt::Key_Down);
  const int dx = (left == right) ? 0 : (left ? -kKeyScrollStep : kKeyScrollStep);
  const int dy = (up == down) ? 0 : (up ? -kKeyScrollStep : kKeyScrollStep);
  if (!ScrollStep(dx, dy)) StopKeyScroll();
}

void CInkbriteView::StopKeyScroll() {
  m_keyScrollTimer.stop();
  m_heldArrows.clear();
}

void CInkbriteView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  m_hasFocus = true;
}

void CInkbriteView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  m_hasFocus = false;
  StopKeyScroll();
  if (m_holdOriginal) {
    m_holdOriginal = false;  // the release goes elsewhere
    viewport()->update();
  }
}

void CInkbriteView::UpdateCursor(QPoint point) {
  const QSize page = ShownPageSize();
  Qt::CursorShape shape = Qt::ArrowCursor;
  const int divider = DividerX();
  if (m_movingDivider || (divider >= 0 && std::abs(point.x() - divider) <= kDividerGrip)) {
    shape = Qt::SplitHCursor;
  } else if (!PageFitsClient()) {
    if (m_dragging) {
      shape = Qt::ClosedHandCursor;
    } else if (point.x() <= page.width() && point.y() <= page.height()) {
      shape = Qt::OpenHandCursor;
    }
  }
  viewport()->setCursor(shape);
}

void CInkbriteView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && (event->buttons() & Qt::LeftButton)) {
    // Right button while the left is held: previous page, posted.
    QMetaObject::invokeMethod(
        this, [this] { OnCommand(kCmdPreviousPage); }, Qt::QueuedConnection);
    return;
  }
  const int divider = DividerX();
  if (event->button() == Qt::LeftButton && divider >= 0 &&
      std::abs(event->position().toPoint().x() - divider) <= kDividerGrip) {
    m_movingDivider = true;
    return;
  }
  if (event->button() == Qt::LeftButton) {
    m_dragging = true;
    m_dragAnchor = event->position().toPoint();
    m_pressPoint = m_dragAnchor;
    UpdateCursor(m_dragAnchor);
  }
  QAbstractScrollArea::mousePressEvent(event);
}

void CInkbriteView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_dragging = false;
    m_movingDivider = false;
    UpdateCursor(event->position().toPoint());
  }
  QAbstractScrollArea::mouseReleaseEvent(event);
}

void CInkbriteView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double-click on the page goes into the reader's full screen and out.
  CMainFrame* frame = TheApp() ? TheApp()->MainFrame() : nullptr;
  if (event->button() == Qt::LeftButton && frame) {
    QMetaObject::invokeMethod(
        frame, [frame] { frame->OnCommand(kCmdReaderFullScreen); }, Qt::QueuedConnection);
    return;
  }
  QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void CInkbriteView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  UpdateCursor(point);
  if (m_movingDivider && (event->buttons() & Qt::LeftButton)) {
    const QRect page = ShownPageRect();
    if (page.width() > 0) {
      m_splitAt = std::clamp(static_cast<double>(point.x() - page.left()) / page.width(), 0.0, 1.0);
      viewport()->update();
    }
    return;
  }
  if (m_dragging && (event->buttons() & Qt::LeftButton)) {
    if (DragPageOut(event)) return;
    ScrollStep(m_dragAnchor.x() - point.x(), m_dragAnchor.y() - point.y());
    m_dragAnchor = point;
  }
}

QMimeData* CInkbriteView::PageDragData() const {
  if (!m_doc || m_doc->IsBook() || m_doc->PathName().empty()) return nullptr;
  auto* page = new QMimeData;
  page->setUrls({QUrl::fromLocalFile(QString::fromStdString(m_doc->PathName().string()))});
  return page;
}

bool CInkbriteView::DragPageOut(QMouseEvent* event) {
  const bool outward = PageFitsClient() || (event->modifiers() & Qt::ControlModifier);
  const QPoint moved = event->position().toPoint() - m_pressPoint;
  if (!outward || moved.manhattanLength() < QApplication::startDragDistance()) return false;
  QMimeData* page = PageDragData();
  if (page == nullptr) return false;
  m_dragging = false;
  auto* drag = new QDrag(this);
  drag->setMimeData(page);
  drag->exec(Qt::CopyAction);
  UpdateCursor(event->position().toPoint());
  return true;
}

void CInkbriteView::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (event->modifiers() != Qt::NoModifier || delta == 0 || !m_doc) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  const QScrollBar* bar = verticalScrollBar();
  const bool atTop = bar->value() <= bar->minimum();
  const bool atBottom = bar->value() >= bar->maximum();
  switch (m_wheel.OnWheel(delta, atTop, atBottom)) {
    case WheelPager::Action::kScroll: QAbstractScrollArea::wheelEvent(event); return;
    case WheelPager::Action::kWait: event->accept(); return;
    case WheelPager::Action::kNextPage:
    case WheelPager::Action::kPreviousPage: break;
  }
  event->accept();
  const bool back = delta > 0;
  // Through the main window, so the page counter and the strip follow.
  CMainFrame* frame = TheApp() ? TheApp()->MainFrame() : nullptr;
  if (frame && frame->ActiveView() == this) {
    frame->OnCommand(back ? kCmdPreviousPage : kCmdNextPage);
  } else {
    OnCommand(back ? kCmdPreviousPage : kCmdNextPage);
  }
  // Going back, the previous page shows its bottom, where reading left it.
  if (back) {
    const QSize page = DisplayedSize();
    ScrollTo({0, std::max(0, page.height() - viewport()->height())});
  }
  m_wheel.Reset();
}

}  // namespace inkbrite
