// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/learned_pages.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "core/learned.h"

namespace inkbrite {

namespace {

// Kept pages of the viewer: about four doubled scans of 1700 x 2400.
constexpr size_t kSharedBudget = size_t{256} << 20;
// Requests waiting behind the one under way (older ones are dropped: the
// reader has paged on).
constexpr size_t kMostWaiting = 2;
// How long the maker waits for the part in view (the stand-in is rendered
// and painted first, which takes a large page a few hundred milliseconds),
// and the source pixels around it the networks see (more than any
// network's reach).
constexpr auto kPartWait = std::chrono::milliseconds(600);
constexpr int32_t kPartMargin = 32;

uint64_t Mix(uint64_t hash, uint64_t word) { return (hash ^ word) * 0x100000001b3ULL; }

// `page` cut to `rect` (within it).
bool CutTo(DibImage& page, const DibRect& rect) {
  const int32_t right = page.Width() - rect.right, bottom = page.Height() - rect.bottom;
  if (rect.left == 0 && rect.top == 0 && right == 0 && bottom == 0) return true;
  return page.Crop(rect.left, rect.top, right, bottom);
}

}  // namespace

bool LearnedStepActs(const EnhanceSettings& params) {
  if (params[kLearned] == 0) return false;
  const LearnedChoice choice{params[kLearnedModel], params[kLearnedNoise], params[kLearnedScale]};
  return LearnedActs(choice);
}

EnhanceSettings WithoutLearnedStep(EnhanceSettings params) {
  params.Set(kLearned, 0);
  return params;
}

size_t SourcePages::Bytes() const {
  size_t bytes = 0;
  for (const auto& p : page) {
    if (p) bytes += static_cast<size_t>(p->RowBytes()) * static_cast<size_t>(p->Height());
  }
  return bytes;
}

LearnedPages& LearnedPages::Shared() {
  static LearnedPages shared(kSharedBudget);
  return shared;
}

LearnedPages::LearnedPages(size_t budgetBytes)
    : m_budget(budgetBytes), m_thread([this](const std::stop_token& stop) { Routine(stop); }) {}

LearnedPages::~LearnedPages() {
  m_thread.request_stop();
  m_wake.notify_all();
  m_thread.join();
  for (Request& r : m_waiting) {
    for (auto& done : r.done) done(Answer::kDropped);
  }
}

LearnedPages::Key LearnedPages::KeyOf(const DibImage& source, const EnhanceSettings& params,
                                      const JpegQuantisers* jpeg) {
  Key key;
  uint64_t hash = 0xcbf29ce484222325ULL;
  hash = Mix(hash, static_cast<uint64_t>(source.Width()) << 32 | uint32_t(source.Height()));
  hash = Mix(hash, static_cast<uint64_t>(source.BitCount()) << 1 | uint64_t{source.IsGreyLevels()});
  for (const RgbQuad& c : source.Palette()) {
    hash = Mix(hash, uint64_t{c.red} << 16 | uint64_t{c.green} << 8 | c.blue);
  }
  const size_t bytes = (static_cast<size_t>(source.Width()) * source.BitCount() + 7) / 8;
  for (int32_t y = 0; y < source.Height(); ++y) {
    const uint8_t* row = source.Row(y);
    size_t x = 0;
    for (; x + 8 <= bytes; x += 8) {
      uint64_t word = 0;
      std::memcpy(&word, row + x, 8);
      hash = Mix(hash, word);
    }
    for (; x < bytes; ++x) hash = Mix(hash, row[x]);
  }
  key.pixels = hash;
  key.values.assign(params.values.begin() + kBaseSlotCount, params.values.end());
  key.values.push_back(params[kResizeType]);
  key.values.push_back(params.filter);
  key.values.push_back(jpeg != nullptr ? 1 : 0);
  if (jpeg != nullptr) key.values.insert(key.values.end(), jpeg->steps.begin(), jpeg->steps.end());
  return key;
}

std::shared_ptr<const SourcePages> LearnedPages::Find(const Key& key) {
  std::lock_guard lock(m_mutex);
  const auto it = std::find_if(m_kept.begin(), m_kept.end(),
                               [&](const auto& kept) { return kept.first == key; });
  if (it == m_kept.end()) return nullptr;
  auto found = *it;
  m_kept.erase(it);
  m_kept.push_front(found);
  return found.second;
}

void LearnedPages::Ask(const Key& key, std::shared_ptr<const DibImage> source,
                       const EnhanceSettings& params, std::optional<JpegQuantisers> jpeg,
                       std::function<void(Answer)> done, PartDone partDone) {
  std::vector<std::function<void(Answer)>> dropped;
  {
    std::lock_guard lock(m_mutex);
    if (m_making && *m_making == key) {
      m_makingDone.push_back(std::move(done));
      return;
    }
    auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                           [&](const Request& r) { return r.key == key; });
    if (it != m_waiting.end()) {
      // Asked again: it moves to the front of the queue.
      Request again = std::move(*it);
      m_waiting.erase(it);
      again.done.push_back(std::move(done));
      m_waiting.push_back(std::move(again));
    } else {
      Request request{key, std::move(source), params, jpeg, {}, std::move(partDone), {}};
      request.done.push_back(std::move(done));
      m_waiting.push_back(std::move(request));
    }
    while (m_waiting.size() > kMostWaiting) {
      for (auto& d : m_waiting.front().done) dropped.push_back(std::move(d));
      m_waiting.pop_front();
    }
  }
  m_wake.notify_one();
  for (auto& d : dropped) d(Answer::kDropped);
}

