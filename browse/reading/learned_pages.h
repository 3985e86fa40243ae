// SPDX-License-Identifier: GPL-2.0-or-later
// The source stage of pages whose steps include the learned upscaling or
// denoising, which takes seconds a page: made on a thread of its own, one
// page at a time (the newest asked for next, older requests dropped), and
// kept per page and setting within a memory budget, so that a view never
// waits for it and paging back to a page shows it at once.
//
//   renderer:  key = LearnedPages::KeyOf(source, params, jpeg)
//              if (auto kept = pages.Find(key)) ... use kept->page[shown]
//              else pages.Ask(key, source, params, jpeg, done)   done: off the UI thread
//
// A view that shows part of the page (not fitted) may have that part made
// first: asked with `partDone`, the maker waits a moment for the part
// (SetPart, once the stand-in is painted) and, when the learned step is the
// only step of the stage, runs it on that part and its surroundings alone,
// handing over the part at the step's scale; the whole page follows.
//
// A page is known by its pixels (a hash of its rows, so the same page read
// again is the same page) and by the slots the source stage reads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/auto_steps.h"
#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "core/para_block.h"

namespace inkbrite {

// True when the settings' source stage runs a learned step that acts.
bool LearnedStepActs(const EnhanceSettings& params);

// The same settings with the learned step off.
EnhanceSettings WithoutLearnedStep(EnhanceSettings params);

// What the source stage made of one page: one page, or the two of a spread.
struct SourcePages {
  std::shared_ptr<const DibImage> page[2];
  PageFindings found[2];
  int parts = 1;
  size_t Bytes() const;
};

class LearnedPages {
 public:
  struct Key {
    uint64_t pixels = 0;          // hash of the source's size, format and rows
    std::vector<int32_t> values;  // the slots the source stage reads
    bool operator==(const Key&) const = default;
  };

  enum class Answer { kMade, kDropped, kNoMemory };

  // The one the viewer's renderers share.
  static LearnedPages& Shared();

  explicit LearnedPages(size_t budgetBytes);
  ~LearnedPages();
  LearnedPages(const LearnedPages&) = delete;
  LearnedPages& operator=(const LearnedPages&) = delete;

  static Key KeyOf(const DibImage& source, const EnhanceSettings& params,
                   const JpegQuantisers* jpeg);

  // The pages kept for `key` (made most recently used), or none.
  std::shared_ptr<const SourcePages> Find(const Key& key);

  // Asks for the source stage of `source` under `params`. `done` is called
  // on the thread that makes it once it is kept, or could not be held; a
  // request already waiting or under way for the same key gets `done` too.
  // Requests waiting beyond the newest few are dropped (told so, on the
  // asking thread).
  // The part made first: the learned step's output over `part` of the
  // source (its size the part's times the scale).
  using PartDone = std::function<void(std::shared_ptr<const DibImage> page, DibRect part)>;
  void Ask(const Key& key, std::shared_ptr<const DibImage> source, const EnhanceSettings& params,
           std::optional<JpegQuantisers> jpeg, std::function<void(Answer)> done,
           PartDone partDone = {});
  // The part of the source in view, for the request `key` that asked for a
  // part and has not begun it.
  void SetPart(const Key& key, DibRect part);

  int Made() const;       // pages made so far
  int PartsMade() const;  // parts made first

 private:
  struct Request {
    Key key;
    std::shared_ptr<const DibImage> source;
    EnhanceSettings params;
    std::optional<JpegQuantisers> jpeg;
    std::vector<std::function<void(Answer)>> done;
    PartDone partDone;
    std::optional<DibRect> part;
  };
  // Makes the part of a request first, when one is set within a moment.
  void MakePart(std::unique_lock<std::mutex>& lock, const std::stop_token& stop,
                const Request& request);
  void Routine(const std::stop_token& stop);
  void Keep(const Key& key, std::shared_ptr<const SourcePages> pages);

  const size_t m_budget;
  mutable std::mutex m_mutex;
  std::condition_variable_any m_wake;
  std::deque<Request> m_waiting;  // newest last
  std::optional<Key> m_making;    // under way
  std::vector<std::function<void(Answer)>> m_makingDone;
  std::optional<DibRect> m_makingPart;  // the part set for the request under way
  std::deque<std::pair<Key, std::shared_ptr<const SourcePages>>> m_kept;  // most recent first
  int m_made = 0;
  int m_partsMade = 0;
  std::jthread m_thread;  // last: started once the rest is made
};

}  // namespace inkbrite
