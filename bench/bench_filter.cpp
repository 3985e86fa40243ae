// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the 3 x 3 filters (sharpen, soften) on a full comic page,
// measured against a plain copy of the same pixel bytes. Target: each filter
// within 8 times the copy.
//
// Each iteration starts from the same page, restored outside the timed
// region. The summary at the end gives each time as a multiple of the copy;
// rows marked "avx2" and "portable" show the narrower row loops that other
// processors run. The "grey" rows filter a page of grey levels (a
// one-component scan inside), measured against a copy of its bytes.

#include <map>
#include <string>

#include "bench/bench_support.h"
#include "core/filter3x3.h"

namespace {

using inkbrite::DibImage;
using inkbrite::FilterLoops;
namespace b = inkbrite::bench;

struct FilterCase {
  const char* name;
  bool (*op)(DibImage&);
};

const FilterCase kCases[] = {
    {"Sharpen(3)", [](DibImage& i) { return i.Sharpen(3); }},
    {"Sharpen(6)", [](DibImage& i) { return i.Sharpen(6); }},
    {"Sharpen(9)", [](DibImage& i) { return i.Sharpen(9); }},
    {"Soften(1)", [](DibImage& i) { return i.Soften(1); }},
    {"Soften(2)", [](DibImage& i) { return i.Soften(2); }},
};

void RunFilter(benchmark::State& state, const FilterCase& c, FilterLoops loops, bool grey) {
  const FilterLoops previous = inkbrite::LimitFilterLoops(loops);
  b::RunOnPage(state, grey ? b::GreyNoisePage() : b::NoisePage(), c.op);
  inkbrite::LimitFilterLoops(previous);
}

// The copy, every filter with the fastest loops, then with each narrower
// loop this processor also runs.
void RegisterAll(std::map<std::string, std::string>& yardsticks) {
  b::RegisterCopy();
  b::RegisterGreyCopy();
  const struct {
    FilterLoops loops;
    const char* suffix;
  } variants[] = {{FilterLoops::kAvx512, ""},
                  {FilterLoops::kAvx2, " avx2"},
                  {FilterLoops::kPortable, " portable"}};
  const FilterLoops fastest = inkbrite::FastestFilterLoops();
  for (const auto& v : variants) {
    if (v.loops > fastest || (v.loops == fastest && *v.suffix != '\0')) continue;
    for (const FilterCase& c : kCases) {
      for (const bool grey : {false, true}) {
        const std::string name = std::string(c.name) + (grey ? " grey" : "") + v.suffix;
        const FilterLoops loops = v.loops;
        b::Register(name, [c, loops, grey](benchmark::State& s) { RunFilter(s, c, loops, grey); });
        if (grey) yardsticks[name] = b::kGreyCopyName;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> yardsticks;
  RegisterAll(yardsticks);
  b::RatioReporter reporter(8.0, {}, yardsticks);
  return b::RunAll(argc, argv, reporter);
}
