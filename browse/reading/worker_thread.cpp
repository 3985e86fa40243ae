// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/worker_thread.h"

#include <system_error>
#include <utility>

namespace inkbrite {

CWorkerThread::~CWorkerThread() { Stop(); }

void CWorkerThread::SetRoutine(Routine routine) {
  Stop();
  m_routine = std::move(routine);
}

bool CWorkerThread::Start() {
  if (!m_routine) return false;
  Stop();
  m_failed.store(false, std::memory_order_release);
  try {
    m_thread = std::thread([this] {
      try {
        m_routine();
      } catch (...) {
        m_failed.store(true, std::memory_order_release);
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CWorkerThread::Stop() {
  if (!m_thread.joinable()) return;
  // The request is visible before the routine is woken, so a routine that
  // wakes checks it and ends at once.
  m_stop.store(true, std::memory_order_release);
  OnStopRequest();
  m_thread.join();
  m_stop.store(false, std::memory_order_release);
}

}  // namespace inkbrite
