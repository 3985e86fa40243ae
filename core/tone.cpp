// SPDX-License-Identifier: GPL-2.0-or-later
// Tone adjustments of DibImage: Brightness, Contrast, Gamma, Highlight and
// Curve, the tables they read, and TonePass, which makes all five one pass.
//
// Each operation checks its image (24 bits, not empty), returns true at once
// for its neutral value, and then runs a TonePass with only its own step
// set: one pass over the rows touching only the width * 3 pixel bytes of
// each row, never the padding. Every pixel is mapped on its own, so the
// order in which rows are visited does not matter.
//
// Parameter ranges: the dialogs keep every percent within 0 to 200, the
// columns of the tables. A value from anywhere else (a hand-edited settings
// file, a caller's bug) must not read outside a table, so each step clamps
// its parameter into 0 to 200 before picking the column: 250 acts as 200
// and -7 as 0. Brightness keeps its own rule for a negative percent: the
// operation fails and leaves the image alone, and in a TonePass the step
// does nothing.

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
std::once_flag g_gammaTableOnce;

// Entry (v, p) of the gamma table: 255 * (v / 255)^(p / 100), evaluated in
// exactly this order so that every entry rounds the same on every build.
uint8_t GammaEntry(int v, int p) {
  const double e = p * 0.01;
  const double value = std::pow(static_cast<double>(v), e) / (std::pow(255.0, e) * (1.0 / 255.0));
  return static_cast<uint8_t>(std::min(255, static_cast<int>(std::trunc(value + 0.5))));
}

