// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/core/scan_pages.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace inkbrite::test {

void FillRect(DibImage& image, const DibRect& rect, Bgr colour) {
  const int32_t x0 = std::max(0, rect.left);
  const int32_t x1 = std::min(image.Width(), rect.right);
  for (int32_t y = std::max(0, rect.top); y < std::min(image.Height(), rect.bottom); ++y) {
    uint8_t* p = image.Row(y) + static_cast<size_t>(x0) * 3;
    for (int32_t x = x0; x < x1; ++x, p += 3) {
      p[0] = colour.b;
      p[1] = colour.g;
      p[2] = colour.r;
    }
  }
}

namespace {

void Frame(DibImage& image, const DibRect& r, int32_t t, Bgr ink) {
  FillRect(image, {r.left, r.top, r.right, r.top + t}, ink);
  FillRect(image, {r.left, r.bottom - t, r.right, r.bottom}, ink);
  FillRect(image, {r.left, r.top, r.left + t, r.bottom}, ink);
  FillRect(image, {r.right - t, r.top, r.right, r.bottom}, ink);
}

// Text-like strokes and a grey shape inside a panel's frame.
void PanelContent(DibImage& image, const DibRect& panel, std::mt19937& rng, Bgr ink) {
  const int32_t inset = 10;
  const DibRect inside{panel.left + inset, panel.top + inset, panel.right - inset,
                       panel.bottom - inset};
  if (inside.Width() < 20 || inside.Height() < 20) return;
  // A grey shape in the lower part.
  const int32_t sw = Uniform(rng, inside.Width() / 4, inside.Width() / 2);
  const int32_t sh = Uniform(rng, inside.Height() / 6, inside.Height() / 3);
  const int32_t sx = Uniform(rng, inside.left, inside.right - sw);
  const auto grey = static_cast<uint8_t>(Uniform(rng, 90, 170));
  FillRect(image, {sx, inside.bottom - sh, sx + sw, inside.bottom}, {grey, grey, grey});
  // Lines of words in the upper part: strokes 3 pixels tall, 9 apart.
  const int32_t lines = std::min(6, (inside.Height() - sh) / 14);
  for (int32_t l = 0; l < lines; ++l) {
    const int32_t y = inside.top + 2 + l * 9;
    int32_t x = inside.left + Uniform(rng, 0, 10);
    const int32_t end = inside.left + Uniform(rng, inside.Width() / 2, inside.Width() - 1);
    while (x < end) {
      const int32_t word = Uniform(rng, 6, 30);
      FillRect(image, {x, y, std::min(x + word, end), y + 3}, ink);
      x += word + Uniform(rng, 4, 8);
    }
  }
}

}  // namespace

DibImage ComicPage(int32_t width, int32_t height, const DibRect& box, std::mt19937& rng, Bgr paper,
                   Bgr ink) {
  DibImage image;
  if (!image.Create(width, height, 24)) throw std::runtime_error("Create failed");
  FillRect(image, {0, 0, width, height}, paper);
  const int32_t gap = std::max<int32_t>(6, box.Width() / 40);
  const int32_t tiers = Uniform(rng, 2, 4);
  const int32_t tierHeight = (box.Height() - (tiers - 1) * gap) / tiers;
  for (int32_t t = 0; t < tiers; ++t) {
    const int32_t top = box.top + t * (tierHeight + gap);
    const int32_t bottom = t + 1 == tiers ? box.bottom : top + tierHeight;
    const int32_t panels = Uniform(rng, 1, 3);
    int32_t left = box.left;
    for (int32_t p = 0; p < panels; ++p) {
      const int32_t remaining = box.right - left;
      const int32_t right = p + 1 == panels ? box.right
                                            : left +
                                                  Uniform(rng, remaining / (panels - p) * 2 / 3,
                                                          remaining / (panels - p) * 4 / 3) -
                                                  gap;
      const DibRect panel{left, top, right, bottom};
      Frame(image, panel, 3, ink);
      PanelContent(image, panel, rng, ink);
      left = right + gap;
    }
  }
  return image;
}

void AddDust(DibImage& image, const DibRect& keepOut, int count, std::mt19937& rng) {
  for (int i = 0; i < count; ++i) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const int32_t size = Uniform(rng, 1, 2);
      const int32_t x = Uniform(rng, 0, image.Width() - size);
      const int32_t y = Uniform(rng, 0, image.Height() - size);
      const DibRect speck{x, y, x + size, y + size};
      const bool touches = speck.left < keepOut.right && keepOut.left < speck.right &&
                           speck.top < keepOut.bottom && keepOut.top < speck.bottom;
      if (touches) continue;
      FillRect(image, speck, {40, 40, 40});
      break;
    }
  }
}

