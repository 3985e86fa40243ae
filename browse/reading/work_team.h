// SPDX-License-Identifier: GPL-2.0-or-later
// WorkTeam: a few threads that share one job's items (the thumbnail strip's
// pages, the shelf's covers), each taking the next item the job chooses
// until every item is taken or the job is stopped.
//
// TeamJob is what the threads share under its mutex: which items are taken
// and the stop flag. An owner's job derives from it and chooses the order
// (its own Next, which marks an item with Take).
//
// Threads: Start and Stop from the owning thread; a TeamJob's members under
// its mutex.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace inkbrite {

struct TeamJob {
  std::mutex mutex;
  std::vector<bool> taken;  // guarded by mutex
  bool stop = false;        // guarded by mutex

  // Marks item `i` taken and gives it as `position`; true. Under the mutex.
  bool Take(size_t i, size_t& position) {
    taken[i] = true;
    position = i;
    return true;
  }
};

class WorkTeam {
 public:
  WorkTeam() = default;
  ~WorkTeam() { Stop(); }
  WorkTeam(const WorkTeam&) = delete;
  WorkTeam& operator=(const WorkTeam&) = delete;

  // Runs `loop` on one thread a core, at most `most`, for `job` (a team
  // still at work is stopped first). Fewer threads, or none, where the
  // system gives no more: the items wait.
  void Start(std::shared_ptr<TeamJob> job, unsigned most, const std::function<void()>& loop);
  // Sets the job's stop flag, waits for every thread and lets the job go.
  void Stop();

 private:
  std::shared_ptr<TeamJob> m_job;
  std::vector<std::thread> m_threads;
};

}  // namespace inkbrite
