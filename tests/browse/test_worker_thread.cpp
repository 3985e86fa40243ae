// SPDX-License-Identifier: GPL-2.0-or-later
// CWorkerThread: a stop request reaches a waiting routine, and an exception
// from the routine stays on its thread. A work team shares a job's items. The page loader's thread
// too: a decoding that runs out of memory fails its page, never the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "browse/reading/page_loader.h"
#include "browse/reading/work_team.h"
#include "browse/reading/worker_thread.h"

namespace inkbrite {
namespace {

// A routine that sleeps on a condition until the stop request wakes it.
class WakingWorker : public CWorkerThread {
 public:
  ~WakingWorker() override { Stop(); }
  int Routine() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return IsStopRequested(); });
    return 0;
  }

 protected:
  void OnStopRequest() override {
    std::lock_guard lock(m_mutex);
    m_wake.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
};

TEST(WorkerThreadTest, StopWakesTheRoutineAndAnExceptionNeverLeavesTheThread) {
  WakingWorker worker;
  EXPECT_FALSE(worker.Start());  // no routine yet
  worker.SetRoutine([&] { return worker.Routine(); });
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.IsRunning());
  worker.Stop();  // returns only once the routine has
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(worker.RoutineFailed());

  // Out of memory on the thread: the routine ends there, the program goes
  // on, and the worker runs again.
  std::atomic<int> runs{0};
  worker.SetRoutine([&]() -> int {
    ++runs;
    throw std::bad_alloc();
  });
  ASSERT_TRUE(worker.Start());
  worker.Stop();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(worker.RoutineFailed());
  worker.SetRoutine([&] { return worker.Routine(); });
  ASSERT_TRUE(worker.Start());
  worker.Stop();
  EXPECT_FALSE(worker.RoutineFailed());
}

// The items of a job in order, each counted by the thread that took it;
// with `endless` an item is always there, until the job is stopped.
struct CountingJob : TeamJob {
  std::vector<int> made;  // guarded by mutex
  bool endless = false;
  bool Next(size_t& position) {
    std::lock_guard lock(mutex);
    if (stop) return false;
    for (size_t i = 0; i < taken.size(); ++i) {
      if (!taken[i]) return Take(i, position);
    }
    position = 0;
    return endless;
  }
};

TEST(WorkerThreadTest, ATeamTakesEveryItemOnceAndStopsWhenTold) {
  for (const bool endless : {false, true}) {
    SCOPED_TRACE(endless);
    auto job = std::make_shared<CountingJob>();
    job->taken.assign(2000, false);
    job->made.assign(2000, 0);
    job->endless = endless;
    WorkTeam team;
    team.Start(job, 4, [job] {
      size_t position = 0;
      while (job->Next(position)) {
        std::lock_guard lock(job->mutex);
        if (!job->endless) ++job->made[position];
      }
    });
    // Every item taken (the endless job then goes on until it is stopped).
    for (int wait = 0; wait < 2000; ++wait) {
      {
        std::lock_guard lock(job->mutex);
        if (std::find(job->taken.begin(), job->taken.end(), false) == job->taken.end()) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    team.Stop();
    std::lock_guard lock(job->mutex);
    EXPECT_TRUE(job->stop);
    EXPECT_EQ(std::count(job->taken.begin(), job->taken.end(), true), 2000);
    if (!endless) {
      EXPECT_EQ(std::count(job->made.begin(), job->made.end(), 1), 2000);
    }
  }
}

TEST(PageLoaderTest, ADecodingWithoutMemoryFailsItsPageAndTheLoaderGoesOn) {
  std::atomic<int> notified{0};
  CPageLoader loader([&] { ++notified; });
  const auto take = [&](uint64_t ticket) {
    for (int i = 0; i < 1000; ++i) {
      if (std::optional<LoadedPage> page = loader.TakeReady(ticket)) return page;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::optional<LoadedPage>();
  };
  const uint64_t failing = loader.Start([]() -> LoadedPage { throw std::bad_alloc(); });
  const std::optional<LoadedPage> failed = take(failing);
  ASSERT_TRUE(failed.has_value());
  EXPECT_TRUE(failed->page.noMemory);
  EXPECT_EQ(failed->page.image, nullptr);
  EXPECT_EQ(notified.load(), 1);
  // On the calling thread too (a load not begun yet).
  EXPECT_TRUE(
      loader.Wait(loader.Start([]() -> LoadedPage { throw std::bad_alloc(); })).page.noMemory);
  const uint64_t next = loader.Start([] {
    LoadedPage page;
    page.page.image = std::make_shared<DibImage>();
    return page;
  });
  const std::optional<LoadedPage> good = take(next);
  ASSERT_TRUE(good.has_value());
  EXPECT_NE(good->page.image, nullptr);
}

}  // namespace
}  // namespace inkbrite
