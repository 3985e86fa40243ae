// SPDX-License-Identifier: GPL-2.0-or-later
// CWorkerThread: a stop request reaches a waiting routine, and an exception
// from the routine stays on its thread. The page loader's thread too: a
// decoding that runs out of memory fails its page, never the program.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "browse/reading/page_loader.h"
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
