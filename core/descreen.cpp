// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/descreen.h"

#include <emmintrin.h>
#include <fftw3.h>
#include <immintrin.h>
#include <tmmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "core/box_sums.h"
#include "core/scan_analysis.h"

namespace inkbrite {

namespace {

// The byte loops over pixels, written plain, are built twice: for any
// x86-64 and, chosen at run time, for processors with AVX2 (the compiler
// vectorises them only there: their pixels are three bytes).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(INKBRITE_NO_VECTOR_LOOPS)
#define INKBRITE_DESCREEN_AVX2 1
// Plain loops alone while the thread descreens a page so asked.
thread_local bool tPlainLoops = false;
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && !tPlainLoops;
}
#define INKBRITE_TWICE(name, params, args)                                    \
  void name##Plain params { name##Loop args; }                                \
  __attribute__((target("avx2"))) void name##Avx2 params { name##Loop args; } \
  void name params {                                                          \
    if (HasAvx2()) {                                                          \
      name##Avx2 args;                                                        \
    } else {                                                                  \
      name##Plain args;                                                       \
    }                                                                         \
  }
#else
#define INKBRITE_TWICE(name, params, args) \
  void name params { name##Loop args; }
#endif

// The lightness of `n` pixels.
[[gnu::always_inline]] inline void LumaRowLoop(const uint8_t* __restrict p, uint8_t* __restrict o,
                                               int32_t n) {
  for (int32_t x = 0; x < n; ++x) {
    o[x] = static_cast<uint8_t>(Luma(p[3 * x], p[3 * x + 1], p[3 * x + 2]));
  }
}
#if defined(INKBRITE_DESCREEN_AVX2)
// The same sixteen pixels at a time: their blue, green and red bytes
// gathered from the 48 by shuffles, the weighted sum in 16 bits (at most
// 256 x 255).
__attribute__((target("avx2"))) void LumaRowWide(const uint8_t* __restrict p, uint8_t* __restrict o,
                                                 int32_t n) {
  // Byte i of the gather of channel c from the k-th 16 bytes: pixel i's.
  struct alignas(16) Mask {
    std::array<int8_t, 16> bytes;
  };
  static const std::array<Mask, 9> masks = [] {
    std::array<Mask, 9> m{};
    for (size_t c = 0; c < 3; ++c) {
      for (size_t k = 0; k < 3; ++k) {
        for (size_t i = 0; i < 16; ++i) {
          const auto at = static_cast<int>(3 * i + c) - static_cast<int>(16 * k);
          m[3 * c + k].bytes[i] = static_cast<int8_t>(at >= 0 && at < 16 ? at : -128);
        }
      }
    }
    return m;
  }();
  __m128i gather[3][3];
  for (size_t c = 0; c < 3; ++c) {
    for (size_t k = 0; k < 3; ++k) {
      gather[c][k] =
          _mm_load_si128(reinterpret_cast<const __m128i*>(masks[3 * c + k].bytes.data()));
    }
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i weight[3] = {_mm_set1_epi16(29), _mm_set1_epi16(150), _mm_set1_epi16(77)};
  int32_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const uint8_t* q = p + 3 * static_cast<size_t>(x);
    const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 32))};
    __m128i lo = zero, hi = zero;
    for (size_t c = 0; c < 3; ++c) {
      const __m128i bytes = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], gather[c][0]),
                                                      _mm_shuffle_epi8(in[1], gather[c][1])),
                                         _mm_shuffle_epi8(in[2], gather[c][2]));
      lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, zero), weight[c]));
      hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(bytes, zero), weight[c]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x),
                     _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
  }
  LumaRowLoop(p + 3 * static_cast<size_t>(x), o + x, n - x);
}
void LumaRow(const uint8_t* __restrict p, uint8_t* __restrict o, int32_t n) {
  if (HasAvx2()) {
    LumaRowWide(p, o, n);
  } else {
    LumaRowLoop(p, o, n);
  }
}
#else
void LumaRow(const uint8_t* __restrict p, uint8_t* __restrict o, int32_t n) {
  LumaRowLoop(p, o, n);
}
#endif

// Squares of one pixel: each pixel's blue, green, red and 1, or 0 where
// `masked`.
[[gnu::always_inline]] inline void PixelSquaresLoop(const uint8_t* __restrict p,
                                                    const uint8_t* __restrict masked, int32_t n,
                                                    int32_t* __restrict o) {
  for (int32_t x = 0; x < n; ++x) {
    const int32_t keep = masked[x] == 0 ? 1 : 0;
    o[4 * x] = p[3 * x] * keep;
    o[4 * x + 1] = p[3 * x + 1] * keep;
    o[4 * x + 2] = p[3 * x + 2] * keep;
    o[4 * x + 3] = keep;
  }
}
#if defined(INKBRITE_DESCREEN_AVX2)
// The same four pixels at a time: each pixel's three bytes spread to its
// four values by a shuffle, kept or made 0 by its mask.
__attribute__((target("avx2"))) void PixelSquaresWide(const uint8_t* __restrict p,
                                                      const uint8_t* __restrict masked, int32_t n,
                                                      int32_t* __restrict o) {
  const __m128i zero = _mm_setzero_si128(), one = _mm_set_epi32(1, 0, 0, 0);
  __m128i spread[4], broadcast[4];
  for (int i = 0; i < 4; ++i) {
    const auto b = static_cast<char>(3 * i);
    spread[i] = _mm_setr_epi8(b, -128, -128, -128, static_cast<char>(b + 1), -128, -128, -128,
                              static_cast<char>(b + 2), -128, -128, -128, -128, -128, -128, -128);
    broadcast[i] = _mm_set1_epi8(static_cast<char>(i));
  }
  int32_t x = 0;
  // The 16 bytes read from pixel x stay inside the row.
  for (; 3 * x + 16 <= 3 * n && x + 4 <= n; x += 4) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * static_cast<size_t>(x)));
    int32_t four = 0;
    std::memcpy(&four, masked + x, 4);
    const __m128i keep = _mm_cmpeq_epi8(_mm_cvtsi32_si128(four), zero);
    for (int i = 0; i < 4; ++i) {
      const __m128i k = _mm_shuffle_epi8(keep, broadcast[i]);
      const __m128i v = _mm_or_si128(_mm_shuffle_epi8(bytes, spread[i]), one);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 4 * (static_cast<size_t>(x) + i)),
                       _mm_and_si128(v, k));
    }
  }
  PixelSquaresLoop(p + 3 * static_cast<size_t>(x), masked + x, n - x,
                   o + 4 * static_cast<size_t>(x));
}
void PixelSquares(const uint8_t* __restrict p, const uint8_t* __restrict masked, int32_t n,
                  int32_t* __restrict o) {
  if (HasAvx2()) {
    PixelSquaresWide(p, masked, n, o);
  } else {
    PixelSquaresLoop(p, masked, n, o);
  }
}
#else
void PixelSquares(const uint8_t* __restrict p, const uint8_t* __restrict masked, int32_t n,
                  int32_t* __restrict o) {
  PixelSquaresLoop(p, masked, n, o);
}
#endif

constexpr double kPi = 3.14159265358979323846;
constexpr double kFinestPeriod = 2.5;
constexpr double kCoarsestPeriod = 32;
constexpr int kHighestOrder = 10;  // harmonics m u + n v with |m|, |n| up to this
constexpr float kPeakOverGround = 20;
constexpr int32_t kLookTile = 128;   // the squares the screen is looked for in
constexpr int32_t kMostLooks = 128;  // at most this many of them a page
constexpr int32_t kFetchAhead = 4;   // rows of a tile asked for before they are read
constexpr int32_t kCell = 64;        // the squares where the screen is told apart
constexpr int32_t kPartCells = 4;    // filtered at most this many rows of cells by twice as many
// A cell holds the screen when this share of its tone's variance or more
// lies at the lattice's two base frequencies (noise: 1 / its pixels).
constexpr double kScreenShare = 0.05;
// A cell beside the screen holds some of it when its share is this part of
// that or more.
constexpr double kEdgeShare = 0.25;

// Asks memory for the `n` bytes from `p`, a cache line at a time, before
// they are read.
inline void FetchAhead(const uint8_t* p, size_t n) {
  for (size_t b = 0; b < n; b += 64) __builtin_prefetch(p + b);
}

template <typename T>
struct FftwFree {
  void operator()(T* p) const { fftwf_free(p); }
};
template <typename T>
using FftwBuffer = std::unique_ptr<T, FftwFree<T>>;

// FFTW's planner is not thread-safe (executing a plan on other arrays is):
// one plan a tile size, made once for the process under a lock.
fftwf_plan PlanFor(int32_t w, int32_t h) {
  struct Plan {
    int32_t w, h;
    fftwf_plan plan;
  };
  // Destroyed when the program ends.
  struct Plans : std::vector<Plan> {
    Plans() = default;
    Plans(const Plans&) = delete;
    Plans& operator=(const Plans&) = delete;
    ~Plans() {
      for (const Plan& p : *this) fftwf_destroy_plan(p.plan);
    }
  };
  static std::mutex mutex;
  static Plans plans;
  const std::lock_guard<std::mutex> lock(mutex);
  for (const Plan& p : plans) {
    if (p.w == w && p.h == h) return p.plan;
  }
  const size_t reals = static_cast<size_t>(w) * static_cast<size_t>(h);
  const FftwBuffer<float> in(static_cast<float*>(fftwf_malloc(sizeof(float) * reals)));
  const FftwBuffer<fftwf_complex> out(static_cast<fftwf_complex*>(
      fftwf_malloc(sizeof(fftwf_complex) * static_cast<size_t>(w / 2 + 1) * h)));
  if (!in || !out) throw std::bad_alloc();
  const fftwf_plan plan = fftwf_plan_dft_r2c_2d(h, w, in.get(), out.get(), FFTW_MEASURE);
  if (plan == nullptr) throw std::bad_alloc();
  plans.push_back({w, h, plan});
  return plan;
}

// Bins of a tile of w x h for a frequency (cycles a pixel), at least 2.
int32_t BinsForSize(int32_t w, int32_t h, double f) {
  return std::max<int32_t>(2, static_cast<int32_t>(f * std::min(w, h)));
}

// A bin of the half spectrum: kx from 0 to cw - 1, ky signed.
struct Bin {
  int32_t kx, ky;
};

