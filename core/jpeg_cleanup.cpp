// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/jpeg_cleanup.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The AVX2 loops need GCC or Clang on x86-64 and are chosen at run time;
// INKBRITE_NO_VECTOR_LOOPS leaves them out.
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__) && \
    !defined(INKBRITE_NO_VECTOR_LOOPS)
#define INKBRITE_JPEG_AVX2 1
#include <immintrin.h>
#define INKBRITE_AVX2 __attribute__((target("avx2")))
#endif

namespace inkbrite {

namespace {

// The luminance table of the JPEG standard's example (quality 50).
constexpr std::array<uint16_t, 64> kStandardLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

struct Thresholds {
  int edge, flat, ring;
};

// The loops that run: the vectors (SSE2), and of them the AVX2 ones.
struct Loops {
  bool vectors, avx2;
};

// The DC step spreads a block's mean by up to step / 16 (the transform's
// scale is 8); the lowest frequencies add their halves at the block's edge.
Thresholds ThresholdsOf(const JpegQuantisers& q) {
  const int dc = q.steps[0];
  const int low = (q.steps[1] + q.steps[8]) / 2;
  const int mid = (q.steps[2] + q.steps[9] + q.steps[16] + q.steps[10] + q.steps[17]) / 5;
  return {std::clamp((dc + low) / 4, 2, 48), std::clamp(low / 6, 1, 12), std::clamp(mid, 2, 60)};
}

// Spreads the step between p[-1] and p[0] (pixels `stride` bytes apart)
// over p[-3] to p[2] when it is small and both sides are flat.
bool SmoothEdge(uint8_t* p, ptrdiff_t stride, const Thresholds& t) {
  const int p0 = p[-stride], q0 = p[0];
  const int d = q0 - p0;
  if (d == 0 || std::abs(d) >= t.edge) return false;
  const int p1 = p[-2 * stride], q1 = p[stride];
  if (std::abs(p1 - p0) > t.flat || std::abs(q1 - q0) > t.flat) return false;
  static constexpr int kShare[3] = {3, 2, 1};  // eighths of the step, nearest first
  for (int i = 0; i < 3; ++i) {
    uint8_t& before = p[-(i + 1) * stride];
    uint8_t& after = p[i * stride];
    before =
        static_cast<uint8_t>(std::clamp(before + (d * kShare[i] + (d > 0 ? 4 : -4)) / 8, 0, 255));
    after =
        static_cast<uint8_t>(std::clamp(after - (d * kShare[i] + (d > 0 ? 4 : -4)) / 8, 0, 255));
  }
  return true;
}

// SmoothEdge without branches on byte `i` of the rows a to f (three above
// a horizontal block edge, three below); 1 when smoothed.
inline int SmoothRowByte(uint8_t* __restrict a, uint8_t* __restrict b, uint8_t* __restrict c,
                         uint8_t* __restrict d0, uint8_t* __restrict e, uint8_t* __restrict f,
                         size_t i, int edge, int flat) {
  const int p0 = c[i], p1 = b[i], q0 = d0[i], q1 = e[i];
  const int d = q0 - p0;
  const int ad = d < 0 ? -d : d;
  const int dp = p1 > p0 ? p1 - p0 : p0 - p1, dq = q1 > q0 ? q1 - q0 : q0 - q1;
  const int on = (d != 0) & (ad < edge) & (dp <= flat) & (dq <= flat);
  const int round = d > 0 ? 4 : -4;
  const int s3 = on * ((3 * d + round) / 8), s2 = on * ((2 * d + round) / 8),
            s1 = on * ((d + round) / 8);
  c[i] = static_cast<uint8_t>(std::clamp(p0 + s3, 0, 255));
  b[i] = static_cast<uint8_t>(std::clamp(p1 + s2, 0, 255));
  a[i] = static_cast<uint8_t>(std::clamp(a[i] + s1, 0, 255));
  d0[i] = static_cast<uint8_t>(std::clamp(q0 - s3, 0, 255));
  e[i] = static_cast<uint8_t>(std::clamp(q1 - s2, 0, 255));
  f[i] = static_cast<uint8_t>(std::clamp(f[i] - s1, 0, 255));
  return on;
}

#if defined(__SSE2__)
// |a - b| of unsigned bytes.
inline __m128i AbsDiff(__m128i a, __m128i b) {
  return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}

// All ones where a <= b (unsigned bytes).
inline __m128i AtMost(__m128i a, __m128i b) { return _mm_cmpeq_epi8(_mm_min_epu8(a, b), a); }

// (k |d| + 4) / 8 of bytes `ad` at most 47, for k 1 to 3.
inline __m128i Eighths(__m128i kad) {
  return _mm_and_si128(_mm_srli_epi16(_mm_add_epi8(kad, _mm_set1_epi8(4)), 3), _mm_set1_epi8(31));
}

// SmoothRowByte on 16 bytes at once: a, b, c above the block edge, d, e,
// f below; the mask of those smoothed.
inline __m128i SmoothEdge16(__m128i& a, __m128i& b, __m128i& c, __m128i& d, __m128i& e, __m128i& f,
                            __m128i edge, __m128i flat) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i ad = AbsDiff(d, c);
  // 0 < |d| < edge, both sides flat.
  __m128i on = _mm_andnot_si128(_mm_cmpeq_epi8(ad, zero), AtMost(ad, edge));
  on = _mm_and_si128(on, _mm_and_si128(AtMost(AbsDiff(b, c), flat), AtMost(AbsDiff(e, d), flat)));
  const __m128i up = _mm_cmpeq_epi8(_mm_subs_epu8(c, d), zero);  // q0 >= p0
  const __m128i m = _mm_and_si128(ad, on);
  const __m128i m2 = _mm_add_epi8(m, m);
  const __m128i s1 = Eighths(m), s2 = Eighths(m2), s3 = Eighths(_mm_add_epi8(m2, m));
  // Towards each other: the lower side rises, the higher falls.
  const auto toward = [up](__m128i& v, __m128i s, bool before) {
    const __m128i rise = before ? _mm_and_si128(up, s) : _mm_andnot_si128(up, s);
    const __m128i fall = before ? _mm_andnot_si128(up, s) : _mm_and_si128(up, s);
    v = _mm_subs_epu8(_mm_adds_epu8(v, rise), fall);
  };
  toward(a, s1, true);
  toward(b, s2, true);
  toward(c, s3, true);
  toward(d, s3, false);
  toward(e, s2, false);
  toward(f, s1, false);
  return on;
}

inline int Count(__m128i mask) {
  return __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(mask)));
}

