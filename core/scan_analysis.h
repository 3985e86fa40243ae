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

// The dark bands a flatbed scanner leaves along the edges of a scan (the
// lid or the glass beyond the page), as widths from each edge, 0 where there
// is none. Such a band is outside the page: the steps look at the paper
// inside it, the margin crop cuts it off.
struct ScanBands {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool Any() const { return left > 0 || top > 0 || right > 0 || bottom > 0; }
  // The part of a `width` x `height` page inside the bands.
  DibRect Inside(int32_t width, int32_t height) const {
    return {left, top, width - right, height - bottom};
  }
  friend bool operator==(const ScanBands&, const ScanBands&) = default;
};

// A band pixel is at most this light (luma).
inline constexpr int kBandDarkLuma = 96;

// Finds the bands along the four edges. A band runs the whole length of its
// edge and starts at it: from the edge inwards, each line of pixels
// (column for the left and right edges, row for the top and bottom) whose
// samples are at least 90 % darker than kBandDarkLuma and nearly uniform
// (a spread of lightness under 24 levels) belongs to it, and the band then
// takes the blurred line into the paper beyond (at most kBandFringe
// lines). A band is kBandMinWidth to a fifth of the page across, borders
// paper, and counts only when that paper is at least kBandContrast
// lighter: a panel's frame on the edge, a dark page, dark art that bleeds
// off an edge, or a turned page's corners (which do not run the whole edge)
// have none. None on a page under kBandMinPage pixels a side or not of 24
// bits.
inline constexpr int kBandContrast = 64;
inline constexpr int32_t kBandMinWidth = 8;
inline constexpr int32_t kBandFringe = 8;
inline constexpr int32_t kBandMinPage = 128;
ScanBands FindScanBands(const DibImage& image);

// The paper colour of a page: the per-channel median of the pixels of its
// outer frame (a band of 1/64 of the shorter side, at least one pixel, along
// all four edges, sampled to a few thousand pixels). Scanned pages are paper
// at their edges; where the content runs off an edge, the median still
// follows the majority of the frame, and where the content fills the whole
// frame the steps that use the paper colour find no paper and change
// nothing. Scanner bands are left out: the frame is taken inside them.
// White for an empty or non-24-bit image.
Bgr8 EstimatePaper(const DibImage& image);
// The same within the part `inside` of the page (which must lie within it).
Bgr8 EstimatePaper(const DibImage& image, const DibRect& inside);
// Luma of a colour.
constexpr int Luma(Bgr8 c) { return Luma(c.blue, c.green, c.red); }

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
