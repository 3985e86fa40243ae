// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/descreen.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "core/scan_analysis.h"

namespace inkbrite {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFinestPeriod = 2.5;
constexpr double kCoarsestPeriod = 32;
constexpr int kHighestOrder = 10;  // harmonics m u + n v with |m|, |n| up to this
constexpr float kPeakOverGround = 20;

// FFTW's planner is not thread-safe (executing a plan is).
std::mutex& PlannerMutex() {
  static std::mutex mutex;
  return mutex;
}

// The smallest size from `n` up whose factors are 2, 3, 5 and 7.
int32_t NiceSize(int32_t n) {
  for (int32_t m = n;; ++m) {
    int32_t k = m;
    for (int32_t p : {2, 3, 5, 7}) {
      while (k % p == 0) k /= p;
    }
    if (k == 1) return m;
  }
}

template <typename T>
struct FftwFree {
  void operator()(T* p) const { fftwf_free(p); }
};

// One padded plane, its half spectrum and the two plans between them.
class Spectrum {
 public:
  Spectrum(int32_t width, int32_t height) : w(NiceSize(width)), h(NiceSize(height)), cw(w / 2 + 1) {
    const size_t reals = static_cast<size_t>(w) * static_cast<size_t>(h);
    const size_t bins = static_cast<size_t>(cw) * static_cast<size_t>(h);
    m_real.reset(static_cast<float*>(fftwf_malloc(sizeof(float) * reals)));
    m_freq.reset(static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * bins)));
    if (!m_real || !m_freq) throw std::bad_alloc();
    const std::lock_guard<std::mutex> lock(PlannerMutex());
    m_forward = fftwf_plan_dft_r2c_2d(h, w, m_real.get(), m_freq.get(), FFTW_ESTIMATE);
    m_inverse = fftwf_plan_dft_c2r_2d(h, w, m_freq.get(), m_real.get(), FFTW_ESTIMATE);
    if (m_forward == nullptr || m_inverse == nullptr) {
      Destroy();
      throw std::bad_alloc();
    }
  }
  ~Spectrum() {
    const std::lock_guard<std::mutex> lock(PlannerMutex());
    Destroy();
  }
  Spectrum(const Spectrum&) = delete;
  Spectrum& operator=(const Spectrum&) = delete;

  float* Real() { return m_real.get(); }
  fftwf_complex* Freq() { return m_freq.get(); }
  void Forward() { fftwf_execute(m_forward); }
  void Inverse() { fftwf_execute(m_inverse); }

  const int32_t w, h, cw;

 private:
  void Destroy() {
    if (m_forward != nullptr) fftwf_destroy_plan(m_forward);
    if (m_inverse != nullptr) fftwf_destroy_plan(m_inverse);
    m_forward = m_inverse = nullptr;
  }
  std::unique_ptr<float, FftwFree<float>> m_real;
  std::unique_ptr<fftwf_complex, FftwFree<fftwf_complex>> m_freq;
  fftwf_plan m_forward = nullptr;
  fftwf_plan m_inverse = nullptr;
};

// Channel `channel` of the page (blue, green, red; -1: lightness) into the
// padded plane, its edge pixels repeated into the padding.
void Load(const DibImage& image, int channel, Spectrum& s) {
  const int32_t width = image.Width(), height = image.Height();
  for (int32_t y = 0; y < s.h; ++y) {
    const uint8_t* row = image.Row(std::min(y, height - 1));
    float* out = s.Real() + static_cast<size_t>(y) * static_cast<size_t>(s.w);
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = row + 3 * static_cast<size_t>(x);
      out[x] = static_cast<float>(channel < 0 ? Luma(p[0], p[1], p[2]) : p[channel]);
    }
    std::fill(out + width, out + s.w, out[width - 1]);
  }
}

// A bin of the half spectrum: kx from 0 to cw - 1, ky signed.
struct Bin {
  int32_t kx, ky;
};

class PowerMap {
 public:
  PowerMap(Spectrum& s, std::vector<float>& power) : m_s(s), m_power(power) {
    const size_t bins = static_cast<size_t>(s.cw) * static_cast<size_t>(s.h);
    power.resize(bins);
    const fftwf_complex* f = s.Freq();
    for (size_t i = 0; i < bins; ++i) power[i] = f[i][0] * f[i][0] + f[i][1] * f[i][1];
  }
  // The power at a bin anywhere in the plane (the other half by symmetry).
  float At(int32_t kx, int32_t ky) const {
    if (kx < 0) {
      kx = -kx;
      ky = -ky;
    }
    if (kx >= m_s.cw) return 0;
    ky = ((ky % m_s.h) + m_s.h) % m_s.h;
    return m_power[static_cast<size_t>(ky) * static_cast<size_t>(m_s.cw) + static_cast<size_t>(kx)];
  }
  // Cycles a pixel of a bin, across and down.
  double Fx(double kx) const { return kx / m_s.w; }
  double Fy(double ky) const { return ky / m_s.h; }
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
  int32_t Width() const { return m_s.w; }
  int32_t Height() const { return m_s.h; }
  int32_t HalfWidth() const { return m_s.cw; }