// SmoothRowByte on the 16 bytes from `i`; how many were smoothed.
inline int SmoothRowBytes16(uint8_t* const r[6], size_t i, __m128i edge, __m128i flat) {
  const auto load = [i](const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
  };
  __m128i v[6];
  for (int k = 0; k < 6; ++k) v[k] = load(r[k]);
  const int smoothed = Count(SmoothEdge16(v[0], v[1], v[2], v[3], v[4], v[5], edge, flat));
  for (int k = 0; k < 6; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(r[k] + i), v[k]);
  return smoothed;
}

// Turns 16 rows of 16 bytes into 16 columns (its own inverse).
inline void Transpose16(__m128i m[16]) {
  for (int stage = 0; stage < 4; ++stage) {
    __m128i t[16];
    for (int i = 0; i < 8; ++i) {
      t[2 * i] = _mm_unpacklo_epi8(m[i], m[i + 8]);
      t[2 * i + 1] = _mm_unpackhi_epi8(m[i], m[i + 8]);
    }
    std::copy_n(t, 16, m);
  }
}

// The vertical block edge left of pixel `x` in the 16 rows `rows`: the
// 18 bytes of the three pixels each side of each row turned into columns,
// a column a byte position, so that each channel is smoothed as a row edge
// is; how many were smoothed.
int SmoothColumnEdge16(uint8_t* const rows[16], int32_t x, __m128i edge, __m128i flat) {
  const size_t at = 3 * static_cast<size_t>(x) - 9;  // the first of the 18
  __m128i m[16];
  for (int r = 0; r < 16; ++r)
    m[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + at));
  // Bytes 16 and 17 (the third pixel after the edge, its last two channels).
  alignas(16) uint16_t pairs[16];
  for (int r = 0; r < 16; ++r) std::memcpy(&pairs[r], rows[r] + at + 16, 2);
  __m128i tail[2] = {_mm_load_si128(reinterpret_cast<const __m128i*>(pairs)),
                     _mm_load_si128(reinterpret_cast<const __m128i*>(pairs + 8))};
  const __m128i low = _mm_set1_epi16(0xFF);
  __m128i f1 = _mm_packus_epi16(_mm_and_si128(tail[0], low), _mm_and_si128(tail[1], low));
  __m128i f2 = _mm_packus_epi16(_mm_srli_epi16(tail[0], 8), _mm_srli_epi16(tail[1], 8));
  Transpose16(m);
  int smoothed = Count(SmoothEdge16(m[0], m[3], m[6], m[9], m[12], m[15], edge, flat));
  smoothed += Count(SmoothEdge16(m[1], m[4], m[7], m[10], m[13], f1, edge, flat));
  smoothed += Count(SmoothEdge16(m[2], m[5], m[8], m[11], m[14], f2, edge, flat));
  Transpose16(m);
  for (int r = 0; r < 16; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[r] + at), m[r]);
  tail[0] = _mm_unpacklo_epi8(f1, f2);
  tail[1] = _mm_unpackhi_epi8(f1, f2);
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs), tail[0]);
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs + 8), tail[1]);
  for (int r = 0; r < 16; ++r) std::memcpy(rows[r] + at + 16, &pairs[r], 2);
  return smoothed;
}
#endif

#if defined(INKBRITE_JPEG_AVX2)
// The same on 32 bytes at once (two vertical block edges at once), on
// processors with AVX2.
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

