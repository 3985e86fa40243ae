// SPDX-License-Identifier: GPL-2.0-or-later
// CPageLoader: decodes one big page on a thread of its own while the window
// shows a reduced picture of it and goes on answering keys and menus.
//
// Start hands over the decoding and returns its ticket; a later Start or
// Cancel abandons the earlier load (a decoding already running finishes on
// the thread and its page is dropped). Once the page of the current ticket
// is ready, `notify` is called on the loader thread (the document posts
// itself a call from there) and TakeReady hands it over. Wait takes it at
// once, decoding it on the calling thread when the loader has not begun it.
//
// Threads: Start, Cancel, TakeReady and Wait from one owning thread; the
// decoding and `notify` on the loader thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "browse/reading/page_prefetch.h"

namespace inkbrite {

// What a load decodes: the page and, in the two-page layout, the page
// facing it and both side by side.
struct LoadedPage {
  DecodedPage page;
  DecodedPage partner;                     // no picture when none was wanted or readable
  std::shared_ptr<const DibImage> spread;  // null: the page stands alone
};

class CPageLoader {
 public:
  using Decode = std::function<LoadedPage()>;
  using Notify = std::function<void()>;

  explicit CPageLoader(Notify notify);
  ~CPageLoader();
  CPageLoader(const CPageLoader&) = delete;
  CPageLoader& operator=(const CPageLoader&) = delete;

  // Starts decoding with `decode`; returns the load's ticket (never 0).
  uint64_t Start(Decode decode);
  // Abandons the current load, if any.
  void Cancel();
  // The page of `ticket` when it is ready, once.
  std::optional<LoadedPage> TakeReady(uint64_t ticket);
  // The page of `ticket`, waiting for it (an abandoned ticket gives none).
  LoadedPage Wait(uint64_t ticket);

  // Called on the loader thread before each decoding, for tests that need
  // a load to stay under way until they let it go; empty for none.
  static void SetBeforeDecodeForTests(std::function<void()> hook);

 private:
  void Run();

  Notify m_notify;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  uint64_t m_lastTicket = 0;
  uint64_t m_ticket = 0;               // the load wanted now (0: none)
  Decode m_pending;                    // its decoding, until the thread takes it
  std::optional<LoadedPage> m_result;  // its page, once decoded
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace inkbrite
