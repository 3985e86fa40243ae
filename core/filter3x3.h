// SPDX-License-Identifier: GPL-2.0-or-later
// Row loops of the 3 x 3 filters (DibImage::Sharpen and DibImage::Soften,
// core/filter3x3.cpp).
//
// The filters run the widest row loop the processor offers, chosen at run
// time: AVX-512 (F, BW, VL), AVX2, or the portable loop (SSE2 on x86-64, plain
// C++ elsewhere). All three are compiled from the same source and give the
// same bytes; tests and benchmarks lower the limit to compare them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace inkbrite {

enum class FilterLoops { kPortable = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest loop this processor (and this build) can run.
FilterLoops FastestFilterLoops();

// Caps the loops the filters may use at `widest` (the fastest available one
// below it is taken) and returns the previous cap. The cap is process-wide.
FilterLoops LimitFilterLoops(FilterLoops widest);

// The row loop of Sharpen(level) or Soften(strength), for a caller that holds
// the rows itself (the row-by-row pipeline, core/enhance_rows.h): writes
// bytes c to count - c - 1 of `out` from the original rows above, row and
// below, for pixels of c = `channels` bytes: 3 (blue-green-red) or 1 (grey
// levels, which give for each level what the 3-byte loop gives for a pixel
// of three equal bytes). count = width * c >= 3 * c; all four rows
// distinct; the first and last pixel of `out` are the caller's, which
// DibImage's filters keep as they were. The loop is chosen as the filters
// choose it. Null for a level or strength the filters do nothing with, or
// another pixel size.
using FilterRowLoop = void (*)(const uint8_t* above, const uint8_t* row, const uint8_t* below,
                               uint8_t* out, size_t count);
FilterRowLoop SharpenRowLoop(int level, int channels = 3);
FilterRowLoop SoftenRowLoop(int strength, int channels = 3);

}  // namespace inkbrite
