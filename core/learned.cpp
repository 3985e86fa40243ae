// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/learned.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "core/limits.h"

namespace inkbrite {

namespace {

std::atomic<LearnedRunner> gRunner{nullptr};
std::atomic<int> gThreads{0};

}  // namespace

void SetLearnedRunner(LearnedRunner runner) { gRunner.store(runner); }

int SetLearnedThreadsPerPage(int threads) { return gThreads.exchange(std::max(threads, 0)); }

int LearnedThreadsPerPage() {
  const int set = gThreads.load();
  if (set > 0) return set;
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

bool ApplyLearned(DibImage& page, const LearnedChoice& choice) {
  const LearnedRunner runner = gRunner.load();
  if (runner == nullptr || !LearnedActs(choice) || page.Width() <= 0 || page.Height() <= 0) {
    return false;
  }
  if (!ImageSizeWithinLimits(int64_t{page.Width()} * choice.scale,
                             int64_t{page.Height()} * choice.scale)) {
    return false;
  }
  DibImage out;
  if (!runner(page, choice, LearnedThreadsPerPage(), out)) return false;
  page = std::move(out);
  return true;
}

}  // namespace inkbrite
