// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/page_renderer.h"

#include <QMetaObject>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace inkbrite {

namespace {

// Two pages of the same pixels (and layout of them).
bool SamePixels(const DibImage& a, const DibImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount() ||
      a.IsGreyLevels() != b.IsGreyLevels() || a.Palette() != b.Palette() || a.IsEmpty()) {
    return false;
  }
  const auto bytes = static_cast<size_t>(a.Width()) * static_cast<size_t>(a.BitCount()) / 8;
  for (int32_t y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y), b.Row(y), bytes) != 0) return false;
  }
  return true;
}

// Two pages side by side this large (in pixels) are first shown roughly
// sampled when fitted, the exact fitting following from the worker: fitting
// two pages of 1700 x 2400 takes tens of milliseconds.
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

bool SameSettings(const EnhanceSettings& a, const EnhanceSettings& b) {
  return a.values == b.values && a.filter == b.filter;
}

}  // namespace

PageRenderer::PageRenderer(QObject* parent) : QObject(parent) { m_answers->renderer = this; }

PageRenderer::~PageRenderer() {
  {
    std::lock_guard lock(m_answers->mutex);
    m_answers->renderer = nullptr;
  }
  m_worker.Stop();
}

void PageRenderer::Stop() { m_worker.Stop(); }

void PageRenderer::Wake() {
  {
    std::lock_guard lock(m_wakeMutex);
    m_wake = true;
  }
  m_wakeSignal.notify_one();
}

void PageRenderer::SetParameters(const EnhanceSettings& params) {
  {
    std::lock_guard lock(m_paramsMutex);
    m_wanted = params;
  }
  if (!m_worker.IsRunning()) return;  // no page: nothing to render
  m_wakePending = true;
  Wake();
}

void PageRenderer::SetLevelsFrom(std::shared_ptr<const DibImage> page) {
  {
    std::lock_guard lock(m_paramsMutex);
    if (m_levelsFrom == page) return;
    m_levelsFrom = std::move(page);
  }
  if (!m_worker.IsRunning()) return;
  m_rebase = true;
  m_wakePending = true;
  Wake();
}

void PageRenderer::SetPartInView(QRect part) {
  QSize shown;
  {
    std::lock_guard lock(m_pictureMutex);
    m_partInView = part;
    shown = QSize(ShownLocked().Width(), ShownLocked().Height());
  }
  // The learned page being made may begin with this part: of the source,
  // when the picture is the source at the step's scale.
  if (!m_learnedWaiting || m_fitted || !m_source || part.isEmpty()) return;
  int scale = 1;
  {
    std::lock_guard lock(m_paramsMutex);
    scale = m_wanted[kLearnedScale] == 2 ? 2 : 1;
  }
  if (shown != QSize(m_source->Width() * scale, m_source->Height() * scale)) return;
  std::optional<LearnedPages::Key> asked;
  {
    std::lock_guard lock(m_learnedMutex);
    asked = m_learnedAsked;
  }
  if (!asked) return;
  const QRect inPicture = part & QRect(QPoint(0, 0), shown);
  LearnedPages::Shared().SetPart(
      *asked, {inPicture.left() / scale, inPicture.top() / scale,
               (inPicture.right() + scale) / scale, (inPicture.bottom() + scale) / scale});
}

