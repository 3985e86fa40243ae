// SPDX-License-Identifier: GPL-2.0-or-later
// CWorkerThread: runs one routine on one thread, with a stop request.
//
// Start runs the routine on a new thread; Stop asks it to end (OnStopRequest
// first, so a subclass can wake a routine that waits on something of its
// own) and waits until it has returned. The routine must watch
// IsStopRequested and return once it is true. An exception that leaves the
// routine ends it on its thread (it is never let out of the thread, which
// would end the program) and is reported by RoutineFailed.
//
// Threads: Start, Stop and SetRoutine are called from one owning thread;
// IsStopRequested from any. A subclass that overrides OnStopRequest must call
// Stop in its own destructor (the base destructor can no longer reach the
// override).
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace inkbrite {

class CWorkerThread {
 public:
  using Routine = std::function<int()>;

  CWorkerThread() = default;
  virtual ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Stops a running thread first.
  void SetRoutine(Routine routine);
  // Starts the routine on a new thread (stopping a running one first); does
  // nothing without a routine. False when no thread could be created.
  bool Start();
  // Asks the routine to end and waits for it; returns at once when no
  // thread runs.
  void Stop();
  bool IsStopRequested() const { return m_stop.load(std::memory_order_acquire); }
  bool IsRunning() const { return m_thread.joinable(); }
  // True when the last run's routine ended by an exception.
  bool RoutineFailed() const { return m_failed.load(std::memory_order_acquire); }

 protected:
  virtual void OnStopRequest() {}

 private:
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_failed{false};
  Routine m_routine;
};

}  // namespace inkbrite