// The power spectrum of one tile of the page's lightness, mean taken off and
// under a Hann window (so that a peak between bins leaks no further than
// its two neighbours).
class PowerMap {
 public:
  PowerMap(int32_t w, int32_t h) : m_w(w), m_h(h), m_cw(w / 2 + 1) {
    m_real.reset(static_cast<float*>(fftwf_malloc(sizeof(float) * static_cast<size_t>(w) * h)));
    m_freq.reset(static_cast<fftwf_complex*>(
        fftwf_malloc(sizeof(fftwf_complex) * static_cast<size_t>(m_cw) * h)));
    if (!m_real || !m_freq) throw std::bad_alloc();
    m_power.resize(static_cast<size_t>(m_cw) * static_cast<size_t>(h));
    m_wx.resize(static_cast<size_t>(w));
    m_wy.resize(static_cast<size_t>(h));
    for (int32_t x = 0; x < w; ++x)
      m_wx[x] = static_cast<float>(0.5 - 0.5 * std::cos(2 * kPi * (x + 0.5) / w));
    for (int32_t y = 0; y < h; ++y)
      m_wy[y] = static_cast<float>(0.5 - 0.5 * std::cos(2 * kPi * (y + 0.5) / h));
    m_plan = PlanFor(w, h);
    // Which bins lie between the finest and coarsest period, and how far
    // from each its surroundings are looked at (the same for every tile).
    const double lo = 1 / kCoarsestPeriod, hi = 1 / kFinestPeriod;
    m_reach.resize(m_power.size());
    for (int32_t ky = -h / 2; ky < (h + 1) / 2; ++ky) {
      for (int32_t kx = 0; kx < m_cw; ++kx) {
        const double f2 = Fx(kx) * Fx(kx) + Fy(ky) * Fy(ky);
        const bool inBand = f2 >= lo * lo && f2 <= hi * hi;
        m_reach[Index(kx, ky)] = inBand ? BinsForSize(w, h, 0.2 * std::sqrt(f2)) : 0;
      }
    }
  }

  // The tile from (x0, y0); its lightness levels are counted in `levels`.
  void Load(const DibImage& image, int32_t x0, int32_t y0, std::array<uint64_t, 256>& levels) {
    float* out = m_real.get();
    int64_t sum = 0;  // exact
    const size_t w = static_cast<size_t>(m_w);
    m_luma.resize(w * static_cast<size_t>(m_h));
    // Counted in four tallies taken in turn: a run of one level (paper)
    // would otherwise wait on each count before the next.
    std::array<std::array<uint32_t, 256>, 4> tallies{};
    for (int32_t y = 0; y < m_h; ++y) {
      uint8_t* l = m_luma.data() + static_cast<size_t>(y) * w;
      // A tile's rows are short runs far apart, which the processor does
      // not fetch ahead by itself.
      if (y + kFetchAhead < m_h) {
        FetchAhead(image.Row(y0 + y + kFetchAhead) + 3 * static_cast<size_t>(x0), 3 * w);
      }
      LumaRow(image.Row(y0 + y) + 3 * static_cast<size_t>(x0), l, m_w);
      int32_t rowSum = 0;
      for (int32_t x = 0; x < m_w; ++x) rowSum += l[x];
      int32_t x = 0;
      for (; x + 4 <= m_w; x += 4) {
        for (size_t k = 0; k < 4; ++k) ++tallies[k][l[x + static_cast<int32_t>(k)]];
      }
      for (; x < m_w; ++x) ++tallies[0][l[x]];
      sum += rowSum;
    }
    for (size_t v = 0; v < 256; ++v) {
      levels[v] +=
          static_cast<uint64_t>(tallies[0][v]) + tallies[1][v] + tallies[2][v] + tallies[3][v];
    }
    const auto mean =
        static_cast<float>(static_cast<double>(sum) / (static_cast<double>(m_w) * m_h));
    for (int32_t y = 0; y < m_h; ++y) {
      const uint8_t* l = m_luma.data() + static_cast<size_t>(y) * w;
      float* o = out + static_cast<size_t>(y) * w;
      for (int32_t x = 0; x < m_w; ++x)
        o[x] = (static_cast<float>(l[x]) - mean) * m_wx[x] * m_wy[y];
    }
    fftwf_execute_dft_r2c(m_plan, m_real.get(), m_freq.get());
    const fftwf_complex* f = m_freq.get();
    for (size_t i = 0; i < m_power.size(); ++i) m_power[i] = f[i][0] * f[i][0] + f[i][1] * f[i][1];
  }

  // The power at a bin anywhere in the plane (the other half by symmetry).
  float At(int32_t kx, int32_t ky) const {
    if (kx < 0) {
      kx = -kx;
      ky = -ky;
    }
    if (kx >= m_cw) return 0;
    // Bins asked for lie within a few turns of the plane: no division.
    while (ky < 0) ky += m_h;
    while (ky >= m_h) ky -= m_h;
    return m_power[static_cast<size_t>(ky) * static_cast<size_t>(m_cw) + static_cast<size_t>(kx)];
  }
  // For a bin between the finest and coarsest period, how far from it
  // Isolated looks; 0 for the others (`ky` from -Height() / 2 to
  // (Height() + 1) / 2 - 1).
  int32_t Reach(int32_t kx, int32_t ky) const { return m_reach[Index(kx, ky)]; }
  // The powers at kx = 0 to HalfWidth() - 1 for a `ky` from -Height() to
  // Height() - 1.
  const float* PowerRow(int32_t ky) const {
    return m_power.data() + static_cast<size_t>(ky < 0 ? ky + m_h : ky) * static_cast<size_t>(m_cw);
  }
  // Cycles a pixel of a bin, across and down.
  double Fx(double kx) const { return kx / m_w; }
  double Fy(double ky) const { return ky / m_h; }
  // Whether `b` stands above the spectrum `d` bins away in eight directions.
  bool Isolated(Bin b, int32_t d, float over = kPeakOverGround) const {
    const float peak = At(b.kx, b.ky);
    for (int32_t dy = -1; dy <= 1; ++dy) {
      for (int32_t dx = -1; dx <= 1; ++dx) {
        if ((dx != 0 || dy != 0) && At(b.kx + dx * d, b.ky + dy * d) * over > peak) {
          return false;
        }
      }
    }
    return true;
  }
  // The strongest bin within `r` bins of `b`.
  Bin Strongest(Bin b, int32_t r) const {
    Bin best = b;
    for (int32_t dy = -r; dy <= r; ++dy) {
      for (int32_t dx = -r; dx <= r; ++dx) {
        if (At(b.kx + dx, b.ky + dy) > At(best.kx, best.ky)) best = {b.kx + dx, b.ky + dy};
      }
    }
    return best;
  }
  // The frequency of the peak at `b` between the bins: a parabola through
  // the logarithms of its power and its neighbours' each way.
  void Refine(Bin b, double& fx, double& fy) const {
    const auto offset = [](float before, float at, float after) {
      if (before <= 0 || at <= 0 || after <= 0) return 0.0;
      const double l = std::log(before), c = std::log(at), r = std::log(after);
      const double d = l - 2 * c + r;
      return d < 0 ? std::clamp(0.5 * (l - r) / d, -0.5, 0.5) : 0.0;
    };
    const float at = At(b.kx, b.ky);
    fx = Fx(b.kx + offset(At(b.kx - 1, b.ky), at, At(b.kx + 1, b.ky)));
    fy = Fy(b.ky + offset(At(b.kx, b.ky - 1), at, At(b.kx, b.ky + 1)));
  }
  size_t Index(int32_t kx, int32_t ky) const {
    return static_cast<size_t>(ky < 0 ? ky + m_h : ky) * static_cast<size_t>(m_cw) +
           static_cast<size_t>(kx);
  }
  int32_t Width() const { return m_w; }
  int32_t Height() const { return m_h; }
  int32_t HalfWidth() const { return m_cw; }

 private:
  int32_t m_w, m_h, m_cw;
  FftwBuffer<float> m_real;
  FftwBuffer<fftwf_complex> m_freq;
  std::vector<float> m_power, m_wx, m_wy;
  std::vector<uint8_t> m_luma;
  std::vector<int32_t> m_reach;
  fftwf_plan m_plan = nullptr;
};

// Bins from a frequency (cycles a pixel) and back.
Bin ToBin(const PowerMap& m, double fx, double fy) {
  return {static_cast<int32_t>(std::lround(fx * m.Width())),
          static_cast<int32_t>(std::lround(fy * m.Height()))};
}
int32_t BinsFor(const PowerMap& m, double f) { return BinsForSize(m.Width(), m.Height(), f); }

// The lattice of a screen: its base frequencies (v zero for a line screen).
struct Lattice {
  bool found = false;
  double ux = 0, uy = 0, vx = 0, vy = 0;
  float power = 0;  // of the peak at u
};

// The strongest isolated local peak between the finest and coarsest period,
// then its partner a quarter turn away.
Lattice FindLattice(const PowerMap& m) {
  Bin best{0, 0};
  float bestPower = 0;
  for (int32_t ky = -m.Height() / 2; ky < (m.Height() + 1) / 2; ++ky) {
    const float* row = m.PowerRow(ky);
    for (int32_t kx = 0; kx < m.HalfWidth(); ++kx) {
      const float p = row[kx];
      if (p <= bestPower) continue;
      // Isolated first: most bins fail it at their first neighbour.
      const int32_t reach = m.Reach(kx, ky);
      const Bin b{kx, ky};
      if (reach == 0 || !m.Isolated(b, reach)) continue;
      const double f = std::sqrt(m.Fx(kx) * m.Fx(kx) + m.Fy(ky) * m.Fy(ky));
      const Bin top = m.Strongest(b, 1);
      if (top.kx != kx || top.ky != ky) continue;
      // A harmonic of a coarser pattern (a row of panels, say) has its
      // fundamental at half the frequency.
      const Bin sub = m.Strongest(ToBin(m, m.Fx(kx) / 2, m.Fy(ky) / 2), BinsFor(m, 0.05 * f));
      if (m.At(sub.kx, sub.ky) * 10 > p) continue;
      // A dot screen has its partner a quarter turn away (parallel lines,
      // hatching, are drawing).
      const Bin v = m.Strongest(ToBin(m, -m.Fy(ky), m.Fx(kx)), BinsFor(m, 0.05 * f));
      if (m.At(v.kx, v.ky) * kPeakOverGround < p || !m.Isolated(v, BinsFor(m, 0.2 * f))) continue;
      best = b;
      bestPower = p;
    }
  }
  Lattice lattice;
  if (bestPower <= 0) return lattice;
  lattice.found = true;
  lattice.power = bestPower;
  m.Refine(best, lattice.ux, lattice.uy);
  const double f = std::hypot(lattice.ux, lattice.uy);
  const Bin v = m.Strongest(ToBin(m, -lattice.uy, lattice.ux), BinsFor(m, 0.05 * f));
  m.Refine(v, lattice.vx, lattice.vy);
  return lattice;
}

ScreenFound Describe(const Lattice& lattice, int keepPeriod) {
  ScreenFound found;
  if (!lattice.found) return found;
  found.found = true;
  found.period = 1 / std::hypot(lattice.ux, lattice.uy);
  // The angle of the dots' rows, folded into 0 to 90 degrees (a lattice
  // turned a quarter is the same lattice).
  double angle = std::atan2(-lattice.uy, lattice.ux) * 180 / kPi;
  angle = std::fmod(angle + 360, 90);
  found.angle = angle;
  found.kept = keepPeriod > 0 && found.period > keepPeriod;
  return found;
}