bool PageRenderer::ShowPage(std::shared_ptr<const DibImage> source, const Layout& layout,
                            const EnhanceSettings& params) {
  m_worker.Stop();
  {
    std::lock_guard lock(m_paramsMutex);
    m_wanted = params;
  }
  // The worker has nothing to do until the parameters change.
  m_rendering = params;
  m_wakePending = false;
  m_rebase = false;
  {
    std::lock_guard lock(m_learnedMutex);
    m_learnedAsked.reset();
    m_learnedPart.reset();
  }
  m_source = std::move(source);
  m_inPlace.reset();
  m_jpeg = layout.jpeg;
  m_base.reset();
  m_fitted = layout.fit;
  m_box = layout.box;
  m_ahead = layout.fit ? layout.ahead : nullptr;
  m_part = layout.part;
  m_baseSource = QSize();
  // Fitting starts from an empty picture, so nothing of the earlier size
  // is laid out meanwhile.
  if (layout.fit) SetPicture(DibImage(), nullptr, {});
  DibImage page;
  PageFindings findings;
  const bool held = !m_source || (MakeBase(layout.fit, params, layout.rough) &&
                                  Prepare(page, params, {}, findings) == Rendering::kDone);
  if (held && m_roughBase) {
    // The exact fitting follows at once from the worker.
    ++m_roughPictures;
    m_rebase = true;
    Wake();
  }
  if (!held) {
    page.Clear();
    m_source.reset();
    m_base.reset();
  }
  m_part = std::max(0, m_baseFindings.part - 1);
  SetPicture(std::move(page), held ? m_base : nullptr, findings);
  if (m_source) StartWorker();
  return held;
}

void PageRenderer::ReplaceSource(std::shared_ptr<const DibImage> source) {
  m_worker.Stop();
  m_inPlace.reset();
  m_source = std::move(source);
  m_ahead.reset();
  m_rebase = true;
  StartWorker();
  Wake();
}

bool PageRenderer::LetSourceGo() {
  if (!m_source || m_fitted || m_learnedWaiting || RenderPending() || PictureIsBase()) return false;
  m_worker.Stop();
  m_source.reset();
  m_base.reset();
  m_ahead.reset();
  std::lock_guard lock(m_pictureMutex);
  m_original.reset();
  return true;
}

bool PageRenderer::RenderInPlace(std::shared_ptr<DibImage> page, const EnhanceSettings& params) {
  if (!page || ReadAutoSteps(params).AnySourceStep() || LearnedStepActs(params)) return false;
  m_worker.Stop();
  {
    std::lock_guard lock(m_paramsMutex);
    m_wanted = params;
  }
  {
    std::lock_guard lock(m_learnedMutex);
    m_learnedAsked.reset();
    m_learnedPart.reset();
  }
  m_rendering = params;
  m_rebase = false;
  m_learnedWaiting = false;
  m_source.reset();
  m_base.reset();
  m_ahead.reset();
  m_jpeg.reset();
  m_fitted = false;
  m_box = QSize();
  m_part = 0;
  m_parts = 1;
  m_baseFindings = {};
  m_baseSource = QSize(page->Width(), page->Height());
  SetPicture(DibImage(), nullptr, {});
  m_inPlace = std::move(page);
  m_wakePending = true;  // due until the worker takes it
  StartWorker();
  Wake();
  return true;
}

