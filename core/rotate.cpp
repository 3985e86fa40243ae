// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/rotate.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

// The vector loop needs GCC or Clang on x86-64; INKBRITE_NO_VECTOR_LOOPS
// leaves it out (for tools that cannot follow AVX-512 code).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(INKBRITE_NO_VECTOR_LOOPS)
#define INKBRITE_ROTATE_VECTOR 1
#include <immintrin.h>
#endif

namespace inkbrite {

namespace {

// The picture being turned, rows looked up from the top.
struct Source {
  const uint8_t* bits;  // bottom row first
  int32_t width;
  int32_t height;
  int64_t rowBytes;
  const uint8_t* fill;  // blue, green, red

  const uint8_t* Row(int32_t y) const {
    return bits + static_cast<int64_t>(height - 1 - y) * rowBytes;
  }
  // Pixel (x, y), or the fill colour outside the picture.
  const uint8_t* Tap(int32_t x, int32_t y) const {
    return x >= 0 && x < width && y >= 0 && y < height ? Row(y) + 3 * static_cast<int64_t>(x)
                                                       : fill;
  }
};

// Where a row's pixels come from: pixel x samples (u + x du, v + x dv), in
// pixel indices with 32 fraction bits.
struct RowWalk {
  int64_t u;
  int64_t v;
  int64_t du;
  int64_t dv;
};

inline uint32_t Lerp(uint32_t a, uint32_t b, uint32_t f) {
  return (a * (256 - f) + b * f + 128) >> 8;
}

// Output pixels [x0, x1) of one row.
void RotateSpanPortable(const Source& s, const RowWalk& walk, uint8_t* out, int32_t x0,
                        int32_t x1) {
  int64_t u = walk.u + x0 * walk.du;
  int64_t v = walk.v + x0 * walk.dv;
  uint8_t* o = out + 3 * static_cast<int64_t>(x0);
  for (int32_t x = x0; x < x1; ++x, o += 3, u += walk.du, v += walk.dv) {
    const auto ix = static_cast<int32_t>(u >> 32);
    const auto iy = static_cast<int32_t>(v >> 32);
    const auto fx = static_cast<uint32_t>((u >> 24) & 255);
    const auto fy = static_cast<uint32_t>((v >> 24) & 255);
    const uint8_t* a;  // (ix, iy), b (ix + 1, iy), c (ix, iy + 1), d (ix + 1, iy + 1)
    const uint8_t* b;
    const uint8_t* c;
    const uint8_t* d;
    if (static_cast<uint32_t>(ix) < static_cast<uint32_t>(s.width - 1) &&
        static_cast<uint32_t>(iy) < static_cast<uint32_t>(s.height - 1)) {
      a = s.Row(iy) + 3 * static_cast<int64_t>(ix);
      b = a + 3;
      c = a - s.rowBytes;  // the row below is stored before
      d = c + 3;
    } else {
      a = s.Tap(ix, iy);
      b = s.Tap(ix + 1, iy);
      c = s.Tap(ix, iy + 1);
      d = s.Tap(ix + 1, iy + 1);
    }
    for (int k = 0; k < 3; ++k) {
      o[k] = static_cast<uint8_t>(Lerp(Lerp(a[k], b[k], fx), Lerp(c[k], d[k], fx), fy));
    }
  }
}

// ---------------------------------------------------------------------------
// Vector loop for x86-64 processors with AVX-512 VBMI. It takes 16 output
// pixels (48 bytes) at a time when their sources lie inside the picture on
// at most two neighbouring rows (always so for a skew of a few degrees): the
// taps then come from three short runs of source bytes, loaded once and
// picked apart with byte permutes. Other groups and the row's last pixels
// go through the portable loop.

#ifdef INKBRITE_ROTATE_VECTOR
#define INKBRITE_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

constexpr int kGroup = 16;
// The zero-masking forms of the intrinsics, with every lane kept: GCC 12
// warns about the undefined filler of the plain ones.
constexpr __mmask64 kAllBytes = ~__mmask64{0};

struct ByteLayout {
  uint8_t pixel[64];    // byte j of a group belongs to pixel j / 3
  uint8_t channel[64];  // and is its channel j % 3
};

constexpr ByteLayout MakeByteLayout() {
  ByteLayout l{};
  for (int j = 0; j < 64; ++j) {
    l.pixel[j] = static_cast<uint8_t>(j < 48 ? j / 3 : 0);
    l.channel[j] = static_cast<uint8_t>(j < 48 ? j % 3 : 0);
  }
  return l;
}

// The low byte of each of 16 32-bit lanes, given to the three bytes of its
// pixel.
INKBRITE_VBMI inline __m512i SpreadToBytes(__m512i lanes, __m512i pixelOfByte) {
  const __m512i bytes = _mm512_zextsi128_si512(_mm512_maskz_cvtepi32_epi8(0xFFFF, lanes));
  return _mm512_maskz_permutexvar_epi8(kAllBytes, pixelOfByte, bytes);
}

// Bytes 0-31 (kHalf 0) or 32-63 (kHalf 1) as 16-bit lanes.
template <int kHalf>
INKBRITE_VBMI inline __m512i Widen(__m512i v) {
  return _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xF, v, kHalf));
}

