// SPDX-License-Identifier: GPL-2.0-or-later
// The one-sweep triple box sums against three plain passes, along rows of
// pixels (four values an element) and down planes (a row an element), at
// lengths shorter and longer than the boxes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/box_sums.h"

namespace inkbrite {
namespace {

// One box pass of 2 r + 1 elements, zero beyond the ends.
std::vector<int32_t> PlainBox(const std::vector<int32_t>& in, int32_t count, size_t width,
                              int32_t r) {
  std::vector<int32_t> out(in.size(), 0);
  for (int32_t y = 0; y < count; ++y) {
    for (int32_t k = y - r; k <= y + r; ++k) {
      if (k < 0 || k >= count) continue;
      for (size_t i = 0; i < width; ++i) out[y * width + i] += in[k * width + i];
    }
  }
  return out;
}

TEST(TripleBoxSums, EqualThreePlainPasses) {
  struct Case {
    int32_t count;
    size_t width;
    int32_t r;
  };
  const Case cases[] = {{1, 4, 1}, {2, 4, 1},   {3, 4, 2},  {7, 4, 1},   {50, 4, 2},
                        {9, 4, 0}, {5, 12, 3},  {1, 8, 1},  {40, 16, 1}, {33, 64, 2},
                        {4, 4, 6}, {120, 4, 5}, {17, 20, 4}};
  std::mt19937 rng(7);
  for (const Case& c : cases) {
    std::vector<int32_t> in(static_cast<size_t>(c.count) * c.width);
    for (int32_t& v : in) v = static_cast<int32_t>(rng() % 16321);  // a square of 64 pixels
    const std::vector<int32_t> want =
        PlainBox(PlainBox(PlainBox(in, c.count, c.width, c.r), c.count, c.width, c.r), c.count,
                 c.width, c.r);
    BoxSumRings rings;
    std::vector<float> asFloats(in.size(), -1);
    TripleBoxSums(in.data(), asFloats.data(), c.count, c.width, c.width, c.r, rings);
    std::vector<int32_t> inPlace = in;
    TripleBoxSums(inPlace.data(), inPlace.data(), c.count, c.width, c.width, c.r, rings);
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_EQ(inPlace[i], want[i]) << c.count << " x " << c.width << " r " << c.r << " at " << i;
      ASSERT_EQ(asFloats[i], static_cast<float>(want[i]))
          << c.count << " x " << c.width << " r " << c.r << " at " << i;
    }
  }
}

// Elements apart by more than their width: what lies between is left.
TEST(TripleBoxSums, LeavesWhatLiesBetweenElements) {
  constexpr int32_t kCount = 9;
  constexpr size_t kStride = 12;
  std::vector<int32_t> in(kCount * kStride);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int32_t>(i % kStride < 4 ? i : -7);
  std::vector<int32_t> out = in;
  BoxSumRings rings;
  TripleBoxSums(in.data(), out.data(), kCount, 4, kStride, 1, rings);
  for (size_t i = 0; i < out.size(); ++i) {
    if (i % kStride >= 4) {
      EXPECT_EQ(out[i], -7) << i;
    }
  }
  std::vector<int32_t> packed(kCount * 4);
  for (int32_t y = 0; y < kCount; ++y) {
    for (int k = 0; k < 4; ++k) packed[y * 4 + k] = in[y * kStride + k];
  }
  const std::vector<int32_t> want =
      PlainBox(PlainBox(PlainBox(packed, kCount, 4, 1), kCount, 4, 1), kCount, 4, 1);
  for (int32_t y = 0; y < kCount; ++y) {
    for (int k = 0; k < 4; ++k) EXPECT_EQ(out[y * kStride + k], want[y * 4 + k]) << y;
  }
}

}  // namespace
}  // namespace inkbrite