INKBRITE_AVX2 inline __m256i AbsDiff32(__m256i a, __m256i b) {
  return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

INKBRITE_AVX2 inline __m256i AtMost32(__m256i a, __m256i b) {
  return _mm256_cmpeq_epi8(_mm256_min_epu8(a, b), a);
}

INKBRITE_AVX2 inline __m256i Eighths32(__m256i kad) {
  return _mm256_and_si256(_mm256_srli_epi16(_mm256_add_epi8(kad, _mm256_set1_epi8(4)), 3),
                          _mm256_set1_epi8(31));
}

// `v` raised by `rise` and lowered by `fall`, each held within the bytes.
INKBRITE_AVX2 inline __m256i Toward32(__m256i v, __m256i rise, __m256i fall) {
  return _mm256_subs_epu8(_mm256_adds_epu8(v, rise), fall);
}

// SmoothEdge16 on 32 bytes.
INKBRITE_AVX2 inline __m256i SmoothEdge32(__m256i& a, __m256i& b, __m256i& c, __m256i& d,
                                          __m256i& e, __m256i& f, __m256i edge, __m256i flat) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ad = AbsDiff32(d, c);
  __m256i on = _mm256_andnot_si256(_mm256_cmpeq_epi8(ad, zero), AtMost32(ad, edge));
  on = _mm256_and_si256(
      on, _mm256_and_si256(AtMost32(AbsDiff32(b, c), flat), AtMost32(AbsDiff32(e, d), flat)));
  const __m256i up = _mm256_cmpeq_epi8(_mm256_subs_epu8(c, d), zero);  // q0 >= p0
  const __m256i m = _mm256_and_si256(ad, on);
  const __m256i m2 = _mm256_add_epi8(m, m);
  const __m256i s1 = Eighths32(m), s2 = Eighths32(m2), s3 = Eighths32(_mm256_add_epi8(m2, m));
  // Towards each other: the lower side rises, the higher falls.
  a = Toward32(a, _mm256_and_si256(up, s1), _mm256_andnot_si256(up, s1));
  b = Toward32(b, _mm256_and_si256(up, s2), _mm256_andnot_si256(up, s2));
  c = Toward32(c, _mm256_and_si256(up, s3), _mm256_andnot_si256(up, s3));
  d = Toward32(d, _mm256_andnot_si256(up, s3), _mm256_and_si256(up, s3));
  e = Toward32(e, _mm256_andnot_si256(up, s2), _mm256_and_si256(up, s2));
  f = Toward32(f, _mm256_andnot_si256(up, s1), _mm256_and_si256(up, s1));
  return on;
}

INKBRITE_AVX2 inline int Count32(__m256i mask) {
  return __builtin_popcount(static_cast<unsigned>(_mm256_movemask_epi8(mask)));
}

// SmoothRowByte on the bytes [0, n) of the rows, 32 at a time as far as
// they go; adds how many were smoothed to `smoothed`; the first byte not done.
INKBRITE_AVX2 size_t SmoothRowBytesAvx2(uint8_t* const r[6], size_t n, const Thresholds& t,
                                        int64_t& smoothed) {
  const __m256i edge = _mm256_set1_epi8(static_cast<char>(t.edge - 1));  // |d| < edge
  const __m256i flat = _mm256_set1_epi8(static_cast<char>(t.flat));
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256i v[6];
    for (int k = 0; k < 6; ++k)
      v[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r[k] + i));
    smoothed += Count32(SmoothEdge32(v[0], v[1], v[2], v[3], v[4], v[5], edge, flat));
    for (int k = 0; k < 6; ++k) _mm256_storeu_si256(reinterpret_cast<__m256i*>(r[k] + i), v[k]);
  }
  return i;
}

// Transpose16 in each half.
INKBRITE_AVX2 inline void Transpose16x2(__m256i m[16]) {
  for (int stage = 0; stage < 4; ++stage) {
    __m256i t[16];
    for (int i = 0; i < 8; ++i) {
      t[2 * i] = _mm256_unpacklo_epi8(m[i], m[i + 8]);
      t[2 * i + 1] = _mm256_unpackhi_epi8(m[i], m[i + 8]);
    }
    std::copy_n(t, 16, m);
  }
}

