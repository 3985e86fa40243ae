// SPDX-License-Identifier: GPL-2.0-or-later
// Running out of memory: the new-handler gives the reserve back and fails
// the allocation, so the caller's clean-up has room; the reserve is set
// aside again afterwards.
#include <gtest/gtest.h>

#include <new>

#include "platform/child_process.h"
#include "platform/out_of_memory.h"

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

}  // namespace
}  // namespace inkbrite
