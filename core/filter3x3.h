// SPDX-License-Identifier: GPL-2.0-or-later
// Row loops of the 3 x 3 filters (DibImage::Sharpen and DibImage::Soften,
// core/filter3x3.cpp).
//
// The filters run the widest row loop the processor offers, chosen at run
// time: AVX-512 (F, BW, VL), AVX2, or the portable loop (SSE2 on x86-64, plain
// C++ elsewhere). All three are compiled from the same source and give the
// same bytes; tests and benchmarks lower the limit to compare them.
#pragma once

namespace inkbrite {

enum class FilterLoops { kPortable = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest loop this processor (and this build) can run.
FilterLoops FastestFilterLoops();

// Caps the loops the filters may use at `widest` (the fastest available one
// below it is taken) and returns the previous cap. The cap is process-wide.
FilterLoops LimitFilterLoops(FilterLoops widest);

}  // namespace inkbrite