// The 16 bytes at `a` in the low half, those at `b` in the high.
INKBRITE_AVX2 inline __m256i Halves(const uint16_t* a, const uint16_t* b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// SmoothColumnEdge16 on the block edges left of pixels `x` and `x` + 8 at
// once, one in each half of the registers (their bytes are apart).
INKBRITE_AVX2 int SmoothColumnEdges32(uint8_t* const rows[16], int32_t x, __m256i edge,
                                      __m256i flat) {
  const size_t at = 3 * static_cast<size_t>(x) - 9;  // the first of the 18 of the first edge
  __m256i m[16];
  alignas(32) uint16_t pairs[2][16];
  for (int r = 0; r < 16; ++r) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + at));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + at + 24));
    m[r] = _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
    std::memcpy(&pairs[0][r], rows[r] + at + 16, 2);
    std::memcpy(&pairs[1][r], rows[r] + at + 40, 2);
  }
  const __m256i tail0 = Halves(pairs[0], pairs[1]), tail1 = Halves(pairs[0] + 8, pairs[1] + 8);
  const __m256i low = _mm256_set1_epi16(0xFF);
  __m256i f1 = _mm256_packus_epi16(_mm256_and_si256(tail0, low), _mm256_and_si256(tail1, low));
  __m256i f2 = _mm256_packus_epi16(_mm256_srli_epi16(tail0, 8), _mm256_srli_epi16(tail1, 8));
  Transpose16x2(m);
  int smoothed = Count32(SmoothEdge32(m[0], m[3], m[6], m[9], m[12], m[15], edge, flat));
  smoothed += Count32(SmoothEdge32(m[1], m[4], m[7], m[10], m[13], f1, edge, flat));
  smoothed += Count32(SmoothEdge32(m[2], m[5], m[8], m[11], m[14], f2, edge, flat));
  Transpose16x2(m);
  for (int r = 0; r < 16; ++r) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[r] + at), _mm256_castsi256_si128(m[r]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[r] + at + 24),
                     _mm256_extracti128_si256(m[r], 1));
  }
  const __m256i t0 = _mm256_unpacklo_epi8(f1, f2), t1 = _mm256_unpackhi_epi8(f1, f2);
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs[0]), _mm256_castsi256_si128(t0));
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs[0] + 8), _mm256_castsi256_si128(t1));
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs[1]), _mm256_extracti128_si256(t0, 1));
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs[1] + 8), _mm256_extracti128_si256(t1, 1));
  for (int r = 0; r < 16; ++r) {
    std::memcpy(rows[r] + at + 16, &pairs[0][r], 2);
    std::memcpy(rows[r] + at + 40, &pairs[1][r], 2);
  }
  return smoothed;
}

// The vertical block edges of the 16 rows, two at a time as far as they go;
// the first edge's pixel not done.
INKBRITE_AVX2 int32_t SmoothColumnEdgesAvx2(uint8_t* const rows[16], int32_t w, const Thresholds& t,
                                            int64_t& smoothed) {
  const __m256i edge = _mm256_set1_epi8(static_cast<char>(t.edge - 1));
  const __m256i flat = _mm256_set1_epi8(static_cast<char>(t.flat));
  int32_t x = 8;
  for (; x + 11 <= w; x += 16) smoothed += SmoothColumnEdges32(rows, x, edge, flat);
  return x;
}
#endif

// The horizontal block edge above row `r[3]` over `n` bytes of rows r[0] to
// r[5].
int64_t SmoothRowEdge(uint8_t* const r[6], size_t n, const Thresholds& t, Loops loops) {
  int64_t smoothed = 0;
  size_t i = 0;
#if defined(__SSE2__)
  if (loops.vectors) {
#if defined(INKBRITE_JPEG_AVX2)
    if (loops.avx2) i = SmoothRowBytesAvx2(r, n, t, smoothed);
#endif
    const __m128i edge = _mm_set1_epi8(static_cast<char>(t.edge - 1));  // |d| < edge
    const __m128i flat = _mm_set1_epi8(static_cast<char>(t.flat));
    for (; i + 16 <= n; i += 16) smoothed += SmoothRowBytes16(r, i, edge, flat);
  }
#endif
  for (; i < n; ++i) {
    smoothed += SmoothRowByte(r[0], r[1], r[2], r[3], r[4], r[5], i, t.edge, t.flat);
  }
  return smoothed;
}

// The vertical block edges (columns 8, 16, ..., three pixels each side
// needed) of rows [y0, y1): 16 rows at a time, then one by one.
int64_t DeblockColumns(DibImage& image, int32_t y0, int32_t y1, const Thresholds& t, Loops loops) {
  const int32_t w = image.Width();
  int64_t smoothed = 0;
  int32_t y = y0;
#if defined(__SSE2__)
  if (loops.vectors) {
    const __m128i edge = _mm_set1_epi8(static_cast<char>(t.edge - 1));
    const __m128i flat = _mm_set1_epi8(static_cast<char>(t.flat));
    for (; y + 16 <= y1; y += 16) {
      uint8_t* rows[16];
      for (int r = 0; r < 16; ++r) rows[r] = image.Row(y + r);
      int32_t x = 8;
#if defined(INKBRITE_JPEG_AVX2)
      if (loops.avx2) x = SmoothColumnEdgesAvx2(rows, w, t, smoothed);
#endif
      for (; x + 3 <= w; x += 8) smoothed += SmoothColumnEdge16(rows, x, edge, flat);
    }
  }
#endif
  for (; y < y1; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 8; x + 3 <= w; x += 8) {
      for (int c = 0; c < 3; ++c) smoothed += SmoothEdge(row + 3 * x + c, 3, t) ? 1 : 0;
    }
  }
  return smoothed;
}

// The horizontal block edge above row y (a multiple of 8, y + 3 <= height).
int64_t DeblockRows(DibImage& image, int32_t y, const Thresholds& t, Loops loops) {
  uint8_t* const rows[6] = {image.Row(y - 3), image.Row(y - 2), image.Row(y - 1),
                            image.Row(y),     image.Row(y + 1), image.Row(y + 2)};
  return SmoothRowEdge(rows, static_cast<size_t>(image.Width()) * 3, t, loops);
}

