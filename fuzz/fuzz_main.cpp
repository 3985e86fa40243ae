// SPDX-License-Identifier: GPL-2.0-or-later
// The libFuzzer program for every target: the environment variable
// INKBRITE_FUZZ_TARGET names the target (scripts/run-fuzz.sh sets it), e.g.
//   INKBRITE_FUZZ_TARGET=png fuzz_readers CORPUS_DIR
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_targets.h"

namespace {

const inkbrite::fuzz::Target* g_target = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const char* name = std::getenv("INKBRITE_FUZZ_TARGET");
  g_target = name == nullptr ? nullptr : inkbrite::fuzz::FindTarget(name);
  if (g_target == nullptr) {
    std::fprintf(stderr, "fuzz_readers: set INKBRITE_FUZZ_TARGET to one of:");
    for (const auto& t : inkbrite::fuzz::Targets()) std::fprintf(stderr, " %s", t.name.c_str());
    std::fprintf(stderr, "\n");
    std::exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return inkbrite::fuzz::RunTarget(*g_target, data, size);
}