// Whether two lattices are one screen: periods within 6 %, angles (folded
// into 0 to 90 degrees) within 4.
bool SameScreen(const ScreenFound& a, const ScreenFound& b) {
  const double turn = std::abs(std::remainder(a.angle - b.angle, 90.0));
  return std::abs(a.period - b.period) <= 0.06 * a.period && turn <= 4;
}

// The lattice of a screen `period` pixels from dot to dot at `angle`.
Lattice LatticeOf(double period, double angle) {
  const double t = angle * kPi / 180;
  Lattice l;
  l.found = true;
  l.ux = std::cos(t) / period;
  l.uy = -std::sin(t) / period;
  l.vx = -l.uy;
  l.vy = l.ux;
  return l;
}

// The first pixel of each tile of `tile` along `size`: every `step`-th tile,
// and the last (against the far edge) always.
std::vector<int32_t> Starts(int32_t size, int32_t tile, int32_t step) {
  const int32_t n = (size + tile - 1) / tile;
  std::vector<int32_t> starts;
  for (int32_t i = 0; i < n; i += step) starts.push_back(std::min(i * tile, size - tile));
  if ((n - 1) % step != 0) starts.push_back(size - tile);
  return starts;
}

// What the search over the page's tiles found.
struct Search {
  Lattice lattice;
  ScreenFound screen;
  int threshold = 128;  // lightness below it is dark (for finding the lines)
};

// Looks for the screen in tiles of the page spread over it (at most
// kMostLooks of them): the lattice most tiles show, its period and angle
// the mean of theirs.
Search SearchPage(const DibImage& image) {
  const int32_t w = image.Width(), h = image.Height();
  const int32_t tw = std::min(kLookTile, w), th = std::min(kLookTile, h);
  const int32_t nx = (w + tw - 1) / tw, ny = (h + th - 1) / th;
  int32_t step = 1;
  while (static_cast<int64_t>((nx + step - 1) / step) * ((ny + step - 1) / step) > kMostLooks) {
    ++step;
  }
  PowerMap map(tw, th);
  std::array<uint64_t, 256> levels{};
  std::vector<Lattice> lattices;
  std::vector<ScreenFound> screens;
  for (const int32_t y0 : Starts(h, th, step)) {
    for (const int32_t x0 : Starts(w, tw, step)) {
      map.Load(image, x0, y0, levels);
      const Lattice l = FindLattice(map);
      if (!l.found) continue;
      lattices.push_back(l);
      screens.push_back(Describe(l, 0));
    }
  }
  Search search;
  // The lines' threshold: halfway between the darkest and lightest few per
  // cent of the tiles' levels.
  uint64_t total = 0, seen = 0;
  for (const uint64_t n : levels) total += n;
  int lo = -1, hi = 255;
  for (int v = 0; v < 256; ++v) {
    seen += levels[v];
    if (lo < 0 && seen * 50 >= total) lo = v;
    if (seen * 50 >= total * 49) {
      hi = v;
      break;
    }
  }
  search.threshold = (lo + hi) / 2;
  if (lattices.empty()) return search;
  size_t best = 0;
  int bestVotes = 0;
  double bestPower = 0;
  for (size_t i = 0; i < screens.size(); ++i) {
    int votes = 0;
    double power = 0;
    for (size_t j = 0; j < screens.size(); ++j) {
      if (SameScreen(screens[i], screens[j])) {
        ++votes;
        power += lattices[j].power;
      }
    }
    if (votes > bestVotes || (votes == bestVotes && power > bestPower)) {
      best = i;
      bestVotes = votes;
      bestPower = power;
    }
  }
  double period = 0, turn = 0;
  for (const ScreenFound& s : screens) {
    if (!SameScreen(screens[best], s)) continue;
    period += s.period;
    turn += std::remainder(s.angle - screens[best].angle, 90.0);
  }
  period /= bestVotes;
  const double angle = std::fmod(screens[best].angle + turn / bestVotes + 90, 90);
  search.lattice = LatticeOf(period, angle);
  search.screen = Describe(search.lattice, 0);
  return search;
}