DibImage TurnedCopy(const DibImage& page, double degrees, Bgr fill) {
  const double a = degrees * std::numbers::pi / 180.0;
  const double c = std::cos(a);
  const double s = std::sin(a);
  const int32_t w = page.Width();
  const int32_t h = page.Height();
  const double cx = w / 2.0;
  const double cy = h / 2.0;
  DibImage out;
  if (!out.Create(w, h, 24)) throw std::runtime_error("Create failed");
  const uint8_t outside[3] = {fill.b, fill.g, fill.r};
  // Sample (i, j) of pixel (x, y) comes from page point
  // (u0[i][j] + x c, v0[i][j] + x s), offset by 4 pixels so truncation floors.
  for (int32_t y = 0; y < h; ++y) {
    double u0[3][3];
    double v0[3][3];
    for (int j = 0; j < 3; ++j) {
      for (int i = 0; i < 3; ++i) {
        const double dx = (i + 0.5) / 3.0 - cx;
        const double dy = y + (j + 0.5) / 3.0 - cy;
        u0[j][i] = cx + dx * c - dy * s + 4.0;
        v0[j][i] = cy + dx * s + dy * c + 4.0;
      }
    }
    uint8_t* o = out.Row(y);
    for (int32_t x = 0; x < w; ++x, o += 3) {
      int sum[3] = {0, 0, 0};
      for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
          const double px = u0[j][i] + x * c;
          const double py = v0[j][i] + x * s;
          const int32_t sx = px < 0.0 ? -1 : static_cast<int32_t>(px) - 4;
          const int32_t sy = py < 0.0 ? -1 : static_cast<int32_t>(py) - 4;
          const uint8_t* v = sx >= 0 && sx < w && sy >= 0 && sy < h
                                 ? page.Row(sy) + static_cast<size_t>(sx) * 3
                                 : outside;
          sum[0] += v[0];
          sum[1] += v[1];
          sum[2] += v[2];
        }
      }
      for (int k = 0; k < 3; ++k) o[k] = static_cast<uint8_t>((sum[k] + 4) / 9);
    }
  }
  return out;
}

double DifferingShare(const DibImage& a, const DibImage& b, const DibRect& area, int tolerance) {
  int64_t differing = 0;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) {
      const Bgr p = PixelAt(a, x, y);
      const Bgr q = PixelAt(b, x, y);
      const int d = std::max({std::abs(p.b - q.b), std::abs(p.g - q.g), std::abs(p.r - q.r)});
      differing += d > tolerance ? 1 : 0;
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(area.Width()) * area.Height());
}

namespace {

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// A white balloon with lines of lettering, somewhere inside `panel`.
void Balloon(DibImage& image, const DibRect& panel, std::mt19937& rng, Bgr ink) {
  const int32_t rw = panel.Width() / 5;
  const int32_t rh = panel.Height() / 6;
  if (rw < 20 || rh < 14) return;
  const int32_t cx = Uniform(rng, panel.left + rw + 6, panel.right - rw - 6);
  const int32_t cy = Uniform(rng, panel.top + rh + 6, panel.bottom - rh - 6);
  for (int32_t y = cy - rh; y <= cy + rh; ++y) {
    for (int32_t x = cx - rw; x <= cx + rw; ++x) {
      const double e = std::pow((x - cx) / double(rw), 2) + std::pow((y - cy) / double(rh), 2);
      if (e <= 1.0) SetPixel(image, x, y, e > 0.9 ? ink : Bgr{255, 255, 255});
    }
  }
  for (int32_t y = cy - rh / 2; y + 3 < cy + rh / 2; y += 8) {
    FillRect(image, {cx - rw / 2, y, cx + rw / 2, y + 3}, ink);
  }
}

// Screentone: dots on a grid over the lower third of `panel`.
void Screentone(DibImage& image, const DibRect& panel, Bgr ink) {
  for (int32_t y = panel.bottom - panel.Height() / 3; y < panel.bottom - 6; y += 5) {
    for (int32_t x = panel.left + 6 + (y / 5 % 2) * 2; x < panel.right - 6; x += 5) {
      FillRect(image, {x, y, x + 2, y + 2}, ink);
    }
  }
}

void BoxBlur(DibImage& image, int radius) {
  if (radius < 1) return;
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  std::vector<int> line;
  for (int pass = 0; pass < 2; ++pass) {  // rows, then columns
    const int32_t n = pass == 0 ? w : h;
    const int32_t lines = pass == 0 ? h : w;
    line.resize(static_cast<size_t>(n) * 3);
    for (int32_t l = 0; l < lines; ++l) {
      const auto at = [&](int32_t i) {
        return pass == 0 ? image.Row(l) + 3 * static_cast<size_t>(i)
                         : image.Row(i) + 3 * static_cast<size_t>(l);
      };
      for (int32_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) line[3 * static_cast<size_t>(i) + c] = at(i)[c];
      }
      for (int32_t i = 0; i < n; ++i) {
        int sum[3] = {0, 0, 0};
        for (int32_t k = i - radius; k <= i + radius; ++k) {
          const size_t j = 3 * static_cast<size_t>(std::clamp(k, 0, n - 1));
          for (int c = 0; c < 3; ++c) sum[c] += line[j + c];
        }
        for (int c = 0; c < 3; ++c) at(i)[c] = static_cast<uint8_t>(sum[c] / (2 * radius + 1));
      }
    }
  }
}

