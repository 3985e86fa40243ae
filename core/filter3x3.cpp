// SPDX-License-Identifier: GPL-2.0-or-later
// Sharpen and soften of DibImage: one 3 x 3 integer convolution with a
// divisor, nine sharpening and two softening kernels.
//
// Every kernel is symmetric and given by four numbers:
//
//   corner  edge    corner      row above
//   edge    centre  edge        the pixel's row
//   corner  edge    corner      row below
//
// and a divisor equal to the sum of the weights, so a flat area stays as it
// is. For each pixel with all eight neighbours (columns 1 to width - 2, rows
// 1 to height - 2) and each of its three bytes:
//
//   s = sum of weight x byte over the window      (computed from the ORIGINAL
//   v = clamp(s / divisor, 0, 255)                 bytes, never from output)
//
// with the division truncating toward zero. The first and last row and
// column keep their bytes, and so does an image 2 pixels wide or high or
// less. The padding at the end of a row is never touched.
//
// How the loops get this exactly, yet fast:
// - A pixel's bytes are flat: in a row of width * 3 bytes the left and right
//   neighbours of byte i are bytes i - 3 and i + 3.
// - Only two rows are copied: the original of the row above (saved before it
//   was overwritten) and of the current row. The row below has not been
//   written yet, so it is read in place.
// - Each kernel is divided by the greatest common divisor of its weights
//   and divisor. The quotient does not change (s / d = (s / g) / (d / g)
//   exactly), and the smaller weights keep every sum within 16-bit lanes.
// - A negative sum gives 0 whichever way the division rounds, and a sum of
//   256 x divisor or more gives 255, so the sum is clamped to
//   0 to 256 x divisor - 1 first. In that range the division is a shift
//   (divisors 1, 2, 16) or exact as a multiply-high by a 16-bit reciprocal
//   (5, 6, 10; checked below at compile time).
// - Rows are processed in blocks of a fixed number of bytes: GCC at -O2
//   vectorises only loops whose count it knows. The same source is compiled
//   for SSE2, AVX2 and AVX-512, chosen at run time.
//
// Three row loops follow the corner weight: 0 (levels 1 to 5, normal soften)
// adds only the four direct neighbours, 1 (strong soften) adds the corners
// without multiplying, and any other weight (levels 6 to 9) runs the general
// nine-weight loop.

#include "core/filter3x3.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>
#include <vector>

#include "core/dib_image.h"

// The AVX2 and AVX-512 loops need GCC or Clang on x86-64;
// INKBRITE_NO_VECTOR_LOOPS leaves them out.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(INKBRITE_NO_VECTOR_LOOPS)
#define INKBRITE_FILTER_VECTOR 1
#endif

