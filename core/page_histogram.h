// SPDX-License-Identifier: GPL-2.0-or-later
// The histogram of a 24-bit page: the count of each level per channel and
// of the grey level, and the share of pixels clipped to black (every
// channel 0) and to white (every channel 255). A large page is sampled on a
// regular grid, so counting takes a few milliseconds at most whatever the
// page's size.
#pragma once

#include <array>
#include <cstdint>

#include "core/dib_image.h"

namespace inkbrite {

struct PageHistogram {
  // Levels 0 to 255 of red, green and blue, and of grey (0.299 R + 0.587 G
  // + 0.114 B, rounded).
  std::array<std::array<uint32_t, 256>, 3> channel{};
  std::array<uint32_t, 256> grey{};
  uint64_t pixels = 0;  // pixels counted
  uint64_t black = 0;   // of them, every channel 0
  uint64_t white = 0;   // every channel 255
  bool isGrey = true;   // every pixel counted had three equal channels

  bool Empty() const { return pixels == 0; }
  double BlackShare() const {
    return pixels ? static_cast<double>(black) / static_cast<double>(pixels) : 0.0;
  }
  double WhiteShare() const {
    return pixels ? static_cast<double>(white) / static_cast<double>(pixels) : 0.0;
  }
};

// The default number of pixels above which a page is sampled.
inline constexpr int64_t kHistogramSamples = 500'000;

// Counts every pixel of `page` when it has at most `maxSamples` of them,
// else a regular grid of about that many: every (3n)-th row and every
// (n/3)-th pixel along it. An empty histogram for a page that is not 24 bits.
PageHistogram ComputeHistogram(const DibImage& page, int64_t maxSamples = kHistogramSamples);

}  // namespace inkbrite