void FillGamma() {
  for (int v = 0; v < kToneLevels; ++v) {
    for (int p = 0; p < kToneParamCount; ++p) g_gammaTable[ToneIndex(v, p)] = GammaEntry(v, p);
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

// Column p of the gamma table, computed on its own: the whole table takes
// 100,000 calls of pow, which a start-up should not wait for.
Lut GammaColumn(int p) {
  Lut lut;
  for (int v = 0; v < kToneLevels; ++v) lut[static_cast<size_t>(v)] = GammaEntry(v, p);
  return lut;
}

bool CanTone(const DibImage& image) { return image.Is24Bit() && image.Width() > 0; }
bool CanToneGrey(const DibImage& image) { return image.IsGreyLevels() && image.Width() > 0; }

// Calls run(bytes, count) for the pixel bytes of every row, leaving out the
// padding. When the rows have no padding they form one run.
template <typename Run>
void ForEachRun(DibImage& image, Run run) {
  size_t rowLength = static_cast<size_t>(image.Width()) * (image.Is24Bit() ? 3 : 1);
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

// The tables of a TonePass as its loops read them.
struct PassTables {
  const uint8_t* first;  // curve then brightness: what the highlight test sums
  const uint8_t* plain;  // the whole chain for a pixel that is not light
  const uint8_t* light;  // the whole chain for a light pixel
  int limit;             // light: the sum of the three `first` values exceeds it
  bool firstIdentity;
  bool plainIdentity;
};

// The highlight pass: each pixel's three bytes go through t.light when the
// sum of their `first` values exceeds the limit, else through t.plain. The
// pixel's test picks the table, so the loop has no branch to mispredict.
void HighlightRunPortable(uint8_t* bytes, size_t count, const PassTables& t) {
  // Private copies the stores below provably cannot alias.
  uint8_t first[256];
  uint8_t out[2][256];
  std::memcpy(first, t.first, sizeof first);
  std::memcpy(out[0], t.plain, sizeof out[0]);
  std::memcpy(out[1], t.light, sizeof out[1]);
  const int limit = t.limit;
  for (uint8_t* p = bytes; p < bytes + count; p += 3) {
    const uint8_t b = p[0];
    const uint8_t g = p[1];
    const uint8_t r = p[2];
    const uint8_t* o = out[(first[b] + first[g] + first[r]) > limit];
    p[0] = o[b];
    p[1] = o[g];
    p[2] = o[r];
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
  for (size_t i = 0; i < 4; ++i) t.part[i] = _mm512_loadu_si512(lut + 64 * i);
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

// Byte n all ones when b[n] + g[n] + r[n] > limit, else zero, for the 64
// byte lanes. The sums are taken in 16-bit lanes, the even bytes masked out
// and the odd ones shifted down, and the sign of limit - sum (which cannot
// overflow: sums are at most 765, the limit at least -1) is spread over the
// lane; the even lanes give the even bytes of the answer, the odd lanes the
// odd bytes. Shifts, masks and adds only: no lane-crossing instruction.
INKBRITE_VBMI inline __m512i SumAbove(__m512i b, __m512i g, __m512i r, __m512i limits) {
  const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
  const __m512i even = _mm512_add_epi16(
      _mm512_add_epi16(_mm512_and_si512(b, lowBytes), _mm512_and_si512(g, lowBytes)),
      _mm512_and_si512(r, lowBytes));
  const __m512i odd = _mm512_add_epi16(
      _mm512_add_epi16(_mm512_srli_epi16(b, 8), _mm512_srli_epi16(g, 8)), _mm512_srli_epi16(r, 8));
  const __m512i evenAbove = _mm512_srai_epi16(_mm512_sub_epi16(limits, even), 15);
  const __m512i oddAbove = _mm512_srai_epi16(_mm512_sub_epi16(limits, odd), 15);
  // Bits from evenAbove where lowBytes has them, from oddAbove elsewhere.
  return _mm512_ternarylogic_epi32(evenAbove, oddAbove, lowBytes, 0xE4);
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

// One colour plane of a group of 64 pixels (v0 v1 v2), through `first`
// when kFirst.
template <bool kFirst>
INKBRITE_VBMI inline __m512i GroupPlane(__m512i v0, __m512i v1, __m512i v2, __m512i index,
                                        __mmask64 second, const VectorLut& first) {
  const __m512i c = _mm512_mask_blend_epi8(second, _mm512_permutex2var_epi8(v0, index, v1),
                                           _mm512_permutex2var_epi8(v1, index, v2));
  return kFirst ? Lookup(first, c) : c;
}

// The output bytes of one vector v of a group: from `light` where the pixel
// of the byte is light (lightPixels, in pixel order, moved to the bytes by
// `spread`), else from `plain` (v itself unless kPlain). Paper and ink come
// in runs: a group whose pixels are all light, or all not (`any`), needs one
// table only.
template <bool kPlain>
INKBRITE_VBMI inline __m512i GroupOutput(__m512i v, __m512i lightPixels, __mmask64 any,
                                         __m512i spread, const VectorLut& plain,
                                         const VectorLut& light) {
  if (any == ~__mmask64{0}) return Lookup(light, v);
  const __m512i plainBytes = kPlain ? Lookup(plain, v) : v;
  if (any == 0) return plainBytes;
  const __mmask64 isLight = _mm512_movepi8_mask(_mm512_maskz_permutexvar_epi8(
      ~__mmask64{0}, spread, lightPixels));  // GCC 12 warns of the plain one
  return _mm512_mask_blend_epi8(isLight, plainBytes, Lookup(light, v));
}

// Whole groups of 64 pixels: gather the three colour planes, map them
// through `first` and compare the pixel sums, spread each pixel's answer over
// its three bytes, and store each byte from the light or the plain table by
// that answer. The remaining pixels (fewer than 64) go through the portable
// loop. kFirst and kPlain: `first` and `plain` are not the identity (the
// loop is made for each case, so no such test is left inside it).
constexpr size_t kPrefetchAhead = 1024;  // bytes

template <bool kFirst, bool kPlain>
INKBRITE_VBMI void HighlightRunVector(uint8_t* bytes, size_t count, const PassTables& t) {
  static constexpr HighlightIndices kIndices = MakeHighlightIndices();
  const __m512i plane0 = _mm512_loadu_si512(kIndices.plane[0]);
  const __m512i plane1 = _mm512_loadu_si512(kIndices.plane[1]);
  const __m512i plane2 = _mm512_loadu_si512(kIndices.plane[2]);
  const __m512i spread0 = _mm512_loadu_si512(kIndices.spread[0]);
  const __m512i spread1 = _mm512_loadu_si512(kIndices.spread[1]);
  const __m512i spread2 = _mm512_loadu_si512(kIndices.spread[2]);
  constexpr __mmask64 kSecond0 = SecondPairPixels(0);
  constexpr __mmask64 kSecond1 = SecondPairPixels(1);
  constexpr __mmask64 kSecond2 = SecondPairPixels(2);
  const __m512i limits = _mm512_set1_epi16(static_cast<int16_t>(t.limit));  // -1 to 765
  const VectorLut first = LoadLut(t.first);
  const VectorLut plain = LoadLut(t.plain);
  const VectorLut light = LoadLut(t.light);

  size_t i = 0;
  for (; i + 192 <= count; i += 192) {
    uint8_t* p = bytes + i;
    // The loop does enough work a byte for the hardware's own prefetch to
    // fall behind: ask for the group five ahead.
    for (int line = 0; line < 192; line += 64) {
      _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchAhead + line), _MM_HINT_T0);
    }
    const __m512i v0 = _mm512_loadu_si512(p);
    const __m512i v1 = _mm512_loadu_si512(p + 64);
    const __m512i v2 = _mm512_loadu_si512(p + 128);
    const __m512i lightPixels =
        SumAbove(GroupPlane<kFirst>(v0, v1, v2, plane0, kSecond0, first),
                 GroupPlane<kFirst>(v0, v1, v2, plane1, kSecond1, first),
                 GroupPlane<kFirst>(v0, v1, v2, plane2, kSecond2, first), limits);
    const __mmask64 any = _mm512_movepi8_mask(lightPixels);
    _mm512_storeu_si512(p, GroupOutput<kPlain>(v0, lightPixels, any, spread0, plain, light));
    _mm512_storeu_si512(p + 64, GroupOutput<kPlain>(v1, lightPixels, any, spread1, plain, light));
    _mm512_storeu_si512(p + 128, GroupOutput<kPlain>(v2, lightPixels, any, spread2, plain, light));
  }
  if (i < count) HighlightRunPortable(bytes + i, count - i, t);
}

// The loop made for the tables at hand.
INKBRITE_VBMI void HighlightRunVector(uint8_t* bytes, size_t count, const PassTables& t) {
  if (t.firstIdentity) {
    t.plainIdentity ? HighlightRunVector<false, false>(bytes, count, t)
                    : HighlightRunVector<false, true>(bytes, count, t);
  } else {
    t.plainIdentity ? HighlightRunVector<true, false>(bytes, count, t)
                    : HighlightRunVector<true, true>(bytes, count, t);
  }
}

// ---------------------------------------------------------------------------
// The byte lookup for x86-64 processors with AVX2 but without AVX-512 VBMI.
// Its byte shuffle looks up 16 entries (the low four bits of each byte; a
// byte with its top bit set gives 0), so the table goes in two halves of
// eight blocks of 16 entries, each block stored XORed with the one before.
// For the low seven bits i of a byte, in block j = i >> 4, the shuffles at
// i - 16 k give block k's entry for k <= j and 0 (a negative index) for
// k > j: their XOR is entry i of the half. The byte's top bit picks the half.

#define INKBRITE_AVX2 __attribute__((target("avx2")))

struct ShuffleLut {
  __m256i block[2][8];  // [half][k]: entries 16 k to 16 k + 15, XOR the block before
};

INKBRITE_AVX2 ShuffleLut LoadShuffleLut(const uint8_t* lut) {
  ShuffleLut t;
  for (size_t half = 0; half < 2; ++half) {
    for (size_t k = 0; k < 8; ++k) {
      alignas(16) uint8_t entries[16];
      for (size_t e = 0; e < 16; ++e) {
        const size_t at = 128 * half + 16 * k + e;
        entries[e] = k == 0 ? lut[at] : static_cast<uint8_t>(lut[at] ^ lut[at - 16]);
      }
      t.block[half][k] =
          _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(entries)));
    }
  }
  return t;
}

INKBRITE_AVX2 inline __m256i ShuffleLookup(const ShuffleLut& t, __m256i v) {
  __m256i index = _mm256_and_si256(v, _mm256_set1_epi8(0x7F));
  __m256i low = _mm256_shuffle_epi8(t.block[0][0], index);
  __m256i high = _mm256_shuffle_epi8(t.block[1][0], index);
  const __m256i sixteen = _mm256_set1_epi8(16);
  for (size_t k = 1; k < 8; ++k) {
    index = _mm256_sub_epi8(index, sixteen);
    low = _mm256_xor_si256(low, _mm256_shuffle_epi8(t.block[0][k], index));
    high = _mm256_xor_si256(high, _mm256_shuffle_epi8(t.block[1][k], index));
  }
  return _mm256_blendv_epi8(low, high, v);
}

INKBRITE_AVX2 void MapRunAvx2(uint8_t* bytes, size_t count, const uint8_t* lut) {
  const ShuffleLut t = LoadShuffleLut(lut);
  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    auto* at = reinterpret_cast<__m256i*>(bytes + i);
    _mm256_storeu_si256(at, ShuffleLookup(t, _mm256_loadu_si256(at)));
  }
  if (i < count) MapRunPortable(bytes + i, count - i, lut);
}

ToneLoops DetectToneLoops() {
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi")) {
    return ToneLoops::kAvx512;
  }
  return __builtin_cpu_supports("avx2") ? ToneLoops::kAvx2 : ToneLoops::kPortable;
}
#else
ToneLoops DetectToneLoops() { return ToneLoops::kPortable; }
#endif