namespace inkbrite {

namespace {

struct Kernel3x3 {
  int corner;
  int edge;
  int centre;
  int divisor;
};

//                                      corner  edge  centre  divisor
constexpr Kernel3x3 kSharpenKernels[] = {{0, -20, 180, 100},     // level 1
                                         {0, -40, 260, 100},     // 2
                                         {0, -60, 340, 100},     // 3
                                         {0, -80, 420, 100},     // 4
                                         {0, -1, 5, 1},          // 5
                                         {-30, -100, 620, 100},  // 6
                                         {-50, -100, 700, 100},  // 7
                                         {-70, -100, 780, 100},  // 8
                                         {-1, -1, 9, 1}};        // 9
constexpr Kernel3x3 kSoftenKernels[] = {{0, 1, 2, 6},            // normal
                                        {1, 2, 4, 16}};          // strong

constexpr int kMaxSharpenLevel = static_cast<int>(std::size(kSharpenKernels));
constexpr int kMaxSoftenStrength = static_cast<int>(std::size(kSoftenKernels));

constexpr int Abs(int v) { return v < 0 ? -v : v; }

// The kernel with its weights and divisor divided by their common divisor.
constexpr Kernel3x3 Reduced(Kernel3x3 k) {
  const int g = std::gcd(std::gcd(Abs(k.corner), Abs(k.edge)), std::gcd(Abs(k.centre), k.divisor));
  return {k.corner / g, k.edge / g, k.centre / g, k.divisor / g};
}

// floor(t / d) = (t x Reciprocal(d)) >> 16 for 0 <= t < 256 d.
constexpr uint32_t Reciprocal(int d) {
  return (65536u + static_cast<uint32_t>(d) - 1) / static_cast<uint32_t>(d);
}

constexpr bool ReciprocalIsExact(int d) {
  const uint32_t m = Reciprocal(d);
  for (uint32_t t = 0; t < 256u * static_cast<uint32_t>(d); ++t) {
    if (((t * m) >> 16) != t / static_cast<uint32_t>(d)) return false;
  }
  return true;
}

constexpr bool Checked(Kernel3x3 k) {
  const Kernel3x3 r = Reduced(k);
  const int positive = (r.corner > 0 ? 4 * r.corner : 0) + (r.edge > 0 ? 4 * r.edge : 0) + r.centre;
  const int negative = (r.corner < 0 ? 4 * r.corner : 0) + (r.edge < 0 ? 4 * r.edge : 0);
  const bool flatStaysFlat = 4 * k.corner + 4 * k.edge + k.centre == k.divisor;
  const bool sameLoop = (r.corner == 0) == (k.corner == 0) && (r.corner == 1) == (k.corner == 1);
  const bool fits16Bits = positive * 255 <= INT16_MAX && negative * 255 >= INT16_MIN;
  const unsigned d = static_cast<unsigned>(r.divisor);
  const bool divides = std::has_single_bit(d) ||
                       (Reciprocal(r.divisor) <= UINT16_MAX && ReciprocalIsExact(r.divisor));
  return flatStaysFlat && sameLoop && fits16Bits && divides;
}

constexpr bool AllChecked() {
  for (const Kernel3x3& k : kSharpenKernels) {
    if (!Checked(k)) return false;
  }
  for (const Kernel3x3& k : kSoftenKernels) {
    if (!Checked(k)) return false;
  }
  return true;
}
static_assert(AllChecked(), "a kernel breaks an assumption of the row loops");

// ---------------------------------------------------------------------------
// Row loops. `above` and `row` are copies of the original rows, `below` is
// the original row below in the image, `out` is the image row; all four are
// distinct. Pixels are kStep bytes (3 blue-green-red, 1 a grey level);
// `count` is width * kStep >= 3 * kStep; bytes kStep to count - kStep - 1
// are written.

// Output byte i for the reduced kernel K.
template <Kernel3x3 K, size_t kStep>
[[gnu::always_inline]] inline uint8_t FilterByte(const uint8_t* __restrict above,
                                                 const uint8_t* __restrict row,
                                                 const uint8_t* __restrict below, size_t i) {
  int s = K.edge * (above[i] + below[i] + row[i - kStep] + row[i + kStep]) + K.centre * row[i];
  if constexpr (K.corner == 1) {
    s += above[i - kStep] + above[i + kStep] + below[i - kStep] + below[i + kStep];
  } else if constexpr (K.corner != 0) {
    s += K.corner * (above[i - kStep] + above[i + kStep] + below[i - kStep] + below[i + kStep]);
  }
  // Clamped in int, not int16: GCC vectorises this form far better.
  const uint32_t t = static_cast<uint32_t>(std::clamp(s, 0, 256 * K.divisor - 1));
  if constexpr (std::has_single_bit(static_cast<unsigned>(K.divisor))) {
    // 1, 2, 16: a shift, which GCC vectorises better than the multiply.
    return static_cast<uint8_t>(t >> std::countr_zero(static_cast<unsigned>(K.divisor)));
  } else {
    return static_cast<uint8_t>((t * Reciprocal(K.divisor)) >> 16);
  }
}

// Whole blocks of kBlock bytes; the last block is moved back to end at the
// last byte, overlapping its neighbour. Writing a byte twice is harmless: the
// sources are never written. Rows shorter than a block go byte by byte.
template <Kernel3x3 K, size_t kStep, size_t kBlock>
[[gnu::always_inline]] inline void FilterRow(const uint8_t* __restrict above,
                                             const uint8_t* __restrict row,
                                             const uint8_t* __restrict below,
                                             uint8_t* __restrict out, size_t count) {
  const size_t end = count - kStep;
  if (end - kStep < kBlock) {
    for (size_t i = kStep; i < end; ++i) out[i] = FilterByte<K, kStep>(above, row, below, i);
    return;
  }
  auto block = [&](size_t start) {
    for (size_t k = 0; k < kBlock; ++k) {
      out[start + k] = FilterByte<K, kStep>(above, row, below, start + k);
    }
  };
  for (size_t i = kStep; i + kBlock < end; i += kBlock) block(i);
  block(end - kBlock);
}

using RowLoop = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, size_t);

// noinline keeps the __restrict promises visible to the vectoriser.
template <Kernel3x3 K, size_t kStep>
[[gnu::noinline]] void RowPortable(const uint8_t* __restrict above, const uint8_t* __restrict row,
                                   const uint8_t* __restrict below, uint8_t* __restrict out,
                                   size_t count) {
  FilterRow<K, kStep, 32>(above, row, below, out, count);
}

#ifdef INKBRITE_FILTER_VECTOR
#if defined(__clang__)
#define INKBRITE_FILTER_AVX512 "avx512f,avx512bw,avx512vl"
#else
#define INKBRITE_FILTER_AVX512 "avx512f,avx512bw,avx512vl,prefer-vector-width=512"
#endif

template <Kernel3x3 K, size_t kStep>
[[gnu::noinline, gnu::target("avx2")]] void RowAvx2(const uint8_t* __restrict above,
                                                    const uint8_t* __restrict row,
                                                    const uint8_t* __restrict below,
                                                    uint8_t* __restrict out, size_t count) {
  FilterRow<K, kStep, 32>(above, row, below, out, count);
}

template <Kernel3x3 K, size_t kStep>
[[gnu::noinline, gnu::target(INKBRITE_FILTER_AVX512)]] void RowAvx512(
    const uint8_t* __restrict above, const uint8_t* __restrict row, const uint8_t* __restrict below,
    uint8_t* __restrict out, size_t count) {
  FilterRow<K, kStep, 64>(above, row, below, out, count);
}

FilterLoops DetectLoops() {
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl")) {
    return FilterLoops::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return FilterLoops::kAvx2;
  return FilterLoops::kPortable;
}
#else
FilterLoops DetectLoops() { return FilterLoops::kPortable; }
#endif

// The loops of one kernel and pixel size, indexed by FilterLoops.
using RowLoops = std::array<RowLoop, 3>;

template <Kernel3x3 K, size_t kStep>
constexpr RowLoops LoopsFor() {
  constexpr Kernel3x3 r = Reduced(K);
#ifdef INKBRITE_FILTER_VECTOR
  return {&RowPortable<r, kStep>, &RowAvx2<r, kStep>, &RowAvx512<r, kStep>};
#else
  return {&RowPortable<r, kStep>, &RowPortable<r, kStep>, &RowPortable<r, kStep>};
#endif
}

template <const auto& kKernels, size_t kStep, size_t... kIndex>
constexpr auto MakeLoopTable(std::index_sequence<kIndex...>) {
  return std::array<RowLoops, sizeof...(kIndex)>{LoopsFor<kKernels[kIndex], kStep>()...};
}

// Blue-green-red rows, and rows of grey levels.
constexpr auto kSharpenLoops =
    MakeLoopTable<kSharpenKernels, 3>(std::make_index_sequence<std::size(kSharpenKernels)>{});
constexpr auto kSoftenLoops =
    MakeLoopTable<kSoftenKernels, 3>(std::make_index_sequence<std::size(kSoftenKernels)>{});
constexpr auto kGreySharpenLoops =
    MakeLoopTable<kSharpenKernels, 1>(std::make_index_sequence<std::size(kSharpenKernels)>{});
constexpr auto kGreySoftenLoops =
    MakeLoopTable<kSoftenKernels, 1>(std::make_index_sequence<std::size(kSoftenKernels)>{});

std::atomic<FilterLoops> g_loopLimit{FilterLoops::kAvx512};

RowLoop Pick(const RowLoops& loops) {
  const FilterLoops use =
      std::min(FastestFilterLoops(), g_loopLimit.load(std::memory_order_relaxed));
  return loops[static_cast<size_t>(use)];
}

// `loops` for 24-bit pages, `greyLoops` for pages of grey levels.
bool ApplyFilter(DibImage& image, const RowLoops& loops, const RowLoops& greyLoops) {
  const bool grey = image.IsGreyLevels();
  if (!image.Is24Bit() && !grey) return false;
  const int32_t height = image.Height();
  if (image.Width() <= 2 || height <= 2) return true;

  const size_t count = static_cast<size_t>(image.Width()) * (grey ? 1 : 3);
  std::vector<uint8_t> above;
  std::vector<uint8_t> current;
  try {
    above.resize(count);
    current.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }

  const RowLoop loop = Pick(grey ? greyLoops : loops);
  std::memcpy(above.data(), image.Row(0), count);
  for (int32_t y = 1; y < height - 1; ++y) {
    uint8_t* row = image.Row(y);
    std::memcpy(current.data(), row, count);
    loop(above.data(), current.data(), image.Row(y + 1), row, count);
    above.swap(current);  // this row's original is the next one's row above
  }
  return true;
}

}  // namespace