 private:
  Spectrum& m_s;
  const std::vector<float>& m_power;
};

// Bins from a frequency (cycles a pixel) and back.
Bin ToBin(const PowerMap& m, double fx, double fy) {
  return {static_cast<int32_t>(std::lround(fx * m.Width())),
          static_cast<int32_t>(std::lround(fy * m.Height()))};
}
int32_t BinsFor(const PowerMap& m, double f) {
  return std::max<int32_t>(2, static_cast<int32_t>(f * std::min(m.Width(), m.Height())));
}

// The lattice of a screen: its base frequencies (v zero for a line screen).
struct Lattice {
  bool found = false;
  double ux = 0, uy = 0, vx = 0, vy = 0;
};

// The strongest isolated local peak between the finest and coarsest period,
// then its partner a quarter turn away.
Lattice FindLattice(const PowerMap& m) {
  const double lo = 1 / kCoarsestPeriod, hi = 1 / kFinestPeriod;
  Bin best{0, 0};
  float bestPower = 0;
  for (int32_t ky = -m.Height() / 2; ky < (m.Height() + 1) / 2; ++ky) {
    for (int32_t kx = 0; kx < m.HalfWidth(); ++kx) {
      const float p = m.At(kx, ky);
      if (p <= bestPower) continue;
      const double f = std::hypot(m.Fx(kx), m.Fy(ky));
      if (f < lo || f > hi) continue;
      const Bin b{kx, ky};
      const Bin top = m.Strongest(b, 1);
      if (top.kx != kx || top.ky != ky) continue;
      if (!m.Isolated(b, BinsFor(m, 0.2 * f))) continue;
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
  lattice.ux = m.Fx(best.kx);
  lattice.uy = m.Fy(best.ky);
  const double f = std::hypot(lattice.ux, lattice.uy);
  const Bin v = m.Strongest(ToBin(m, -lattice.uy, lattice.ux), BinsFor(m, 0.05 * f));
  lattice.vx = m.Fx(v.kx);
  lattice.vy = m.Fy(v.ky);
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

// Multiplies the gains within the notch around frequency (fx, fy).
void Notch(const PowerMap& m, std::vector<float>& gain, double fx, double fy, double r0,
           double sigma, double strength) {
  for (const double sign : {1.0, -1.0}) {
    const double cx = sign * fx * m.Width(), cy = sign * fy * m.Height();
    const double reach = r0 + 3 * sigma;
    const auto x0 = std::max<int32_t>(0, static_cast<int32_t>(std::floor(cx - reach * m.Width())));
    const auto x1 = std::min<int32_t>(m.HalfWidth() - 1,
                                      static_cast<int32_t>(std::ceil(cx + reach * m.Width())));
    const auto y0 = static_cast<int32_t>(std::floor(cy - reach * m.Height()));
    const auto y1 = static_cast<int32_t>(std::ceil(cy + reach * m.Height()));
    for (int32_t ky = y0; ky <= y1; ++ky) {
      const int32_t row = ((ky % m.Height()) + m.Height()) % m.Height();
      float* g = gain.data() + static_cast<size_t>(row) * static_cast<size_t>(m.HalfWidth());
      for (int32_t kx = x0; kx <= x1; ++kx) {
        const double d = std::hypot((kx - cx) / m.Width(), (ky - cy) / m.Height());
        if (d > reach) continue;
        const double edge = d <= r0 ? 1 : std::exp(-(d - r0) * (d - r0) / (2 * sigma * sigma));
        g[kx] *= static_cast<float>(1 - strength * edge);
      }
    }
  }
}

// The gains of every harmonic of the lattice that stands out, folded into
// the band the pixels hold (a screen's harmonics above the Nyquist frequency
// alias back onto the lattice's points there); returns how many were
// notched.
int BuildGains(const PowerMap& m, const Lattice& l, double strength, std::vector<float>& gain) {
  std::fill(gain.begin(), gain.end(), 1.0F);
  const double f = std::hypot(l.ux, l.uy);
  const double r0 = 0.08 * f, sigma = 0.05 * f;
  int notched = 0;
  for (int a = 0; a <= kHighestOrder; ++a) {
    for (int b = -kHighestOrder; b <= kHighestOrder; ++b) {
      if (a == 0 && b <= 0) continue;  // each pair m, -m once
      double fx = a * l.ux + b * l.vx, fy = a * l.uy + b * l.vy;
      fx -= std::nearbyint(fx);
      fy -= std::nearbyint(fy);
      const double hf = std::hypot(fx, fy);
      if (hf < 0.3 * f) continue;  // the page's own tones live there
      // Follow the peak where the screen drifts from the exact lattice.
      const Bin top =
          m.Strongest(ToBin(m, fx, fy), BinsFor(m, 0.01 * (std::abs(a) + std::abs(b)) * f) / 2 + 1);
      if (!m.Isolated(top, BinsFor(m, 0.2 * f), 4)) continue;
      Notch(m, gain, m.Fx(top.kx), m.Fy(top.ky), r0, sigma, strength);
      ++notched;
    }
  }
  return notched;
}

// The pixels of the page's lines: dark pixels (below the level halfway
// between the page's darkest and lightest few per cent) in a run of at
// least `length` dark pixels across, down or along a diagonal, which the
// dots of a screen are not.
std::vector<uint8_t> LinePixels(const DibImage& image, int32_t length) {
  const int32_t w = image.Width(), h = image.Height();
  std::vector<uint8_t> dark(static_cast<size_t>(w) * static_cast<size_t>(h));
  std::array<uint32_t, 256> histogram{};
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = image.Row(y);
    for (int32_t x = 0; x < w; ++x, p += 3) {
      const auto v = static_cast<uint8_t>(Luma(p[0], p[1], p[2]));
      dark[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = v;
      ++histogram[v];
    }
  }
  const uint64_t total = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
  uint64_t seen = 0;
  int lo = -1, hi = 255;
  for (int v = 0; v < 256; ++v) {
    seen += histogram[v];
    if (lo < 0 && seen * 50 >= total) lo = v;
    if (seen * 50 >= total * 49) {
      hi = v;
      break;
    }
  }
  const int threshold = (lo + hi) / 2;
  for (uint8_t& v : dark) v = v < threshold ? 1 : 0;
  std::vector<uint8_t> line(dark.size());
  const auto at = [&](int32_t x, int32_t y) {
    return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
  };
  // Each direction's runs, walked from every pixel where one may start.
  for (const auto& [dx, dy] : {std::pair{1, 0}, {0, 1}, {1, 1}, {1, -1}}) {
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const int32_t px = x - dx, py = y - dy;
        if (!dark[at(x, y)] || (px >= 0 && py >= 0 && py < h && dark[at(px, py)])) continue;
        int32_t n = 0;
        for (int32_t u = x, v = y; u < w && v >= 0 && v < h && dark[at(u, v)]; u += dx, v += dy)
          ++n;
        if (n < length) continue;
        for (int32_t k = 0, u = x, v = y; k < n; ++k, u += dx, v += dy) line[at(u, v)] = 1;
      }
    }
  }
  return line;
}

// The mean of a box of (2 r + 1)^2 pixels around each pixel of `plane`
// (w x h, rows `stride` apart), counting only pixels where `mask` is 0.
void FillFromAround(float* plane, size_t stride, int32_t w, int32_t h,
                    const std::vector<uint8_t>& mask, int32_t r) {
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<float> sum(count), weight(count);
  // Across: running sums of each row.
  for (int32_t y = 0; y < h; ++y) {
    const float* in = plane + static_cast<size_t>(y) * stride;
    const uint8_t* m = mask.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    float* s = sum.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    float* n = weight.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    float rs = 0, rn = 0;
    for (int32_t x = -r; x < w; ++x) {
      if (x + r < w && m[x + r] == 0) {
        rs += in[x + r];
        rn += 1;
      }
      if (x - r - 1 >= 0 && m[x - r - 1] == 0) {
        rs -= in[x - r - 1];
        rn -= 1;
      }
      if (x >= 0) {
        s[x] = rs;
        n[x] = rn;
      }
    }
  }
  // Down: running sums of each column, filling the masked pixels.
  std::vector<float> cs(static_cast<size_t>(w)), cn(static_cast<size_t>(w));
  const auto at = [w](int32_t x, int32_t y) {
    return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
  };
  for (int32_t y = -r; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (y + r < h) {
        cs[x] += sum[at(x, y + r)];
        cn[x] += weight[at(x, y + r)];
      }
      if (y - r - 1 >= 0) {
        cs[x] -= sum[at(x, y - r - 1)];
        cn[x] -= weight[at(x, y - r - 1)];
      }
      if (y >= 0 && mask[at(x, y)] != 0 && cn[x] > 0.5F) {
        plane[static_cast<size_t>(y) * stride + static_cast<size_t>(x)] = cs[x] / cn[x];
      }
    }
  }
}