int64_t Deblock(DibImage& image, const Thresholds& t, Loops loops) {
  int64_t smoothed = DeblockColumns(image, 0, image.Height(), t, loops);
  for (int32_t y = 8; y + 3 <= image.Height(); y += 8) smoothed += DeblockRows(image, y, t, loops);
  return smoothed;
}

// A block holds an edge of the drawing, and so its ringing, when its green
// levels span more than this many times `ring`; the other blocks hold only
// noise below the table's steps and are left to the deblocking. (An edge
// on a block's border rings in neither block.)
constexpr int kEdgeBlockSpan = 3;

#if defined(__SSE2__)
// The flags of the row of blocks `by`: the lowest and highest byte of each
// column of its rows (16 at a time), then of each block's green bytes in
// them.
void EdgeBlockRow(const DibImage& image, int ring, int32_t by, int32_t across,
                  std::vector<uint8_t>& low, std::vector<uint8_t>& high, uint8_t* flags) {
  const int32_t w = image.Width(), h = image.Height();
  const size_t bytes = static_cast<size_t>(w) * 3;
  const int32_t y0 = 8 * by, y1 = std::min(h, y0 + 8);
  low.resize(bytes);
  high.resize(bytes);
  const uint8_t* rows[8];
  const int n = y1 - y0;
  for (int k = 0; k < n; ++k) rows[k] = image.Row(y0 + k);
  size_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + i)), u = l;
    for (int k = 1; k < n; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      l = _mm_min_epu8(l, v);
      u = _mm_max_epu8(u, v);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(low.data() + i), l);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(high.data() + i), u);
  }
  for (; i < bytes; ++i) {
    uint8_t l = rows[0][i], u = l;
    for (int k = 1; k < n; ++k) {
      l = std::min(l, rows[k][i]);
      u = std::max(u, rows[k][i]);
    }
    low[i] = l;
    high[i] = u;
  }
  // The whole blocks' 24 bytes in a register and a half, their green bytes
  // picked out (the lowest turned highest, so that both are a greatest).
  const __m128i green = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0);
  const __m128i green2 = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const auto greatest = [](__m128i v) {
    v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 1));
    return _mm_cvtsi128_si32(v) & 0xFF;
  };
  int32_t bx = 0;
  for (; bx < across && 24 * static_cast<size_t>(bx) + 24 <= bytes; ++bx) {
    const size_t at = 24 * static_cast<size_t>(bx);
    const auto load = [at](const std::vector<uint8_t>& v, __m128i& a, __m128i& b) {
      a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.data() + at));
      b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v.data() + at + 16));
    };
    __m128i l0, l1, u0, u1;
    load(low, l0, l1);
    load(high, u0, u1);
    const __m128i u = _mm_max_epu8(_mm_and_si128(u0, green), _mm_and_si128(u1, green2));
    const __m128i l = _mm_max_epu8(_mm_andnot_si128(l0, green), _mm_andnot_si128(l1, green2));
    flags[bx] = greatest(u) - (255 - greatest(l)) > kEdgeBlockSpan * ring ? 1 : 0;
  }
  for (; bx < across; ++bx) {
    uint8_t l = 255, u = 0;
    for (int32_t x = 8 * bx; x < std::min(w, 8 * bx + 8); ++x) {
      l = std::min(l, low[3 * static_cast<size_t>(x) + 1]);
      u = std::max(u, high[3 * static_cast<size_t>(x) + 1]);
    }
    flags[bx] = u - l > kEdgeBlockSpan * ring ? 1 : 0;
  }
}
#endif

// One flag a block of 8 x 8 pixels, rows of blocks from the top.
std::vector<uint8_t> EdgeBlocks(const DibImage& image, int ring, int32_t across, int32_t down,
                                Loops loops) {
  const int32_t w = image.Width(), h = image.Height();
  std::vector<uint8_t> lo(static_cast<size_t>(across)), hi(static_cast<size_t>(across));
  std::vector<uint8_t> flags(static_cast<size_t>(across) * static_cast<size_t>(down));
#if defined(__SSE2__)
  if (loops.vectors) {
    std::vector<uint8_t> low, high;
    for (int32_t by = 0; by < down; ++by) {
      EdgeBlockRow(image, ring, by, across, low, high,
                   flags.data() + static_cast<size_t>(by) * static_cast<size_t>(across));
    }
    return flags;
  }
#endif
  for (int32_t by = 0; by < down; ++by) {
    std::fill(lo.begin(), lo.end(), 255);
    std::fill(hi.begin(), hi.end(), 0);
    for (int32_t y = 8 * by; y < std::min(h, 8 * by + 8); ++y) {
      const uint8_t* g = image.Row(y) + 1;
      for (int32_t bx = 0; bx < across; ++bx) {
        uint8_t l = lo[bx], u = hi[bx];
        for (int32_t x = 8 * bx; x < std::min(w, 8 * bx + 8); ++x) {
          l = std::min(l, g[3 * x]);
          u = std::max(u, g[3 * x]);
        }
        lo[bx] = l;
        hi[bx] = u;
      }
    }
    for (int32_t bx = 0; bx < across; ++bx) {
      flags[static_cast<size_t>(by) * static_cast<size_t>(across) + static_cast<size_t>(bx)] =
          hi[bx] - lo[bx] > kEdgeBlockSpan * ring ? 1 : 0;
    }
  }
  return flags;
}