double Cubic(double t) {  // Catmull-Rom
  t = std::fabs(t);
  if (t < 1.0) return 1.5 * t * t * t - 2.5 * t * t + 1.0;
  if (t < 2.0) return -0.5 * t * t * t + 2.5 * t * t - 4.0 * t + 2.0;
  return 0.0;
}

}  // namespace

DibImage Resampled(const DibImage& page, double degrees, Turn turn, Bgr fill) {
  if (turn == Turn::kSupersampled) return TurnedCopy(page, degrees, fill);
  const double a = degrees * std::numbers::pi / 180.0;
  const double c = std::cos(a);
  const double s = std::sin(a);
  const int32_t w = page.Width();
  const int32_t h = page.Height();
  DibImage out;
  if (!out.Create(w, h, 24)) throw std::runtime_error("Create failed");
  const int reach = turn == Turn::kBicubic ? 2 : 1;
  const uint8_t outside[3] = {fill.b, fill.g, fill.r};
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const double dx = x + 0.5 - w / 2.0;
      const double dy = y + 0.5 - h / 2.0;
      const double u = w / 2.0 + dx * c - dy * s - 0.5;
      const double v = h / 2.0 + dx * s + dy * c - 0.5;
      const auto iu = static_cast<int32_t>(std::floor(u));
      const auto iv = static_cast<int32_t>(std::floor(v));
      double sum[3] = {0, 0, 0};
      for (int32_t j = iv - reach + 1; j <= iv + reach; ++j) {
        for (int32_t i = iu - reach + 1; i <= iu + reach; ++i) {
          const double weight = turn == Turn::kBicubic
                                    ? Cubic(u - i) * Cubic(v - j)
                                    : (1.0 - std::fabs(u - i)) * (1.0 - std::fabs(v - j));
          const uint8_t* p = i >= 0 && i < w && j >= 0 && j < h
                                 ? page.Row(j) + 3 * static_cast<size_t>(i)
                                 : outside;
          sum[0] += weight * p[0];
          sum[1] += weight * p[1];
          sum[2] += weight * p[2];
        }
      }
      uint8_t* o = out.Row(y) + 3 * static_cast<size_t>(x);
      for (int k = 0; k < 3; ++k) o[k] = Clamp8(sum[k]);
    }
  }
  return out;
}

DibImage ScanLikePage(int32_t width, int32_t height, const DibRect& box, const ScanLook& look,
                      std::mt19937& rng) {
  DibImage page = ComicPage(width, height, box, rng, look.paper, look.ink);
  if (look.extras) {
    // Balloons in some tiers, screentone in others, inside the box.
    const int32_t tiers = 3;
    for (int32_t t = 0; t < tiers; ++t) {
      const DibRect part{box.left + 8, box.top + t * box.Height() / tiers + 8, box.right - 8,
                         box.top + (t + 1) * box.Height() / tiers - 8};
      if (t % 2 == 0) Balloon(page, part, rng, look.ink);
      if (t == 1)
        Screentone(page, {part.left, part.top, (part.left + part.right) / 2, part.bottom},
                   look.ink);
    }
  }
  if (look.degrees != 0.0) page = Resampled(page, look.degrees, look.turn, look.corners);
  const int* b = look.bands;
  FillRect(page, {0, 0, b[0], height}, look.band);
  FillRect(page, {0, 0, width, b[1]}, look.band);
  FillRect(page, {width - b[2], 0, width, height}, look.band);
  FillRect(page, {0, height - b[3], width, height}, look.band);
  BoxBlur(page, look.blur);
  if (look.noise > 0) {
    std::uniform_int_distribution<int> move(-look.noise, look.noise);
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* p = page.Row(y);
      for (int32_t i = 0; i < width * 3; ++i) p[i] = Clamp8(p[i] + move(rng));
    }
  }
  if (look.jpegQuality > 0) page = JpegRoundTrip(page, look.jpegQuality);
  return page;
}

Bgr MedianColour(const DibImage& image, const DibRect& area) {
  std::vector<uint8_t> channel[3];
  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) {
      const Bgr p = PixelAt(image, x, y);
      channel[0].push_back(p.b);
      channel[1].push_back(p.g);
      channel[2].push_back(p.r);
    }
  }
  uint8_t m[3] = {255, 255, 255};
  for (int c = 0; c < 3; ++c) {
    if (channel[c].empty()) continue;
    auto middle = channel[c].begin() + static_cast<std::ptrdiff_t>(channel[c].size() / 2);
    std::nth_element(channel[c].begin(), middle, channel[c].end());
    m[c] = *middle;
  }
  return {m[0], m[1], m[2]};
}

}  // namespace inkbrite::test