// The lines and the pixel around each, which the filtering does not see.
std::vector<uint8_t> Widened(const std::vector<uint8_t>& line, int32_t w, int32_t h) {
  std::vector<uint8_t> wide(line.size());
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (line[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] == 0) {
        continue;
      }
      for (int32_t v = std::max(0, y - 1); v <= std::min(h - 1, y + 1); ++v) {
        for (int32_t u = std::max(0, x - 1); u <= std::min(w - 1, x + 1); ++u) {
          wide[static_cast<size_t>(v) * static_cast<size_t>(w) + static_cast<size_t>(u)] = 1;
        }
      }
    }
  }
  return wide;
}

// The page's lines, and the same widened by a pixel.
struct Lines {
  bool any = false;
  std::vector<uint8_t> core, wide;
  int32_t radius = 0;  // of the box whose tone fills them
};

bool IsGreyPage(const DibImage& image) {
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* p = image.Row(y);
    for (int32_t x = 0; x < image.Width(); ++x, p += 3) {
      if (p[0] != p[1] || p[1] != p[2]) return false;
    }
  }
  return true;
}

// Filters one channel (or, on a grey page, all three at once) by the gains.
void FilterChannel(DibImage& image, int channel, bool grey, Spectrum& s,
                   const std::vector<float>& gain, const Lines& lines) {
  Load(image, channel, s);
  // The lines (and the pixel around each) are filled with the tone around
  // them before the transform, so that no notch takes a part of their
  // spectrum and rings beside them; they get their own pixels back after.
  if (lines.any)
    FillFromAround(s.Real(), static_cast<size_t>(s.w), image.Width(), image.Height(), lines.wide,
                   lines.radius);
  s.Forward();
  fftwf_complex* f = s.Freq();
  for (size_t i = 0; i < gain.size(); ++i) {
    f[i][0] *= gain[i];
    f[i][1] *= gain[i];
  }
  s.Inverse();
  const float scale = 1.0F / (static_cast<float>(s.w) * static_cast<float>(s.h));
  for (int32_t y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.Row(y);
    const float* in = s.Real() + static_cast<size_t>(y) * static_cast<size_t>(s.w);
    for (int32_t x = 0; x < image.Width(); ++x) {
      if (lines.any && lines.core[static_cast<size_t>(y) * static_cast<size_t>(image.Width()) +
                                  static_cast<size_t>(x)] != 0)
        continue;
      const float v = std::clamp(std::nearbyint(in[x] * scale), 0.0F, 255.0F);
      const auto byte = static_cast<uint8_t>(v);
      if (grey) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = byte;
      } else {
        row[3 * x + channel] = byte;
      }
    }
  }
}