FilterLoops FastestFilterLoops() {
  static const FilterLoops fastest = DetectLoops();
  return fastest;
}

FilterLoops LimitFilterLoops(FilterLoops widest) { return g_loopLimit.exchange(widest); }

FilterRowLoop SharpenRowLoop(int level, int channels) {
  if (level < 1 || level > kMaxSharpenLevel || (channels != 1 && channels != 3)) return nullptr;
  const auto& loops = channels == 1 ? kGreySharpenLoops : kSharpenLoops;
  return Pick(loops[static_cast<size_t>(level - 1)]);
}

FilterRowLoop SoftenRowLoop(int strength, int channels) {
  if (strength < 1 || strength > kMaxSoftenStrength || (channels != 1 && channels != 3)) {
    return nullptr;
  }
  const auto& loops = channels == 1 ? kGreySoftenLoops : kSoftenLoops;
  return Pick(loops[static_cast<size_t>(strength - 1)]);
}

bool DibImage::Sharpen(int level) {
  if (level < 1 || level > kMaxSharpenLevel) return false;
  const auto k = static_cast<size_t>(level - 1);
  return ApplyFilter(*this, kSharpenLoops[k], kGreySharpenLoops[k]);
}

bool DibImage::Soften(int strength) {
  if (strength < 1 || strength > kMaxSoftenStrength) return false;
  const auto k = static_cast<size_t>(strength - 1);
  return ApplyFilter(*this, kSoftenLoops[k], kGreySoftenLoops[k]);
}

}  // namespace inkbrite
