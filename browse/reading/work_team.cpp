// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/work_team.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace inkbrite {

void WorkTeam::Start(std::shared_ptr<TeamJob> job, unsigned most,
                     const std::function<void()>& loop) {
  Stop();
  m_job = std::move(job);
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, std::max(most, 1u));
  try {
    for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back(loop);
  } catch (const std::system_error&) {
    // Fewer threads than wanted.
  }
}

void WorkTeam::Stop() {
  if (m_job) {
    std::lock_guard lock(m_job->mutex);
    m_job->stop = true;
  }
  for (std::thread& thread : m_threads) thread.join();
  m_threads.clear();
  m_job.reset();
}

}  // namespace inkbrite
