// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/page_loader.h"

#include <new>
#include <system_error>
#include <utility>

namespace inkbrite {

namespace {

std::mutex g_hookMutex;
std::function<void()> g_beforeDecode;

void BeforeDecode() {
  std::function<void()> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_beforeDecode;
  }
  if (hook) hook();
}

// A page that could not be decoded for want of memory (or of a thread).
LoadedPage NoMemory() {
  LoadedPage failed;
  failed.page.error = SourceError::kPageUnreadable;
  failed.page.noMemory = true;
  return failed;
}

// Runs `decode`; an allocation that fails on the way fails this page only.
LoadedPage DecodeGuarded(const CPageLoader::Decode& decode) {
  try {
    return decode();
  } catch (const std::bad_alloc&) {
    return NoMemory();
  } catch (const std::exception&) {
    LoadedPage failed;
    failed.page.error = SourceError::kPageUnreadable;
    return failed;
  }
}

}  // namespace

void CPageLoader::SetBeforeDecodeForTests(std::function<void()> hook) {
  std::lock_guard lock(g_hookMutex);
  g_beforeDecode = std::move(hook);
}

CPageLoader::CPageLoader(Notify notify) : m_notify(std::move(notify)) {}

CPageLoader::~CPageLoader() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_pending = nullptr;
    m_ticket = 0;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

uint64_t CPageLoader::Start(Decode decode) {
  uint64_t ticket = 0;
  bool noThread = false;
  {
    std::lock_guard lock(m_mutex);
    ticket = ++m_lastTicket;
    m_ticket = ticket;
    m_pending = std::move(decode);
    m_result.reset();
    // The thread is made with the first load and lives as long as the loader.
    if (!m_thread.joinable()) {
      try {
        m_thread = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        // No thread to be had (the system's limit reached): this page
        // fails with its reason, and the next load tries again.
        m_pending = nullptr;
        m_result = NoMemory();
        noThread = true;
      }
    }
  }
  if (noThread) {
    if (m_notify) m_notify();
    return ticket;
  }
  m_changed.notify_all();
  return ticket;
}

void CPageLoader::Cancel() {
  std::lock_guard lock(m_mutex);
  m_ticket = 0;
  m_pending = nullptr;
  m_result.reset();
}

std::optional<LoadedPage> CPageLoader::TakeReady(uint64_t ticket) {
  std::lock_guard lock(m_mutex);
  if (ticket == 0 || ticket != m_ticket || !m_result) return std::nullopt;
  std::optional<LoadedPage> page = std::move(m_result);
  m_result.reset();
  m_ticket = 0;
  return page;
}

LoadedPage CPageLoader::Wait(uint64_t ticket) {
  std::unique_lock lock(m_mutex);
  if (ticket == 0 || ticket != m_ticket) return {};
  if (m_pending) {
    // Not begun (the thread may still be busy with an abandoned page): done
    // here rather than after it.
    Decode decode = std::move(m_pending);
    m_pending = nullptr;
    m_ticket = 0;
    lock.unlock();
    return DecodeGuarded(decode);
  }
  m_changed.wait(lock, [&] { return m_result.has_value() || m_ticket != ticket; });
  if (m_ticket != ticket) return {};
  LoadedPage page = std::move(*m_result);
  m_result.reset();
  m_ticket = 0;
  return page;
}

void CPageLoader::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stop || m_pending; });
    if (m_stop) return;
    Decode decode = std::move(m_pending);
    m_pending = nullptr;
    const uint64_t ticket = m_ticket;
    lock.unlock();
    BeforeDecode();
    LoadedPage page = DecodeGuarded(decode);
    lock.lock();
    // A load abandoned meanwhile is dropped.
    if (m_ticket != ticket || m_stop) continue;
    m_result = std::move(page);
    m_changed.notify_all();
    lock.unlock();
    if (m_notify) m_notify();
    lock.lock();
  }
}

}  // namespace inkbrite
