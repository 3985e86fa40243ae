// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/out_of_memory.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace inkbrite {

namespace {

constexpr size_t kReserveBytes = size_t{16} << 20;
std::atomic<void*> g_reserve{nullptr};

void GiveBackReserveAndFail() {
  std::free(g_reserve.exchange(nullptr));
  throw std::bad_alloc();
}

}  // namespace

void InstallOutOfMemoryHandler() {
  RenewMemoryReserve();
  std::set_new_handler(GiveBackReserveAndFail);
}

bool MemoryReserveHeld() { return g_reserve.load() != nullptr; }

bool RenewMemoryReserve() {
  if (g_reserve.load() != nullptr) return true;
  void* block = std::malloc(kReserveBytes);
  if (block == nullptr) return false;
  void* none = nullptr;
  if (!g_reserve.compare_exchange_strong(none, block)) std::free(block);
  return true;
}

}  // namespace inkbrite