// (a (256 - f) + b f + 128) >> 8 in 16-bit lanes.
INKBRITE_VBMI inline __m512i Lerp16(__m512i a, __m512i b, __m512i f) {
  const __m512i sum = _mm512_add_epi16(
      _mm512_mullo_epi16(a, _mm512_sub_epi16(_mm512_set1_epi16(256), f)), _mm512_mullo_epi16(b, f));
  return _mm512_srli_epi16(_mm512_add_epi16(sum, _mm512_set1_epi16(128)), 8);
}

template <int kHalf>
INKBRITE_VBMI inline __m256i BlendHalf(__m512i a, __m512i b, __m512i c, __m512i d, __m512i fx,
                                       __m512i fy) {
  const __m512i f = Widen<kHalf>(fx);
  const __m512i top = Lerp16(Widen<kHalf>(a), Widen<kHalf>(b), f);
  const __m512i bottom = Lerp16(Widen<kHalf>(c), Widen<kHalf>(d), f);
  return _mm512_maskz_cvtepi16_epi8(0xFFFFFFFF, Lerp16(top, bottom, Widen<kHalf>(fy)));
}

// `low` in the low half and `high` in the high half.
INKBRITE_VBMI inline __m512i Join(__m256i low, __m256i high) {
  return _mm512_mask_broadcast_i64x4(_mm512_maskz_broadcast_i64x4(0x0F, low), 0xF0, high);
}

// 16 lanes of 32 bits from two vectors of 8 64-bit lanes, each shifted
// right by `shift` (arithmetic) and cut to its low 32 bits.
template <int kShift>
INKBRITE_VBMI inline __m512i Narrow(__m512i low, __m512i high) {
  const __m256i l = _mm512_maskz_cvtepi64_epi32(0xFF, _mm512_maskz_srai_epi64(0xFF, low, kShift));
  const __m256i h = _mm512_maskz_cvtepi64_epi32(0xFF, _mm512_maskz_srai_epi64(0xFF, high, kShift));
  return Join(l, h);
}

