// SPDX-License-Identifier: GPL-2.0-or-later
// The libFuzzer entry of one target, chosen when compiling by
// INKBRITE_FUZZ_TARGET (its name as a string).
#include <cstdlib>

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const inkbrite::fuzz::TargetFunction run =
      inkbrite::fuzz::FindTarget(INKBRITE_FUZZ_TARGET);
  if (run == nullptr) std::abort();
  return run(data, size);
}