int LearnedPages::Made() const {
  std::lock_guard lock(m_mutex);
  return m_made;
}

int LearnedPages::PartsMade() const {
  std::lock_guard lock(m_mutex);
  return m_partsMade;
}

void LearnedPages::SetPart(const Key& key, DibRect part) {
  {
    std::lock_guard lock(m_mutex);
    if (m_making && *m_making == key) {
      m_makingPart = part;
    } else {
      for (Request& r : m_waiting) {
        if (r.key == key) r.part = part;
      }
    }
  }
  m_wake.notify_all();
}

void LearnedPages::MakePart(std::unique_lock<std::mutex>& lock, const std::stop_token& stop,
                            const Request& request) {
  m_makingPart = request.part;
  // Only the learned step runs in the stage: its part alone is the page's
  // there.
  const EnhanceSettings& p = request.params;
  if (!request.partDone || ReadAutoSteps(WithoutLearnedStep(p)).AnySourceStep()) return;
  m_wake.wait_for(lock, stop, kPartWait, [this] { return m_makingPart.has_value(); });
  if (!m_makingPart || stop.stop_requested()) return;
  const DibImage& source = *request.source;
  DibRect part = *m_makingPart;
  part.left = std::clamp(part.left, 0, source.Width());
  part.right = std::clamp(part.right, part.left, source.Width());
  part.top = std::clamp(part.top, 0, source.Height());
  part.bottom = std::clamp(part.bottom, part.top, source.Height());
  // A part of most of the page is no quicker than the page.
  const int64_t area = int64_t{part.right - part.left} * (part.bottom - part.top);
  if (area == 0 || area * 2 > int64_t{source.Width()} * source.Height()) return;
  lock.unlock();
  const DibRect around{std::max(part.left - kPartMargin, 0), std::max(part.top - kPartMargin, 0),
                       std::min(part.right + kPartMargin, source.Width()),
                       std::min(part.bottom + kPartMargin, source.Height())};
  const LearnedChoice choice{p[kLearnedModel], p[kLearnedNoise], p[kLearnedScale]};
  const int scale = choice.scale == 2 ? 2 : 1;
  std::shared_ptr<DibImage> made;
  try {
    DibImage piece = source;
    if (CutTo(piece, around) && ApplyLearned(piece, choice)) {
      const DibRect inner{(part.left - around.left) * scale, (part.top - around.top) * scale,
                          (part.right - around.left) * scale, (part.bottom - around.top) * scale};
      if (CutTo(piece, inner)) made = std::make_shared<DibImage>(std::move(piece));
    }
  } catch (const std::bad_alloc&) {
    made.reset();
  }
  const bool handed = made != nullptr;
  if (handed) request.partDone(std::move(made), part);
  lock.lock();
  if (handed) ++m_partsMade;
}

void LearnedPages::Keep(const Key& key, std::shared_ptr<const SourcePages> pages) {
  std::lock_guard lock(m_mutex);
  m_kept.emplace_front(key, std::move(pages));
  size_t bytes = 0;
  for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
    bytes += it->second->Bytes();
    // The newest is kept even alone over the budget.
    if (bytes > m_budget && it != m_kept.begin()) {
      m_kept.erase(it, m_kept.end());
      break;
    }
  }
  ++m_made;
}

void LearnedPages::Routine(const std::stop_token& stop) {
  while (true) {
    Request request;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, stop, [this] { return !m_waiting.empty(); });
      if (stop.stop_requested()) return;
      request = std::move(m_waiting.back());
      m_waiting.pop_back();
      m_making = request.key;
      m_makingDone = std::move(request.done);
      MakePart(lock, stop, request);
      m_makingPart.reset();
    }
    Answer made = Answer::kNoMemory;
    try {
      auto pages = std::make_shared<SourcePages>();
      auto first = std::make_shared<DibImage>(*request.source);
      auto second = std::make_shared<DibImage>();
      pages->parts = PrepareSourcePages(request.params, *first, *second, pages->found, {}, {},
                                        request.jpeg ? &*request.jpeg : nullptr)
                         .pages;
      pages->page[0] = std::move(first);
      if (pages->parts == 2) pages->page[1] = std::move(second);
      Keep(request.key, std::move(pages));
      made = Answer::kMade;
    } catch (const std::bad_alloc&) {
      made = Answer::kNoMemory;  // the renderers keep the page without the step
    }
    std::vector<std::function<void(Answer)>> done;
    {
      std::lock_guard lock(m_mutex);
      m_making.reset();
      done = std::move(m_makingDone);
      m_makingDone.clear();
    }
    for (auto& d : done) d(made);
  }
}

}  // namespace inkbrite