INKBRITE_VBMI void RotateRowVector(const Source& s, const RowWalk& walk, uint8_t* out) {
  static constexpr ByteLayout kLayout = MakeByteLayout();
  const __m512i pixelOfByte = _mm512_loadu_si512(kLayout.pixel);
  const __m512i channel = _mm512_loadu_si512(kLayout.channel);
  const __m512i three = _mm512_set1_epi8(3);
  const __m512i low8 = _mm512_set1_epi32(255);
  alignas(64) int64_t stepU[kGroup];
  alignas(64) int64_t stepV[kGroup];
  for (int k = 0; k < kGroup; ++k) {
    stepU[k] = k * walk.du;
    stepV[k] = k * walk.dv;
  }
  const __m512i stepU0 = _mm512_load_si512(stepU);
  const __m512i stepU1 = _mm512_load_si512(stepU + 8);
  const __m512i stepV0 = _mm512_load_si512(stepV);
  const __m512i stepV1 = _mm512_load_si512(stepV + 8);
  constexpr __mmask64 kGroupBytes = (__mmask64{1} << (3 * kGroup)) - 1;

  int32_t x = 0;
  for (; x + kGroup <= s.width; x += kGroup) {
    const int64_t u = walk.u + x * walk.du;
    const int64_t v = walk.v + x * walk.dv;
    const auto ixFirst = static_cast<int32_t>(u >> 32);
    const auto ixLast = static_cast<int32_t>((u + (kGroup - 1) * walk.du) >> 32);
    const auto iyFirst = static_cast<int32_t>(v >> 32);
    const auto iyLast = static_cast<int32_t>((v + (kGroup - 1) * walk.dv) >> 32);
    const int32_t iyLow = std::min(iyFirst, iyLast);
    const int32_t iyHigh = std::max(iyFirst, iyLast);
    // ix never falls along the row (du >= 0), so the ends bound it.
    if (ixFirst < 0 || ixLast >= s.width - 1 || iyLow < 0 || iyHigh >= s.height - 1 ||
        iyHigh - iyLow > 1) {
      RotateSpanPortable(s, walk, out, x, x + kGroup);
      continue;
    }
    const __m512i u0 = _mm512_add_epi64(_mm512_set1_epi64(u), stepU0);
    const __m512i u1 = _mm512_add_epi64(_mm512_set1_epi64(u), stepU1);
    const __m512i v0 = _mm512_add_epi64(_mm512_set1_epi64(v), stepV0);
    const __m512i v1 = _mm512_add_epi64(_mm512_set1_epi64(v), stepV1);
    const __m512i ix = Narrow<32>(u0, u1);
    const __m512i iy = Narrow<32>(v0, v1);
    const __m512i fx = SpreadToBytes(_mm512_and_si512(Narrow<24>(u0, u1), low8), pixelOfByte);
    const __m512i fy = SpreadToBytes(_mm512_and_si512(Narrow<24>(v0, v1), low8), pixelOfByte);

    // Byte positions of taps a and c within the runs (b and d are 3 on).
    const __m512i across = _mm512_sub_epi32(ix, _mm512_set1_epi32(ixFirst));
    const __m512i at = _mm512_add_epi8(
        SpreadToBytes(_mm512_add_epi32(across, _mm512_add_epi32(across, across)), pixelOfByte),
        channel);
    const __m512i next = _mm512_add_epi8(at, three);

    // Runs of source bytes from rows iyLow to iyLow + 2; the bytes of
    // pixels ixFirst to ixLast + 1 only (at most 51), so no read leaves the
    // picture.
    const auto runBytes = 3 * (ixLast + 2 - ixFirst);
    const __mmask64 runMask = (__mmask64{1} << runBytes) - 1;
    const int64_t offset = 3 * static_cast<int64_t>(ixFirst);
    const __m512i row0 = _mm512_maskz_loadu_epi8(runMask, s.Row(iyLow) + offset);
    const __m512i row1 = _mm512_maskz_loadu_epi8(runMask, s.Row(iyLow + 1) + offset);
    __m512i a = _mm512_maskz_permutexvar_epi8(kAllBytes, at, row0);
    __m512i b = _mm512_maskz_permutexvar_epi8(kAllBytes, next, row0);
    __m512i c = _mm512_maskz_permutexvar_epi8(kAllBytes, at, row1);
    __m512i d = _mm512_maskz_permutexvar_epi8(kAllBytes, next, row1);
    if (iyHigh > iyLow) {
      // Pixels whose source lies a row lower take their taps one row down.
      const __m512i row2 = _mm512_maskz_loadu_epi8(runMask, s.Row(iyLow + 2) + offset);
      const __mmask16 lower = _mm512_cmpgt_epi32_mask(iy, _mm512_set1_epi32(iyLow));
      const __mmask64 lowerBytes = _mm512_movepi8_mask(
          SpreadToBytes(_mm512_maskz_mov_epi32(lower, _mm512_set1_epi32(-1)), pixelOfByte));
      a = _mm512_mask_blend_epi8(lowerBytes, a, c);
      b = _mm512_mask_blend_epi8(lowerBytes, b, d);
      c = _mm512_mask_blend_epi8(lowerBytes, c, _mm512_maskz_permutexvar_epi8(kAllBytes, at, row2));
      d = _mm512_mask_blend_epi8(lowerBytes, d,
                                 _mm512_maskz_permutexvar_epi8(kAllBytes, next, row2));
    }
    const __m512i result = Join(BlendHalf<0>(a, b, c, d, fx, fy), BlendHalf<1>(a, b, c, d, fx, fy));
    _mm512_mask_storeu_epi8(out + 3 * static_cast<int64_t>(x), kGroupBytes, result);
  }
  RotateSpanPortable(s, walk, out, x, s.width);
}

