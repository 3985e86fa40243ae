// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/page_histogram.h"

#include <algorithm>
#include <cmath>

namespace inkbrite {

PageHistogram ComputeHistogram(const DibImage& page, int64_t maxSamples) {
  PageHistogram h;
  if (!page.Is24Bit() || page.Width() <= 0 || page.Height() <= 0) return h;
  const int64_t all = int64_t{page.Width()} * page.Height();
  // Rows far apart and pixels closer together along them: the time goes in
  // the memory a row brings in, whichever of its pixels are counted.
  int32_t rowStep = 1, columnStep = 1;
  if (maxSamples > 0 && all > maxSamples) {
    const double step = std::sqrt(static_cast<double>(all) / static_cast<double>(maxSamples));
    rowStep = static_cast<int32_t>(std::ceil(step * 3));
    columnStep = std::max(1, static_cast<int32_t>(std::ceil(step / 3)));
  }
  // Grey by a fixed-point weighting in 1/65536 (sum 65536), rounded.
  uint64_t black = 0, white = 0;
  bool grey = true;
  for (int32_t y = 0; y < page.Height(); y += rowStep) {
    const uint8_t* p = page.Row(y);  // blue, green, red
    for (int32_t x = 0; x < page.Width(); x += columnStep, p += 3 * columnStep) {
      const uint8_t b = p[0], g = p[1], r = p[2];
      ++h.channel[0][r];
      ++h.channel[1][g];
      ++h.channel[2][b];
      ++h.grey[(19595u * r + 38470u * g + 7471u * b + 32768u) >> 16];
      black += (r | g | b) == 0;
      white += (r & g & b) == 255;
      grey = grey && r == g && g == b;
    }
    h.pixels += static_cast<uint64_t>((page.Width() + columnStep - 1) / columnStep);
  }
  h.black = black;
  h.white = white;
  h.isGrey = grey;
  return h;
}

}  // namespace inkbrite