// The low-pass filter that takes the screen: the page's pixels averaged in
// squares of `step` (a third of the period, 1 to 8 pixels), then three
// passes of a box of 2 r + 1 of those across and three down (close to a
// Gaussian of 0.42 periods, which leaves 3 % of the base frequency's
// amplitude), read back between the squares' centres.
// A period measured a hair under a multiple of three (5.997 for a screen
// of 6 pixels) takes that multiple's step, as the screen does: not the
// finer step and four times the squares.
int32_t StepFor(double period) { return std::clamp(static_cast<int32_t>(period * 1.01 / 3), 1, 8); }
int32_t BoxRadius(double period, int32_t step) {
  const double sigma = 0.42 * period / step;
  return std::max<int32_t>(
      1, static_cast<int32_t>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
}

// |sin(pi f n) / (n sin(pi f))|: the gain of a mean of n pixels.
double MeanGain(double f, double n) {
  const double s = std::sin(kPi * f);
  return std::abs(s) < 1e-9 ? 1 : std::abs(std::sin(kPi * f * n) / (n * s));
}

// The filter's gain at a frequency (cycles a pixel) along one way.
double FilterGain(double f, int32_t step, int32_t r) {
  return MeanGain(f, step) * std::pow(MeanGain(f * step, 2 * r + 1), 3);
}

// The harmonics m u + n v of the lattice, folded into the band the pixels
// hold, that the filter takes down by 20 dB or more (those folded next to
// the page's own tones are not counted).
int Harmonics(const Lattice& l, int32_t step, int32_t r) {
  const double f = std::hypot(l.ux, l.uy);
  int count = 0;
  for (int a = 0; a <= kHighestOrder; ++a) {
    for (int b = -kHighestOrder; b <= kHighestOrder; ++b) {
      if (a == 0 && b <= 0) continue;  // each pair m, -m once
      double fx = a * l.ux + b * l.vx, fy = a * l.uy + b * l.vy;
      fx -= std::nearbyint(fx);
      fy -= std::nearbyint(fy);
      if (std::hypot(fx, fy) < 0.3 * f) continue;
      count += FilterGain(fx, step, r) * FilterGain(fy, step, r) <= 0.1 ? 1 : 0;
    }
  }
  return count;
}

// Where the screen is: cells of about kCell pixels (the last of each row
// and column takes the rest), each holding it when a share of its tone's
// variance of kScreenShare or more lies at the lattice's base frequencies
// u and v (summed directly over every other row, the cell's mean taken
// off).
class ScreenCells {
 public:
  ScreenCells(const DibImage& image, const Lattice& l)
      : m_w(image.Width()),
        m_h(image.Height()),
        m_nx(std::max(1, m_w / kCell)),
        m_ny(std::max(1, m_h / kCell)) {
    const size_t cells = static_cast<size_t>(m_nx) * static_cast<size_t>(m_ny);
    const std::vector<Sums> sums = Sum(image, l);
    // 2: the cell holds the screen; 1: some of it (a cell at the screen's
    // edge), filtered when beside one that holds it.
    std::vector<uint8_t> screen(cells);
    for (size_t i = 0; i < cells; ++i) {
      const Sums& c = sums[i];
      const double mean = c.s / c.n, variance = c.q - c.s * mean;
      if (variance < c.n) continue;  // flat
      const double eu = c.u.Less(c.u1, mean), ev = c.v.Less(c.v1, mean);
      const double share = 2 * (eu + ev) / (c.n * variance);
      const double least = std::max(kScreenShare, 8 / c.n);
      screen[i] = share >= least ? 2 : share >= least * kEdgeShare ? 1 : 0;
    }
    // Each cell of the screen, and those beside it with some of it; not
    // those beside it without (paper, a balloon's lettering), whose lines
    // the filter would soften.
    m_weight.assign(cells, 0);
    for (int32_t j = 0; j < m_ny; ++j) {
      for (int32_t i = 0; i < m_nx; ++i) {
        if (screen[Index(i, j)] != 2) continue;
        m_any = true;
        for (int32_t b = std::max(0, j - 1); b <= std::min(m_ny - 1, j + 1); ++b) {
          for (int32_t a = std::max(0, i - 1); a <= std::min(m_nx - 1, i + 1); ++a) {
            if (screen[Index(a, b)] != 0) m_weight[Index(a, b)] = 1;
          }
        }
      }
    }
  }

  bool Any() const { return m_any; }
  int32_t Across() const { return m_nx; }
  int32_t Down() const { return m_ny; }
  // The pixels cell column i (row j) starts at; i = Across(): the width.
  int32_t Left(int32_t i) const { return i >= m_nx ? m_w : i * kCell; }
  int32_t Top(int32_t j) const { return j >= m_ny ? m_h : j * kCell; }
  bool Filtered(int32_t i, int32_t j) const { return m_weight[Index(i, j)] != 0; }
  // Whether any cell meeting the pixels [x0, x1) x [y0, y1) is filtered.
  bool AnyIn(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
    for (int32_t j = CellRow(y0); j <= CellRow(y1 - 1); ++j) {
      for (int32_t i = CellColumn(x0); i <= CellColumn(x1 - 1); ++i) {
        if (m_weight[Index(i, j)] != 0) return true;
      }
    }
    return false;
  }
  // How much of the filtered page pixels of row y get, from x0 to x1: the
  // cells' weights (1 on and around the screen) between their centres.
  void RowWeights(int32_t y, int32_t x0, int32_t x1, std::vector<float>& out) const {
    out.resize(static_cast<size_t>(x1 - x0));
    double ty = 0;
    const int32_t j = Between(y, m_ny, ty), j1 = std::min(m_ny - 1, j + 1);
    for (int32_t x = x0; x < x1;) {
      // Along one cell's span from its centre to the next the weight is a line.
      double tx = 0;
      const int32_t i = Between(x, m_nx, tx), i1 = std::min(m_nx - 1, i + 1);
      const auto at = [&](int32_t a, int32_t b) {
        return static_cast<double>(m_weight[Index(a, b)]);
      };
      const double left = at(i, j) * (1 - ty) + at(i, j1) * ty;
      const double right = at(i1, j) * (1 - ty) + at(i1, j1) * ty;
      const int32_t end = i == m_nx - 1 ? x1 : std::min(x1, (i + 1) * kCell + kCell / 2);
      if (left == right) {
        std::fill(out.begin() + (x - x0), out.begin() + (end - x0), static_cast<float>(left));
        x = end;
        continue;
      }
      // Between's `t` for cell i, which every pixel of the span is after
      // (and not the last cell's).
      for (; x < end; ++x) {
        const double c = (x + 0.5) / kCell - 0.5;
        const double t = std::clamp(c - i, 0.0, 1.0);
        out[static_cast<size_t>(x - x0)] = static_cast<float>(left + (right - left) * t);
      }
    }
  }

 private:
  struct Phasor {
    double re = 0, im = 0;
    void Add(double c, double s, double cb, double sb) {
      re += c * cb - s * sb;
      im -= s * cb + c * sb;
    }
    // |this - mean one|^2.
    double Less(const Phasor& one, double mean) const {
      const double r = re - mean * one.re, i = im - mean * one.im;
      return r * r + i * i;
    }
  };
  struct Sums {
    double n = 0, s = 0, q = 0;
    Phasor u, v, u1, v1;
  };
  // The sums of each cell over every other row.
  std::vector<Sums> Sum(const DibImage& image, const Lattice& l) const {
    std::vector<Sums> sums(static_cast<size_t>(m_nx) * static_cast<size_t>(m_ny));
    // cos and sin of 2 pi (u x) and (v x) across, and their running sums.
    const size_t w = static_cast<size_t>(m_w);
    std::vector<float> table(4 * w);
    std::vector<double> running(4 * (w + 1));
    for (size_t x = 0; x < w; ++x) {
      const double pu =
          2 * kPi * (l.ux * static_cast<double>(x) - std::floor(l.ux * static_cast<double>(x)));
      const double pv =
          2 * kPi * (l.vx * static_cast<double>(x) - std::floor(l.vx * static_cast<double>(x)));
      const double t[4] = {std::cos(pu), std::sin(pu), std::cos(pv), std::sin(pv)};
      for (int k = 0; k < 4; ++k) {
        table[k * w + x] = static_cast<float>(t[k]);
        running[k * (w + 1) + x + 1] = running[k * (w + 1) + x] + t[k];
      }
    }
    std::vector<float> luma(w);
    std::vector<uint8_t> lumaBytes(w);
    // Every other row is enough to tell the screen's cells.
    for (int32_t y = 0; y < m_h; y += 2) {
      if (y + 2 * kFetchAhead < m_h) {
        FetchAhead(image.Row(y + 2 * kFetchAhead), 3 * w);
      }
      LumaRow(image.Row(y), lumaBytes.data(), m_w);
      for (size_t x = 0; x < w; ++x) luma[x] = static_cast<float>(lumaBytes[x]);
      const double bu = 2 * kPi * (l.uy * y - std::floor(l.uy * y));
      const double bv = 2 * kPi * (l.vy * y - std::floor(l.vy * y));
      const double cu = std::cos(bu), su = std::sin(bu), cv = std::cos(bv), sv = std::sin(bv);
      Sums* row = sums.data() + static_cast<size_t>(CellRow(y)) * static_cast<size_t>(m_nx);
      for (int32_t i = 0; i < m_nx; ++i) {
        const size_t x0 = static_cast<size_t>(i) * kCell;
        const size_t x1 = i + 1 == m_nx ? w : x0 + kCell;
        __m128 vs = _mm_setzero_ps(), vq = vs, vc1 = vs, vs1 = vs, vc2 = vs, vs2 = vs;
        size_t x = x0;
        for (; x + 4 <= x1; x += 4) {
          const __m128 v = _mm_loadu_ps(luma.data() + x);
          vs = _mm_add_ps(vs, v);
          vq = _mm_add_ps(vq, _mm_mul_ps(v, v));
          vc1 = _mm_add_ps(vc1, _mm_mul_ps(v, _mm_loadu_ps(table.data() + x)));
          vs1 = _mm_add_ps(vs1, _mm_mul_ps(v, _mm_loadu_ps(table.data() + w + x)));
          vc2 = _mm_add_ps(vc2, _mm_mul_ps(v, _mm_loadu_ps(table.data() + 2 * w + x)));
          vs2 = _mm_add_ps(vs2, _mm_mul_ps(v, _mm_loadu_ps(table.data() + 3 * w + x)));
        }
        const auto total = [](__m128 v) {
          alignas(16) float f[4];
          _mm_store_ps(f, v);
          return (f[0] + f[1]) + (f[2] + f[3]);
        };
        float s = total(vs), q = total(vq), c1 = total(vc1), s1 = total(vs1), c2 = total(vc2),
              s2 = total(vs2);
        for (; x < x1; ++x) {
          const float v = luma[x];
          s += v;
          q += v * v;
          c1 += v * table[x];
          s1 += v * table[w + x];
          c2 += v * table[2 * w + x];
          s2 += v * table[3 * w + x];
        }
        const auto window = [&](int k) {
          return running[k * (w + 1) + x1] - running[k * (w + 1) + x0];
        };
        Sums& cell = row[i];
        cell.n += static_cast<double>(x1 - x0);
        cell.s += s;
        cell.q += q;
        // sum v e^-i(a + b) = (C - i S)(cos b - i sin b), and the same of 1.
        cell.u.Add(c1, s1, cu, su);
        cell.v.Add(c2, s2, cv, sv);
        cell.u1.Add(window(0), window(1), cu, su);
        cell.v1.Add(window(2), window(3), cv, sv);
      }
    }
    return sums;
  }

  // The cell whose centre is at or before `at` (its centre at 32 + 64 i),
  // and how far `at` is on to the next one's; 0 past the last.
  static int32_t Between(int32_t at, int32_t count, double& t) {
    const double c = (at + 0.5) / kCell - 0.5;
    const int32_t first = std::clamp(static_cast<int32_t>(std::floor(c)), 0, count - 1);
    t = first == count - 1 ? 0 : std::clamp(c - first, 0.0, 1.0);
    return first;
  }
  int32_t CellColumn(int32_t x) const { return std::min(m_nx - 1, x / kCell); }
  int32_t CellRow(int32_t y) const { return std::min(m_ny - 1, y / kCell); }
  size_t Index(int32_t i, int32_t j) const {
    return static_cast<size_t>(j) * static_cast<size_t>(m_nx) + static_cast<size_t>(i);
  }

  int32_t m_w, m_h, m_nx, m_ny;
  bool m_any = false;
  std::vector<uint8_t> m_weight;
};

// `o` = `a` AND (or OR) `a` `k` bytes on, over `n` bytes.
[[gnu::always_inline]] inline void PairsLoop(const uint8_t* __restrict a, size_t k, size_t n,
                                             bool any, uint8_t* __restrict o) {
  if (any) {
    for (size_t i = 0; i < n; ++i) o[i] = static_cast<uint8_t>(a[i] | a[i + k]);
  } else {
    for (size_t i = 0; i < n; ++i) o[i] = static_cast<uint8_t>(a[i] & a[i + k]);
  }
}
INKBRITE_TWICE(Pairs,
               (const uint8_t* __restrict a, size_t k, size_t n, bool any, uint8_t* __restrict o),
               (a, k, n, any, o))

// For each x of [0, n): whether all (or any) of a[x] to a[x + length - 1]
// are 1, into `o`; `a` holds n + length - 1 bytes and is overwritten,
// `spare` as many. Taken in windows of 1, 2, 4, ... bytes, then of the
// widest two that cover the length.
void Windows(uint8_t* a, size_t n, size_t length, bool any, uint8_t* o, uint8_t* spare) {
  size_t k = 1;
  uint8_t* from = a;  // windows of k, from each of n + length - k bytes
  uint8_t* to = spare;
  for (; 2 * k <= length; k *= 2) {
    Pairs(from, k, n + length - 2 * k, any, to);
    std::swap(from, to);
  }
  Pairs(from, length - k, n, any, o);
}

// Marks in `o` the pixels of row `d` (w bytes of 0 and 1) in a run of at
// least `length` 1s: those in a window of `length` all 1s.
void MarkRunsAcross(const uint8_t* d, int32_t w, int32_t length, uint8_t* o,
                    std::vector<uint8_t> (&work)[3]) {
  const auto n = static_cast<size_t>(w), l = static_cast<size_t>(std::max(length, 1));
  if (l > n) {
    std::fill(o, o + n, uint8_t{0});
    return;
  }
  for (std::vector<uint8_t>& v : work) v.resize(n + l);
  // starts[l - 1 + s]: whether the window from s is all 1s (s from 0 to
  // n - l), 0 each side; then any of starts[x] to starts[x + l - 1]:
  // whether a window of all 1s starts in [x - l + 1, x].
  uint8_t* starts = work[0].data();
  std::fill(starts, starts + l - 1, uint8_t{0});
  std::fill(starts + n, starts + n + l, uint8_t{0});
  std::copy_n(d, n, work[1].data());
  Windows(work[1].data(), n - l + 1, l, false, starts + l - 1, work[2].data());
  Windows(starts, n, l, true, o, work[1].data());
}

// The dark runs so far from one side: each dark pixel's run one more than
// that of the pixel before it, `before` (at most `cap`), 0 where not dark.
[[gnu::always_inline]] inline void RunsAheadLoop(const uint8_t* __restrict d,
                                                 const uint8_t* __restrict before, int32_t n,
                                                 uint8_t cap, uint8_t* __restrict a) {
  // In bytes throughout (runs are at most `cap`), so that the loop keeps
  // 32 pixels to a register.
  for (int32_t x = 0; x < n; ++x) {
    const auto run = static_cast<uint8_t>(before[x] + (before[x] < cap ? 1 : 0));
    a[x] = static_cast<uint8_t>(d[x] != 0 ? run : 0);
  }
}
INKBRITE_TWICE(RunsAhead,
               (const uint8_t* __restrict d, const uint8_t* __restrict before, int32_t n,
                uint8_t cap, uint8_t* __restrict a),
               (d, before, n, cap, a))

// The same from the other side into `b`, and in `o` the pixels whose runs
// both ways (`a` and `b`, each counting the pixel) make more than `cap`.
[[gnu::always_inline]] inline void RunsBehindLoop(const uint8_t* __restrict d,
                                                  const uint8_t* __restrict after,
                                                  const uint8_t* __restrict a, int32_t n,
                                                  uint8_t cap, uint8_t* __restrict b,
                                                  uint8_t* __restrict o) {
  for (int32_t x = 0; x < n; ++x) {
    const auto run = static_cast<uint8_t>(after[x] + (after[x] < cap ? 1 : 0));
    const auto bx = static_cast<uint8_t>(d[x] != 0 ? run : 0);
    b[x] = bx;
    // a + b > cap, neither above it.
    o[x] = static_cast<uint8_t>(o[x] | (a[x] > static_cast<uint8_t>(cap - bx) ? 1 : 0));
  }
}
INKBRITE_TWICE(RunsBehind,
               (const uint8_t* __restrict d, const uint8_t* __restrict after,
                const uint8_t* __restrict a, int32_t n, uint8_t cap, uint8_t* __restrict b,
                uint8_t* __restrict o),
               (d, after, a, n, cap, b, o))

// Marks in `line` (w x h) the dark pixels in a run of at least `length`
// dark pixels across, down or along a diagonal, which the dots of a screen
// are not: counted forwards and backwards along each way, capped at
// `length`.
void MarkLines(const std::vector<uint8_t>& dark, int32_t w, int32_t h, int32_t length,
               std::vector<uint8_t>& line, std::vector<uint8_t>& ahead) {
  const auto cap = static_cast<uint8_t>(std::min(length, 255));
  const size_t sw = static_cast<size_t>(w);
  line.resize(dark.size());
  // Across.
  std::vector<uint8_t> work[3];
  for (int32_t y = 0; y < h; ++y) {
    MarkRunsAcross(dark.data() + static_cast<size_t>(y) * sw, w, length,
                   line.data() + static_cast<size_t>(y) * sw, work);
  }
  // Down and along both diagonals: the run so far from above, then from
  // below.
  // Rows of `ahead` have a pixel more each side, always 0.
  const size_t pw = sw + 2;
  ahead.assign(pw * static_cast<size_t>(h), 0);  // not what the part before left there
  std::vector<uint8_t> below(pw), next(pw);
  const std::vector<uint8_t> none(pw);
  for (const int32_t dx : {0, 1, -1}) {
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* d = dark.data() + static_cast<size_t>(y) * sw;
      uint8_t* a = ahead.data() + static_cast<size_t>(y) * pw + 1;
      const uint8_t* p = (y == 0 ? none.data() + 1 : a - pw) - dx;
      RunsAhead(d, p, w, cap, a);
    }
    std::fill(below.begin(), below.end(), 0);
    for (int32_t y = h - 1; y >= 0; --y) {
      const uint8_t* d = dark.data() + static_cast<size_t>(y) * sw;
      const uint8_t* a = ahead.data() + static_cast<size_t>(y) * pw + 1;
      uint8_t* o = line.data() + static_cast<size_t>(y) * sw;
      const uint8_t* after = below.data() + 1 + dx;
      uint8_t* b = next.data() + 1;
      RunsBehind(d, after, a, w, cap, b, o);
      std::swap(below, next);
    }
  }
}

