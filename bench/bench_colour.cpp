// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the colour modes on a full comic page, measured against a plain
// copy of the same pixel bytes: Greyscale, and ReduceColours for 256 colours
// and for 16 greys (quantiser, nearest-entry search and the expansion back to
// 24 bits together).
//
// The page is the scan-like page of bench_support.h (a few hundred thousand
// distinct colours, as a scanned colour page holds). Every iteration starts
// from a fresh copy (restored outside the timed region).

#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>

#include "bench/bench_support.h"
#include "core/dib_image.h"

namespace {

using inkbrite::DibImage;
namespace b = inkbrite::bench;

size_t DistinctColours(const DibImage& page) {
  std::unordered_set<uint32_t> colours;
  for (int y = 0; y < page.Height(); ++y) {
    const uint8_t* p = page.Row(y);
    for (int x = 0; x < page.Width(); ++x, p += 3) {
      colours.insert(uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
    }
  }
  return colours.size();
}

struct ColourCase {
  const char* name;
  double target;  // x copy
  bool (*op)(DibImage&);
};

// Greyscale: three table lookups per pixel. The reductions: the quantiser
// walk per pixel, the nearest-entry lookup per pixel (one search per
// distinct colour) and the expansion into a new 24-bit page.
const ColourCase kColourCases[] = {
    {"Greyscale", 12, [](DibImage& i) { return i.Greyscale(); }},
    {"ReduceColours(256 colours)", 300, [](DibImage& i) { return i.ReduceColours(false, 8, 256); }},
    {"ReduceColours(16 greys)", 200, [](DibImage& i) { return i.ReduceColours(true, 4, 16); }},
};

}  // namespace

int main(int argc, char** argv) {
  std::printf("scan page %d x %d, %zu distinct colours\n", b::kPageWidth, b::kPageHeight,
              DistinctColours(b::ScanPage()));
  b::RegisterCopy();
  std::map<std::string, double> targets;
  for (const ColourCase& c : kColourCases) {
    b::Register(c.name, [c](benchmark::State& s) { b::RunOnPage(s, b::ScanPage(), c.op); });
    targets[c.name] = c.target;
  }
  b::RatioReporter reporter(4.0, targets);
  return b::RunAll(argc, argv, reporter);
}
