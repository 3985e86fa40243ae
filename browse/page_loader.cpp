// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/page_loader.h"

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
  {
    std::lock_guard lock(m_mutex);
    ticket = ++m_lastTicket;
    m_ticket = ticket;
    m_pending = std::move(decode);
    m_result.reset();
    // The thread is made with the first load and lives as long as the loader.
    if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
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
    return decode();
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
    LoadedPage page = decode();
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