// Each byte OR those beside it (`l` from x - 1 to n), and OR those of three
// rows.
[[gnu::always_inline]] inline void WidenAcrossLoop(const uint8_t* __restrict l, int32_t n,
                                                   uint8_t* __restrict o) {
  for (int32_t x = 0; x < n; ++x) o[x] = static_cast<uint8_t>(l[x - 1] | l[x] | l[x + 1]);
}
INKBRITE_TWICE(WidenAcross, (const uint8_t* __restrict l, int32_t n, uint8_t* __restrict o),
               (l, n, o))
[[gnu::always_inline]] inline void WidenDownLoop(const uint8_t* const (&r)[3], int32_t n,
                                                 uint8_t* __restrict o) {
  const uint8_t* __restrict r0 = r[0];
  const uint8_t* __restrict r1 = r[1];
  const uint8_t* __restrict r2 = r[2];
  for (int32_t x = 0; x < n; ++x) o[x] = static_cast<uint8_t>(r0[x] | r1[x] | r2[x]);
}
INKBRITE_TWICE(WidenDown, (const uint8_t* const (&r)[3], int32_t n, uint8_t* __restrict o),
               (r, n, o))

// The lines and the pixel around each.
void Widen(const std::vector<uint8_t>& line, int32_t w, int32_t h, std::vector<uint8_t>& wide,
           std::vector<uint8_t>& across) {
  const size_t sw = static_cast<size_t>(w);
  across.resize(line.size());
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* l = line.data() + static_cast<size_t>(y) * sw;
    uint8_t* o = across.data() + static_cast<size_t>(y) * sw;
    if (w == 1) {
      o[0] = l[0];
      continue;
    }
    o[0] = static_cast<uint8_t>(l[0] | l[1]);
    WidenAcross(l + 1, w - 2, o + 1);
    o[w - 1] = static_cast<uint8_t>(l[w - 2] | l[w - 1]);
  }
  wide.resize(line.size());
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* const rows[3] = {
        across.data() + static_cast<size_t>(std::max(0, y - 1)) * sw,
        across.data() + static_cast<size_t>(y) * sw,
        across.data() + static_cast<size_t>(std::min(h - 1, y + 1)) * sw};
    WidenDown(rows, w, wide.data() + static_cast<size_t>(y) * sw);
  }
}

// How far pixel x of row `l` is from the screen: the least difference
// from its copies one period away along the lattice, each read between
// four pixels (`r0` and `r1`, the rows above and below the copy, from its
// left pixel) with weights in 16ths, `fx` on the right, `fy` below; into
// `dev`, if less. In 16 bits: no step of it overflows.
[[gnu::always_inline]] inline void MatchRowLoop(const uint8_t* __restrict l,
                                                const uint8_t* __restrict r0,
                                                const uint8_t* __restrict r1, int32_t n,
                                                uint16_t fx, uint16_t fy, uint8_t* __restrict dev) {
  const auto gx = static_cast<uint16_t>(16 - fx), gy = static_cast<uint16_t>(16 - fy);
  for (int32_t x = 0; x < n; ++x) {
    const auto top = static_cast<uint16_t>(r0[x] * gx + r0[x + 1] * fx);
    const auto bottom = static_cast<uint16_t>(r1[x] * gx + r1[x + 1] * fx);
    const auto copy =
        static_cast<uint8_t>(static_cast<uint16_t>(top * gy + bottom * fy + 128) >> 8);
    // The difference in bytes (the copy is at most 255).
    const uint8_t v = l[x];
    const auto d = static_cast<uint8_t>(std::max(v, copy) - std::min(v, copy));
    dev[x] = std::min(dev[x], d);
  }
}
#if defined(INKBRITE_DESCREEN_AVX2)
__attribute__((target("avx2"))) inline __m256i Load32(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
// The same 32 pixels at a time: each pixel and the one on its right as a
// pair of bytes, times the weights' pair in one step.
__attribute__((target("avx2"))) void MatchRowWide(const uint8_t* l, const uint8_t* r0,
                                                  const uint8_t* r1, int32_t n, uint16_t fx,
                                                  uint16_t fy, uint8_t* dev) {
  const __m256i across = _mm256_set1_epi16(static_cast<int16_t>((16 - fx) | fx << 8));
  const __m256i above = _mm256_set1_epi16(static_cast<int16_t>(16 - fy));
  const __m256i below = _mm256_set1_epi16(static_cast<int16_t>(fy));
  const __m256i half = _mm256_set1_epi16(128);
  int32_t x = 0;
  for (; x + 32 <= n; x += 32) {
    const __m256i t0 = Load32(r0 + x), t1 = Load32(r0 + x + 1);
    const __m256i b0 = Load32(r1 + x), b1 = Load32(r1 + x + 1);
    // Words of pixels 0 to 7 and 16 to 23, then 8 to 15 and 24 to 31.
    __m256i copies[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i top = _mm256_maddubs_epi16(
          h == 0 ? _mm256_unpacklo_epi8(t0, t1) : _mm256_unpackhi_epi8(t0, t1), across);
      const __m256i bottom = _mm256_maddubs_epi16(
          h == 0 ? _mm256_unpacklo_epi8(b0, b1) : _mm256_unpackhi_epi8(b0, b1), across);
      copies[h] = _mm256_srli_epi16(
          _mm256_add_epi16(
              _mm256_add_epi16(_mm256_mullo_epi16(top, above), _mm256_mullo_epi16(bottom, below)),
              half),
          8);
    }
    const __m256i copy = _mm256_packus_epi16(copies[0], copies[1]);
    const __m256i v = Load32(l + x);
    const __m256i d = _mm256_or_si256(_mm256_subs_epu8(v, copy), _mm256_subs_epu8(copy, v));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dev + x), _mm256_min_epu8(Load32(dev + x), d));
  }
  MatchRowLoop(l + x, r0 + x, r1 + x, n - x, fx, fy, dev + x);
}
void MatchRow(const uint8_t* l, const uint8_t* r0, const uint8_t* r1, int32_t n, uint16_t fx,
              uint16_t fy, uint8_t* dev) {
  if (HasAvx2()) {
    MatchRowWide(l, r0, r1, n, fx, fy, dev);
  } else {
    MatchRowLoop(l, r0, r1, n, fx, fy, dev);
  }
}
#else
void MatchRow(const uint8_t* l, const uint8_t* r0, const uint8_t* r1, int32_t n, uint16_t fx,
              uint16_t fy, uint8_t* dev) {
  MatchRowLoop(l, r0, r1, n, fx, fy, dev);
}
#endif

// The most of each five bytes around x, across a row (`a` from x - 2 to
// n + 1) and down five rows.
[[gnu::always_inline]] inline void MostAcrossLoop(const uint8_t* __restrict a, int32_t n,
                                                  uint8_t* __restrict o) {
  for (int32_t x = 0; x < n; ++x) {
    o[x] = std::max(std::max(std::max(a[x - 2], a[x - 1]), std::max(a[x], a[x + 1])), a[x + 2]);
  }
}
INKBRITE_TWICE(MostAcross, (const uint8_t* __restrict a, int32_t n, uint8_t* __restrict o),
               (a, n, o))

// A pixel of the screen differs little from the pixels one period away
// along the lattice, both ways along u and v; an ink stroke or dot among the
// dots, a letter at a balloon's edge, differs from them all. How much each
// pixel of the part (w x h lightness `luma`) is the screen, into `screen`:
// 255 where one of its copies is within kLikeScreen levels of it, 0 from
// kUnlikeScreen, and the least of that over the pixels within 2 each way,
// so that a stroke keeps also its pixels that fall on a dot.
constexpr int kLikeScreen = 64;
constexpr int kUnlikeScreen = 112;

// The most of five rows' bytes, into how much of the screen: 255 up to
// kLikeScreen, 0 from kUnlikeScreen, a line between.
[[gnu::always_inline]] inline void MostDownLikeScreenLoop(const uint8_t* const (&r)[5], int32_t n,
                                                          uint8_t* __restrict o) {
  const uint8_t* __restrict r0 = r[0];
  const uint8_t* __restrict r1 = r[1];
  const uint8_t* __restrict r2 = r[2];
  const uint8_t* __restrict r3 = r[3];
  const uint8_t* __restrict r4 = r[4];
  constexpr int kRange = kUnlikeScreen - kLikeScreen;
  for (int32_t x = 0; x < n; ++x) {
    const uint8_t d = std::max(std::max(std::max(r0[x], r1[x]), std::max(r2[x], r3[x])), r4[x]);
    const auto t =
        static_cast<uint16_t>(d >= kUnlikeScreen ? 0 : std::min(kUnlikeScreen - d, kRange));
    o[x] = static_cast<uint8_t>(t * 255 / kRange);
  }
}
INKBRITE_TWICE(MostDownLikeScreen, (const uint8_t* const (&r)[5], int32_t n, uint8_t* __restrict o),
               (r, n, o))

