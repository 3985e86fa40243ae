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
#include <cstdint>
#include <memory>

#include "browse/inkbrite_doc.h"
#include "browse/reading/reading_places.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/dib_paint.h"
#include "browse/widgets/strip_view.h"
#include "core/enhance.h"
#include "formats/picture_size.h"

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

bool IsArrowKey(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

}  // namespace

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
  connect(&m_renderer, &PageRenderer::rendered, this, [this] { OnPageRendered(); });
  connect(&m_renderer, &PageRenderer::renderFailed, this, [this] { ShowOutOfMemory(); });
  if (m_doc) m_doc->AddView(this);
}

CInkbriteView::~CInkbriteView() {
  m_autoPlay.stop();
  m_keyScrollTimer.stop();
  m_renderer.Stop();
  if (m_doc) m_doc->RemoveView(this);
}

// ---- pages ----

void CInkbriteView::OnInitialUpdate() {
  m_renderer.Stop();
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
  // Which page of a spread: the one asked for (-1: the last), else the first.
  m_singlePart = m_nextPart;
  m_nextPart = 0;
  m_singleDue = true;
  // The layout first: under the continuous layout the page alone is
  // rendered only once the strip goes (DropStrip), so opening a strip
  // costs no rendering of a page nobody sees.
  const bool chose = ChooseLayout();
  if (m_strip || StripExpected()) {
    // No picture of an earlier page left behind the strip.
    m_renderer.ShowPage(nullptr, {}, Snapshot());
    m_cornerState = 0;
    // The continuous layout follows the page the document opened.
    if (!chose && m_strip) m_strip->FollowDocument();
  } else {
    ShowPageAlone();
  }
  // An unreadable page leaves the window blank for one interval; playing
  // goes on.
  if (m_autoPlayPaused) {
    m_autoPlayPaused = false;
    m_autoPlay.start(m_autoPlayInterval);
  }
}

void CInkbriteView::OnFullPage() {
  // A page not shown yet (under the strip) takes the full page when shown.
  if (!m_initialised || !m_doc || m_singleDue) return;
  std::shared_ptr<const DibImage> page = m_doc->SharedPage();
  if (!page) {
    OnInitialUpdate();
    return;
  }
  // The reduced picture stays on screen until the full page is rendered.
  m_renderer.ReplaceSource(std::move(page));
}

EnhanceSettings CInkbriteView::Snapshot() const {
  // A fitted page is not scaled again by the parameters; a page that is
  // resamples with the application-wide filter.
  return {m_working, AppParams().GetValue(kResizeType)};
}

void CInkbriteView::PassParameters() {
  // The page under the strip is rendered once the strip goes.
  if (m_strip) {
    m_strip->SetParameters(Snapshot());
  } else {
    m_renderer.SetParameters(Snapshot());
  }
}

void CInkbriteView::TakeParameters() {
  // Without per-window mode every window draws with the shared set. In
  // per-window mode the window keeps its own set from page to page (a new
  // window starts at the defaults).
  if (!PerWindowMode()) m_working.Assign(AppParams());
}

void CInkbriteView::ShowPageAlone() {
  if (!m_singleDue) return;
  m_singleDue = false;
  ShowSource(m_fit, m_singlePart);
  ScrollTo({0, 0});
  if (m_renderer.Source()) {
    ArmCornerState();
  } else {
    m_cornerState = 0;
  }
}