// The filter of one row's bytes [from, to): each byte the mean of its 3 x 3
// neighbourhood (bytes 3 apart across, the rows above and below), a
// neighbour more than `ring` from it counted as the byte itself, so the
// noise beside an edge is smoothed and the edge, far more than `ring` high,
// is not. `from` at least 3 and `to` at most the row's bytes less 3.
inline void DeringByte(const uint8_t* __restrict up, const uint8_t* __restrict mid,
                       const uint8_t* __restrict down, uint8_t* __restrict out, size_t i,
                       int ring) {
  const int c = mid[i];
  const auto take = [c, ring](int v) {
    const int d = v > c ? v - c : c - v;
    return d <= ring ? v : c;
  };
  const int sum = take(up[i - 3]) + take(up[i]) + take(up[i + 3]) + take(mid[i - 3]) + c +
                  take(mid[i + 3]) + take(down[i - 3]) + take(down[i]) + take(down[i + 3]);
  out[i] = static_cast<uint8_t>((sum + 4) / 9);
}

#if defined(__SSE2__)
// DeringByte on the 16 bytes from `i`.
inline void DeringBytes16(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                          size_t i, __m128i ring) {
  const auto at = [](const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i c = at(mid + i), zero = _mm_setzero_si128();
  // A neighbour more than `ring` away counts as the centre.
  const auto take = [c, ring](__m128i v) {
    const __m128i near = AtMost(AbsDiff(v, c), ring);
    return _mm_or_si128(_mm_and_si128(near, v), _mm_andnot_si128(near, c));
  };
  __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_set1_epi16(4));
  __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_set1_epi16(4));
  const auto add = [&lo, &hi, zero](__m128i v) {
    lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
    hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
  };
  for (const uint8_t* r : {up + i, down + i}) {
    for (const ptrdiff_t dx : {-3, 0, 3}) add(take(at(r + dx)));
  }
  add(take(at(mid + i - 3)));
  add(take(at(mid + i + 3)));
  // (sum + 4) / 9 for sums up to 2299: the high half of the product with
  // 7282 (65536 / 9 rounded up) is exact there.
  const __m128i ninth = _mm_set1_epi16(7282);
  const __m128i mean = _mm_packus_epi16(_mm_mulhi_epu16(lo, ninth), _mm_mulhi_epu16(hi, ninth));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), mean);
}
#endif

#if defined(INKBRITE_JPEG_AVX2)
// A neighbour more than `ring` away counts as the centre.
INKBRITE_AVX2 inline __m256i Take32(__m256i v, __m256i c, __m256i ring) {
  return _mm256_blendv_epi8(c, v, AtMost32(AbsDiff32(v, c), ring));
}

// DeringBytes16 on the 32 bytes from `i`.
INKBRITE_AVX2 inline void DeringBytes32(const uint8_t* up, const uint8_t* mid, const uint8_t* down,
                                        uint8_t* out, size_t i, __m256i ring) {
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mid + i));
  const __m256i zero = _mm256_setzero_si256();
  __m256i lo = _mm256_add_epi16(_mm256_unpacklo_epi8(c, zero), _mm256_set1_epi16(4));
  __m256i hi = _mm256_add_epi16(_mm256_unpackhi_epi8(c, zero), _mm256_set1_epi16(4));
  const uint8_t* const around[8] = {up + i - 3,  up + i,       up + i + 3, mid + i - 3,
                                    mid + i + 3, down + i - 3, down + i,   down + i + 3};
  for (const uint8_t* p : around) {
    const __m256i v = Take32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), c, ring);
    lo = _mm256_add_epi16(lo, _mm256_unpacklo_epi8(v, zero));
    hi = _mm256_add_epi16(hi, _mm256_unpackhi_epi8(v, zero));
  }
  const __m256i ninth = _mm256_set1_epi16(7282);  // as in DeringBytes16
  const __m256i mean =
      _mm256_packus_epi16(_mm256_mulhi_epu16(lo, ninth), _mm256_mulhi_epu16(hi, ninth));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), mean);
}

// The bytes [from, to), at least 32, the last 32 taken again from the end.
INKBRITE_AVX2 void DeringBytesAvx2(const uint8_t* up, const uint8_t* mid, const uint8_t* down,
                                   uint8_t* out, size_t from, size_t to, int ring) {
  const __m256i r = _mm256_set1_epi8(static_cast<char>(ring));
  size_t i = from;
  for (; i + 32 <= to; i += 32) DeringBytes32(up, mid, down, out, i, r);
  if (i < to) DeringBytes32(up, mid, down, out, to - 32, r);
}
#endif

