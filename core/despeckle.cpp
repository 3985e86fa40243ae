// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/despeckle.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "core/scan_analysis.h"

namespace inkbrite {

namespace {

// What the labelling knows about a pixel.
// A small group's first pixel (its seed) is kSeed, its others kSmall.
enum : uint8_t { kUnseen = 0, kFlooding, kBig, kSmall, kSeed, kOwn };
// Other specks within reach that make a speck one dot of a screen.
constexpr int kCrowd = 3;

struct Speck {
  int32_t left, top, right, bottom;  // its box, right and bottom inclusive
  uint32_t first, count;             // its pixels in Labels::pixels
  bool dark;
};

struct Labels {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> dark;  // 1: darker than the threshold
  std::vector<uint8_t> state;
  std::vector<uint32_t> pixels;  // the pixels of the specks, speck by speck
  std::vector<Speck> specks;
};

// Otsu's threshold over the lightness histogram: the level that best splits
// the page into two classes (ink below it); 0 when the page has one level.
int OtsuThreshold(const std::array<uint32_t, 256>& histogram) {
  double total = 0, sum = 0;
  for (int v = 0; v < 256; ++v) {
    total += histogram[v];
    sum += static_cast<double>(v) * histogram[v];
  }
  double below = 0, belowSum = 0, best = -1;
  int threshold = 0;
  for (int t = 1; t < 256; ++t) {
    below += histogram[t - 1];
    belowSum += static_cast<double>(t - 1) * histogram[t - 1];
    const double above = total - below;
    if (below == 0 || above == 0) continue;
    const double m0 = belowSum / below, m1 = (sum - belowSum) / above;
    const double between = below * above * (m0 - m1) * (m0 - m1);
    if (between > best) {
      best = between;
      threshold = t;
    }
  }
  return threshold;
}

// Floods the group of `seed`'s side from `seed`; a group whose box grows past
// `largest`, or that meets a pixel already known to be in a big group, is big.
void Flood(Labels& l, uint32_t seed, int largest, std::vector<uint32_t>& stack) {
  const uint8_t side = l.dark[seed];
  const auto first = static_cast<uint32_t>(l.pixels.size());
  Speck s{static_cast<int32_t>(seed % l.width),
          static_cast<int32_t>(seed / l.width),
          0,
          0,
          first,
          0,
          side != 0};
  s.right = s.left;
  s.bottom = s.top;
  bool big = false;
  stack.assign(1, seed);
  l.state[seed] = kFlooding;
  l.pixels.push_back(seed);
  while (!stack.empty() && !big) {
    const uint32_t p = stack.back();
    stack.pop_back();
    const int32_t x = static_cast<int32_t>(p % l.width), y = static_cast<int32_t>(p / l.width);
    for (int32_t ny = std::max(0, y - 1); ny <= std::min(l.height - 1, y + 1) && !big; ++ny) {
      for (int32_t nx = std::max(0, x - 1); nx <= std::min(l.width - 1, x + 1); ++nx) {
        const uint32_t n =
            static_cast<uint32_t>(ny) * static_cast<uint32_t>(l.width) + static_cast<uint32_t>(nx);
        if (l.dark[n] != side || l.state[n] == kFlooding) continue;
        if (l.state[n] == kBig) {
          big = true;
          break;
        }
        l.state[n] = kFlooding;
        l.pixels.push_back(n);
        stack.push_back(n);
        s.left = std::min(s.left, nx);
        s.right = std::max(s.right, nx);
        s.top = std::min(s.top, ny);
        s.bottom = std::max(s.bottom, ny);
        if (s.right - s.left >= largest || s.bottom - s.top >= largest) {
          big = true;
          break;
        }
      }
    }
  }
  const uint8_t mark = big ? kBig : kSmall;
  for (size_t i = first; i < l.pixels.size(); ++i) l.state[l.pixels[i]] = mark;
  if (big) {
    l.pixels.resize(first);
  } else {
    l.state[seed] = kSeed;
    s.count = static_cast<uint32_t>(l.pixels.size() - first);
    l.specks.push_back(s);
  }
}

// A run of one side across a row longer than `largest` belongs to a big
// group: its pixels are marked so, and no flood walks them.
void MarkLongRuns(Labels& l, int largest) {
  for (int32_t y = 0; y < l.height; ++y) {
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(l.width);
    const uint8_t* side = l.dark.data() + row;
    uint8_t* state = l.state.data() + row;
    int32_t start = 0;
    for (int32_t x = 1; x <= l.width; ++x) {
      if (x < l.width && side[x] == side[start]) continue;
      if (x - start > largest) std::fill(state + start, state + x, kBig);
      start = x;
    }
  }
}

// Whether the speck stands apart: no pixel of its own side that belongs to
// a large group within reach (for a dark speck two pixels of its box: no
// line touches it; for a light one `largest`: it lies inside a fill), no
// other dark pixel at all within two pixels of a dark speck, and fewer than
// kCrowd other specks starting within `largest` + 2 (not one dot or hole of
// a screen). Its own pixels are marked kOwn.
bool StandsApart(const Labels& l, const Speck& s, int largest) {
  const int32_t reach = largest + 2;
  const int32_t near = s.dark ? 2 : largest;
  const int32_t x0 = std::max(0, s.left - reach), x1 = std::min(l.width - 1, s.right + reach);
  const int32_t y0 = std::max(0, s.top - reach), y1 = std::min(l.height - 1, s.bottom + reach);
  const uint8_t side = s.dark ? 1 : 0;
  int crowd = 0;
  for (int32_t y = y0; y <= y1; ++y) {
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(l.width);
    const bool nearRow = y >= s.top - near && y <= s.bottom + near;
    for (int32_t x = x0; x <= x1; ++x) {
      const size_t i = row + static_cast<size_t>(x);
      if (l.state[i] == kOwn || l.dark[i] != side) continue;
      if (nearRow && x >= s.left - near && x <= s.right + near && (s.dark || l.state[i] == kBig)) {
        return false;
      }
      if (l.state[i] == kSeed && ++crowd >= kCrowd) return false;
    }
  }
  return true;
}

// Paints the speck with the mean colour of the ground in the ring of pixels
// around its box.
void Paint(DibImage& image, const Labels& l, const Speck& s) {
  std::array<uint64_t, 3> sum{};
  uint64_t n = 0;
  for (int32_t y = std::max(0, s.top - 1); y <= std::min(l.height - 1, s.bottom + 1); ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t x = std::max(0, s.left - 1); x <= std::min(l.width - 1, s.right + 1); ++x) {
      const size_t i =
          static_cast<size_t>(y) * static_cast<size_t>(l.width) + static_cast<size_t>(x);
      if (l.state[i] == kOwn || (l.dark[i] != 0) == s.dark) continue;
      for (int c = 0; c < 3; ++c) sum[c] += row[3 * x + c];
      ++n;
    }
  }
  if (n == 0) return;
  for (uint32_t k = 0; k < s.count; ++k) {
    const uint32_t p = l.pixels[s.first + k];
    uint8_t* pixel = image.Row(static_cast<int32_t>(p / l.width)) + 3 * (p % l.width);
    for (int c = 0; c < 3; ++c) pixel[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
  }
}

}  // namespace

SpecksFound Despeckle(DibImage& image, int largest) {
  SpecksFound found;
  largest = std::min(largest, kLargestSpeck);
  if (largest <= 0 || !image.Is24Bit() || image.Width() < 1 || image.Height() < 1) return found;
  Labels l;
  l.width = image.Width();
  l.height = image.Height();
  const size_t count = static_cast<size_t>(l.width) * static_cast<size_t>(l.height);
  if (count >= (size_t{1} << 32)) return found;
  try {
    // The lightness first, then in its place the side of each pixel.
    l.dark.resize(count);
    std::array<uint32_t, 256> histogram{};
    for (int32_t y = 0; y < l.height; ++y) {
      const uint8_t* p = image.Row(y);
      uint8_t* out = l.dark.data() + static_cast<size_t>(y) * static_cast<size_t>(l.width);
      for (int32_t x = 0; x < l.width; ++x) {
        out[x] = static_cast<uint8_t>(Luma(p[3 * x], p[3 * x + 1], p[3 * x + 2]));
      }
      for (int32_t x = 0; x < l.width; ++x) ++histogram[out[x]];
    }
    found.threshold = OtsuThreshold(histogram);
    if (found.threshold == 0) return found;
    const auto threshold = static_cast<uint8_t>(found.threshold);
    for (uint8_t& v : l.dark) v = v < threshold ? 1 : 0;
    l.state.assign(count, kUnseen);
    MarkLongRuns(l, largest);
    std::vector<uint32_t> stack;
    for (size_t i = 0; i < count; ++i) {
      if (l.state[i] == kUnseen) Flood(l, static_cast<uint32_t>(i), largest, stack);
    }
    std::vector<const Speck*> apart;
    for (const Speck& s : l.specks) {
      for (uint32_t k = 0; k < s.count; ++k) l.state[l.pixels[s.first + k]] = kOwn;
      if (StandsApart(l, s, largest)) {
        Paint(image, l, s);
        ++(s.dark ? found.dark : found.light);
      }
      for (uint32_t k = 0; k < s.count; ++k) l.state[l.pixels[s.first + k]] = kSmall;
      l.state[l.pixels[s.first]] = kSeed;
    }
  } catch (const std::bad_alloc&) {
    return found;  // no memory: the page as it was, or with the specks painted so far
  }
  return found;
}

}  // namespace inkbrite
