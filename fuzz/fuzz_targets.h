// SPDX-License-Identifier: GPL-2.0-or-later
// The readers under test: one entry per fuzz target, each taking the bytes
// of a whole file. Shared by the libFuzzer programs (fuzz_main.cpp) and the
// regression runner that CI builds with the ordinary compiler
// (regression_main.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace inkbrite::fuzz {

using TargetFunction = int (*)(const uint8_t* data, size_t size);

struct Target {
  const char* name;
  TargetFunction run;
};

// Every target, by name (bmp, jpeg, ufo, png, gif, tiff, jp2, j2k, wmf, emf,
// load).
extern const Target kTargets[];
extern const size_t kTargetCount;

// The target of that name; null when there is none.
TargetFunction FindTarget(std::string_view name);

}  // namespace inkbrite::fuzz