std::atomic<ToneLoops> g_toneLoopLimit{ToneLoops::kAvx512};

ToneLoops ToneLoopsInUse() {
  return std::min(FastestToneLoops(), g_toneLoopLimit.load(std::memory_order_relaxed));
}

[[maybe_unused]] bool UseVector() { return ToneLoopsInUse() == ToneLoops::kAvx512; }

// bytes[i] = lut[bytes[i]] for i < count, with the widest loop in use.
void MapRun(uint8_t* bytes, size_t count, const uint8_t* lut) {
#ifdef INKBRITE_TONE_VECTOR
  switch (ToneLoopsInUse()) {
    case ToneLoops::kAvx512: MapRunVector(bytes, count, lut); return;
    case ToneLoops::kAvx2: MapRunAvx2(bytes, count, lut); return;
    case ToneLoops::kPortable: break;
  }
#endif
  MapRunPortable(bytes, count, lut);
}

// Replaces every pixel byte b of the image by lut[b].
void MapBytes(DibImage& image, const Lut& lut) {
  ForEachRun(image, [&](uint8_t* p, size_t n) { MapRun(p, n, lut.data()); });
}

}  // namespace

void BuildToneTables() {
  std::call_once(g_toneTablesOnce, [] {
    FillBrightness();
    FillContrast();
  });
}

