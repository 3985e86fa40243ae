// SPDX-License-Identifier: GPL-2.0-or-later
// Tone adjustments of DibImage: Brightness, Contrast, Gamma, Highlight and
// Curve, plus the tables they read.
//
// Each operation checks its image (24 bits, not empty), returns true at once
// for its neutral value, takes a 256-entry lookup (one column of a table, or
// the curve), and then makes one pass over the rows touching only the width * 3 pixel bytes
// of each row, never the padding. Every pixel is mapped on its own, so the
// order in which rows are visited does not matter.
//
// Parameter ranges: the dialogs keep every percent within 0 to 200, the
// columns of the tables. A value from anywhere else (a hand-edited settings
// file, a caller's bug) must not read outside a table, so each operation
// clamps its parameter into 0 to 200 before picking the column: 250 acts as
// 200 and -7 as 0. Brightness keeps its own rule for a negative percent: it
// fails and leaves the image alone.

#include "core/tone.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/dib_image.h"

// The vector loops need GCC or Clang on x86-64; INKBRITE_NO_VECTOR_LOOPS
// leaves them out (for tools that cannot follow AVX-512 code).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(INKBRITE_NO_VECTOR_LOOPS)
#define INKBRITE_TONE_VECTOR 1
#include <immintrin.h>
#endif