bool HasVectorKernels() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi");
  return has;
}
#else
bool HasVectorKernels() { return false; }
#endif

std::atomic<bool> g_vectorAllowed{true};

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

}  // namespace

bool RotateVectorKernelsAvailable() { return HasVectorKernels(); }

bool SetRotateVectorKernels(bool allowed) { return g_vectorAllowed.exchange(allowed); }

bool RotateImage(DibImage& image, double degrees, Bgr8 fill) {
  if (!image.Is24Bit() || image.Width() < 1) return false;
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  const uint8_t paper[3] = {fill.blue, fill.green, fill.red};
  const Source source{image.Bits(), w, h, image.RowBytes(), paper};
  const double c = std::cos(Radians(degrees));
  const double s = std::sin(Radians(degrees));
  const double cx = w / 2.0;
  const double cy = h / 2.0;
  constexpr double kOne = 4294967296.0;  // 32 fraction bits
  const auto du = static_cast<int64_t>(std::llround(c * kOne));
  const auto dv = static_cast<int64_t>(std::llround(s * kOne));
  [[maybe_unused]] const bool vector =
      du >= 0 && g_vectorAllowed.load(std::memory_order_relaxed) && HasVectorKernels();
  // Where the pixels of output row y come from: the centre of output pixel
  // (0, y) turned back by `degrees` about the centre, in pixel indices.
  const auto walkOf = [&](int32_t y) {
    const double dx = 0.5 - cx;
    const double dy = y + 0.5 - cy;
    return RowWalk{static_cast<int64_t>(std::llround((cx + dx * c - dy * s - 0.5) * kOne)),
                   static_cast<int64_t>(std::llround((cy + dx * s + dy * c - 0.5) * kOne)), du, dv};
  };
  const auto turnRow = [&](int32_t y, uint8_t* out) {
#ifdef INKBRITE_ROTATE_VECTOR
    if (vector) {
      RotateRowVector(source, walkOf(y), out);
      return;
    }
#endif
    RotateSpanPortable(source, walkOf(y), out, 0, w);
  };

  // Output row y reads no source row above (before) the first row of its
  // taps, the lower of its two ends'. `lowest[y]`: the first source row any
  // output row from y on still reads. Once it has passed row k, output row
  // k can be written over source row k. For a turn of a few degrees that is
  // a few dozen rows after it was made, so the rows wait in a small ring
  // and the page is turned within its own block.
  std::vector<int64_t> lowest(static_cast<size_t>(h) + 1, INT64_MAX);
  for (int32_t y = h - 1; y >= 0; --y) {
    const RowWalk walk = walkOf(y);
    const int64_t first = std::min(walk.v, walk.v + (w - 1) * walk.dv) >> 32;
    lowest[static_cast<size_t>(y)] = std::min(first, lowest[static_cast<size_t>(y) + 1]);
  }
  // Rows made but not yet written back, at most.
  int64_t waiting = 1;
  for (int32_t y = 0; y < h; ++y) {
    const int64_t written = std::clamp<int64_t>(lowest[static_cast<size_t>(y)], 0, y);
    waiting = std::max(waiting, y + 1 - written);
  }
  const auto rowBytes = static_cast<size_t>(image.RowBytes());
  std::vector<uint8_t> ring;
  try {
    ring.resize(static_cast<size_t>(waiting) * rowBytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const auto slot = [&](int64_t y) {
    return ring.data() + static_cast<size_t>(y % waiting) * rowBytes;
  };
  const auto bytes = static_cast<size_t>(w) * 3;
  int32_t written = 0;
  for (int32_t y = 0; y < h; ++y) {
    turnRow(y, slot(y));
    const int64_t free = y + 1 < h ? lowest[static_cast<size_t>(y) + 1] : h;
    for (; written < free && written <= y; ++written) {
      std::memcpy(image.Row(written), slot(written), bytes);
    }
  }
  return true;
}

}  // namespace inkbrite
