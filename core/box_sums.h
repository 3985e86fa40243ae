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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace inkbrite {

// What a sweep keeps between calls, so that it allocates only when a
// longer element or a wider box comes.
struct BoxSumRings {
  std::vector<int32_t> sums, rings;
};

// The same sweep fed one element at a time, so that the input need never be
// whole: the caller makes element t in Next(), then calls Advance(); element
// y of the result is written to `out` + y `stride` (as floats, exact below
// 2^24) once element y + 3 r is in, the last ones by Finish().
class BoxSumStream {
 public:
  void Start(int32_t count, size_t width, int32_t r, float* out, size_t stride);
  void Start(int32_t count, size_t width, int32_t r, int32_t* out, size_t stride);
  int32_t* Next() { return Slot(m_ring0, m_t); }
  void Advance();
  void Finish();
  // How many elements of the result are written.
  int32_t Done() const { return std::clamp(m_t - 3 * m_r, 0, m_count); }

 private:
  void Begin(int32_t count, size_t width, int32_t r, size_t stride);
  void StepAt(int32_t t);
  int32_t* Slot(int32_t* base, int32_t y) const {
    return base + static_cast<size_t>(y % m_ring) * m_width;
  }

  int32_t m_count = 0, m_r = 0, m_ring = 1, m_t = 0;
  size_t m_width = 0, m_stride = 0;
  float* m_outFloat = nullptr;
  int32_t* m_outInt = nullptr;
  int32_t *m_ring0 = nullptr, *m_ring1 = nullptr, *m_ring2 = nullptr;
  std::vector<int32_t> m_sums, m_rings;
};

// Along a row of `count` elements of four values (r at least 1), in two
// calls so that the caller makes the elements where the sweep reads them:
// TripleBoxRowInput gives the room for them, TripleBoxRowSums writes their
// sums to `out`, element x at `out` + x `stride`.
int32_t* TripleBoxRowInput(int32_t count, int32_t r, BoxSumRings& rings);
void TripleBoxRowSums(int32_t* out, size_t stride, int32_t count, int32_t r, BoxSumRings& rings);

// `out` of int32_t: the sums; of float: the sums as floats (exact below
// 2^24).
void TripleBoxSums(const int32_t* in, int32_t* out, int32_t count, size_t width, size_t stride,
                   int32_t r, BoxSumRings& rings);
void TripleBoxSums(const int32_t* in, float* out, int32_t count, size_t width, size_t stride,
                   int32_t r, BoxSumRings& rings);

}  // namespace inkbrite