// The filter of the bytes [from, to) into `out`. The vectors take the
// last bytes again from the end: the input stays as it is, so the bytes
// done twice come out the same.
void DeringBytes(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                 size_t from, size_t to, int ring, Loops loops) {
  size_t i = from;
#if defined(__SSE2__)
  if (loops.vectors && to - from >= 16) {
#if defined(INKBRITE_JPEG_AVX2)
    if (to - from >= 32 && loops.avx2) {
      DeringBytesAvx2(up, mid, down, out, from, to, ring);
      return;
    }
#endif
    const __m128i r = _mm_set1_epi8(static_cast<char>(ring));
    for (; i + 16 <= to; i += 16) DeringBytes16(up, mid, down, out, i, r);
    if (i < to) DeringBytes16(up, mid, down, out, to - 16, r);
    return;
  }
#endif
  for (; i < to; ++i) DeringByte(up, mid, down, out, i, ring);
}

// The same for a pixel at the page's left or right edge, its missing
// neighbours the pixel itself.
void DeringEdgePixel(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                     int32_t x, int32_t w, int ring) {
  const int32_t left = 3 * std::max(0, x - 1), right = 3 * std::min(w - 1, x + 1);
  for (int c = 0; c < 3; ++c) {
    const int centre = mid[3 * x + c];
    int sum = 0;
    for (const uint8_t* r : {up, mid, down}) {
      for (const int32_t at : {left, 3 * x, right}) {
        const int v = r[at + c];
        const int d = v > centre ? v - centre : centre - v;
        sum += d <= ring ? v : centre;
      }
    }
    out[3 * x + c] = static_cast<uint8_t>((sum + 4) / 9);
  }
}

// One pass of the filter over the blocks that hold an edge. A row of blocks
// is filtered into `out` from the page as it was and then written back; the
// last row of the row of blocks above is kept as it was in `above`.
// The filter over the row of blocks `by` (its flags `flag`), into `out`
// from the page as it is, `above` the row above as it was before the row of
// blocks above was filtered; then `above` takes this one's last row and the
// filtered bytes go back.
// Kept from one row of blocks to the next: the filtered rows, the runs.
struct DeringWork {
  std::vector<uint8_t> out;
  std::vector<std::pair<int32_t, int32_t>> runs;
};

void DeringBlockRow(DibImage& image, const Thresholds& t, const uint8_t* flag, int32_t across,
                    int32_t by, std::vector<uint8_t>& above, DeringWork& work, Loops loops) {
  const int32_t w = image.Width(), h = image.Height();
  const size_t bytes = static_cast<size_t>(w) * 3;
  const int32_t y0 = 8 * by, y1 = std::min(h, y0 + 8);
  // The runs of blocks that hold an edge, filtered at once: first and last.
  std::vector<std::pair<int32_t, int32_t>>& runs = work.runs;
  runs.clear();
  for (int32_t bx = 0; bx < across; ++bx) {
    if (flag[bx] == 0) continue;
    const int32_t first = bx;
    while (bx + 1 < across && flag[bx + 1] != 0) ++bx;
    runs.emplace_back(first, bx);
  }
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* up = y == y0 ? above.data() : image.Row(y - 1);
    const uint8_t* mid = image.Row(y);
    const uint8_t* below = image.Row(std::min(h - 1, y + 1));
    uint8_t* o = work.out.data() + static_cast<size_t>(y - y0) * bytes;
    for (const auto& [first, last] : runs) {
      const int32_t x0 = 8 * first, x1 = std::min(w, 8 * last + 8);
      const int32_t inner0 = std::max(1, x0), inner1 = std::min(w - 1, x1);
      if (inner0 < inner1) DeringBytes(up, mid, below, o, 3 * inner0, 3 * inner1, t.ring, loops);
      if (x0 == 0) DeringEdgePixel(up, mid, below, o, 0, w, t.ring);
      if (x1 == w && w > 1) DeringEdgePixel(up, mid, below, o, w - 1, w, t.ring);
    }
  }
  std::copy_n(image.Row(y1 - 1), bytes, above.data());
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* o = work.out.data() + static_cast<size_t>(y - y0) * bytes;
    uint8_t* row = image.Row(y);
    for (const auto& [first, last] : runs) {
      const size_t from = 24 * static_cast<size_t>(first);
      std::copy(o + from, o + std::min(bytes, 24 * static_cast<size_t>(last) + 24), row + from);
    }
  }
}

// One pass of the filter over the blocks that hold an edge, row of blocks
// by row of blocks from the top.
void Dering(DibImage& image, const Thresholds& t, const std::vector<uint8_t>& flags, int32_t across,
            int32_t down, Loops loops) {
  const size_t bytes = static_cast<size_t>(image.Width()) * 3;
  std::vector<uint8_t> above(image.Row(0), image.Row(0) + bytes);
  DeringWork work;
  work.out.resize(bytes * 8);
  for (int32_t by = 0; by < down; ++by) {
    DeringBlockRow(image, t, flags.data() + static_cast<size_t>(by) * across, across, by, above,
                   work, loops);
  }
}