ToneTable GammaTable() {
  std::call_once(g_gammaTableOnce, FillGamma);
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

ToneLoops FastestToneLoops() {
  static const ToneLoops fastest = DetectToneLoops();
  return fastest;
}

ToneLoops LimitToneLoops(ToneLoops widest) { return g_toneLoopLimit.exchange(widest); }

bool ToneVectorKernelsAvailable() { return FastestToneLoops() != ToneLoops::kPortable; }

bool SetToneVectorKernels(bool allowed) {
  return LimitToneLoops(allowed ? ToneLoops::kAvx512 : ToneLoops::kPortable) !=
         ToneLoops::kPortable;
}

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

namespace {

Lut IdentityLut() {
  Lut lut;
  for (size_t v = 0; v < lut.size(); ++v) lut[v] = static_cast<uint8_t>(v);
  return lut;
}

// after(before(v)) for every byte v.
Lut Compose(const Lut& after, const Lut& before) {
  Lut lut;
  for (size_t v = 0; v < lut.size(); ++v) lut[v] = after[before[v]];
  return lut;
}

// The curve editor's untouched states: both points at (0, 0), or one at
// (0, 0) and one at (255, 255). This is the only place x1 and x2 matter.
bool CurveIsNeutral(const ToneSettings& s) {
  return s.curveX1 == 0 && s.curveY1 == 0 &&
         ((s.curveX2 == 0 && s.curveY2 == 0) || (s.curveX2 == 255 && s.curveY2 == 255));
}

}  // namespace

TonePass::TonePass(const ToneSettings& s) : TonePass(s, IdentityLut()) {}

TonePass::TonePass(const ToneSettings& s, const Lut& before) {
  const Lut identity = IdentityLut();
  // The table before, the curve, then brightness (a negative brightness is
  // no step at all). The highlight test looks at the bytes after these.
  m_first = CurveIsNeutral(s) ? before : Compose(BuildCurveTable(s.curveY1, s.curveY2), before);
  if (s.brightness != 100 && s.brightness >= 0) {
    m_first = Compose(Column(BrightnessTable(), ClampToneParam(s.brightness)), m_first);
  }
  // Contrast, then gamma.
  Lut after = identity;
  if (s.contrast != 100) after = Column(ContrastTable(), ClampToneParam(s.contrast));
  if (s.gamma != 100) after = Compose(GammaColumn(ClampToneParam(s.gamma)), after);

  m_plain = Compose(after, m_first);
  // A pixel is light when b + g + r > 3 * threshold (strictly). The sum lies
  // in 0 to 765, so the limit is clamped into -1 to 765 without changing a
  // single answer, and any threshold is safe.
  m_limit = static_cast<int>(std::clamp<int64_t>(int64_t{3} * s.highlightThreshold, -1, 765));
  if (s.highlightGain != 100) {
    const Lut gain = Column(BrightnessTable(), ClampToneParam(s.highlightGain));
    m_light = Compose(after, Compose(gain, m_first));
    // Every pixel light: the light table is the plain one. No pixel light, or
    // a gain that changes nothing after the steps before it: no test at all.
    if (m_limit < 0) m_plain = m_light;
    m_highlight = m_limit >= 0 && m_limit < 765 && m_light != m_plain;
  }
  m_firstIdentity = m_first == identity;
  m_plainIdentity = m_plain == identity;
  m_identity = !m_highlight && m_plainIdentity;
  // A grey pixel is light when 3 first[v] exceeds the limit.
  for (size_t v = 0; v < m_grey.size(); ++v) {
    m_grey[v] = m_highlight && 3 * m_first[v] > m_limit ? m_light[v] : m_plain[v];
  }
  m_greyIdentity = m_grey == identity;
}

void TonePass::MapGrey(uint8_t* levels, size_t count) const {
  if (m_greyIdentity || count == 0) return;
  MapRun(levels, count, m_grey.data());
}

void TonePass::MapPixels(uint8_t* pixels, size_t count) const {
  if (m_identity || count == 0) return;
  const size_t bytes = count * 3;
  if (!m_highlight) {
    MapRun(pixels, bytes, m_plain.data());
    return;
  }
  const PassTables tables{m_first.data(), m_plain.data(),  m_light.data(),
                          m_limit,        m_firstIdentity, m_plainIdentity};
#ifdef INKBRITE_TONE_VECTOR
  if (UseVector()) {
    HighlightRunVector(pixels, bytes, tables);
    return;
  }
#endif
  HighlightRunPortable(pixels, bytes, tables);
}

bool TonePass::Apply(DibImage& image) const {
  if (CanToneGrey(image)) {
    if (!m_greyIdentity) ForEachRun(image, [this](uint8_t* p, size_t n) { MapGrey(p, n); });
    return true;
  }
  if (!CanTone(image)) return false;
  // Rows hold whole pixels, so a run never splits one.
  if (!m_identity) ForEachRun(image, [this](uint8_t* p, size_t n) { MapPixels(p, n / 3); });
  return true;
}

bool DibImage::Brightness(int percent) {
  if (!CanTone(*this) && !CanToneGrey(*this)) return false;
  if (percent == 100) return true;
  if (percent < 0) return false;
  ToneSettings s;
  s.brightness = percent;
  return TonePass(s).Apply(*this);
}

bool DibImage::Contrast(int percent) {
  ToneSettings s;
  s.contrast = percent;
  return TonePass(s).Apply(*this);
}

bool DibImage::Gamma(int gammaTimes100) {
  ToneSettings s;
  s.gamma = gammaTimes100;
  return TonePass(s).Apply(*this);
}

bool DibImage::Highlight(int gainPercent, int threshold) {
  ToneSettings s;
  s.highlightGain = gainPercent;
  s.highlightThreshold = threshold;
  return TonePass(s).Apply(*this);
}

bool DibImage::Curve(int x1, int y1, int x2, int y2) {
  ToneSettings s;
  s.curveX1 = x1;
  s.curveY1 = y1;
  s.curveX2 = x2;
  s.curveY2 = y2;
  return TonePass(s).Apply(*this);
}

}  // namespace inkbrite
