// SPDX-License-Identifier: GPL-2.0-or-later
// Running out of memory: the new-handler gives the reserve back and fails
// the allocation, so the caller's clean-up has room; the reserve is set
// aside again afterwards. The allocator keeps page-sized blocks on its heap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "platform/child_process.h"
#include "platform/out_of_memory.h"
#include "platform/page_memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace inkbrite {
namespace {

TEST(PageMemory, AFailedAllocationGivesTheReserveBackAndThrows) {
  // Sanitizers report an impossible allocation instead of failing it.
  if (!AddressSpaceLimitsHold()) GTEST_SKIP() << "sanitizer build";
  InstallOutOfMemoryHandler();
  EXPECT_TRUE(MemoryReserveHeld());
  EXPECT_THROW(::operator delete(::operator new (size_t{1} << 60)), std::bad_alloc);
  EXPECT_FALSE(MemoryReserveHeld());
  EXPECT_TRUE(RenewMemoryReserve());
  EXPECT_TRUE(MemoryReserveHeld());
  std::set_new_handler(nullptr);
}

// After tuning, a 24 MiB block (a page of 2900 x 2900) comes from the heap,
// not from a mapping of its own that the kernel must zero for every page.
TEST(PageMemory, TuningKeepsPageSizedBlocksOnTheHeap) {
#if defined(__GLIBC__)
  // Sanitizers bring their own allocator, which takes no glibc tuning and
  // whose blocks glibc's counts do not see.
  if (!AddressSpaceLimitsHold()) GTEST_SKIP() << "sanitizer build";
  ASSERT_TRUE(TunePageMemory());
  const size_t mappedBefore = mallinfo2().hblkhd;
  void* block = std::malloc(size_t{24} << 20);
  ASSERT_NE(block, nullptr);
  static_cast<volatile char*>(block)[0] = 1;
  EXPECT_EQ(mallinfo2().hblkhd, mappedBefore);
  std::free(block);
#else
  EXPECT_FALSE(TunePageMemory());
#endif
}

}  // namespace
}  // namespace inkbrite