namespace inkbrite {

namespace {

using Lut = std::array<uint8_t, 256>;

std::array<uint8_t, kToneTableSize> g_gammaTable;
std::array<uint8_t, kToneTableSize> g_brightnessTable;
std::array<uint8_t, kToneTableSize> g_contrastTable;
std::once_flag g_toneTablesOnce;

void FillGamma() {
  for (int v = 0; v < kToneLevels; ++v) {
    for (int p = 0; p < kToneParamCount; ++p) {
      const double e = p * 0.01;
      // 255 * (v / 255)^e, evaluated in exactly this order so that every
      // entry rounds the same on every build.
      const double value =
          std::pow(static_cast<double>(v), e) / (std::pow(255.0, e) * (1.0 / 255.0));
      const int entry = std::min(255, static_cast<int>(std::trunc(value + 0.5)));
      g_gammaTable[ToneIndex(v, p)] = static_cast<uint8_t>(entry);
    }
  }
}

void FillBrightness() {
  for (int v = 0; v < kToneLevels; ++v) {
    for (int p = 0; p < kToneParamCount; ++p) {
      g_brightnessTable[ToneIndex(v, p)] = static_cast<uint8_t>(std::min(255, v * p / 100));
    }
  }
}

void FillContrast() {
  for (int v = 0; v < kToneLevels; ++v) {
    for (int p = 0; p < kToneParamCount; ++p) {
      // Integer division truncates toward zero: (127 - 128) * 50 / 100 is 0.
      const int entry = (v - 128) * p / 100 + 128;
      g_contrastTable[ToneIndex(v, p)] = static_cast<uint8_t>(std::clamp(entry, 0, 255));
    }
  }
}

// Keeps a parameter inside the columns of the tables (see the top of the file).
int ClampToneParam(int p) { return std::clamp(p, 0, kToneParamMax); }

// The 256 entries of column p of a table, one per input byte.
Lut Column(ToneTable table, int p) {
  Lut lut;
  for (int v = 0; v < kToneLevels; ++v) {
    lut[static_cast<size_t>(v)] = table[ToneIndex(v, p)];
  }
  return lut;
}

bool CanTone(const DibImage& image) { return image.Is24Bit() && image.Width() > 0; }

// Calls run(bytes, count) for the pixel bytes of every row, leaving out the
// padding. When the rows have no padding they form one run.
template <typename Run>
void ForEachRun(DibImage& image, Run run) {
  size_t rowLength = static_cast<size_t>(image.Width()) * 3;
  const size_t stride = static_cast<size_t>(image.RowBytes());
  size_t rows = static_cast<size_t>(image.Height());
  if (stride == rowLength) {
    rowLength *= rows;
    rows = 1;
  }
  uint8_t* row = image.Bits();
  for (size_t y = 0; y < rows; ++y, row += stride) run(row, rowLength);
}

// ---------------------------------------------------------------------------
// Portable loops.

// bytes[i] = table[bytes[i]] for i < count.
void MapRunPortable(uint8_t* bytes, size_t count, const uint8_t* lut) {
  // A private copy the stores below provably cannot alias, so the compiler
  // keeps the loop free of reloads.
  uint8_t table[256];
  std::memcpy(table, lut, sizeof table);
  for (size_t i = 0; i < count; ++i) bytes[i] = table[bytes[i]];
}

// Row 0 leaves a byte as it is, row 1 applies the highlight gain. The
// pixel's test picks the row, so the highlight loop has no branch to
// mispredict.
using HighlightLut = std::array<std::array<uint8_t, 256>, 2>;

HighlightLut MakeHighlightLut(const Lut& gain) {
  HighlightLut lut;
  for (size_t v = 0; v < 256; ++v) lut[0][v] = static_cast<uint8_t>(v);
  lut[1] = gain;
  return lut;
}

// Maps the three bytes of each pixel whose sum exceeds `limit` through
// lut[1], and the others through the identity lut[0].
void HighlightRunPortable(uint8_t* bytes, size_t count, const HighlightLut& lut, int limit) {
  for (uint8_t* p = bytes; p < bytes + count; p += 3) {
    const uint8_t b = p[0];
    const uint8_t g = p[1];
    const uint8_t r = p[2];
    const std::array<uint8_t, 256>& t = lut[(b + g + r) > limit];
    p[0] = t[b];
    p[1] = t[g];
    p[2] = t[r];
  }
}

// ---------------------------------------------------------------------------
// Vector loops for x86-64 processors with AVX-512 VBMI, whose byte permutes
// look up 128 table entries for 64 bytes in one instruction: two of them and
// a blend on the top bit cover all 256 entries. Chosen at run time; the
// portable loops above give the same bytes everywhere else.

#ifdef INKBRITE_TONE_VECTOR
#define INKBRITE_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Mask of the first n of 64 byte lanes, n <= 64.
INKBRITE_VBMI inline __mmask64 FirstLanes(size_t n) {
  return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

struct VectorLut {
  __m512i part[4];  // entries 0-63, 64-127, 128-191, 192-255
};

INKBRITE_VBMI inline VectorLut LoadLut(const uint8_t* lut) {
  VectorLut t;
  for (int i = 0; i < 4; ++i) t.part[i] = _mm512_loadu_si512(lut + 64 * i);
  return t;
}

INKBRITE_VBMI inline __m512i Lookup(const VectorLut& t, __m512i v) {
  // Each permute reads the low 7 bits of v; bit 7 picks the half of the table.
  const __m512i low = _mm512_permutex2var_epi8(t.part[0], v, t.part[1]);
  const __m512i high = _mm512_permutex2var_epi8(t.part[2], v, t.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

INKBRITE_VBMI void MapRunVector(uint8_t* bytes, size_t count, const uint8_t* lut) {
  const VectorLut t = LoadLut(lut);
  size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    const __m512i v = _mm512_loadu_si512(bytes + i);
    _mm512_storeu_si512(bytes + i, Lookup(t, v));
  }
  if (i < count) {  // masked: not a byte past the run is read or written
    const __mmask64 k = FirstLanes(count - i);
    const __m512i v = _mm512_maskz_loadu_epi8(k, bytes + i);
    _mm512_mask_storeu_epi8(bytes + i, k, Lookup(t, v));
  }
}

// Byte lanes 0-31 (kHalf 0) or 32-63 (kHalf 1) of v as 16-bit lanes. The
// zero-masking extract: GCC 12 warns about the undefined filler of the plain
// one.
template <int kHalf>
INKBRITE_VBMI inline __m512i WidenHalf(__m512i v) {
  return _mm512_cvtepu8_epi16(_mm512_maskz_extracti64x4_epi64(0xF, v, kHalf));
}

// Bit n set when b[n] + g[n] + r[n] > limit, for the 64 byte lanes.
INKBRITE_VBMI inline __mmask64 SumAbove(__m512i b, __m512i g, __m512i r, __m512i limits) {
  const __m512i low =
      _mm512_add_epi16(_mm512_add_epi16(WidenHalf<0>(b), WidenHalf<0>(g)), WidenHalf<0>(r));
  const __m512i high =
      _mm512_add_epi16(_mm512_add_epi16(WidenHalf<1>(b), WidenHalf<1>(g)), WidenHalf<1>(r));
  return static_cast<__mmask64>(_mm512_cmpgt_epi16_mask(low, limits)) |
         static_cast<__mmask64>(_mm512_cmpgt_epi16_mask(high, limits)) << 32;
}

// Permute indices of the highlight step, which works on 64 pixels (192 bytes,
// three vectors v0 v1 v2) at a time:
//   plane[c]   byte c of pixel n (at 3n + c) for n = 0-63, c = 0 blue, 1 green,
//              2 red: from v0:v1 while 3n + c < 128, else from v1:v2
//   spread[k]  lane j of vector k belongs to pixel (64k + j) / 3
struct HighlightIndices {
  uint8_t plane[3][64];
  uint8_t spread[3][64];
};

constexpr HighlightIndices MakeHighlightIndices() {
  HighlightIndices x{};
  for (int c = 0; c < 3; ++c) {
    for (int n = 0; n < 64; ++n) {
      const int at = 3 * n + c;
      x.plane[c][n] = static_cast<uint8_t>(at < 128 ? at : at - 64);
    }
  }
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 64; ++j) x.spread[k][j] = static_cast<uint8_t>((64 * k + j) / 3);
  }
  return x;
}

// Pixels whose byte c lies in v1:v2 rather than v0:v1 (3n + c >= 128).
constexpr __mmask64 SecondPairPixels(int c) {
  __mmask64 m = 0;
  for (int n = 0; n < 64; ++n) {
    if (3 * n + c >= 128) m |= __mmask64{1} << n;
  }
  return m;
}

// Whole groups of 64 pixels: gather the three colour planes, compare the
// pixel sums, spread each pixel's answer over its three bytes, and store the
// looked-up byte where the answer is yes. The remaining pixels (fewer than
// 64) go through the portable loop.
INKBRITE_VBMI void HighlightRunVector(uint8_t* bytes, size_t count, const HighlightLut& lut,
                                      int limit) {
  static constexpr HighlightIndices kIndices = MakeHighlightIndices();
  __m512i plane[3];
  __m512i spread[3];
  for (int i = 0; i < 3; ++i) {
    plane[i] = _mm512_loadu_si512(kIndices.plane[i]);
    spread[i] = _mm512_loadu_si512(kIndices.spread[i]);
  }
  const __mmask64 second[3] = {SecondPairPixels(0), SecondPairPixels(1), SecondPairPixels(2)};
  const __m512i limits = _mm512_set1_epi16(static_cast<int16_t>(limit));  // -1 to 765
  const VectorLut t = LoadLut(lut[1].data());

  size_t i = 0;
  for (; i + 192 <= count; i += 192) {
    const __m512i v[3] = {_mm512_loadu_si512(bytes + i), _mm512_loadu_si512(bytes + i + 64),
                          _mm512_loadu_si512(bytes + i + 128)};
    __m512i colour[3];
    for (int c = 0; c < 3; ++c) {
      colour[c] = _mm512_mask_blend_epi8(second[c], _mm512_permutex2var_epi8(v[0], plane[c], v[1]),
                                         _mm512_permutex2var_epi8(v[1], plane[c], v[2]));
    }
    const __m512i lightPixels = _mm512_movm_epi8(SumAbove(colour[0], colour[1], colour[2], limits));
    for (int k = 0; k < 3; ++k) {
      const __mmask64 light =
          _mm512_movepi8_mask(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, spread[k], lightPixels));
      _mm512_storeu_si512(bytes + i + 64 * k, _mm512_mask_blend_epi8(light, v[k], Lookup(t, v[k])));
    }
  }
  if (i < count) HighlightRunPortable(bytes + i, count - i, lut, limit);
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

[[maybe_unused]] bool UseVector() {
  return g_vectorAllowed.load(std::memory_order_relaxed) && HasVectorKernels();
}

// Replaces every pixel byte b of the image by lut[b].
void MapBytes(DibImage& image, const Lut& lut) {
#ifdef INKBRITE_TONE_VECTOR
  if (UseVector()) {
    ForEachRun(image, [&](uint8_t* p, size_t n) { MapRunVector(p, n, lut.data()); });
    return;
  }
#endif
  ForEachRun(image, [&](uint8_t* p, size_t n) { MapRunPortable(p, n, lut.data()); });
}

}  // namespace

void BuildToneTables() {
  std::call_once(g_toneTablesOnce, [] {
    FillGamma();
    FillBrightness();
    FillContrast();
  });
}

ToneTable GammaTable() {
  BuildToneTables();
  return ToneTable(g_gammaTable);
}

ToneTable BrightnessTable() {
  BuildToneTables();
  return ToneTable(g_brightnessTable);
}

ToneTable ContrastTable() {
  BuildToneTables();
  return ToneTable(g_contrastTable);
}

bool MapPixelBytes(DibImage& image, const std::array<uint8_t, 256>& lut) {
  if (!CanTone(image)) return false;
  MapBytes(image, lut);
  return true;
}

bool ToneVectorKernelsAvailable() { return HasVectorKernels(); }

bool SetToneVectorKernels(bool allowed) { return g_vectorAllowed.exchange(allowed); }

std::array<uint8_t, 256> BuildCurveTable(int y1, int y2) {
  std::array<uint8_t, 256> table;
  for (int i = 0; i < 256; ++i) {
    const double t = i / 256.0;
    // De Casteljau: three rounds of blending neighbours, r[0] is the point.
    double r[4] = {0.0, static_cast<double>(y1), static_cast<double>(y2), 255.0};
    for (int n = 3; n > 0; --n) {
      for (int j = 0; j < n; ++j) {
        r[j] = (1.0 - t) * r[j] + t * r[j + 1];
      }
    }
    // trunc(value + 0.5), then clamped; compared in double first so that a
    // far-off y1 or y2 never overflows the conversion to int.
    const double rounded = std::trunc(r[0] + 0.5);
    uint8_t entry;
    if (rounded <= 0.0) {
      entry = 0;
    } else if (rounded >= 255.0) {
      entry = 255;
    } else {
      entry = static_cast<uint8_t>(rounded);
    }
    table[static_cast<size_t>(i)] = entry;
  }
  return table;
}

bool DibImage::Brightness(int percent) {
  if (!CanTone(*this)) return false;
  if (percent == 100) return true;
  if (percent < 0) return false;
  MapBytes(*this, Column(BrightnessTable(), ClampToneParam(percent)));
  return true;
}

bool DibImage::Contrast(int percent) {
  if (!CanTone(*this)) return false;
  if (percent == 100) return true;
  MapBytes(*this, Column(ContrastTable(), ClampToneParam(percent)));
  return true;
}

bool DibImage::Gamma(int gammaTimes100) {
  if (!CanTone(*this)) return false;
  if (gammaTimes100 == 100) return true;
  MapBytes(*this, Column(GammaTable(), ClampToneParam(gammaTimes100)));
  return true;
}

bool DibImage::Highlight(int gainPercent, int threshold) {
  if (!CanTone(*this)) return false;
  if (gainPercent == 100) return true;

  const HighlightLut lut = MakeHighlightLut(Column(BrightnessTable(), ClampToneParam(gainPercent)));
  // A pixel is light when b + g + r > 3 * threshold (strictly). The sum lies
  // in 0 to 765, so the limit is clamped into -1 to 765 without changing a
  // single answer, and any threshold is safe.
  const int limit = static_cast<int>(std::clamp<int64_t>(int64_t{3} * threshold, -1, 765));
  // Rows hold whole pixels, so a run never splits one.
#ifdef INKBRITE_TONE_VECTOR
  if (UseVector()) {
    ForEachRun(*this, [&](uint8_t* p, size_t n) { HighlightRunVector(p, n, lut, limit); });
    return true;
  }
#endif
  ForEachRun(*this, [&](uint8_t* p, size_t n) { HighlightRunPortable(p, n, lut, limit); });
  return true;
}

bool DibImage::Curve(int x1, int y1, int x2, int y2) {
  if (!CanTone(*this)) return false;
  // The curve editor's untouched states: both points at (0, 0), or one at
  // (0, 0) and one at (255, 255). This is the only place x1 and x2 matter.
  if (x1 == 0 && y1 == 0 && ((x2 == 0 && y2 == 0) || (x2 == 255 && y2 == 255))) {
    return true;
  }
  MapBytes(*this, BuildCurveTable(y1, y2));
  return true;
}

}  // namespace inkbrite