bool Usable(const DibImage& image) {
  return image.Is24Bit() && image.Width() >= 16 && image.Height() >= 16;
}

}  // namespace

ScreenFound FindScreen(const DibImage& image, int keepPeriod) {
  if (!Usable(image)) return {};
  try {
    Spectrum s(image.Width(), image.Height());
    Load(image, -1, s);
    s.Forward();
    std::vector<float> power;
    const PowerMap map(s, power);
    return Describe(FindLattice(map), keepPeriod);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

ScreenFound Descreen(DibImage& image, int strength, int keepPeriod) {
  strength = std::clamp(strength, 0, 100);
  if (strength == 0 || !Usable(image)) return {};
  try {
    Spectrum s(image.Width(), image.Height());
    const bool grey = IsGreyPage(image);
    Load(image, grey ? 0 : -1, s);
    s.Forward();
    std::vector<float> power;
    const PowerMap map(s, power);
    const Lattice lattice = FindLattice(map);
    ScreenFound found = Describe(lattice, keepPeriod);
    if (!found.found || found.kept) return found;
    std::vector<float> gain(power.size());
    found.harmonics = BuildGains(map, lattice, strength / 100.0, gain);
    Lines lines;
    lines.core = LinePixels(image, static_cast<int32_t>(std::ceil(2 * found.period)));
    lines.any = std::find(lines.core.begin(), lines.core.end(), 1) != lines.core.end();
    if (lines.any) lines.wide = Widened(lines.core, image.Width(), image.Height());
    lines.radius = static_cast<int32_t>(std::ceil(found.period));
    for (int channel = 0; channel < (grey ? 1 : 3); ++channel) {
      FilterChannel(image, channel, grey, s, gain, lines);
    }
    return found;
  } catch (const std::bad_alloc&) {
    return {};  // no memory: the page as it was (or with its first channels done)
  }
}

}  // namespace inkbrite
