// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the colour modes on a full comic page, measured against a plain
// copy of the same pixel bytes: Greyscale, and ReduceColours for 256 colours
// and for 16 greys (quantiser, nearest-entry search and the expansion back to
// 24 bits together).
//
// The page is a deterministic scan-like picture: paper with grain, ink
// strokes, colour washes with gradients and sensor noise, so it holds a few
// hundred thousand distinct colours, as a scanned colour page does. Every
// iteration starts from a fresh copy (restored outside the timed region).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unordered_set>

#include "bench/bench_support.h"
#include "core/dib_image.h"

namespace {

using inkbrite::DibImage;
namespace b = inkbrite::bench;

uint32_t Next(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

DibImage MakeScanPage() {
  DibImage image;
  if (!image.Create(b::kPageWidth, b::kPageHeight, 24)) {
    std::fprintf(stderr, "cannot create the %d x %d page\n", b::kPageWidth, b::kPageHeight);
    std::abort();
  }
  uint32_t state = 2463534242u;
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* p = image.Row(y);
    for (int x = 0; x < image.Width(); ++x, p += 3) {
      // Paper, slightly warm.
      double r = 236, g = 230, b = 218;
      // Panels of colour wash: a hue per panel, a gradient across it.
      const int panel = (y / 600) * 3 + x / 567;
      if (panel % 2 == 0) {
        const double t = (x % 567) / 567.0;
        r = 120 + 100 * std::sin(panel * 1.3) * (1 - t);
        g = 140 + 80 * std::cos(panel * 0.7) * t;
        b = 160 + 60 * std::sin(panel * 2.1 + t);
      }
      // Ink: panel borders and strokes along a family of curves.
      const bool border = x % 567 < 6 || y % 600 < 6;
      const double curve = std::sin(x * 0.013) * 40 + std::cos(y * 0.021) * 30;
      const bool stroke = std::fmod(std::abs(x * 0.5 + y * 0.8 + curve), 97.0) < 3.0;
      if (border || stroke) r = g = b = 25;
      // Sensor noise, -7 to +8 per channel.
      const uint32_t n = Next(state);
      r += static_cast<int>(n & 15) - 7;
      g += static_cast<int>((n >> 4) & 15) - 7;
      b += static_cast<int>((n >> 8) & 15) - 7;
      p[0] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
      p[1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
      p[2] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
    }
  }
  return image;
}

const DibImage& ScanPage() {
  static const DibImage page = MakeScanPage();
  return page;
}

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
              DistinctColours(ScanPage()));
  b::RegisterCopy();
  std::map<std::string, double> targets;
  for (const ColourCase& c : kColourCases) {
    b::Register(c.name, [c](benchmark::State& s) { b::RunOnPage(s, ScanPage(), c.op); });
    targets[c.name] = c.target;
  }
  b::RatioReporter reporter(4.0, targets);
  return b::RunAll(argc, argv, reporter);
}
