// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/box_sums.h"

#include <emmintrin.h>

#include <algorithm>

namespace inkbrite {

namespace {

inline __m128i Load(const int32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(int32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline void Store(float* p, __m128i v) { _mm_storeu_ps(p, _mm_cvtepi32_ps(v)); }

// sum += plus (unless null) - minus (unless null), then `to` = sum.
template <typename Out>
inline __attribute__((always_inline)) void Step(int32_t* sum, const int32_t* plus,
                                                const int32_t* minus, Out* to, size_t width) {
  for (size_t k = 0; k < width; k += 4) {
    __m128i v = Load(sum + k);
    if (plus != nullptr) v = _mm_add_epi32(v, Load(plus + k));
    if (minus != nullptr) v = _mm_sub_epi32(v, Load(minus + k));
    Store(sum + k, v);
    if (to != nullptr) Store(to + k, v);
  }
}

// Step in plain loops, which the compiler vectorises for the processor
// it builds for: chosen at run time on processors with AVX2 (the elements
// down a plane are wide).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(INKBRITE_NO_VECTOR_LOOPS)
#define INKBRITE_BOX_AVX2 1
template <bool kPlus, bool kMinus, bool kTo, typename Out>
[[gnu::always_inline]] inline void StepLoop(int32_t* __restrict sum, const int32_t* __restrict plus,
                                            const int32_t* __restrict minus, Out* __restrict to,
                                            size_t width) {
  for (size_t k = 0; k < width; ++k) {
    int32_t v = sum[k];
    if constexpr (kPlus) v += plus[k];
    if constexpr (kMinus) v -= minus[k];
    sum[k] = v;
    if constexpr (kTo) to[k] = static_cast<Out>(v);
  }
}

template <typename Out>
__attribute__((target("avx2"))) void StepAvx2(int32_t* sum, const int32_t* plus,
                                              const int32_t* minus, Out* to, size_t width) {
  if (to == nullptr) {
    if (plus != nullptr && minus != nullptr) {
      StepLoop<true, true, false, Out>(sum, plus, minus, to, width);
    } else if (plus != nullptr) {
      StepLoop<true, false, false, Out>(sum, plus, minus, to, width);
    } else if (minus != nullptr) {
      StepLoop<false, true, false, Out>(sum, plus, minus, to, width);
    }
  } else if (plus != nullptr && minus != nullptr) {
    StepLoop<true, true, true, Out>(sum, plus, minus, to, width);
  } else if (plus != nullptr) {
    StepLoop<true, false, true, Out>(sum, plus, minus, to, width);
  } else if (minus != nullptr) {
    StepLoop<false, true, true, Out>(sum, plus, minus, to, width);
  } else {
    StepLoop<false, false, true, Out>(sum, plus, minus, to, width);
  }
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

template <int kR, typename Out>
[[gnu::always_inline]] inline void SmallBoxLoop(const int32_t* __restrict in, Out* __restrict out,
                                                size_t values);
template <int kR, typename Out>
__attribute__((target("avx2"))) void SmallBoxAvx2(const int32_t* in, Out* out, size_t values) {
  SmallBoxLoop<kR>(in, out, values);
}
#endif

// Step down a plane.
template <typename Out>
void WideStep(int32_t* sum, const int32_t* plus, const int32_t* minus, Out* to, size_t width) {
#if defined(INKBRITE_BOX_AVX2)
  if (HasAvx2()) {
    StepAvx2<Out>(sum, plus, minus, to, width);
    return;
  }
#endif
  Step<Out>(sum, plus, minus, to, width);
}

// Along a row (elements of four values): the input between zeros, the
// first two passes' sums held in two more buffers with zeros each side. One
// walk makes the three passes, each r elements behind the one before, so
// that their running sums go on side by side.
struct RowLayout {
  size_t lead, padded;  // elements before element 0; elements a buffer
};

RowLayout LayoutOf(int32_t count, int32_t r) {
  const auto rr = static_cast<size_t>(r);
  return {4 * rr + 1, 4 * rr + 1 + static_cast<size_t>(count) + 3 * rr};
}

// The boxes of three and five (r = 1 and 2), the widths the filters of a
// screen's period take: each pass in one loop over the values, 2 r + 1 a
// value, in place of the running sums (whose chain of additions holds the
// sweep back).
template <int kR, typename Out>
[[gnu::always_inline]] inline void SmallBoxLoop(const int32_t* __restrict in, Out* __restrict out,
                                                size_t values) {
  for (size_t i = 0; i < values; ++i) {
    int32_t sum = in[i];
    for (int k = 1; k <= kR; ++k) sum += in[i - 4 * k] + in[i + 4 * k];
    out[i] = static_cast<Out>(sum);
  }
}
template <int kR, typename Out>
void SmallBox(const int32_t* in, Out* out, size_t values) {
#if defined(INKBRITE_BOX_AVX2)
  if (HasAvx2()) {
    SmallBoxAvx2<kR>(in, out, values);
    return;
  }
#endif
  SmallBoxLoop<kR>(in, out, values);
}
// The three passes of a small box along a row.
template <int kR, typename Out>
void SmallBoxRow(const int32_t* a, int32_t* b1, int32_t* b2, Out* out, size_t stride,
                 int32_t count) {
  const size_t values = 4 * static_cast<size_t>(count);
  SmallBox<kR>(a, b1, values);
  SmallBox<kR>(b1, b2, values);
  if (stride == 4) {
    SmallBox<kR>(b2, out, values);
  } else {
    for (int32_t x = 0; x < count; ++x) SmallBox<kR>(b2 + 4 * x, out + x * stride, 4);
  }
}

template <typename Out>
void RowSums(Out* out, size_t stride, int32_t count, int32_t r, BoxSumRings& work) {
  const RowLayout l = LayoutOf(count, r);
  const int32_t* a = work.rings.data() + 4 * l.lead;  // element 0 of each buffer
  int32_t* b1 = work.rings.data() + 4 * (l.padded + l.lead);
  int32_t* b2 = b1 + 4 * l.padded;
  // Each pass's input is 0 beyond the ends: the buffers' margins.
  if (r == 1) {
    SmallBoxRow<1>(a, b1, b2, out, stride, count);
    return;
  }
  if (r == 2) {
    SmallBoxRow<2>(a, b1, b2, out, stride, count);
    return;
  }
  const auto at = [](auto* base, int32_t i) { return base + 4 * static_cast<ptrdiff_t>(i); };
  const int32_t span = 2 * r + 1;
  const __m128i zero = _mm_setzero_si128();
  __m128i s1 = zero, s2 = zero, s3 = zero;
  for (int32_t t = -r; t < count + 2 * r; ++t) {
    // Each pass's sums are 0 beyond the ends.
    s1 = _mm_add_epi32(s1, _mm_sub_epi32(Load(at(a, t + r)), Load(at(a, t - r - 1))));
    const __m128i v1 = t >= 0 && t < count ? s1 : zero;
    Store(at(b1, t), v1);
    s2 = _mm_add_epi32(s2, _mm_sub_epi32(v1, Load(at(b1, t - span))));
    const int32_t y2 = t - r;
    const __m128i v2 = y2 >= 0 && y2 < count ? s2 : zero;
    Store(at(b2, y2), v2);
    s3 = _mm_add_epi32(s3, _mm_sub_epi32(v2, Load(at(b2, y2 - span))));
    const int32_t y3 = y2 - r;
    if (y3 >= 0) Store(out + static_cast<size_t>(y3) * stride, s3);
  }
}

template <typename Out>
void Sweep(const int32_t* in, Out* out, int32_t count, size_t width, size_t stride, int32_t r,
           BoxSumRings& work) {
  if (count <= 0 || width == 0) return;
  if (width == 4 && r > 0) {
    int32_t* row = TripleBoxRowInput(count, r, work);
    for (int32_t x = 0; x < count; ++x) {
      Store(row + 4 * static_cast<size_t>(x), Load(in + static_cast<size_t>(x) * stride));
    }
    RowSums(out, stride, count, r, work);
    return;
  }
  BoxSumStream stream;
  stream.Start(count, width, std::max(r, 0), out, stride);
  for (int32_t y = 0; y < count; ++y) {
    std::copy_n(in + static_cast<size_t>(y) * stride, width, stream.Next());
    stream.Advance();
  }
  stream.Finish();
}

}  // namespace

void BoxSumStream::Begin(int32_t count, size_t width, int32_t r, size_t stride) {
  m_count = count;
  m_r = std::max(r, 0);
  m_ring = 2 * m_r + 2;
  m_t = 0;
  m_width = width;
  m_stride = stride;
  m_sums.assign(3 * width, 0);
  m_rings.resize(3 * static_cast<size_t>(m_ring) * width);
  m_ring0 = m_rings.data();
  m_ring1 = m_ring0 + static_cast<size_t>(m_ring) * width;
  m_ring2 = m_ring1 + static_cast<size_t>(m_ring) * width;
}

void BoxSumStream::Start(int32_t count, size_t width, int32_t r, float* out, size_t stride) {
  Begin(count, width, r, stride);
  m_outFloat = out;
  m_outInt = nullptr;
}

void BoxSumStream::Start(int32_t count, size_t width, int32_t r, int32_t* out, size_t stride) {
  Begin(count, width, r, stride);
  m_outFloat = nullptr;
  m_outInt = out;
}

// Step t of the sweep: the first pass's sum reaches element t, the
// second's t - r, the third's t - 2 r: each gives the element r behind what
// it has read.
void BoxSumStream::StepAt(int32_t t) {
  const int32_t r = m_r, span = 2 * r + 1;
  const int32_t y1 = t - r, y2 = y1 - r, y3 = y2 - r;
  const auto valid = [this](int32_t y) { return y >= 0 && y < m_count; };
  int32_t* sum1 = m_sums.data();
  int32_t* sum2 = sum1 + m_width;
  int32_t* sum3 = sum2 + m_width;
  WideStep<int32_t>(sum1, valid(t) ? Slot(m_ring0, t) : nullptr,
                    valid(t - span) ? Slot(m_ring0, t - span) : nullptr,
                    valid(y1) ? Slot(m_ring1, y1) : nullptr, m_width);
  WideStep<int32_t>(sum2, valid(y1) ? Slot(m_ring1, y1) : nullptr,
                    valid(y1 - span) ? Slot(m_ring1, y1 - span) : nullptr,
                    valid(y2) ? Slot(m_ring2, y2) : nullptr, m_width);
  const int32_t* plus = valid(y2) ? Slot(m_ring2, y2) : nullptr;
  const int32_t* minus = valid(y2 - span) ? Slot(m_ring2, y2 - span) : nullptr;
  const size_t at = static_cast<size_t>(valid(y3) ? y3 : 0) * m_stride;
  if (m_outFloat != nullptr) {
    WideStep<float>(sum3, plus, minus, valid(y3) ? m_outFloat + at : nullptr, m_width);
  } else {
    WideStep<int32_t>(sum3, plus, minus, valid(y3) ? m_outInt + at : nullptr, m_width);
  }
}

void BoxSumStream::Advance() {
  StepAt(m_t);
  ++m_t;
}

void BoxSumStream::Finish() {
  for (; m_t < m_count + 3 * m_r; ++m_t) StepAt(m_t);
}

int32_t* TripleBoxRowInput(int32_t count, int32_t r, BoxSumRings& rings) {
  const RowLayout l = LayoutOf(count, r);
  rings.rings.resize(3 * 4 * l.padded);
  int32_t* a = rings.rings.data();
  // Only the zeros: the caller writes the input between, the sweep each
  // sum it reads before it reads it.
  for (int k = 0; k < 3; ++k) {
    int32_t* buffer = a + static_cast<size_t>(k) * 4 * l.padded;
    std::fill(buffer, buffer + 4 * l.lead, 0);
    std::fill(buffer + 4 * (l.lead + static_cast<size_t>(count)), buffer + 4 * l.padded, 0);
  }
  return a + 4 * l.lead;
}

void TripleBoxRowSums(int32_t* out, size_t stride, int32_t count, int32_t r, BoxSumRings& rings) {
  RowSums(out, stride, count, r, rings);
}

void TripleBoxSums(const int32_t* in, int32_t* out, int32_t count, size_t width, size_t stride,
                   int32_t r, BoxSumRings& rings) {
  Sweep(in, out, count, width, stride, r, rings);
}

void TripleBoxSums(const int32_t* in, float* out, int32_t count, size_t width, size_t stride,
                   int32_t r, BoxSumRings& rings) {
  Sweep(in, out, count, width, stride, r, rings);
}

}  // namespace inkbrite
