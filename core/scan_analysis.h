// SPDX-License-Identifier: GPL-2.0-or-later
// What the automatic clean-up steps (auto levels, margin crop, spread
// splitting, deskew) share when they look at a scanned page: a lightness
// measure, the paper colour, and the test that tells ink from paper.
//
// These are analyses: they read a 24-bit page and never change it. They
// look at a sample of the page where the answer allows (every n-th row, the
// outer frame), so that finding costs a small part of a pass over the page.
#pragma once

#include <array>
#include <cstdint>

#include "core/dib_image.h"

namespace inkbrite {

// Lightness of a pixel from its stored bytes, 0 to 255: the usual luma
// weights (red 77, green 150, blue 29, adding up to 256).
constexpr int Luma(uint8_t blue, uint8_t green, uint8_t red) {
  return (29 * blue + 150 * green + 77 * red) >> 8;
}

// A colour as stored: blue, green, red.
struct Bgr8 {
  uint8_t blue = 255;
  uint8_t green = 255;
  uint8_t red = 255;
  friend bool operator==(const Bgr8&, const Bgr8&) = default;
};

// The paper colour of a page: the per-channel median of the pixels of its
// outer frame (a band of 1/64 of the shorter side, at least one pixel, along
// all four edges, sampled to a few thousand pixels). Scanned pages are paper
// at their edges; where the content runs off an edge, the median still
// follows the majority of the frame, and where the content fills the whole
// frame the steps that use the paper colour find no paper and change
// nothing. White for an empty or non-24-bit image.
Bgr8 EstimatePaper(const DibImage& image);

// For each channel, a table telling whether a byte differs from the paper's
// by more than `tolerance`: a pixel is ink when any of its three bytes is.
class InkTest {
 public:
  InkTest(Bgr8 paper, int tolerance);
  bool operator()(const uint8_t* pixel) const {
    return (m_far[0][pixel[0]] | m_far[1][pixel[1]] | m_far[2][pixel[2]]) != 0;
  }
  // Ink pixels among the `count` pixels starting at `pixels`.
  int32_t Count(const uint8_t* pixels, int32_t count) const;

 private:
  std::array<std::array<uint8_t, 256>, 3> m_far{};
};

// The step between sampled rows so that about `rows` rows of a page of
// `height` rows are looked at (1 for short pages).
constexpr int32_t SampleStep(int32_t height, int32_t rows) {
  return height > rows ? height / rows : 1;
}

}  // namespace inkbrite