void MarkScreen(const std::vector<uint8_t>& luma, int32_t w, int32_t h, const Lattice& l,
                std::vector<uint8_t>& screen, std::vector<uint8_t>& spare) {
  const size_t sw = static_cast<size_t>(w), count = sw * static_cast<size_t>(h);
  spare.assign(count, 255);  // the least difference
  const double f2 = l.ux * l.ux + l.uy * l.uy;
  const double copies[4][2] = {{l.ux / f2, l.uy / f2},
                               {-l.ux / f2, -l.uy / f2},
                               {l.vx / f2, l.vy / f2},
                               {-l.vx / f2, -l.vy / f2}};
  for (const auto& c : copies) {
    const auto ox = static_cast<int32_t>(std::floor(c[0]));
    const auto oy = static_cast<int32_t>(std::floor(c[1]));
    const auto fx = static_cast<uint16_t>(std::lround((c[0] - ox) * 16));
    const auto fy = static_cast<uint16_t>(std::lround((c[1] - oy) * 16));
    const int32_t xa = std::max(0, -ox), xb = std::min(w, w - ox - 1);
    const int32_t ya = std::max(0, -oy), yb = std::min(h, h - oy - 1);
    for (int32_t y = ya; y < yb && xa < xb; ++y) {
      const uint8_t* r0 = luma.data() + static_cast<size_t>(y + oy) * sw + (xa + ox);
      MatchRow(luma.data() + static_cast<size_t>(y) * sw + xa, r0, r0 + sw, xb - xa, fx, fy,
               spare.data() + static_cast<size_t>(y) * sw + xa);
    }
  }
  // Into how much of the screen each is, the least of that over the five
  // pixels around across (the row between 255s) and down: the same as the
  // most difference around, into how much of the screen (which falls as
  // the difference grows).
  std::vector<uint8_t> row(sw + 4, 0);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = spare.data() + static_cast<size_t>(y) * sw;
    std::copy_n(d, sw, row.data() + 2);
    MostAcross(row.data() + 2, w, d);
  }
  screen.resize(count);
  for (int32_t y = 0; y < h; ++y) {
    const auto at = [&](int32_t k) {
      return spare.data() + static_cast<size_t>(std::clamp(y + k, 0, h - 1)) * sw;
    };
    const uint8_t* const rows[5] = {at(-2), at(-1), at(0), at(1), at(2)};
    MostDownLikeScreen(rows, w, screen.data() + static_cast<size_t>(y) * sw);
  }
}

// Filters the pixels [x0, x1) x [y0, y1) of the page, reading `margin`
// pixels around them: the lines found there are taken out of the filtering
// (their pixels and the one around each weigh nothing, so that no line
// spreads into the tone beside it) and keep their own pixels.
struct Filter {
  double strength;
  int32_t step, radius, length, threshold, margin;
  int32_t width, height;  // of the page
  Lattice lattice;
};

// Blue, green and red of the pixel at `p` and 0.
inline __m128 PixelOf(const uint8_t* p) {
  // Put together in a register (a copy through memory would stall on the
  // narrower stores it reads back).
  const int32_t bytes = p[0] | (p[1] << 8) | (p[2] << 16);
  const __m128i zero = _mm_setzero_si128();
  const __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
  return _mm_cvtepi32_ps(v);
}

// The page as it was before any part of it was filtered: each band of
// parts is written straight to the page, so its rows and the `margin` rows
// above it (which the band before may have written) are kept as they were
// before it is; the rows below it are still the page's.
class Source {
 public:
  Source(const DibImage& image, int32_t margin)
      : m_image(image), m_bytes(3 * static_cast<size_t>(image.Width())), m_margin(margin) {}
  const uint8_t* Row(int32_t y) const {
    if (y >= m_top && y < m_bottom) return m_kept.data() + static_cast<size_t>(y - m_top) * m_bytes;
    return m_image.Row(y);
  }
  // Keeps rows [top - margin, bottom) as they are now, before the band
  // [top, bottom) is written; `spare` takes the rows kept before.
  void Keep(int32_t top, int32_t bottom) {
    const int32_t from = std::max(0, top - m_margin);
    m_spare.resize(static_cast<size_t>(bottom - from) * m_bytes);
    for (int32_t y = from; y < bottom; ++y) {
      std::memcpy(m_spare.data() + static_cast<size_t>(y - from) * m_bytes, Row(y), m_bytes);
    }
    std::swap(m_kept, m_spare);
    m_top = from;
    m_bottom = bottom;
  }

 private:
  const DibImage& m_image;
  size_t m_bytes;
  int32_t m_margin, m_top = 0, m_bottom = 0;
  std::vector<uint8_t> m_kept, m_spare;
};

// What FilterPart works in, kept from one part to the next.
struct Workspace {
  std::vector<uint8_t> luma, dark, line, wide, ahead, across;
  std::vector<uint8_t> screen;  // how much each pixel is the screen, 0 to 255
  std::vector<float> a;         // the squares' sums boxed both ways
  std::vector<float> tx, weights, upper, lower;
  std::vector<int32_t> left, right;
  std::vector<int32_t> pixels;  // a row's pixels' values, four each
  BoxSumRings rings;
  BoxSumStream down;
};

// Where FilterPart works: the pixels filtered, the first pixel it reads and
// how many it reads across, the squares' plane.
struct Part {
  int32_t x0, y0, x1, y1, rx0, ry0, rw, lw, lh;
};

// A row of pixels to write back: the rows of squares taken across above
// and below it, the cells' weights, the lines, how many, how far down from
// the upper row to the lower, the strength.
struct BackRow {
  const float *top, *bottom, *weights;  // the cells' weights, times how much
  const uint8_t *screen, *line;         // the pixel is the screen (0 to 255)
  size_t n;
  float ty;
  double strength;
};

// Pixel x of the row at `p`: the weighted mean of its surroundings, mixed in.
inline float ScreenShare(uint8_t screen) { return static_cast<float>(screen) * (1.0F / 255); }
inline void BackPixel(const BackRow& r, size_t x, uint8_t* p) {
  const float mix = r.weights[x] * ScreenShare(r.screen[x]);
  if (mix <= 0 || r.line[x] != 0) return;
  const __m128 upper = _mm_loadu_ps(r.top + 4 * x), lower = _mm_loadu_ps(r.bottom + 4 * x);
  const __m128 sum = _mm_add_ps(upper, _mm_mul_ps(_mm_set1_ps(r.ty), _mm_sub_ps(lower, upper)));
  const __m128 weight = _mm_shuffle_ps(sum, sum, _MM_SHUFFLE(3, 3, 3, 3));
  if (_mm_cvtss_f32(weight) < 0.5F) return;  // nothing but lines around
  const __m128 mean = _mm_mul_ps(sum, _mm_div_ps(_mm_set1_ps(1), weight));
  const __m128 was = PixelOf(p);
  const __m128 k = _mm_mul_ps(_mm_set1_ps(static_cast<float>(r.strength)), _mm_set1_ps(mix));
  const __m128i v = _mm_cvtps_epi32(_mm_add_ps(was, _mm_mul_ps(k, _mm_sub_ps(mean, was))));
  const auto bytes =
      static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(v, v), v)));
  p[0] = static_cast<uint8_t>(bytes);
  p[1] = static_cast<uint8_t>(bytes >> 8);
  p[2] = static_cast<uint8_t>(bytes >> 16);
}

// The pixels of the row at `p`, as BackPixel.
void BackPixels(const BackRow& r, uint8_t* p);
#if defined(INKBRITE_DESCREEN_AVX2)
// Eight pixels' values (`out`, two pixels a register) as bytes into the
// 24 at `q`, those whose bit is set in `bits`; `bytes` holds the 24 (and
// 8 after) as they were.
__attribute__((target("avx2"))) inline void WriteEight(const __m256i (&out)[4], int bits,
                                                       __m128i (&bytes)[2], uint8_t* q) {
  // Which bytes of a group of four pixels are the pixels of bits 0 to 15.
  static const std::array<std::array<uint8_t, 16>, 16> kKeep = [] {
    std::array<std::array<uint8_t, 16>, 16> m{};
    for (size_t b = 0; b < 16; ++b) {
      for (size_t i = 0; i < 12; ++i) m[b][i] = (b >> (i / 3) & 1) != 0 ? 0xFF : 0;
    }
    return m;
  }();
  const __m128i gather =
      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  for (size_t h = 0; h < 2; ++h) {
    const __m256i a = out[2 * h], b = out[2 * h + 1];
    const __m128i words0 =
        _mm_packs_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    const __m128i words1 =
        _mm_packs_epi32(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1));
    const __m128i made = _mm_shuffle_epi8(_mm_packus_epi16(words0, words1), gather);
    const __m128i keep = _mm_loadu_si128(
        reinterpret_cast<const __m128i*>(kKeep[static_cast<size_t>(bits >> (4 * h) & 15)].data()));
    bytes[h] = _mm_blendv_epi8(bytes[h], made, keep);
  }
  // The second group's twelve bytes as eight and four: a store past them
  // would meet the next eight pixels' load, which then waits for it.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(q), bytes[0]);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(q + 12), bytes[1]);
  const auto last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bytes[1], 8)));
  std::memcpy(q + 20, &last, 4);
}

