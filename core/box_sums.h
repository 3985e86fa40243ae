// SPDX-License-Identifier: GPL-2.0-or-later
// Three passes of a box sum in one sweep, in exact integers.
//
// A sequence of `count` elements, each `width` int32 values (a multiple of
// 4) and `stride` values from the next, is summed in boxes of 2 r + 1
// elements three times over, each pass's input zero beyond the ends and its
// output kept only on [0, count): the same sums as three separate passes,
// made in one sweep with the two inner passes' last 2 r + 2 elements held in
// rings. Element y of the result is written once the sweep has read element
// y + 3 r, after which nothing reads the input at or before y again, so
// `out` may be `in`. Along a row, an element is a pixel's four values (width
// 4, stride 4); down a plane, a whole row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace inkbrite {

// What a sweep keeps between calls, so that it allocates only when a
// longer element or a wider box comes.
struct BoxSumRings {
  std::vector<int32_t> sums, rings;
};

// `out` of int32_t: the sums; of float: the sums as floats (exact below
// 2^24).
void TripleBoxSums(const int32_t* in, int32_t* out, int32_t count, size_t width, size_t stride,
                   int32_t r, BoxSumRings& rings);
void TripleBoxSums(const int32_t* in, float* out, int32_t count, size_t width, size_t stride,
                   int32_t r, BoxSumRings& rings);

}  // namespace inkbrite
