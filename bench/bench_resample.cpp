// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the resamplers on a full comic page, measured against a plain
// copy of the same pixel bytes.
//
// Each filter runs at 50 % and 150 % (filter 0 reaches the area-average
// reducer and the bilinear enlarger), plus the two-pass tent scaler of a
// 200 % resize with filter 0. Every iteration starts from a fresh copy of
// the page, made outside the timed region. The "Create result" rows time
// the allocation and zero-filling of the new image alone, which every
// resize pays before it writes a pixel: above 32 MiB (the 200 % page) the C
// library maps fresh pages on every call, and on some machines that costs
// far more than the resampling.
//
// The targets are regression guards, about 1.5 times the times measured
// when the resamplers were written (scalar loops, no vector instructions).

#include <map>
#include <string>

#include "bench/bench_support.h"
#include "core/resample.h"

namespace {

using inkbrite::DibImage;
namespace b = inkbrite::bench;

const DibImage& Page() {
  static const DibImage page = b::MakePage(true);
  return page;
}

struct ResizeCase {
  const char* name;
  int percent;
  int filter;
  double target;  // times the copy
};

const ResizeCase kCases[] = {
    {"Area reducer 50%", 50, 0, 30}, {"Bilinear 150%", 150, 0, 110}, {"Bicubic 50%", 50, 1, 40},
    {"Bicubic 150%", 150, 1, 200},   {"Nearest 50%", 50, 2, 5},      {"Nearest 150%", 150, 2, 30},
    {"Two-pass 200%", 200, 0, 600},
};

void RunCreate(benchmark::State& state, int percent) {
  const int width = b::kPageWidth * percent / 100;
  const int height = b::kPageHeight * percent / 100;
  for (auto _ : state) {
    DibImage image;
    if (!image.Create(width, height, 24)) {
      state.SkipWithError("cannot create the result");
      break;
    }
    benchmark::DoNotOptimize(image.Bits());
    benchmark::ClobberMemory();
  }
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildKernelTables();
  b::RegisterCopy();
  std::map<std::string, double> targets;
  for (const ResizeCase& c : kCases) {
    targets[c.name] = c.target;
    b::Register(c.name, [c](benchmark::State& s) {
      b::RunOnPage(s, Page(), [c](DibImage& i) { return i.ResizePercent(c.percent, c.filter); });
    });
  }
  for (int percent : {50, 150, 200}) {
    const std::string name = "Create result " + std::to_string(percent) + "%";
    targets[name] = percent == 200 ? 500 : 5;
    b::Register(name, [percent](benchmark::State& s) { RunCreate(s, percent); });
  }
  b::RatioReporter reporter(1.0, targets);
  return b::RunAll(argc, argv, reporter);
}