// The same eight pixels at a time, the same operations on each's four
// values, two pixels to a register. Reads the bytes of the two pixels after
// the eight.
__attribute__((target("avx2"))) void BackPixelsWide(const BackRow& r, uint8_t* p) {
  // A group of four pixels' bytes spread to four bytes each (0 after them).
  const __m128i spread =
      _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
  const __m256 ty = _mm256_set1_ps(r.ty), strength = _mm256_set1_ps(static_cast<float>(r.strength));
  const __m256 zero = _mm256_setzero_ps(), half = _mm256_set1_ps(0.5F), one = _mm256_set1_ps(1);
  const __m256i pairs[4] = {
      _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1), _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3),
      _mm256_setr_epi32(4, 4, 4, 4, 5, 5, 5, 5), _mm256_setr_epi32(6, 6, 6, 6, 7, 7, 7, 7)};
  size_t x = 0;
  for (; x + 10 <= r.n; x += 8) {
    int64_t screen = 0;
    std::memcpy(&screen, r.screen + x, 8);
    const __m256 weights = _mm256_mul_ps(
        _mm256_loadu_ps(r.weights + x),
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(screen))),
                      _mm256_set1_ps(1.0F / 255)));
    int64_t lines = 0;
    std::memcpy(&lines, r.line + x, 8);
    const __m256i noLine =
        _mm256_cvtepi8_epi32(_mm_cmpeq_epi8(_mm_cvtsi64_si128(lines), _mm_setzero_si128()));
    const __m256 use =
        _mm256_and_ps(_mm256_cmp_ps(weights, zero, _CMP_GT_OQ), _mm256_castsi256_ps(noLine));
    if (_mm256_movemask_ps(use) == 0) continue;
    uint8_t* q = p + 3 * x;
    __m128i bytes[2] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 12))};
    __m256 sums[4];
    for (size_t g = 0; g < 4; ++g) {
      const size_t at = x + 2 * g;
      const __m256 upper = _mm256_loadu_ps(r.top + 4 * at);
      const __m256 lower = _mm256_loadu_ps(r.bottom + 4 * at);
      sums[g] = _mm256_add_ps(upper, _mm256_mul_ps(ty, _mm256_sub_ps(lower, upper)));
    }
    // The eight weights in one register (pixels 0, 2, 4, 6, then 1, 3, 5,
    // 7), divided into 1 at once.
    const __m256 weight = _mm256_shuffle_ps(
        _mm256_shuffle_ps(sums[0], sums[1], _MM_SHUFFLE(3, 3, 3, 3)),
        _mm256_shuffle_ps(sums[2], sums[3], _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 inverse = _mm256_div_ps(one, weight);
    const __m256 inverses[4] = {_mm256_permute_ps(inverse, 0x00), _mm256_permute_ps(inverse, 0x55),
                                _mm256_permute_ps(inverse, 0xAA), _mm256_permute_ps(inverse, 0xFF)};
    __m256i out[4];
    for (size_t g = 0; g < 4; ++g) {
      const __m256 mean = _mm256_mul_ps(sums[g], inverses[g]);
      const __m128i four = _mm_shuffle_epi8(bytes[g / 2], spread);
      const __m256 was =
          _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(g % 2 == 0 ? four : _mm_srli_si128(four, 8)));
      const __m256 k = _mm256_mul_ps(strength, _mm256_permutevar8x32_ps(weights, pairs[g]));
      out[g] = _mm256_cvtps_epi32(_mm256_add_ps(was, _mm256_mul_ps(k, _mm256_sub_ps(mean, was))));
    }
    // Whether each pixel has more than lines around, back in the pixels'
    // order.
    const auto e =
        static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(weight, half, _CMP_GE_OQ)));
    int enoughBits = 0;
    for (unsigned i = 0; i < 4; ++i) {
      enoughBits |= static_cast<int>((e >> i & 1) << (2 * i) | (e >> (4 + i) & 1) << (2 * i + 1));
    }
    WriteEight(out, _mm256_movemask_ps(use) & enoughBits, bytes, q);
  }
  for (; x < r.n; ++x) BackPixel(r, x, p + 3 * x);
}
void BackPixels(const BackRow& r, uint8_t* p) {
  if (HasAvx2()) {
    BackPixelsWide(r, p);
    return;
  }
  for (size_t x = 0; x < r.n; ++x) BackPixel(r, x, p + 3 * x);
}
#else
void BackPixels(const BackRow& r, uint8_t* p) {
  for (size_t x = 0; x < r.n; ++x) BackPixel(r, x, p + 3 * x);
}
#endif

// A row of squares (four values each) taken across to `n` pixels, each
// between the squares `left` and `right` of it, `tx` of the way to the
// second, into `o`.
inline void AcrossPixel(const float* row, const int32_t* left, const int32_t* right,
                        const float* tx, size_t x, float* o) {
  const __m128 t0 = _mm_loadu_ps(row + 4 * static_cast<size_t>(left[x]));
  const __m128 t1 = _mm_loadu_ps(row + 4 * static_cast<size_t>(right[x]));
  _mm_storeu_ps(o + 4 * x, _mm_add_ps(t0, _mm_mul_ps(_mm_set1_ps(tx[x]), _mm_sub_ps(t1, t0))));
}
#if defined(INKBRITE_DESCREEN_AVX2)
// The same two pixels to a register.
__attribute__((target("avx2"))) void AcrossWide(const float* row, const int32_t* left,
                                                const int32_t* right, const float* tx, size_t n,
                                                float* o) {
  const auto square = [row](int32_t i) { return row + 4 * static_cast<size_t>(i); };
  size_t x = 0;
  for (; x + 2 <= n; x += 2) {
    const __m256 t0 = _mm256_loadu2_m128(square(left[x + 1]), square(left[x]));
    const __m256 t1 = _mm256_loadu2_m128(square(right[x + 1]), square(right[x]));
    const __m256 t = _mm256_set_m128(_mm_set1_ps(tx[x + 1]), _mm_set1_ps(tx[x]));
    _mm256_storeu_ps(o + 4 * x, _mm256_add_ps(t0, _mm256_mul_ps(t, _mm256_sub_ps(t1, t0))));
  }
  for (; x < n; ++x) AcrossPixel(row, left, right, tx, x, o);
}
#endif
void Across(const float* row, const int32_t* left, const int32_t* right, const float* tx, size_t n,
            float* o) {
#if defined(INKBRITE_DESCREEN_AVX2)
  if (HasAvx2()) {
    AcrossWide(row, left, right, tx, n, o);
    return;
  }
#endif
  for (size_t x = 0; x < n; ++x) AcrossPixel(row, left, right, tx, x, o);
}

// Writes the filter's result back: each pixel between the four squares'
// centres around it, mixed in by the strength and the cells' weight. A row
// of squares is taken across to the pixels once (`TakenAcross`) and serves
// every row of pixels between its centre and the next ones'. The rows of
// pixels are written as soon as their squares are done, while those are
// still in the cache.
class ReadBack {
 public:
  ReadBack(DibImage& image, const ScreenCells& cells, const Filter& f, const Part& part,
           Workspace& work)
      : m_image(image), m_cells(cells), m_f(f), m_part(part), m_work(work), m_y(part.y0) {
    const auto across = static_cast<size_t>(part.x1 - part.x0);
    work.left.resize(across);
    work.right.resize(across);
    work.tx.resize(across);
    for (size_t i = 0; i < across; ++i) {
      Between(part.x0 + static_cast<int32_t>(i) - part.rx0, part.lw, work.left[i], work.right[i],
              work.tx[i]);
    }
    work.upper.resize(4 * across);
    work.lower.resize(4 * across);
    m_held = {work.upper.data(), work.lower.data()};
  }

  // Writes the rows of pixels whose squares lie in rows [0, ready).
  void UpTo(int32_t ready) {
    for (; m_y < m_part.y1; ++m_y) {
      int32_t j0 = 0, j1 = 0;
      float ty = 0;
      Between(m_y - m_part.ry0, m_part.lh, j0, j1, ty);
      if (j1 >= ready) return;
      Row(m_y, j0, j1, ty);
    }
  }

 private:
  // The squares whose centres are at or before pixel `at` and after it, and
  // how far it is from the first to the second.
  void Between(int32_t at, int32_t n, int32_t& i0, int32_t& i1, float& t) const {
    const int32_t d = m_f.step;
    const float c = (static_cast<float>(at) + 0.5F) / static_cast<float>(d) - 0.5F;
    i0 = std::clamp(static_cast<int32_t>(std::floor(c)), 0, n - 1);
    i1 = std::min(n - 1, i0 + 1);
    t = std::clamp(c - static_cast<float>(i0), 0.0F, 1.0F);
  }

  // Row j of squares taken across to the pixels; of the two rows held, the
  // one not `keep` gives way.
  const float* TakenAcross(int32_t j, int32_t keep) {
    for (int k = 0; k < 2; ++k) {
      if (m_heldRow[k] == j) return m_held[k];
    }
    const int k = m_heldRow[0] == keep ? 1 : 0;
    m_heldRow[k] = j;
    const float* row =
        m_work.a.data() + static_cast<size_t>(j) * 4 * static_cast<size_t>(m_part.lw);
    Across(row, m_work.left.data(), m_work.right.data(), m_work.tx.data(), m_work.left.size(),
           m_held[k]);
    return m_held[k];
  }

  void Row(int32_t y, int32_t j0, int32_t j1, float ty) {
    const Part& part = m_part;
    std::vector<float>& weights = m_work.weights;
    m_cells.RowWeights(y, part.x0, part.x1, weights);
    const size_t at = static_cast<size_t>(y - part.ry0) * static_cast<size_t>(part.rw) +
                      static_cast<size_t>(part.x0 - part.rx0);
    // Squares of one pixel are the pixels: their rows need no taking
    // across, and a pixel lies on its own row (ty 0, so the rows below
    // count for nothing: the same sums).
    const float* top =
        m_f.step == 1
            ? m_work.a.data() + 4 * (static_cast<size_t>(j0) * part.lw + (part.x0 - part.rx0))
            : TakenAcross(j0, j1);
    const float* bottom = m_f.step == 1 ? top : TakenAcross(j1, j0);
    uint8_t* p = m_image.Row(y) + 3 * static_cast<size_t>(part.x0);
    const BackRow row{top,
                      bottom,
                      weights.data(),
                      m_work.screen.data() + at,
                      m_work.line.data() + at,
                      weights.size(),
                      ty,
                      m_f.strength};
    BackPixels(row, p);
  }

  DibImage& m_image;
  const ScreenCells& m_cells;
  const Filter& m_f;
  Part m_part;
  Workspace& m_work;
  int32_t m_y;
  std::array<float*, 2> m_held{};
  std::array<int32_t, 2> m_heldRow{-1, -1};
};