#if defined(__SSE2__)
// The whole clean-up in one walk down the page, each row of blocks while
// it is in the cache: at row of blocks k its flags and the first ringing
// pass, the second pass on row k - 1 (whose rows below now have had the
// first), the vertical block edges of the 16 rows above that, and the
// horizontal block edges whose six rows are done. Gives the bytes of the
// steps one after the other over the whole page.
int64_t CleanInOneWalk(DibImage& image, const Thresholds& t, Loops loops) {
  const int32_t h = image.Height();
  const int32_t across = (image.Width() + 7) / 8, down = (h + 7) / 8;
  const size_t bytes = static_cast<size_t>(image.Width()) * 3;
  std::vector<uint8_t> flags(static_cast<size_t>(across) * static_cast<size_t>(down));
  std::vector<uint8_t> low, high;
  DeringWork work;
  work.out.resize(bytes * 8);
  std::vector<uint8_t> above1(image.Row(0), image.Row(0) + bytes), above2;
  int64_t smoothed = 0;
  int32_t columnsDone = 0, rowEdge = 8;  // rows with their vertical edges done; next row edge
  const auto flagsOf = [&](int32_t by) { return flags.data() + static_cast<size_t>(by) * across; };
  const auto edgesUpTo = [&](int32_t final) {  // rows [0, final) have had both passes
    const int32_t to = final == h ? h : final / 16 * 16;
    if (to > columnsDone) {
      smoothed += DeblockColumns(image, columnsDone, to, t, loops);
      columnsDone = to;
    }
    for (; rowEdge + 3 <= h && rowEdge + 3 <= columnsDone; rowEdge += 8) {
      smoothed += DeblockRows(image, rowEdge, t, loops);
    }
  };
  for (int32_t k = 0; k <= down; ++k) {
    if (k < down) {
      EdgeBlockRow(image, t.ring, k, across, low, high, flagsOf(k));
      DeringBlockRow(image, t, flagsOf(k), across, k, above1, work, loops);
    }
    if (k >= 1) {
      if (k == 1) above2.assign(image.Row(0), image.Row(0) + bytes);
      DeringBlockRow(image, t, flagsOf(k - 1), across, k - 1, above2, work, loops);
      edgesUpTo(std::min(h, 8 * k));
    }
  }
  edgesUpTo(h);
  return smoothed;
}
#endif

}  // namespace

JpegQuantisers StandardJpegQuantisers(int quality) {
  quality = std::clamp(quality, 1, 100);
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  JpegQuantisers q;
  for (size_t i = 0; i < 64; ++i) {
    q.steps[i] =
        static_cast<uint16_t>(std::clamp((kStandardLuminance[i] * scale + 50) / 100, 1, 255));
  }
  return q;
}

JpegCleanupFound CleanJpegArtefacts(DibImage& image, const JpegQuantisers* tables,
                                    JpegCleanupPath path) {
  Loops loops{path != JpegCleanupPath::kPlain, false};
#if defined(INKBRITE_JPEG_AVX2)
  loops.avx2 = path == JpegCleanupPath::kFastest && HasAvx2();
#endif
  JpegCleanupFound found;
  if (!image.Is24Bit() || image.Width() < 3 || image.Height() < 3) return found;
  const Thresholds t = ThresholdsOf(tables != nullptr ? *tables : StandardJpegQuantisers(50));
  found.edge = t.edge;
  found.flat = t.flat;
  found.ring = t.ring;
  try {
#if defined(__SSE2__)
    if (loops.vectors) {
      found.smoothed = CleanInOneWalk(image, t, loops);
      return found;
    }
#endif
    const int32_t across = (image.Width() + 7) / 8, down = (image.Height() + 7) / 8;
    const std::vector<uint8_t> flags = EdgeBlocks(image, t.ring, across, down, loops);
    // Twice: the halo of an edge reaches a few pixels into its block.
    Dering(image, t, flags, across, down, loops);
    Dering(image, t, flags, across, down, loops);
  } catch (const std::bad_alloc&) {
    return found;
  }
  found.smoothed = Deblock(image, t, loops);
  return found;
}

double JpegBlocking(const DibImage& image) {
  if (!image.Is24Bit() || image.Width() < 16) return 0;
  // Steps between columns 8k - 1 and 8k against those between columns
  // 8k + 3 and 8k + 4, the middle of the blocks: the same number of pairs,
  // the same picture, only the block edge differs.
  double across = 0, middle = 0;
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t x = 8; x + 4 < image.Width(); x += 8) {
      for (int c = 0; c < 3; ++c) {
        across += std::abs(row[3 * x + c] - row[3 * (x - 1) + c]);
        middle += std::abs(row[3 * (x + 4) + c] - row[3 * (x + 3) + c]);
      }
    }
  }
  const int64_t edges = (image.Width() - 5) / 8;  // block edges with a middle beside them
  const double pairs = static_cast<double>(image.Height()) * 3 * static_cast<double>(edges);
  return pairs == 0 ? 0 : (across - middle) / pairs;
}

}  // namespace inkbrite