bool PageRenderer::MakeBase(bool fit, const EnhanceSettings& params, bool rough) {
  m_base.reset();
  m_roughBase = false;
  m_baseFindings = {};
  m_baseSource = QSize(m_source->Width(), m_source->Height());
  for (size_t i = 0; i < m_baseAuto.size(); ++i) {
    m_baseAuto[i] = params[kBaseSlotCount + static_cast<int>(i)];
  }
  // A copy that cannot be made is a page that cannot be held.
  try {
    std::shared_ptr<const DibImage> staged = m_source;
    m_learnedWaiting = false;
    if (ReadAutoSteps(params).AnySourceStep()) {
      staged = StageSource(fit, params);
      if (!staged) return false;
    } else {
      m_parts = 1;  // every step off: the source itself, shared
    }
    m_base = staged;
    if (!fit) return true;
    // Fitted ahead from the same page by the same scaling.
    if (staged == m_source && m_ahead) {
      m_base = m_ahead;
      return true;
    }
    int32_t w = 0, h = 0;
    staged->FitSize(m_box.width(), m_box.height(), w, h);
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

std::shared_ptr<const DibImage> PageRenderer::StageSource(bool fit, const EnhanceSettings& params) {
  // The learned step takes seconds: its page is made apart and kept; until
  // it is, the page is shown without the step (at the size the step gives,
  // when not fitted, with the part in view made first when there is one).
  EnhanceSettings stage = params;
  std::shared_ptr<const SourcePages> kept;
  std::optional<LearnedPages::Key> learnedKey;
  if (LearnedStepActs(params)) {
    const LearnedPages::Key& key =
        learnedKey.emplace(LearnedPages::KeyOf(*m_source, params, m_jpeg ? &*m_jpeg : nullptr));
    kept = LearnedPages::Shared().Find(key);
    if (!kept) {
      AskLearned(key, params);
      stage = WithoutLearnedStep(params);
      m_learnedWaiting = true;
    }
  }
  if (kept) {
    {
      std::lock_guard lock(m_learnedMutex);
      m_learnedPart.reset();
    }
    m_parts = kept->parts;
    const int shown = std::clamp(m_part < 0 ? kept->parts - 1 : m_part, 0, kept->parts - 1);
    m_baseFindings = kept->found[shown];
    return kept->page[shown];
  }
  auto page = std::make_shared<DibImage>(*m_source);
  DibImage second;
  PageFindings found[2];
  const int parts =
      PrepareSourcePages(stage, *page, second, found, {}, {}, m_jpeg ? &*m_jpeg : nullptr).pages;
  m_parts = parts;
  const int shown = std::clamp(m_part < 0 ? parts - 1 : m_part, 0, parts - 1);
  if (shown == 1) *page = std::move(second);
  m_baseFindings = found[shown];
  if (m_learnedWaiting && !fit) {
    const int scale = params[kLearnedScale] == 2 ? 2 : 1;
    if (scale == 2 && !page->ResizeTo(page->Width() * 2, page->Height() * 2)) return nullptr;
    PutLearnedPart(*learnedKey, *page, scale);
  }
  return page;
}

PageRenderer::Rendering PageRenderer::Prepare(DibImage& page, const EnhanceSettings& params,
                                              const EnhanceHooks& hooks,
                                              PageFindings& findings) const {
  try {
    page = *m_base;
    findings = m_baseFindings;
  } catch (const std::bad_alloc&) {
    return Rendering::kNoMemory;
  }
  // A fitted page is not scaled again by the parameters.
  return Enhance(page, params, hooks, findings, m_fitted);
}

PageRenderer::Rendering PageRenderer::Enhance(DibImage& page, const EnhanceSettings& params,
                                              const EnhanceHooks& hooks, PageFindings& findings,
                                              bool fitted) const {
  try {
    EnhanceHooks withFindings = hooks;
    withFindings.findings = &findings;
    std::shared_ptr<const DibImage> levelsFrom;
    {
      std::lock_guard lock(m_paramsMutex);
      levelsFrom = m_levelsFrom;
    }
    withFindings.levelsFrom = levelsFrom.get();
    if (EnhanceImage(params, page, withFindings, fitted) != 0) return Rendering::kStopped;
  } catch (const std::bad_alloc&) {
    return Rendering::kNoMemory;
  }
  return Rendering::kDone;
}

void PageRenderer::SetPicture(DibImage page, std::shared_ptr<const DibImage> original,
                              const PageFindings& findings) {
  // A page the parameters left as it was is shown itself, its copy let go.
  std::shared_ptr<const DibImage> shared;
  if (original && SamePixels(page, *original)) {
    shared = original;
    page.Clear();
  }
  // Counted before the lock, so a reader never waits for it.
  PageHistogram histogram = ComputeHistogram(shared ? *shared : page);
  std::lock_guard lock(m_pictureMutex);
  m_histogram = histogram;
  m_picture = std::move(page);
  m_pictureShared = std::move(shared);
  const bool empty = ShownLocked().IsEmpty();
  m_original = empty ? nullptr : std::move(original);
  m_findings = findings;
  m_pictureSource = empty ? QSize() : m_baseSource;
  ++m_generation;
}

uint64_t PageRenderer::Read(const std::function<void(const DibImage& page, const DibImage* original,
                                                     QSize source)>& paint) const {
  std::lock_guard lock(m_pictureMutex);
  paint(ShownLocked(), m_original.get(), m_pictureSource);
  return m_generation;
}

DibImage PageRenderer::Picture() const {
  std::lock_guard lock(m_pictureMutex);
  return ShownLocked();
}

QSize PageRenderer::PictureSize() const {
  std::lock_guard lock(m_pictureMutex);
  return {ShownLocked().Width(), ShownLocked().Height()};
}

bool PageRenderer::PictureIsBase() const {
  std::lock_guard lock(m_pictureMutex);
  return m_pictureShared != nullptr;
}

QSize PageRenderer::PictureSourceSize() const {
  std::lock_guard lock(m_pictureMutex);
  return m_pictureSource;
}

uint64_t PageRenderer::Generation() const {
  std::lock_guard lock(m_pictureMutex);
  return m_generation;
}

PageHistogram PageRenderer::Histogram() const {
  std::lock_guard lock(m_pictureMutex);
  return m_histogram;
}

PageFindings PageRenderer::Findings() const {
  std::lock_guard lock(m_pictureMutex);
  return m_findings;
}

void PageRenderer::Say(bool failed) {
  // Posted, never waited for, so a Stop from the owning thread cannot wait
  // on the worker waiting on it.
  const quint64 generation = Generation();
  QMetaObject::invokeMethod(
      this,
      [this, failed, generation] {
        if (failed) {
          emit renderFailed();
        } else {
          emit rendered(generation);
        }
      },
      Qt::QueuedConnection);
}

void PageRenderer::StartWorker() {
  m_worker.SetRoutine([this] { return Routine(); });
  // No thread to be had (the system's limit reached): the page is shown as
  // it is, unenhanced, with the reason.
  if (!m_worker.Start()) {
    ++m_renderFailures;
    Say(true);
  }
}

int PageRenderer::Routine() {
  EnhanceHooks hooks;
  hooks.abortCheck = [this] { return m_worker.IsStopRequested() ? 1 : 0; };
  // A rendering given up for a later change goes straight on with that
  // change, as the same rendering (still under way, counted once).
  bool superseded = false;
  while (!m_worker.IsStopRequested()) {
    if (!superseded) {
      std::unique_lock lock(m_wakeMutex);
      m_wakeSignal.wait(lock, [this] { return m_wake; });
      m_wake = false;
    }
    if (m_worker.IsStopRequested()) break;
    bool same = false;
    {
      // A rendering is counted as begun before the change stops being due,
      // so that it is pending all the while.
      std::lock_guard lock(m_paramsMutex);
      same = SameSettings(m_rendering, m_wanted) && !m_inPlace;
      m_rendering = m_wanted;
      if (!superseded && !(same && !m_rebase)) {
        ++m_renderStarts;
        ++m_rendersOnWake;
      }
      m_wakePending = false;
    }
    // Nothing changed (a new source is rendered all the same).
    if (same && !m_rebase && !superseded) continue;
    // No room for a copy the rendering needs: this page fails with its
    // message, and the thread goes on.
    Rendering result = Rendering::kNoMemory;
    try {
      result = RenderOnce(hooks);
    } catch (const std::bad_alloc&) {
      result = Rendering::kNoMemory;
    }
    superseded = result == Rendering::kSuperseded;
    if (superseded) continue;
    // Counted before it ends: whoever sees no rendering pending sees its
    // count. A rendering that found no memory is not tried again until the
    // parameters change.
    if (result == Rendering::kNoMemory) {
      ++m_renderFailures;
    } else if (result != Rendering::kStopped && result != Rendering::kNothing) {
      ++m_renderCount;
    }
    ++m_renderEnds;
    if (result == Rendering::kStopped) break;
    if (result == Rendering::kNothing) continue;
    Say(result == Rendering::kNoMemory);
  }
  if (superseded) ++m_renderEnds;  // stopped before it went on
  return 0;
}

bool PageRenderer::ParametersMoved() const {
  std::lock_guard lock(m_paramsMutex);
  return !SameSettings(m_rendering, m_wanted);
}

PageRenderer::Rendering PageRenderer::RenderOnce(const EnhanceHooks& hooks) {
  // Rendered into an image of its own, fitted when the layout fits; the
  // picture stays whole until the finished one replaces it. The automatic
  // steps' slots changed: the base is made again from the source.
  if (m_inPlace) return RenderPageInPlace(hooks);
  if (!m_source) {
    m_rebase = false;
    return Rendering::kNothing;
  }
  bool rebase = m_rebase.exchange(false);
  for (size_t i = 0; i < m_baseAuto.size() && !rebase; ++i) {
    rebase = m_rendering[kBaseSlotCount + static_cast<int>(i)] != m_baseAuto[i];
  }
  if (rebase && !MakeBase(m_fitted, m_rendering, false)) return Rendering::kNoMemory;
  // The part in view first; then the whole page band by band, given up
  // when the parameters change again, as the next change shows its own
  // part first.
  DibImage page;
  PageFindings findings;
  Rendering result = Rendering::kNoMemory;
  if (!rebase && RenderPartInView(hooks, page)) {
    EnhanceHooks bandHooks;
    bandHooks.abortCheck = [this] {
      if (m_worker.IsStopRequested()) return 1;
      return ParametersMoved() ? 2 : 0;
    };
    if (EnhanceInBands(m_rendering, *m_base, false, page, bandHooks, kBandRows)) {
      findings = m_baseFindings;
      result = Rendering::kDone;
    } else if (m_worker.IsStopRequested()) {
      return Rendering::kStopped;
    } else if (ParametersMoved()) {
      return Rendering::kSuperseded;
    }
  }
  if (result != Rendering::kDone) {
    page.Clear();
    result = Prepare(page, m_rendering, hooks, findings);
  }
  if (result != Rendering::kDone) return result;
  if (m_worker.IsStopRequested()) return Rendering::kStopped;
  SetPicture(std::move(page), m_base, findings);
  return Rendering::kDone;
}

PageRenderer::Rendering PageRenderer::RenderPageInPlace(const EnhanceHooks& hooks) {
  const std::shared_ptr<DibImage> page = std::move(m_inPlace);  // m_inPlace null now
  PageFindings findings;
  const Rendering result = Enhance(*page, m_rendering, hooks, findings, false);
  if (result != Rendering::kDone) return result;
  if (m_worker.IsStopRequested()) return Rendering::kStopped;
  SetPicture(std::move(*page), nullptr, findings);
  return Rendering::kDone;
}

bool PageRenderer::RenderPartInView(const EnhanceHooks& hooks, DibImage& room) {
  if (m_fitted || !m_base) return false;
  QRect inView;
  QSize shown;
  {
    std::lock_guard lock(m_pictureMutex);
    inView = m_partInView;
    shown = QSize(m_picture.Width(), m_picture.Height());
  }
  // Only over the picture, of the size this rendering gives, and only when
  // the part is at most half of it.
  int32_t width = 0, height = 0;
  if (shown.isEmpty() || !EnhancedPartSize(m_rendering, *m_base, false, width, height) ||
      QSize(width, height) != shown) {
    return false;
  }
  inView &= QRect(QPoint(0, 0), shown);
  if (inView.isEmpty() ||
      int64_t{inView.width()} * inView.height() * 2 > int64_t{shown.width()} * shown.height()) {
    return false;
  }
  // Room for the whole page is asked for first (and held, untouched, while
  // the part is rendered): a page that cannot be held leaves the picture as
  // it was, its part in view too.
  const auto roomBytes =
      static_cast<size_t>(DibImage::RowBytesFor(width, 24)) * static_cast<size_t>(height);
  std::unique_ptr<uint8_t[]> held(new (std::nothrow) uint8_t[roomBytes]);
  if (!held) return false;
  const DibRect rect{inView.left(), inView.top(), inView.right() + 1, inView.bottom() + 1};
  DibImage part;
  if (!EnhancePart(m_rendering, *m_base, rect, false, part, hooks)) return false;
  held.reset();
  try {
    if (!room.Create(width, height, 24)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (m_worker.IsStopRequested()) return false;
  {
    // Only this thread replaces the picture while it runs.
    std::lock_guard lock(m_pictureMutex);
    const auto bytes = static_cast<size_t>(part.Width()) * 3;
    for (int32_t y = 0; y < part.Height(); ++y) {
      std::memcpy(m_picture.Row(rect.top + y) + static_cast<size_t>(rect.left) * 3, part.Row(y),
                  bytes);
    }
    ++m_generation;
  }
  ++m_partPictures;
  Say(false);
  return true;
}

void PageRenderer::AskLearned(const LearnedPages::Key& key, const EnhanceSettings& params) {
  {
    std::lock_guard lock(m_learnedMutex);
    if (m_learnedAsked == key) return;
    m_learnedAsked = key;
  }
  // Answered on the maker's thread; delivered on this renderer's, if it is
  // still there (a renderer that goes first removes its posted calls).
  std::weak_ptr<Answers> answers = m_answers;
  // A page not fitted may show its part in view first.
  LearnedPages::PartDone partDone;
  if (!m_fitted) {
    partDone = [answers, key](std::shared_ptr<const DibImage> part, DibRect rect) {
      PostAnswer(answers, [key, part = std::move(part), rect](PageRenderer& renderer) {
        renderer.LearnedPartMade(key, part, rect);
      });
    };
  }
  LearnedPages::Shared().Ask(
      key, m_source, params, m_jpeg,
      [answers, key](LearnedPages::Answer made) {
        PostAnswer(answers,
                   [key, made](PageRenderer& renderer) { renderer.LearnedMade(key, made); });
      },
      std::move(partDone));
}

void PageRenderer::PostAnswer(const std::weak_ptr<Answers>& answers,
                              std::function<void(PageRenderer&)> call) {
  const std::shared_ptr<Answers> to = answers.lock();
  if (!to) return;
  std::lock_guard lock(to->mutex);
  if (to->renderer == nullptr) return;
  PageRenderer* renderer = to->renderer;
  QMetaObject::invokeMethod(
      renderer, [renderer, call = std::move(call)] { call(*renderer); }, Qt::QueuedConnection);
}

void PageRenderer::LearnedPartMade(const LearnedPages::Key& key,
                                   std::shared_ptr<const DibImage> part, DibRect rect) {
  {
    std::lock_guard lock(m_learnedMutex);
    if (m_learnedAsked != key) return;  // another page is shown now
    m_learnedPart = LearnedPart{key, rect, std::move(part)};
  }
  // The stand-in is made again, with the part in it.
  m_rebase = true;
  if (m_worker.IsRunning()) Wake();
}

void PageRenderer::PutLearnedPart(const LearnedPages::Key& key, DibImage& page, int scale) {
  std::lock_guard lock(m_learnedMutex);
  if (!m_learnedPart || m_learnedPart->key != key) return;
  const DibImage& part = *m_learnedPart->page;
  const DibRect& rect = m_learnedPart->rect;
  const int32_t left = rect.left * scale, top = rect.top * scale;
  if (part.BitCount() != page.BitCount() || (page.BitCount() != 24 && page.BitCount() != 8) ||
      left + part.Width() > page.Width() || top + part.Height() > page.Height()) {
    return;
  }
  const size_t pixel = page.BitCount() / 8;
  for (int32_t y = 0; y < part.Height(); ++y) {
    std::memcpy(page.Row(top + y) + static_cast<size_t>(left) * pixel, part.Row(y),
                static_cast<size_t>(part.Width()) * pixel);
  }
  ++m_learnedParts;
}

void PageRenderer::LearnedMade(const LearnedPages::Key& key, LearnedPages::Answer made) {
  {
    std::lock_guard lock(m_learnedMutex);
    if (m_learnedAsked != key) return;  // asked for a page no longer shown
    m_learnedAsked.reset();
  }
  if (made == LearnedPages::Answer::kDropped) return;  // asked again by the next rendering
  if (made == LearnedPages::Answer::kNoMemory) {
    // No room for it: the page stays without the step.
    m_learnedWaiting = false;
    ++m_renderFailures;
    emit renderFailed();
    return;
  }
  // The base is made again, and finds the page kept.
  m_rebase = true;
  if (m_worker.IsRunning()) Wake();
}

}  // namespace inkbrite