// Adds the values of `n` pixels of one (`v`, four int32 each) into the
// squares of `d` of them at `o`.
void AddToSquares(const int32_t* v, int32_t n, int32_t d, int32_t* o) {
  const auto load = [](const int32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  for (int32_t x0 = 0; x0 < n; x0 += d, o += 4) {
    const int32_t end = std::min(n, x0 + d);
    __m128i sum = load(o);
    for (int32_t x = x0; x < end; ++x)
      sum = _mm_add_epi32(sum, load(v + 4 * static_cast<size_t>(x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), sum);
  }
}

// Squares of two or four pixels across and as many rows down, from the
// start of rows `rows` (with their masks `masks`), into `o`: how many
// pixels were taken (a multiple of four; 0 for other squares or without
// AVX2). Each pixel's bytes and a 1, or 0s where masked, next to its
// neighbour's, summed in pairs as words (at most 16 pixels' bytes: no word
// overflows); the rows' words added, the pairs of a square of four too, and
// widened.
int32_t PairSquares(const uint8_t* const* rows, const uint8_t* const* masks, int32_t d, int32_t n,
                    int32_t* o);
#if defined(INKBRITE_DESCREEN_AVX2)
// One row's four pixels from x, as two pairs' words.
__attribute__((target("avx2"))) inline __m128i PairWords(const uint8_t* r, const uint8_t* m,
                                                         int32_t x) {
  const __m128i pairs = _mm_setr_epi8(0, 3, 1, 4, 2, 5, -128, -128, 6, 9, 7, 10, 8, 11, -128, -128);
  const __m128i counts = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1);
  const __m128i keeps = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3);
  const __m128i pixels =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 3 * static_cast<size_t>(x)));
  const __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(pixels, pairs), counts);
  int32_t four = 0;
  std::memcpy(&four, m + x, 4);
  const __m128i keep =
      _mm_shuffle_epi8(_mm_cmpeq_epi8(_mm_cvtsi32_si128(four), _mm_setzero_si128()), keeps);
  return _mm_maddubs_epi16(_mm_and_si128(bytes, keep), _mm_set1_epi8(1));
}
__attribute__((target("avx2"))) int32_t PairSquaresWide(const uint8_t* const* rows,
                                                        const uint8_t* const* masks, int32_t d,
                                                        int32_t n, int32_t* o) {
  int32_t x = 0;
  // The 16 bytes read from pixel x stay inside the row.
  for (; x + 6 <= n; x += 4) {
    __m128i words = PairWords(rows[0], masks[0], x);
    for (int32_t r = 1; r < d; ++r) words = _mm_add_epi16(words, PairWords(rows[r], masks[r], x));
    if (d == 2) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 2 * static_cast<size_t>(x)),
                          _mm256_cvtepu16_epi32(words));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x),
                       _mm_cvtepu16_epi32(_mm_add_epi16(words, _mm_srli_si128(words, 8))));
    }
  }
  return x;
}
int32_t PairSquares(const uint8_t* const* rows, const uint8_t* const* masks, int32_t d, int32_t n,
                    int32_t* o) {
  return (d == 2 || d == 4) && HasAvx2() ? PairSquaresWide(rows, masks, d, n, o) : 0;
}
#else
int32_t PairSquares(const uint8_t* const*, const uint8_t* const*, int32_t, int32_t, int32_t*) {
  return 0;
}
#endif

// Row j of the squares of `d` pixels of the part from (rx0, ry0), `rw` x
// `rh` pixels, into `o` (4 lw int32): each square's blue, green, red and
// how many pixels, but those `masked`. Squares of one pixel are the pixels.
void SquareRow(const Source& image, const std::vector<uint8_t>& masked, int32_t rx0, int32_t ry0,
               int32_t rw, int32_t rh, int32_t d, int32_t j, int32_t* o,
               std::vector<int32_t>& pixels) {
  const size_t sw = static_cast<size_t>(rw);
  if (d == 1) {
    PixelSquares(image.Row(ry0 + j) + 3 * static_cast<size_t>(rx0),
                 masked.data() + static_cast<size_t>(j) * sw, rw, o);
    return;
  }
  const int32_t lw = (rw + d - 1) / d;
  std::fill(o, o + 4 * static_cast<size_t>(lw), 0);
  const auto rowAt = [&](int32_t y) { return image.Row(ry0 + y) + 3 * static_cast<size_t>(rx0); };
  const auto maskAt = [&](int32_t y) { return masked.data() + static_cast<size_t>(y) * sw; };
  const int32_t y0 = j * d, y1 = std::min(rh, y0 + d);
  // Whole squares of two or four mostly at once, the rest pixel by pixel.
  int32_t done = 0;
  if (y1 - y0 == d && d <= 4) {
    std::array<const uint8_t*, 4> rows{}, masks{};
    for (int32_t y = y0; y < y1; ++y) {
      rows[static_cast<size_t>(y - y0)] = rowAt(y);
      masks[static_cast<size_t>(y - y0)] = maskAt(y);
    }
    done = PairSquares(rows.data(), masks.data(), d, rw, o);
  }
  pixels.resize(4 * sw);
  for (int32_t y = y0; y < y1; ++y) {
    PixelSquares(rowAt(y) + 3 * static_cast<size_t>(done), maskAt(y) + done, rw - done,
                 pixels.data());
    AddToSquares(pixels.data(), rw - done, d, o + 4 * static_cast<size_t>(done / d));
  }
}

// 1 where a byte is below `threshold`, else 0.
[[gnu::always_inline]] inline void DarkerLoop(const uint8_t* __restrict l, int32_t n,
                                              uint8_t threshold, uint8_t* __restrict o) {
  for (int32_t x = 0; x < n; ++x) o[x] = static_cast<uint8_t>(l[x] < threshold ? 1 : 0);
}
INKBRITE_TWICE(Darker,
               (const uint8_t* __restrict l, int32_t n, uint8_t threshold, uint8_t* __restrict o),
               (l, n, threshold, o))

void FilterPart(const Source& image, DibImage& page, const ScreenCells& cells, const Filter& f,
                int32_t x0, int32_t y0, int32_t x1, int32_t y1, Workspace& work) {
  const int32_t d = f.step;
  // The part read starts on the page's grid of squares.
  const int32_t rx0 = std::max(0, x0 - f.margin) / d * d;
  const int32_t ry0 = std::max(0, y0 - f.margin) / d * d;
  const int32_t rx1 = std::min(f.width, x1 + f.margin);
  const int32_t ry1 = std::min(f.height, y1 + f.margin);
  const int32_t rw = rx1 - rx0, rh = ry1 - ry0;
  const size_t sw = static_cast<size_t>(rw), count = sw * static_cast<size_t>(rh);
  std::vector<uint8_t>&dark = work.dark, &line = work.line, &wide = work.wide;
  dark.resize(count);
  work.luma.resize(count);
  const auto threshold = static_cast<uint8_t>(std::clamp(f.threshold, 0, 255));
  for (int32_t y = 0; y < rh; ++y) {
    if (y + kFetchAhead < rh) {
      FetchAhead(image.Row(ry0 + y + kFetchAhead) + 3 * static_cast<size_t>(rx0), 3 * sw);
    }
    uint8_t* l = work.luma.data() + static_cast<size_t>(y) * sw;
    LumaRow(image.Row(ry0 + y) + 3 * static_cast<size_t>(rx0), l, rw);
    Darker(l, rw, threshold, dark.data() + static_cast<size_t>(y) * sw);
  }
  MarkLines(dark, rw, rh, f.length, line, work.ahead);
  Widen(line, rw, rh, wide, work.across);
  MarkScreen(work.luma, rw, rh, f.lattice, work.screen, work.across);
  // Blue, green, red and the weight (0 on and beside the lines), each
  // colour times its weight, summed over the squares (in integers, exact);
  // the filter's sums of both give the weighted mean.
  // A row of squares at a time: summed, its three boxes across in place,
  // then into the three down.
  const int32_t lw = (rw + d - 1) / d, lh = (rh + d - 1) / d;
  const size_t pitch = 4 * static_cast<size_t>(lw);
  work.a.resize(pitch * static_cast<size_t>(lh));
  work.down.Start(lh, pitch, f.radius, work.a.data(), pitch);
  ReadBack back(page, cells, f, {x0, y0, x1, y1, rx0, ry0, rw, lw, lh}, work);
  for (int32_t j = 0; j < lh; ++j) {
    SquareRow(image, wide, rx0, ry0, rw, rh, d, j, TripleBoxRowInput(lw, f.radius, work.rings),
              work.pixels);
    TripleBoxRowSums(work.down.Next(), 4, lw, f.radius, work.rings);
    work.down.Advance();
    back.UpTo(work.down.Done());
  }
  work.down.Finish();
  back.UpTo(lh);
}

bool Usable(const DibImage& image) {
  return image.Is24Bit() && image.Width() >= 16 && image.Height() >= 16;
}

}  // namespace

ScreenFound FindScreen(const DibImage& image, int keepPeriod) {
  if (!Usable(image)) return {};
  try {
    return Describe(SearchPage(image).lattice, keepPeriod);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

ScreenFound Descreen(DibImage& image, int strength, int keepPeriod, DescreenPath path) {
#if defined(INKBRITE_DESCREEN_AVX2)
  struct Loops {
    bool was = tPlainLoops;
    explicit Loops(bool plain) { tPlainLoops = plain; }
    Loops(const Loops&) = delete;
    Loops& operator=(const Loops&) = delete;
    ~Loops() { tPlainLoops = was; }
  } loops(path == DescreenPath::kPlain);
#else
  (void)path;
#endif
  strength = std::clamp(strength, 0, 100);
  if (strength == 0 || !Usable(image)) return {};
  try {
    const Search search = SearchPage(image);
    ScreenFound found = Describe(search.lattice, keepPeriod);
    if (!found.found || found.kept) return found;
    const ScreenCells cells(image, search.lattice);
    if (!cells.Any()) return {};  // in no part of the page
    Filter f{};
    f.strength = strength / 100.0;
    f.step = StepFor(found.period);
    f.radius = BoxRadius(found.period, f.step);
    f.length = static_cast<int32_t>(std::ceil(2 * found.period));
    f.threshold = search.threshold;
    f.margin = (3 * f.radius + 2) * f.step + f.length + 2;
    found.harmonics = Harmonics(search.lattice, f.step, f.radius);
    f.width = image.Width();
    f.height = image.Height();
    f.lattice = search.lattice;
    Workspace work;
    Source source(image, f.margin);
    // Runs of up to four rows of cells with some filtered, and in them runs
    // of up to eight columns; each band of them filtered from the page as it
    // was and written when done.
    const auto columnFiltered = [&cells](int32_t i, int32_t j0, int32_t j1) {
      for (int32_t j = j0; j < j1; ++j) {
        if (cells.Filtered(i, j)) return true;
      }
      return false;
    };
    for (int32_t j = 0; j < cells.Down();) {
      bool any = false;
      for (int32_t i = 0; i < cells.Across() && !any; ++i) any = cells.Filtered(i, j);
      if (!any) {
        ++j;
        continue;
      }
      int32_t j1 = j + 1;
      const auto rowFiltered = [&cells](int32_t row) {
        for (int32_t i = 0; i < cells.Across(); ++i) {
          if (cells.Filtered(i, row)) return true;
        }
        return false;
      };
      while (j1 < cells.Down() && j1 - j < kPartCells && rowFiltered(j1)) ++j1;
      const int32_t top = cells.Top(j), bottom = cells.Top(j1);
      source.Keep(top, bottom);
      for (int32_t i = 0; i < cells.Across();) {
        if (!columnFiltered(i, j, j1)) {
          ++i;
          continue;
        }
        int32_t i1 = i + 1;
        while (i1 < cells.Across() && i1 - i < 2 * kPartCells && columnFiltered(i1, j, j1)) ++i1;
        FilterPart(source, image, cells, f, cells.Left(i), top, cells.Left(i1), bottom, work);
        i = i1;
      }
      j = j1;
    }
    return found;
  } catch (const std::bad_alloc&) {
    return {};  // no memory: the page as it was (or with its first bands done)
  }
}

}  // namespace inkbrite