bool CInkbriteView::ShowSource(bool fit, int part) {
  PageRenderer::Layout layout;
  layout.fit = fit;
  layout.box = viewport()->size();
  layout.part = part;
  std::shared_ptr<const DibImage> page = m_doc ? m_doc->SharedPage() : nullptr;
  if (fit && page) layout.ahead = m_doc->FittedAhead(layout.box.width(), layout.box.height());
  // Two pages side by side are composed afresh at each turn, never fitted
  // ahead: they may be shown sampled first.
  layout.rough = m_doc && m_doc->Shown().count == 2;
  // The JPEG clean-up follows the page's own table, read with the page
  // (two pages side by side assume the usual one).
  if (page && m_doc && m_doc->Shown().count == 1) layout.jpeg = m_doc->PageJpegTables();
  const bool held = m_renderer.ShowPage(std::move(page), layout, Snapshot());
  UpdateScrollSizes();
  viewport()->update();
  if (!held) ShowOutOfMemory();
  return held;
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
  if (ShowSpreadPart(SpreadPart() + 1)) return;
  int index = 0;
  CDirManager& list = m_doc->DirList();
  const ListedPage page = m_doc->TurnPage(CInkbriteDoc::Turn::kNext, index);
  if (!page.empty()) {
    // No message for a bad page while playing.
    m_doc->SetShowReadError(false);
    m_doc->OpenPage(page);
    m_doc->SetShowReadError(true);
    emit pageTurned();
  }
  if (index == list.GetCount()) {
    m_autoPlay.stop();
    m_autoPlayPaused = false;
    emit commandsChanged();
  }
}

PageHistogram CInkbriteView::Histogram() const { return m_renderer.Histogram(); }

DibImage CInkbriteView::DisplayedPage() const { return m_renderer.Picture(); }

QSize CInkbriteView::DisplayedSize() const { return m_renderer.PictureSize(); }

void CInkbriteView::OnPageRendered() {
  UpdateScrollSizes();
  viewport()->update();
  emit pictureChanged();
}

std::string CInkbriteView::FindingsText() const { return DescribeFindings(m_renderer.Findings()); }

bool CInkbriteView::ShowSpreadPart(int part) {
  if (!m_renderer.Source() || part < 0 || part >= SpreadParts() || part == SpreadPart()) {
    return false;
  }
  m_nextPart = part;
  OnInitialUpdate();
  emit pictureChanged();
  return true;
}

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
  return m_doc->PathName().string() + '\n' + m_doc->EntryName() + '\n' +
         std::to_string(SpreadPart());
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

QSize CInkbriteView::LaidOutSize(QSize picture) const {
  return LaidOutSize(picture, m_renderer.PictureSourceSize());
}

QSize CInkbriteView::LaidOutSize(QSize picture, QSize made) const {
  // A stand-in for a big page being decoded (until the full page is
  // rendered) is laid out at the size the full page will have, so the
  // window keeps its scale, place and scroll bars when it is replaced. A
  // fitted picture is shown as it is.
  QSize full = m_doc ? m_doc->FullPageSize() : QSize();
  const std::shared_ptr<const DibImage>& source = m_renderer.Source();
  if (full.isEmpty() && source) full = QSize(source->Width(), source->Height());
  if (m_renderer.IsFitted() || made.isEmpty() || full.isEmpty() || made == full ||
      made.width() > full.width()) {
    return picture;
  }
  return {static_cast<int>(
              std::lround(static_cast<double>(picture.width()) * full.width() / made.width())),
          static_cast<int>(
              std::lround(static_cast<double>(picture.height()) * full.height() / made.height()))};
}

double CInkbriteView::ViewScale() const { return ScaleFor(LaidOutSize(DisplayedSize())); }

QSize CInkbriteView::ShownPageSize() const {
  const QSize page = LaidOutSize(DisplayedSize());
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
  if (m_strip) {
    const int percent = m_strip->ZoomPercent();
    return percent > 0 ? tr("连续滚动 %1%").arg(percent) : QString();
  }
  const QSize shown = ShownPageSize();
  const std::shared_ptr<const DibImage>& source = m_renderer.Source();
  if (shown.isEmpty() || !source || source->IsEmpty()) return {};
  // Screen pixels per pixel of the page as read.
  const QSize turned = TurnedSize(QSize(source->Width(), source->Height()), QuarterTurns());
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

void CInkbriteView::NoteZoom() { emit zoomChanged(); }

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
  QRect partInView;
  m_paintedGeneration =
      m_renderer.Read([&](const DibImage& shown, const DibImage* original, QSize source) {
        Paint(painter, shown, original, source, partInView);
      });
  m_renderer.SetPartInView(partInView);
}

void CInkbriteView::Paint(QPainter& painter, const DibImage& shown, const DibImage* original,
                          QSize source, QRect& partInView) {
  const QRect client = viewport()->rect();
  const QSize rendered(shown.Width(), shown.Height());
  const QSize laidOut = LaidOutSize(rendered, source);
  const int turns = QuarterTurns();
  const double scale = ScaleFor(laidOut);
  const QRect page = PageRectFor(ShownSize(laidOut, turns, scale));
  // Black around the page, or a neutral grey around a centred one.
  const QRegion outside = QRegion(client).subtracted(page);
  const QColor around = CentreSmallPages() ? QColor(128, 128, 128) : QColor(Qt::black);
  for (const QRect& r : outside) painter.fillRect(r, around);
  if (shown.IsEmpty()) return;
  const QTransform toScreen =
      QTransform::fromScale(static_cast<double>(laidOut.width()) / rendered.width(),
                            static_cast<double>(laidOut.height()) / rendered.height()) *
      PageToShown(laidOut, turns, scale) * QTransform::fromTranslate(page.left(), page.top());
  const QRect visible = client.intersected(page);
  // What a change renders first (a pixel more around it for the smoothing).
  bool invertible = false;
  const QTransform toPage = toScreen.inverted(&invertible);
  if (invertible && !visible.isEmpty()) {
    partInView = toPage.mapRect(QRectF(visible)).toAlignedRect().adjusted(-2, -2, 2, 2);
  }
  const bool marks = ShowClipping();
  if (!original || original->IsEmpty() || (!m_split && !ShowsOriginal())) {
    PaintDibTransformed(painter, shown, toScreen, visible, marks);
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
  PaintDibTransformed(painter, shown, toScreen, right, marks);
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
  if (m_strip) m_strip->setGeometry(rect());
  UpdateScrollSizes();
  if (m_fit && m_initialised && viewport()->width() > 0 && viewport()->height() > 0) Fit(true);
}

// ---- the continuous layout ----

void CInkbriteView::SetContinuous(bool on) {
  if (!m_doc || on == (m_strip != nullptr)) return;
  if (on) {
    ShowStrip(-1, 0.0);
  } else {
    DropStrip(true);
  }
  // The reader's choice, kept for this folder or book.
  const ListedPage here = m_doc->DirList().PageAt(m_doc->DirList().GetCurrentIndex());
  ReadingPlace place;
  place.page = here.InBook() ? here.entry : here.file.filename().string();
  place.continuous = on ? 1 : 0;
  place.stripWithin = m_strip ? m_strip->Place().within : 0.0;
  SaveStripPlace(m_doc->DirList().Directory(), place);
}

void CInkbriteView::DropStrip(bool showMiddle) {
  if (!m_strip) return;
  const int middle = m_strip->Place().page;
  const bool focused = m_strip->hasFocus();
  setFocusProxy(nullptr);
  // Its pages and threads go now, the widget once the event under way is
  // done (it may be the one asking).
  m_strip->Retire();
  m_strip->deleteLater();
  m_strip = nullptr;
  // The page under the middle line, shown alone.
  if (showMiddle && m_doc->DirList().GetCurrentIndex() != middle + 1) {
    const ListedPage listed = m_doc->DirList().MoveTo(middle + 1);
    if (!listed.empty()) m_doc->OpenPage(listed);
  }
  // The page the document shows, not rendered while the strip was over it
  // (a tall page kept reduced for the strip decoded whole now).
  m_doc->LoadFullPage();
  ShowPageAlone();
  m_renderer.SetParameters(Snapshot());
  if (focused) setFocus();
  emit pageTurned();
  emit commandsChanged();
}

void CInkbriteView::ShowStrip(int page, double within) {
  if (!m_strip) {
    m_strip = new CStripView(m_doc, this);
    connect(m_strip, &CStripView::placeChanged, this,
            [this] { emit noteShown(m_strip->PlaceText()); });
    connect(m_strip, &CStripView::rested, this, [this] { emit pageTurned(); });
  }
  m_strip->setGeometry(rect());
  m_strip->show();
  m_strip->raise();
  setFocusProxy(m_strip);
  m_strip->SetParameters(Snapshot());
  if (page < 0) page = std::max(m_doc->DirList().GetCurrentIndex() - 1, 0);
  m_strip->ShowList({page, within});
  m_doc->KeepTallPageReduced();
  if (hasFocus() || m_hasFocus) m_strip->setFocus();
  emit commandsChanged();
}

bool CInkbriteView::StripExpected() const {
  if (!m_doc || m_doc->IsBook() || !m_doc->DirList().Directory().empty()) return false;
  return LoadReadingPlace(m_doc->PathName().parent_path()).continuous == 1;
}

void CInkbriteView::OnListed() {
  if (!m_initialised) return;
  if (!ChooseLayout() && m_strip) m_strip->FollowDocument();
  // A folder expected in the strip that does not show it after all.
  if (!m_strip) ShowPageAlone();
}

bool CInkbriteView::ChooseLayout() {
  if (!m_doc) return false;
  const fs::path& listed = m_doc->DirList().Directory();
  if (listed.empty() || listed == m_layoutFor) return false;
  m_layoutFor = listed;
  const ReadingPlace place = LoadReadingPlace(listed);
  bool on = place.continuous == 1;
  if (place.continuous < 0) {
    // Never chosen: a webtoon, or pages mostly tall (the page shown and a
    // few more of a folder, measured by their headers).
    std::vector<StripPageSize> sizes;
    if (const std::shared_ptr<const DibImage> page = m_doc->SharedPage()) {
      sizes.push_back({page->Width(), page->Height()});
    }
    const int count = std::min(m_doc->DirList().GetCount(), 8);
    for (int position = 1; position <= count; ++position) {
      const ListedPage listedPage = m_doc->DirList().PageAt(position);
      PictureSize size;
      if (!listedPage.InBook() && ReadPictureFileSize(listedPage.file, size)) {
        sizes.push_back({static_cast<int>(size.width), static_cast<int>(size.height)});
      }
    }
    const std::shared_ptr<PageSource> source = m_doc->DirList().Source();
    on = LooksLikeStrip(source && source->IsBook() ? source->Info().format : std::string(), sizes);
  }
  if (!on) {
    DropStrip(false);
    return false;
  }
  // Where the reader left it: the share of the page under the middle line.
  const int current = std::max(m_doc->DirList().GetCurrentIndex() - 1, 0);
  const ListedPage here = m_doc->DirList().PageAt(current + 1);
  const std::string name = here.InBook() ? here.entry : here.file.filename().string();
  ShowStrip(current, name == place.page ? place.stripWithin : 0.0);
  return true;
}

// ---- commands ----

void CInkbriteView::ToggleFitToWindow() {
  Fit(!m_fit);
  m_fit = !m_fit;
  if (m_fit) m_zoom = ViewZoom();
  UpdateScrollSizes();
  RememberZoom();
}

void CInkbriteView::ZoomIn() { SetZoom({ZoomMode::kFactor, NextZoomStep(ViewScale(), true)}); }

void CInkbriteView::ZoomOut() { SetZoom({ZoomMode::kFactor, NextZoomStep(ViewScale(), false)}); }

void CInkbriteView::ToggleShowOriginal() {
  m_showOriginal = !m_showOriginal;
  viewport()->update();
}

void CInkbriteView::ToggleSplitView() {
  m_split = !m_split;
  viewport()->update();
}

void CInkbriteView::ToggleContinuous() { SetContinuous(!m_strip); }

void CInkbriteView::TurnPage(CInkbriteDoc::Turn turn) {
  if (!m_doc) return;
  if (m_strip) {
    using Turn = CInkbriteDoc::Turn;
    m_strip->Move(turn == Turn::kNext       ? StripMove::kNextPage
                  : turn == Turn::kPrevious ? StripMove::kPreviousPage
                  : turn == Turn::kFirst    ? StripMove::kStart
                                            : StripMove::kEnd);
    return;
  }
  TurnPageWithin(turn);
  emit pageTurned();
}

void CInkbriteView::TurnPageWithin(CInkbriteDoc::Turn turn) {
  using Turn = CInkbriteDoc::Turn;
  // Within a split spread first.
  if (turn == Turn::kNext && ShowSpreadPart(SpreadPart() + 1)) return;
  if (turn == Turn::kPrevious && ShowSpreadPart(SpreadPart() - 1)) return;
  if (turn == Turn::kPrevious || turn == Turn::kLast) m_nextPart = -1;  // the spread's last page
  int index = 0;
  if (!TurnToNeighbourBook(turn)) {
    const ListedPage page = m_doc->TurnPage(turn, index);
    if (!page.empty()) m_doc->OpenPage(page);
  }
  m_nextPart = 0;
}

bool CInkbriteView::TurnToNeighbourBook(CInkbriteDoc::Turn turn) {
  if (!m_doc->AtBookEnd(turn) || !m_doc->OpenNeighbourBook(turn)) return false;
  const QString name = QString::fromStdString(m_doc->PathName().filename().string());
  emit noteShown(turn == CInkbriteDoc::Turn::kNext ? tr("下一本书：%1").arg(name)
                                                   : tr("上一本书：%1").arg(name));
  return true;
}

void CInkbriteView::JumpToCorner(Corner corner) {
  // In the strip: Home and End its ends, Page Up and Down a screen.
  if (m_strip) {
    m_strip->Move(corner == Corner::kTopLeft      ? StripMove::kStart
                  : corner == Corner::kBottomLeft ? StripMove::kEnd
                  : corner == Corner::kTopRight   ? StripMove::kScreenUp
                                                  : StripMove::kScreenDown);
    return;
  }
  const QSize page = ShownPageSize();
  const int cw = viewport()->width(), ch = viewport()->height();
  if (corner == Corner::kTopLeft) {
    ScrollTo({0, 0});
    return;
  }
  if (!(cw < page.width() || ch < page.height())) return;
  const int right = std::max(0, page.width() - cw), bottom = std::max(0, page.height() - ch);
  if (corner == Corner::kBottomLeft) ScrollTo({0, bottom});
  if (corner == Corner::kTopRight) ScrollTo({right, 0});
  if (corner == Corner::kBottomRight) ScrollTo({right, bottom});
}

void CInkbriteView::ArmCornerState() {
  const QSize page = ShownPageSize();
  m_cornerState = 0;
  if (viewport()->height() < page.height()) m_cornerState |= kCornerTaller;
  if (viewport()->width() < page.width()) m_cornerState |= kCornerWider;
  if (m_cornerState == (kCornerTaller | kCornerWider)) m_cornerState = 7;
}

void CInkbriteView::SingleKey() {
  if (m_strip) {
    m_strip->Move(StripMove::kScreenDown);
    return;
  }
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
  if (ShowSpreadPart(SpreadPart() + 1)) {
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
  emit pageTurned();
}

void CInkbriteView::Fit(bool fit) {
  // A page not shown yet (under the strip) is fitted when it is shown.
  if (m_fitBusy || !m_doc || m_singleDue) return;
  m_fitBusy = true;
  // The page is rebuilt here from the document's; the background thread
  // must not render it at the same time, so it is stopped and started again
  // as a page change does.
  ShowSource(fit, SpreadPart());
  ScrollTo({0, 0});
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
    PassParameters();
    return true;
  }
  if (event->type() == ParamResetEvent::kType) {
    m_working.Assign(PerWindowMode() ? m_window : AppParams());
    PassParameters();
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
    // Right button while the left is held: previous page, asked for once
    // the mouse event is done.
    QMetaObject::invokeMethod(
        this, [this] { emit pageTurnRequested(CInkbriteDoc::Turn::kPrevious); },
        Qt::QueuedConnection);
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
  // A double-click on the page: the frame turns to the next page or goes
  // into the reader's full screen and out (connected queued).
  if (event->button() == Qt::LeftButton) {
    emit pageDoubleClicked();
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
  emit pageTurnRequested(back ? CInkbriteDoc::Turn::kPrevious : CInkbriteDoc::Turn::kNext);
  // Going back, the previous page shows its bottom, where reading left it.
  if (back) {
    const QSize page = DisplayedSize();
    ScrollTo({0, std::max(0, page.height() - viewport()->height())});
  }
  m_wheel.Reset();
}

}  // namespace inkbrite
